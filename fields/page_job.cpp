// Pages rendered beside the interpreter (page_job.hpp), by one worker
// thread that lives as long as the process: a thread started per page cost
// about as much as a small page's rendering. On a machine whose processors
// are all busy the worker may not run for a while: a page it has not begun
// when it is asked for is rendered by the thread that asks, so the walk is
// never slower than one rendering each page in its turn by more than the
// copies.
#include "fields/page_job.hpp"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include <structmember.h>

#include "fields/answer_copy.hpp"

namespace page_job {

namespace {

enum class State : int { queued, running, done };

struct Pending {
    PyObject_HEAD
    Job *job;  // null once its page was taken
    State state;
    Pending *next;  // in the worker's queue
    bool rendered_here;     // by the thread that asked for it: the worker had not begun it
    double render_seconds;  // the processor time rendering it took
    double waited_seconds;  // how long the thread that asked for it waited for the worker
    pid_t pid;              // of the process whose worker has it
};

double seconds(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

void run(Pending &p) {
    double start = seconds(CLOCK_THREAD_CPUTIME_ID);
    p.job->run();
    p.render_seconds = seconds(CLOCK_THREAD_CPUTIME_ID) - start;
}

// The worker's queue is guarded by `lock`; a pending page's state and next too.
struct Worker {
    std::mutex lock;
    std::condition_variable work, finished;
    Pending *first = nullptr, *last = nullptr;
};

// Made once per process: a child made by fork has none of its parent's
// threads, so it starts a worker of its own (the parent's is left as it was).
Worker *worker = nullptr;
pid_t worker_pid = 0;

void *serve(void *w) {
    // Woken for each page, the worker would take the processor from the
    // thread that woke it, which has the next query to make: as a batch
    // thread it waits for a processor of its own instead.
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    auto &to = *static_cast<Worker *>(w);
    std::unique_lock<std::mutex> held(to.lock);
    while (true) {
        to.work.wait(held, [&] { return to.first != nullptr; });
        Pending *p = std::exchange(to.first, to.first->next);
        if (!to.first) to.last = nullptr;
        p->state = State::running;
        held.unlock();
        run(*p);
        held.lock();
        p->state = State::done;
        to.finished.notify_all();
    }
    return nullptr;
}

Worker *started_worker() {
    if (worker && worker_pid == getpid()) return worker;
    auto *made = new (std::nothrow) Worker;
    pthread_t thread;
    if (!made || pthread_create(&thread, nullptr, serve, made) != 0) {
        delete made;
        return nullptr;
    }
    pthread_detach(thread);
    worker_pid = getpid();
    return worker = made;
}

// Takes p out of the worker's queue; false when the worker has taken it.
bool unqueued(Worker &w, Pending &p) {
    if (p.state != State::queued) return false;
    Pending **at = &w.first, *before = nullptr;
    while (*at != &p) before = *at, at = &(*at)->next;
    *at = p.next;
    if (w.last == &p) w.last = before;
    return true;
}

// Without the interpreter lock: when the worker has not begun p's job,
// renders it here (unless it is not wanted), else waits for the worker to
// finish it.
void finish_running(Pending &p, bool wanted) {
    if (!p.job || p.pid != getpid()) return;  // taken: done; or its worker is in the parent
    Py_BEGIN_ALLOW_THREADS
    {  // the queue's lock is let go before the interpreter's is taken back
        std::unique_lock<std::mutex> held(worker->lock);
        if (unqueued(*worker, p)) {
            held.unlock();
            p.rendered_here = wanted;
            if (wanted) run(p);
            held.lock();
            p.state = State::done;
        }
        if (p.state != State::done) {
            double start = seconds(CLOCK_MONOTONIC);
            worker->finished.wait(held, [&] { return p.state == State::done; });
            p.waited_seconds = seconds(CLOCK_MONOTONIC) - start;
        }
    }
    Py_END_ALLOW_THREADS
}

PyObject *result(PyObject *self, PyObject *) noexcept {
    auto &p = *reinterpret_cast<Pending *>(self);
    if (!p.job || p.pid != getpid()) {
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
// first: the worker may be reading its job.
void dealloc(PyObject *self) {
    auto &p = *reinterpret_cast<Pending *>(self);
    PyTypeObject *t = Py_TYPE(self);
    finish_running(p, false);
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
    if (!answer_copy::is_copy(answer)) return here(job, true);
    Worker *w = reinterpret_cast<answer_copy::Copy *>(answer)->beside ? started_worker() : nullptr;
    // Without a worker (or a thread to start one), the page is rendered here.
    if (!w) return here(job, false);
    PyTypeObject *t = pending_type();
    auto *p = t ? reinterpret_cast<Pending *>(t->tp_alloc(t, 0)) : nullptr;
    if (!p) {
        delete job;
        return nullptr;
    }
    p->job = job;
    p->state = State::queued;
    p->pid = worker_pid;
    {
        std::lock_guard<std::mutex> held(w->lock);
        (w->last ? w->last->next : w->first) = p;
        w->last = p;
    }
    w->work.notify_one();
    return reinterpret_cast<PyObject *>(p);
}

PyTypeObject *pending_type() {
    static PyTypeObject *made = nullptr;
    if (made) return made;
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, pending_methods},
        {Py_tp_members, pending_members},
        {Py_tp_doc, const_cast<char *>("A page being rendered beside the interpreter; result() takes it.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"_libfc_fields.pending_page", sizeof(Pending), 0, Py_TPFLAGS_DEFAULT, slots};
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
    return made;
}

}  // namespace page_job
