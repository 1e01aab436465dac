// Pages rendered beside the interpreter (page_job.hpp), by one worker
// thread that lives as long as the process (a thread started per page cost
// about as much as a small page's rendering), of the idle scheduling class:
// it is to use a processor nobody else wants. Beside the walk's thread on
// one processor it would take turns with it, which has the next query to
// make. So the worker may not run for a while: a page it has not begun when
// it is asked for is rendered by the thread that asks. That thread never
// waits for the worker except while the worker renders its page: the two
// hand pages over through atomics, no lock the worker could hold while the
// scheduler keeps it off every processor.
#include "fields/page_job.hpp"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include <structmember.h>

#include "fields/answer_copy.hpp"
#include "fields/heap_type.hpp"

namespace page_job {

namespace {

enum State : std::uint32_t { queued, running, done, taken_back };

// What the worker and the pending page share: freed by the last of the two
// to let go of it, the worker needing no interpreter lock for that. The
// job itself is the pending page's; the worker runs it only once it has
// moved the state from queued to running, and the page waits for done.
struct Handover {
    Job *job;
    std::atomic<std::uint32_t> state{queued};
    std::atomic<int> holders{2};
    Handover *next = nullptr;  // in the worker's list
    double render_seconds = 0;

    explicit Handover(Job *j) : job(j) {}
};

void let_go(Handover *h) {
    if (h->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete h;
}

struct Worker {
    std::atomic<Handover *> posted{nullptr};  // pushed by the interpreter's threads, newest first
    std::atomic<std::uint32_t> posts{0};     // moves at each push: what the worker sleeps on
};

// Made once per process: a child made by fork has none of its parent's
// threads, so it starts a worker of its own (the parent's is left as it
// was), and the pages pending in the parent are no child's to wait for.
Worker *worker = nullptr;
unsigned process_generation = 1;  // moves in a child of fork

void forked() {
    worker = nullptr;
    ++process_generation;
}

double seconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double run(Job *job) {
    double start = seconds(CLOCK_THREAD_CPUTIME_ID);
    job->run();
    return seconds(CLOCK_THREAD_CPUTIME_ID) - start;
}

void *serve(void *w) {
    sched_param idle{};
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle);
    auto &from = *static_cast<Worker *>(w);
    while (true) {
        std::uint32_t seen = from.posts.load(std::memory_order_acquire);
        Handover *newest = from.posted.exchange(nullptr, std::memory_order_acq_rel);
        if (!newest) {
            from.posts.wait(seen, std::memory_order_acquire);
            continue;
        }
        Handover *oldest = nullptr;  // the list turned around: the pages in the order they were posted
        while (newest) {
            Handover *older = newest->next;
            newest->next = oldest;
            oldest = newest;
            newest = older;
        }
        for (Handover *h = oldest, *next; h; h = next) {
            next = h->next;
            std::uint32_t expected = queued;
            if (h->state.compare_exchange_strong(expected, running, std::memory_order_acq_rel)) {
                h->render_seconds = run(h->job);
                h->state.store(done, std::memory_order_release);
                h->state.notify_all();
            }
            let_go(h);
        }
    }
    return nullptr;
}

Worker *started_worker() {
    if (worker) return worker;
    static bool told_of_forks = pthread_atfork(nullptr, nullptr, forked) == 0;
    auto *made = told_of_forks ? new (std::nothrow) Worker : nullptr;
    pthread_t thread;
    if (!made || pthread_create(&thread, nullptr, serve, made) != 0) {
        delete made;
        return nullptr;
    }
    pthread_detach(thread);
    return worker = made;
}

void post(Worker &to, Handover *h) {
    Handover *newest = to.posted.load(std::memory_order_relaxed);
    do h->next = newest;
    while (!to.posted.compare_exchange_weak(newest, h, std::memory_order_release, std::memory_order_relaxed));
    to.posts.fetch_add(1, std::memory_order_release);
    to.posts.notify_one();
}

struct Pending {
    PyObject_HEAD
    Job *job;             // null once its page was taken
    Handover *handover;   // null once the worker is done with the job
    bool rendered_here;     // by the thread that asked for it: the worker had not begun it
    double render_seconds;  // the processor time rendering it took
    double waited_seconds;  // how long the thread that asked for it waited for the worker
    unsigned generation;    // of the process whose worker has it
};

// Without the interpreter lock: when the worker has not begun p's job,
// takes it back and renders it here (unless it is not wanted), else waits
// for the worker to finish it.
void finish_running(Pending &p, bool wanted) {
    Handover *h = std::exchange(p.handover, nullptr);
    if (!h) return;
    Py_BEGIN_ALLOW_THREADS
    std::uint32_t state = queued;
    if (h->state.compare_exchange_strong(state, taken_back, std::memory_order_acq_rel)) {
        p.rendered_here = wanted;
        if (wanted) p.render_seconds = run(p.job);
    } else {
        double start = seconds(CLOCK_MONOTONIC);
        for (; state != done; state = h->state.load(std::memory_order_acquire)) h->state.wait(state);
        p.waited_seconds = seconds(CLOCK_MONOTONIC) - start;
        p.render_seconds = h->render_seconds;
    }
    let_go(h);
    Py_END_ALLOW_THREADS
}

PyObject *result(PyObject *self, PyObject *) noexcept {
    auto &p = *reinterpret_cast<Pending *>(self);
    if (!p.job || p.generation != process_generation) {
        PyErr_SetString(PyExc_RuntimeError, p.job ? "pending page: its worker is in the process this one forked from"
                                                  : "pending page: it was taken already");
        return nullptr;
    }
    finish_running(p, true);
    Job *job = std::exchange(p.job, nullptr);
    PyObject *page = job->finish();
    delete job;
    return page;
}

// A page dropped before it was taken (a walk left early) is finished
// first: the worker may be reading its job. In a child of fork, whose
// worker is in the parent, nothing reads it.
void dealloc(PyObject *self) {
    auto &p = *reinterpret_cast<Pending *>(self);
    PyTypeObject *t = Py_TYPE(self);
    if (p.generation == process_generation) finish_running(p, false);
    delete std::exchange(p.job, nullptr);
    t->tp_free(self);
    Py_DECREF(t);
}

PyMemberDef pending_members[] = {
    {"rendered_here", T_BOOL, offsetof(Pending, rendered_here), READONLY,
     "Whether the thread that took the page rendered it, the worker not having begun it."},
    {"render_seconds", T_DOUBLE, offsetof(Pending, render_seconds), READONLY,
     "The processor time rendering the page took."},
    {"waited_seconds", T_DOUBLE, offsetof(Pending, waited_seconds), READONLY,
     "How long the thread that took the page waited for the worker to finish it."},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef pending_methods[] = {
    {"result", result, METH_NOARGS, "result()\n--\n\nThe page, once rendered (raising what making it raised)."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject *here(Job *job, bool lock_held) {
    if (lock_held) {
        job->run();
    } else {
        Py_BEGIN_ALLOW_THREADS
        job->run();
        Py_END_ALLOW_THREADS
    }
    PyObject *page = job->finish();
    delete job;
    return page;
}

}  // namespace

PyObject *render(Job *job, PyObject *answer) noexcept {
    if (!job) return PyErr_NoMemory();
    if (!answer_copy::is_copy(answer)) return here(job, job->needs_lock(answer));
    Worker *w = reinterpret_cast<answer_copy::Copy *>(answer)->beside ? started_worker() : nullptr;
    // Without a worker (or a thread to start one), the page is rendered here.
    if (!w) return here(job, false);
    PyTypeObject *t = pending_type();
    auto *p = t ? reinterpret_cast<Pending *>(t->tp_alloc(t, 0)) : nullptr;
    auto *h = p ? new (std::nothrow) Handover(job) : nullptr;
    if (!h) {
        Py_XDECREF(p);
        delete job;
        return p ? PyErr_NoMemory() : nullptr;
    }
    p->job = job;
    p->handover = h;
    p->generation = process_generation;
    post(*w, h);
    return reinterpret_cast<PyObject *>(p);
}

PyTypeObject *pending_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, pending_methods},
        {Py_tp_members, pending_members},
        {Py_tp_doc, const_cast<char *>("A page being rendered beside the interpreter; result() takes it.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.pending_page", sizeof(Pending), Py_TPFLAGS_DEFAULT, slots);
}

}  // namespace page_job
