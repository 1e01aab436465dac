// Module creation: method table, registry, constants and cvar, in that order.

#include "module_entry.hpp"

#include <cstdlib>

#include "cvar.hpp"
#include "registry.hpp"

PyObject *instance_method_new(PyObject *, PyObject *func) noexcept {
    return PyInstanceMethod_New(func);
}

namespace {

// The table lives for the process: every function object points into it.
PyMethodDef *join_blocks(const ModuleSetup &setup) {
    std::size_t total = 1;
    for (std::size_t i = 0; i < setup.block_count; ++i) total += setup.blocks[i]->count;
    auto *table = static_cast<PyMethodDef *>(std::calloc(total + 1, sizeof(PyMethodDef)));
    if (!table) return nullptr;
    table[0] = {"SWIG_PyInstanceMethod_New", instance_method_new, METH_O, nullptr};
    PyMethodDef *out = table + 1;
    for (std::size_t i = 0; i < setup.block_count; ++i)
        for (std::size_t j = 0; j < setup.blocks[i]->count; ++j) *out++ = setup.blocks[i]->entries[j];
    return table;  // ends with the all-zero entry calloc left
}

}  // namespace

PyObject *create_module(const ModuleSetup &setup) {
    PyModuleDef *def = setup.definition;
    if (!def->m_methods) {
        def->m_methods = join_blocks(setup);
        if (!def->m_methods) return PyErr_NoMemory();
    }
    PyObject *module = PyModule_Create2(def, 1013);
    if (!module) return nullptr;
    PyObject *dict = PyModule_GetDict(module);

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
