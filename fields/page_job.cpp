// Pages rendered beside the interpreter (page_job.hpp).
#include "fields/page_job.hpp"

#include <pthread.h>

#include <utility>

#include "fields/answer_copy.hpp"

namespace page_job {

namespace {

struct Pending {
    PyObject_HEAD
    Job *job;  // null once its page was taken
    pthread_t thread;
    bool running;  // the thread is not joined yet
};

void *run_job(void *job) {
    static_cast<Job *>(job)->run();
    return nullptr;
}

void join(Pending &p) {
    if (!p.running) return;
    Py_BEGIN_ALLOW_THREADS
    pthread_join(p.thread, nullptr);
    Py_END_ALLOW_THREADS
    p.running = false;
}

PyObject *result(PyObject *self, PyObject *) noexcept {
    auto &p = *reinterpret_cast<Pending *>(self);
    if (!p.job) {
        PyErr_SetString(PyExc_RuntimeError, "pending: its page was taken already");
        return nullptr;
    }
    join(p);
    Job *job = std::exchange(p.job, nullptr);
    PyObject *page = job->finish();
    delete job;
    return page;
}

// A page dropped before it was taken (a walk left early) is waited for:
// its thread still reads the job.
void dealloc(PyObject *self) {
    auto &p = *reinterpret_cast<Pending *>(self);
    PyTypeObject *t = Py_TYPE(self);
    join(p);
    delete std::exchange(p.job, nullptr);
    t->tp_free(self);
    Py_DECREF(t);
}

PyMethodDef pending_methods[] = {
    {"result", result, METH_NOARGS, "result()\n--\n\nThe page, once its thread is done (raising what rendering it raised)."},
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
    if (!reinterpret_cast<answer_copy::Copy *>(answer)->beside) return here(job, false);
    PyTypeObject *t = pending_type();
    auto *p = t ? reinterpret_cast<Pending *>(t->tp_alloc(t, 0)) : nullptr;
    if (!p) {
        delete job;
        return nullptr;
    }
    // Without a thread to spare, the page is rendered here: a page all the same.
    if (pthread_create(&p->thread, nullptr, run_job, job) != 0) {
        Py_DECREF(p);
        return here(job, false);
    }
    p->job = job;
    p->running = true;
    return reinterpret_cast<PyObject *>(p);
}

PyTypeObject *pending_type() {
    static PyTypeObject *made = nullptr;
    if (made) return made;
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, pending_methods},
        {Py_tp_doc, const_cast<char *>("A page being rendered on a thread of its own; result() takes it.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"_libfc_fields.pending_page", sizeof(Pending), 0, Py_TPFLAGS_DEFAULT, slots};
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
    return made;
}

}  // namespace page_job
