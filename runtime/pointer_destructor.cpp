// Finalising an owning pointer object: its record is destroyed through the
// registered class's destructor, or directly by the runtime's own delete_X
// when the class's destructor is one.

#include <cstdio>

#include "pointer_object_parts.hpp"
#include "type_cache.hpp"

namespace pointer_object {

namespace {

// Class infos whose destructor is one of the runtime's own delete_X, with
// what that function does. Class infos are never freed, so their addresses
// identify them for the life of the process; a class registered again gets
// a new info and so takes the general path until it is entered here too.
KeyedCache<const SwigPyClassInfo *, DirectDestroy, 512> direct_destructors;

DirectDestroy direct_destructor(const SwigPyClassInfo *info) {
    const DirectDestroy *destroy = direct_destructors.find(info);
    return destroy ? *destroy : nullptr;
}

}  // namespace

void call_destructor(SwigPyObject *self) {
    swig_type_info *ty = self->descriptor;
    SwigPyClassInfo *info = ty ? ty->class_info : nullptr;
    PyObject *destructor = info ? info->destructor : nullptr;
    if (!destructor) {
        std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n",
                    printable(ty));
        return;
    }
    DirectDestroy destroy = direct_destructor(info);
    if (destroy && destroy(self->address, ty)) return;
    // The finaliser may run while an exception is being raised; keep it.
    PyObject *exc_type, *exc_value, *exc_tb;
    PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
    PyObject *result;
    if (info->destroy_via_temp) {
        PyObject *temp = make(self->address, ty, kBare);
        result = temp ? PyObject_CallOneArg(destructor, temp) : nullptr;
        Py_XDECREF(temp);
    } else {
        PyCFunction entry = PyCFunction_GetFunction(destructor);
        PyObject *bound = PyCFunction_GetSelf(destructor);
        result = entry(bound, reinterpret_cast<PyObject *>(self));
    }
    if (result)
        Py_DECREF(result);
    else
        PyErr_Clear();  // a failing destructor is not reported
    PyErr_Restore(exc_type, exc_value, exc_tb);
}

void set_direct_destructor(const SwigPyClassInfo *info, DirectDestroy destroy) {
    // A slot taken by another class is overwritten: that class's records
    // are then destroyed through its destructor's call, as before.
    direct_destructors.store(info, destroy);
}

}  // namespace pointer_object
