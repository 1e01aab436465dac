// Module creation: method table, registry, constants and cvar, in that order.

#include "module_entry.hpp"

#include <cstdlib>
#include <cstring>

#include "convert.hpp"
#include "cvar.hpp"
#include "registry.hpp"

PyObject *instance_method_new(PyObject *, PyObject *func) noexcept {
    return PyInstanceMethod_New(func);
}

namespace {

// The docstring of `name`, or null.
const char *find_doc(const MethodDocs &docs, const char *name) {
    std::size_t low = 0, high = docs.count;
    while (low < high) {
        std::size_t mid = low + (high - low) / 2;
        int order = std::strcmp(docs.names + docs.name_offsets[mid], name);
        if (order == 0) return docs.texts + docs.text_offsets[mid];
        if (order < 0) low = mid + 1;
        else high = mid;
    }
    return nullptr;
}

// The table lives for the process: every function object points into it.
PyMethodDef *join_blocks(const ModuleSetup &setup) {
    std::size_t total = 1;
    for (std::size_t i = 0; i < setup.block_count; ++i) total += setup.blocks[i]->count;
    auto *table = static_cast<PyMethodDef *>(std::calloc(total + 1, sizeof(PyMethodDef)));
    if (!table) return nullptr;
    table[0] = {"SWIG_PyInstanceMethod_New", instance_method_new, METH_O,
                setup.undocumented ? nullptr
                                   : "SWIG_PyInstanceMethod_New($module, function, /)\n--\n\n"
                                     "An instance method calling function with the instance as its first argument."};
    PyMethodDef *out = table + 1;
    for (std::size_t i = 0; i < setup.block_count; ++i)
        for (std::size_t j = 0; j < setup.blocks[i]->count; ++j) *out++ = setup.blocks[i]->entries[j];
    if (setup.docs)
        for (PyMethodDef *def = table; def->ml_name; ++def)
            if (!def->ml_doc) def->ml_doc = find_doc(*setup.docs, def->ml_name);
    return table;  // ends with the all-zero entry calloc left
}

// Adds one function per table entry to the module dictionary, in table order,
// as PyModule_AddFunctions would but without its attribute-setting detour (a
// type lookup per name, none of which can hit).
//
// The functions are not tracked by the cyclic collector: the interpreter keeps
// a copy of a single-phase module's dictionary for re-imports, so they live
// as long as the process and can never be garbage. Left tracked, every
// collection that reaches their generation walks all of them.
bool add_functions(PyObject *module, PyObject *dict, PyMethodDef *table) {
    PyObject *module_name = PyModule_GetNameObject(module);
    if (!module_name) return false;
    bool ok = true;
    for (PyMethodDef *def = table; ok && def->ml_name; ++def) {
        PyObject *name = convert::from_ascii_name(def->ml_name);
        PyObject *function = name ? PyCFunction_NewEx(def, module, module_name) : nullptr;
        if (function) PyObject_GC_UnTrack(function);
        ok = function && PyDict_SetItem(dict, name, function) == 0;
        Py_XDECREF(function);
        Py_XDECREF(name);
    }
    Py_DECREF(module_name);
    return ok;
}

}  // namespace

PyObject *create_module(const ModuleSetup &setup) {
    PyModuleDef *def = setup.definition;
    if (!def->m_methods) {
        def->m_methods = join_blocks(setup);
        if (!def->m_methods) return PyErr_NoMemory();
    }
    // The definition keeps naming the table for whoever reads it, but the
    // functions are added below rather than by the interpreter.
    PyMethodDef *table = def->m_methods;
    def->m_methods = nullptr;
    PyObject *module = PyModule_Create2(def, 1013);
    def->m_methods = table;
    if (!module) return nullptr;
    PyObject *dict = PyModule_GetDict(module);
    if (!add_functions(module, dict, table)) {
        Py_DECREF(module);
        return nullptr;
    }

    registry::init(setup.descriptors, setup.descriptor_count, setup.extra_casts, setup.extra_cast_count);

    bool ok = install_constants(dict, setup.constants_before_cvar, setup.constants_before_cvar_count);
    PyObject *vars = ok ? cvar::object() : nullptr;
    ok = vars && PyDict_SetItemString(dict, "cvar", vars) == 0 && cvar::add_module_current_id();
    ok = ok && install_constants(dict, setup.constants_after_cvar, setup.constants_after_cvar_count);
    if (!ok) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
