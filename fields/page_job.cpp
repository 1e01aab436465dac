// Pages rendered beside the interpreter (page_job.hpp), by one worker
// thread that lives as long as the process: a thread started per page cost
// about as much as a small page's rendering.
#include "fields/page_job.hpp"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <utility>

#include "fields/answer_copy.hpp"

namespace page_job {

namespace {

struct Pending {
    PyObject_HEAD
    Job *job;       // null once its page was taken
    bool queued;    // handed to the worker, which has not finished it
    Pending *next;  // in the worker's queue
};

// The worker's queue is guarded by `lock`; a pending page's `queued` too.
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
    auto &to = *static_cast<Worker *>(w);
    std::unique_lock<std::mutex> held(to.lock);
    while (true) {
        to.work.wait(held, [&] { return to.first != nullptr; });
        Pending *p = std::exchange(to.first, to.first->next);
        if (!to.first) to.last = nullptr;
        held.unlock();
        p->job->run();
        held.lock();
        p->queued = false;
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

// Waits, without the interpreter lock, for the worker to finish p's job.
void wait_for(Pending &p) {
    if (!p.job) return;  // taken: finished
    Py_BEGIN_ALLOW_THREADS
    std::unique_lock<std::mutex> held(worker->lock);
    worker->finished.wait(held, [&] { return !p.queued; });
    Py_END_ALLOW_THREADS
}

PyObject *result(PyObject *self, PyObject *) noexcept {
    auto &p = *reinterpret_cast<Pending *>(self);
    if (!p.job) {
        PyErr_SetString(PyExc_RuntimeError, "pending page: it was taken already");
        return nullptr;
    }
    wait_for(p);
    Job *job = std::exchange(p.job, nullptr);
    PyObject *page = job->finish();
    delete job;
    return page;
}

// A page dropped before it was taken (a walk left early) is waited for:
// the worker may still be reading its job.
void dealloc(PyObject *self) {
    auto &p = *reinterpret_cast<Pending *>(self);
    PyTypeObject *t = Py_TYPE(self);
    wait_for(p);
    delete std::exchange(p.job, nullptr);
    t->tp_free(self);
    Py_DECREF(t);
}

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
    p->queued = true;
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
        {Py_tp_doc, const_cast<char *>("A page being rendered beside the interpreter; result() takes it.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"_libfc_fields.pending_page", sizeof(Pending), 0, Py_TPFLAGS_DEFAULT, slots};
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
    return made;
}

}  // namespace page_job
