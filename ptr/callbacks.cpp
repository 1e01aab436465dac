// C functions for the library to call, handed to Python as built-in function
// objects whose documentation carries "swig_ptr: " and the function's
// address, the form the callback conversion of _libfc reads:
//   collect_handles    an iteration callback that appends each entry it is
//                      called with, as a void * pointer object, to the list
//                      its context addresses (see list_context)
//   DVSData_MemAlloc   the process's malloc
//   DVSData_MemFree    the process's free
// They are for passing, not for calling from Python.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cell_object.hpp"
#include "ptr/ptr_blocks.hpp"
#include "runtime/errors.hpp"
#include "runtime/hex_text.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace {

// The library calls back from inside a wrapper that holds the interpreter
// lock; a caller that reached the library some other way may not hold it.
char collect_handles(void *entry, void *context) {
    PyGILState_STATE gil = PyGILState_Ensure();
    auto *list = static_cast<PyObject *>(context);
    char go_on = 0;
    // Any other context (null, a record, a stale list) ends the walk untouched.
    if (cells::is_live_reference(list) && PyList_Check(list)) {
        PyObject *handle = pointer_object::make(entry, registry::types[ty::p_void], 0);
        // A failure stops the walk and stays pending, so the wrapper's caller
        // learns that the list is incomplete.
        go_on = handle && PyList_Append(list, handle) == 0;
        Py_XDECREF(handle);
    }
    PyGILState_Release(gil);
    return go_on;
}

void *mem_alloc(size_t size) { return std::malloc(size); }
void mem_free(void *block) { std::free(block); }

// list_context(list): a cell whose void * addresses the list and keeps it
// alive, the context collect_handles expects.
PyObject *list_context(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "list_context";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    if (!PyList_Check(argv[0])) return errors::argument(errors::kTypeError, kMethod, 1, "list");
    return cells::make_reference(argv[0], registry::types[ty::p_void]);
}

PyObject *not_callable(PyObject *, PyObject *) noexcept {
    PyErr_SetString(PyExc_TypeError, "a C function for the library to call: pass it, do not call it");
    return nullptr;
}

// Its signature and what the function is, then "swig_ptr: _", 16 digits and
// the descriptor name: well within the buffer for every text below.
constexpr std::size_t kDocSize = 256;
char collect_handles_doc[kDocSize];
char mem_alloc_doc[kDocSize];
char mem_free_doc[kDocSize];

void describe(char *doc, const char *what, void *address, const char *descriptor_name) {
    static_assert(kDocSize > 200);
    char *out = doc;
    out += std::snprintf(out, kDocSize, "%s\nswig_ptr: _", what);
    out = write_hex(out, &address, sizeof address);
    std::snprintf(out, kDocSize - static_cast<std::size_t>(out - doc), "%s", descriptor_name);
}

PyMethodDef entries[] = {
    {"list_context", list_context, METH_VARARGS, nullptr},
    {"collect_handles", not_callable, METH_VARARGS, collect_handles_doc},
    {"DVSData_MemAlloc", not_callable, METH_VARARGS, mem_alloc_doc},
    {"DVSData_MemFree", not_callable, METH_VARARGS, mem_free_doc},
};

}  // namespace

void describe_callbacks() {
    // Cast through a plain function pointer: the address is all the text carries.
    describe(collect_handles_doc, "collect_handles($module, entry, context, /)\n--\n\n"
             "A C callback for the library: appends entry to the list context addresses.",
             reinterpret_cast<void *>(&collect_handles), "_p_f_p_void_p_void__char");
    describe(mem_alloc_doc, "DVSData_MemAlloc($module, size, /)\n--\n\nA C callback for the library: the process's malloc.", reinterpret_cast<void *>(&mem_alloc),
             "_p_f_size_t__p_void");
    describe(mem_free_doc, "DVSData_MemFree($module, block, /)\n--\n\nA C callback for the library: the process's free.", reinterpret_cast<void *>(&mem_free),
             "_p_f_p_void__void");
}

const MethodBlock callback_methods{entries, sizeof entries / sizeof entries[0]};
