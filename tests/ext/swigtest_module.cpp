// _swigtest: a second module built from the same runtime, sharing some type
// descriptors with _libfc, plus probes of runtime paths _libfc has no public
// method for yet (packed objects, callback conversions, the registry).

#define TYPE_FILE "tests/ext/swigtest_types.def"
#include "runtime/type_ids.hpp"

#include <cstring>

#include "runtime/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/module_entry.hpp"
#include "runtime/packed_object.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"
#include "swigtest_records.h"

extern const MethodBlock swigtest_record_methods;
extern const MethodBlock swigtest_operations;

namespace {

swig_type_info descriptors[ty::count] = {
#define TYPE(ID, SPELLINGS) {"_" #ID, SPELLINGS, nullptr, nullptr, nullptr, 0},
#include "tests/ext/swigtest_types.def"
#undef TYPE
};

// swigtest_Base, a test-only type that also accepts probes (through a
// converter that moves the address by 8 bytes) and names (unchanged).
void *probe_to_base(void *address, int *) { return static_cast<char *>(address) + 8; }

const registry::ExtraCast extra_casts[] = {
    {ty::p_swigtest_Base, ty::p_swigtest_Probe, probe_to_base},
    {ty::p_swigtest_Base, ty::p_hyp_Name, nullptr},
};

// swigtest_as_base(obj): the address obj converts to as a swigtest_Base *.
PyObject *as_base(PyObject *, PyObject *args) noexcept {
    PyObject *argv[1];
    if (!unpack_args<1>(args, "swigtest_as_base", argv)) return nullptr;
    void *address;
    if (!convert::pointer_argument(argv[0], registry::types[ty::p_swigtest_Base], 0, "swigtest_as_base", 1,
                                   "swigtest_Base *", &address))
        return nullptr;
    return PyLong_FromVoidPtr(address);
}

// swigtest_casts(name): the source types a descriptor accepts, in list order.
PyObject *casts_of(PyObject *, PyObject *args) noexcept {
    const char *name;
    if (!PyArg_ParseTuple(args, "s:swigtest_casts", &name)) return nullptr;
    swig_module_info *table = registry::module_table();
    swig_type_info *ty = registry::lookup(table, table, name);
    if (!ty) Py_RETURN_NONE;
    PyObject *list = PyList_New(0);
    for (swig_cast_info *c = ty->casts; c && list; c = c->next) {
        PyObject *source = PyUnicode_FromString(c->type->name);
        if (!source || PyList_Append(list, source) < 0) Py_CLEAR(list);
        Py_XDECREF(source);
    }
    return list;
}

// swigtest_lookup_any(text): the mangled name of the descriptor found for a
// mangled name or any C spelling, or None.
PyObject *lookup_any(PyObject *, PyObject *args) noexcept {
    const char *text;
    if (!PyArg_ParseTuple(args, "s:swigtest_lookup_any", &text)) return nullptr;
    swig_type_info *ty = registry::lookup_any(text);
    if (!ty) Py_RETURN_NONE;
    return PyUnicode_FromString(ty->name);
}

// swigtest_pretty_name(name): the printable name of a descriptor of the ring.
PyObject *pretty_name(PyObject *, PyObject *args) noexcept {
    const char *name;
    if (!PyArg_ParseTuple(args, "s:swigtest_pretty_name", &name)) return nullptr;
    swig_module_info *table = registry::module_table();
    swig_type_info *ty = registry::lookup(table, table, name);
    if (!ty) Py_RETURN_NONE;
    return PyUnicode_FromString(registry::pretty_name(ty));
}

// swigtest_register_base(cls): class registration for swigtest_Base.
PyObject *register_base(PyObject *, PyObject *args) noexcept {
    return registry::register_class(args, ty::p_swigtest_Base);
}

// swigtest_descriptor(obj): the address of the descriptor of obj's pointer object.
PyObject *descriptor_of(PyObject *, PyObject *args) noexcept {
    PyObject *argv[1];
    if (!unpack_args<1>(args, "swigtest_descriptor", argv)) return nullptr;
    SwigPyObject *p = pointer_object::get_this(argv[0]);
    if (!p) return errors::argument(errors::kTypeError, "swigtest_descriptor", 1, "SwigPyObject");
    return PyLong_FromVoidPtr(p->descriptor);
}

// swigtest_packed(data): a packed object holding a copy of the bytes.
PyObject *packed(PyObject *, PyObject *args) noexcept {
    PyObject *argv[1];
    if (!unpack_args<1>(args, "swigtest_packed", argv)) return nullptr;
    char *data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(argv[0], &data, &size) < 0) return nullptr;
    return packed_object::make(data, static_cast<size_t>(size), registry::types[ty::p_char]);
}

