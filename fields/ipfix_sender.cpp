// The paced UDP sender of IPFIX messages. The walk that makes the messages
// holds the interpreter's lock through each library query, so a Python
// thread could send only between queries, in bursts a collector's socket
// buffer cannot take. Here a native thread, which never takes that lock,
// sends from a ring of bytes that send() fills: the walk and the paced
// sending overlap, and a full ring makes send() wait (without the lock),
// which bounds the memory a round takes.
//
// A message that cannot be sent is counted, with the error, and dropped:
// UDP carries no promise, and the next round carries the flows on.

#include "fields/ipfix_sender.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fields/heap_type.hpp"

namespace ipfix_sender {

namespace {

constexpr std::size_t kMaxMessage = 65535;
constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);

struct Sender {
    PyObject_HEAD
    int fd;  // the caller's socket, which outlives the thread (close() joins it)
    sockaddr_storage address;
    socklen_t address_size;
    std::int64_t interval_ns, burst;
    // The ring: messages as a length then the bytes, wrapping at the end.
    pthread_mutex_t lock;
    pthread_cond_t changed;
    unsigned char *ring;
    std::size_t capacity, head, used;
    bool in_flight, closing, running;
    pthread_t thread;
    std::atomic<std::uint64_t> sent, failed;
    std::atomic<int> last_error;
};

void ring_copy_in(Sender &s, std::size_t at, const void *from, std::size_t n) {
    at %= s.capacity;
    std::size_t first = n < s.capacity - at ? n : s.capacity - at;
    std::memcpy(s.ring + at, from, first);
    std::memcpy(s.ring, static_cast<const unsigned char *>(from) + first, n - first);
}

void ring_copy_out(const Sender &s, std::size_t at, void *to, std::size_t n) {
    at %= s.capacity;
    std::size_t first = n < s.capacity - at ? n : s.capacity - at;
    std::memcpy(to, s.ring + at, first);
    std::memcpy(static_cast<unsigned char *>(to) + first, s.ring, n - first);
}

std::int64_t now_ns() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// Sleeping costs more than a message's interval at full rate: the thread
// sleeps once it is `burst` messages ahead, and after the ring ran dry it
// catches up at most a burst's worth.
void pace(const Sender &s, std::int64_t &next) {
    if (!s.interval_ns) return;
    std::int64_t now = now_ns(), slack = s.burst * s.interval_ns;
    if (next > now + slack) {
        std::int64_t wait = next - now;
        timespec t{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
        while (nanosleep(&t, &t) != 0 && errno == EINTR) {
        }
    }
    next = (next > now - slack ? next : now - slack) + s.interval_ns;
}

void *run(void *self) {
    auto &s = *static_cast<Sender *>(self);
    // Heap-free: a message is copied out of the ring into this, then sent.
    static thread_local unsigned char message[kMaxMessage];
    std::int64_t next = now_ns();
    for (;;) {
        pthread_mutex_lock(&s.lock);
        while (!s.used && !s.closing) pthread_cond_wait(&s.changed, &s.lock);
        if (!s.used) {
            pthread_mutex_unlock(&s.lock);
            return nullptr;
        }
        std::uint32_t length;
        ring_copy_out(s, s.head, &length, kLengthBytes);
        ring_copy_out(s, s.head + kLengthBytes, message, length);
        s.head = (s.head + kLengthBytes + length) % s.capacity;
        s.used -= kLengthBytes + length;
        s.in_flight = true;
        pthread_cond_broadcast(&s.changed);
        pthread_mutex_unlock(&s.lock);

        pace(s, next);
        if (sendto(s.fd, message, length, 0, reinterpret_cast<const sockaddr *>(&s.address), s.address_size) < 0) {
            s.last_error.store(errno, std::memory_order_relaxed);
            s.failed.fetch_add(1, std::memory_order_relaxed);
        } else {
            s.sent.fetch_add(1, std::memory_order_relaxed);
        }
        pthread_mutex_lock(&s.lock);
        s.in_flight = false;
        pthread_cond_broadcast(&s.changed);
        pthread_mutex_unlock(&s.lock);
    }
}

[[gnu::cold, gnu::noinline]] PyObject *refuse_message(Py_ssize_t size, std::size_t room) {
    PyErr_Format(PyExc_ValueError, "ipfix_sender.send: a message of %zd bytes (at most %zu)", size, room);
    return nullptr;
}

[[gnu::cold, gnu::noinline]] PyObject *refuse_closed() {
    PyErr_SetString(PyExc_ValueError, "ipfix_sender: closed");
    return nullptr;
}

// sender.send(message): queued for the thread; waits while the ring is full.
PyObject *send(PyObject *self, PyObject *message) noexcept {
    auto &s = *reinterpret_cast<Sender *>(self);
    if (!PyBytes_Check(message)) {
        PyErr_SetString(PyExc_TypeError, "ipfix_sender.send(message: bytes)");
        return nullptr;
    }
    Py_ssize_t size = PyBytes_GET_SIZE(message);
    std::size_t room = s.capacity - kLengthBytes < kMaxMessage ? s.capacity - kLengthBytes : kMaxMessage;
    if (static_cast<std::size_t>(size) > room) return refuse_message(size, room);
    if (!s.running) return refuse_closed();
    const char *bytes = PyBytes_AS_STRING(message);  // the caller's reference keeps it
    auto length = static_cast<std::uint32_t>(size);
    Py_BEGIN_ALLOW_THREADS
    pthread_mutex_lock(&s.lock);
    while (s.capacity - s.used < kLengthBytes + length) pthread_cond_wait(&s.changed, &s.lock);
    std::size_t tail = s.head + s.used;
    ring_copy_in(s, tail, &length, kLengthBytes);
    ring_copy_in(s, tail + kLengthBytes, bytes, length);
    s.used += kLengthBytes + length;
    pthread_cond_broadcast(&s.changed);
    pthread_mutex_unlock(&s.lock);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

// sender.flush(): returns once every message handed over is sent or counted.
PyObject *flush(PyObject *self, PyObject *) noexcept {
    auto &s = *reinterpret_cast<Sender *>(self);
    Py_BEGIN_ALLOW_THREADS
    pthread_mutex_lock(&s.lock);
    while (s.running && (s.used || s.in_flight)) pthread_cond_wait(&s.changed, &s.lock);
    pthread_mutex_unlock(&s.lock);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

void stop(Sender &s) {
    if (!s.running) return;
    pthread_mutex_lock(&s.lock);
    s.closing = true;
    pthread_cond_broadcast(&s.changed);
    pthread_mutex_unlock(&s.lock);
    pthread_join(s.thread, nullptr);
    s.running = false;
}

// sender.close(): what was handed over is sent, then the thread ends.
PyObject *close(PyObject *self, PyObject *) noexcept {
    auto &s = *reinterpret_cast<Sender *>(self);
    Py_BEGIN_ALLOW_THREADS
    stop(s);
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

// sender.counts(): (sent, failed, errno of the last failure or 0).
PyObject *counts(PyObject *self, PyObject *) noexcept {
    auto &s = *reinterpret_cast<Sender *>(self);
    return Py_BuildValue("(KKi)", static_cast<unsigned long long>(s.sent.load()),
                         static_cast<unsigned long long>(s.failed.load()), s.last_error.load());
}

PyMethodDef sender_methods[] = {
    {"send", send, METH_O, "send(message, /)\n--\n\nQueues message (bytes) for the sending thread."},
    {"flush", flush, METH_NOARGS, "flush()\n--\n\nWaits until every queued message is sent or counted."},
    {"close", close, METH_NOARGS, "close()\n--\n\nSends what is queued, then ends the thread."},
    {"counts", counts, METH_NOARGS, "counts()\n--\n\n(sent, failed, errno of the last failure or 0)."},
    {nullptr, nullptr, 0, nullptr},
};

void dealloc(PyObject *self) {
    auto &s = *reinterpret_cast<Sender *>(self);
    PyTypeObject *t = Py_TYPE(self);
    Py_BEGIN_ALLOW_THREADS
    stop(s);
    Py_END_ALLOW_THREADS
    pthread_cond_destroy(&s.changed);
    pthread_mutex_destroy(&s.lock);
    std::free(s.ring);
    t->tp_free(self);
    Py_DECREF(t);
}

bool resolve(Sender &s, const char *host, int port) {
    std::memset(&s.address, 0, sizeof s.address);
    auto *v4 = reinterpret_cast<sockaddr_in *>(&s.address);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&s.address);
    if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        s.address_size = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        s.address_size = sizeof *v6;
        return true;
    }
    PyErr_Format(PyExc_ValueError, "ipfix_sender: %s is no IPv4 or IPv6 address", host);
    return false;
}

// ipfix_sender(fd, host, port, rate, burst, capacity): host a numeric
// address, rate messages a second (0: unpaced), capacity the ring's bytes.
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"fd", "host", "port", "rate", "burst", "capacity", nullptr};
    int fd, port;
    const char *host;
    double rate;
    long long burst;
    Py_ssize_t capacity;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "isidLn:ipfix_sender", const_cast<char **>(keywords), &fd, &host,
                                     &port, &rate, &burst, &capacity))
        return nullptr;
    if (fd < 0 || port <= 0 || port > 65535 || !(rate >= 0 && rate <= 1e9) || burst < 1 || burst > 1000000 ||
        capacity < static_cast<Py_ssize_t>(kLengthBytes + 1024) || capacity > (Py_ssize_t{1} << 30)) {
        PyErr_SetString(PyExc_ValueError, "ipfix_sender: fd, port, rate, burst or capacity out of range");
        return nullptr;
    }
    auto *s = reinterpret_cast<Sender *>(t->tp_alloc(t, 0));
    if (!s) return nullptr;
    // tp_alloc zeroes the object: running stays false until the thread is
    // up, which is all dealloc needs to know.
    pthread_mutex_init(&s->lock, nullptr);
    pthread_cond_init(&s->changed, nullptr);
    s->fd = fd;
    s->interval_ns = rate > 0 ? static_cast<std::int64_t>(1e9 / rate) : 0;
    s->burst = burst;
    s->capacity = static_cast<std::size_t>(capacity);
    new (&s->sent) std::atomic<std::uint64_t>(0);
    new (&s->failed) std::atomic<std::uint64_t>(0);
    new (&s->last_error) std::atomic<int>(0);
    s->ring = static_cast<unsigned char *>(std::malloc(s->capacity));
    if (!s->ring) {
        Py_DECREF(s);
        return PyErr_NoMemory();
    }
    if (!resolve(*s, host, port)) {
        Py_DECREF(s);
        return nullptr;
    }
    int failed = pthread_create(&s->thread, nullptr, run, s);
    if (failed) {
        Py_DECREF(s);
        errno = failed;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    s->running = true;
    return reinterpret_cast<PyObject *>(s);
}

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_methods, sender_methods},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_doc, const_cast<char *>(
                        "ipfix_sender(fd, host, port, rate, burst, capacity)\n"
                        "Sends the messages handed to send() as UDP datagrams from socket fd to host (a numeric\n"
                        "address) and port, from a thread of its own, at most rate a second (bursts of burst), with\n"
                        "at most capacity bytes waiting.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.ipfix_sender", sizeof(Sender), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace ipfix_sender
