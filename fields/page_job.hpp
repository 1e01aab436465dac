// A page's rendering as a job: its loop over the flows run on a thread of
// its own, without the interpreter lock, while the walk makes its next
// query; its result made, with the lock held, when the walk takes it. Every
// page writer (flow_text's methods, top_page) renders through one.
#pragma once

#include "runtime/python.hpp"

namespace page_job {

class Job {
  public:
    virtual ~Job() = default;  // with the interpreter lock held
    // The loop. Over a copy (answer_copy.hpp) it reads only C data and runs
    // without the interpreter lock; over anything else, with it.
    virtual void run() noexcept = 0;
    // Whether the loop needs the interpreter lock over an answer that is
    // not a copy (a query's answer, whose rest is matched against Python
    // sets, needs it; a job may know better of other answers).
    virtual bool needs_lock(PyObject *) const noexcept { return true; }
    // The page, or null with an exception; with the interpreter lock held.
    virtual PyObject *finish() noexcept = 0;
};

// Renders answer by job (owned from here on; null: MemoryError). A copy
// made beside is rendered on a thread of its own, the call returning a
// pending object whose result() waits for it and returns finish()'s page
// (raising what it raises); any other copy is rendered here without the
// interpreter lock; a query answer or a snapshot reader, here, with it
// unless the job's needs_lock says otherwise.
PyObject *render(Job *job, PyObject *answer) noexcept;

// The pending object's type.
PyTypeObject *pending_type();

}  // namespace page_job