// swigtest_callback(obj): the address a callback argument converts to.
PyObject *callback(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "swigtest_callback";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    void *address;
    if (int rc = convert::to_function_pointer(argv[0], &address, registry::types[ty::p_f_p_void__void]))
        return errors::argument(rc, kMethod, 1, "DVSData_MemFree");
    return PyLong_FromVoidPtr(address);
}

// swigtest_bitfield_image(name): the bytes of a zeroed probe record after the
// C compiler itself set bit-field `name` to all ones.
PyObject *bitfield_image(PyObject *, PyObject *args) noexcept {
    const char *name;
    if (!PyArg_ParseTuple(args, "s:swigtest_bitfield_image", &name)) return nullptr;
    swigtest_Probe probe;
    std::memset(&probe, 0, sizeof probe);
    // From zero, one decrement sets all bits of the field's width.
#define BITFIELD(R, F, ...) \
    if (std::strcmp(name, #F) == 0) --probe.F;
#include "runtime/description_lines_begin.inc"
#include "tests/ext/swigtest_records.def"
#include "runtime/description_lines_end.inc"
#undef BITFIELD
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(&probe), sizeof probe);
}

// The benchmarks' peer (same calling convention as a getter, no work at all),
// and the body of the functions that only carry a callback address.
PyObject *do_nothing(PyObject *, PyObject *) noexcept { Py_RETURN_NONE; }

PyMethodDef probe_entries[] = {
    {"swigtest_descriptor", descriptor_of, METH_VARARGS, nullptr},
    {"swigtest_as_base", as_base, METH_VARARGS, nullptr},
    {"swigtest_casts", casts_of, METH_VARARGS, nullptr},
    {"swigtest_lookup_any", lookup_any, METH_VARARGS, nullptr},
    {"swigtest_pretty_name", pretty_name, METH_VARARGS, nullptr},
    {"swigtest_register_base", register_base, METH_VARARGS, nullptr},
    {"swigtest_packed", packed, METH_VARARGS, nullptr},
    {"swigtest_callback", callback, METH_VARARGS, nullptr},
    {"swigtest_bitfield_image", bitfield_image, METH_VARARGS, nullptr},
    {"swigtest_do_nothing", do_nothing, METH_VARARGS, nullptr},
    // Built-in functions whose documentation carries a callback address.
    {"swigtest_cb_address", do_nothing, METH_VARARGS, "callback\nswig_ptr: _efcdab8967452301_p_f_p_void__void"},
    {"swigtest_cb_null", do_nothing, METH_VARARGS, "swig_ptr: NULL"},
    {"swigtest_cb_upper", do_nothing, METH_VARARGS, "swig_ptr: _EFCDAB8967452301_p_f_p_void__void"},
    {"swigtest_cb_other_type", do_nothing, METH_VARARGS, "swig_ptr: _efcdab8967452301_p_void"},
    {"swigtest_cb_no_marker", do_nothing, METH_VARARGS, "just a function"},
};
const MethodBlock probe_methods{probe_entries, sizeof probe_entries / sizeof probe_entries[0]};

const MethodBlock *const blocks[] = {&swigtest_record_methods, &probe_methods, &swigtest_operations};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "_swigtest", nullptr, -1, nullptr};

}  // namespace

extern "C" LIBFC_EXPORT PyObject *PyInit__swigtest() {
    static const ModuleSetup setup = {
        &definition, blocks, sizeof blocks / sizeof blocks[0], descriptors, ty::count, nullptr, 0, nullptr, 0,
        extra_casts, sizeof extra_casts / sizeof extra_casts[0],
    };
    return create_module(setup);
}
