// The field descriptor type: a C subclass of property whose get and set go
// straight to the record for the common case, with the property's own path
// (the module's getter and setter, their conversions and messages) for
// everything else: other classes, a replaced or missing "this", a null
// record, a refused value, deletion, read-only fields.

#include "fields/field_descriptor.hpp"

#include <structmember.h>

#include <cstddef>
#include <cstring>

#include "fields/field_access.hpp"
#include "fields/field_layout.hpp"
#include "fields/hardware_address.hpp"
#include "fields/record_pointer.hpp"
#include "fields/refusal.hpp"
#include "runtime/errors.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"

namespace field_descriptor {

namespace {

// Kept after the property's own fields, whose size only the running
// interpreter knows.
struct FieldData {
    PyObject *doc;    // __doc__: property's initialiser stores the getter's text here for subclasses
    PyObject *owner;  // the class the field was defined in (set by __set_name__)
    PyObject *name;   // the field's attribute name (set by __set_name__)
    PyObject *label;  // "Record.field" for refusals, made on the first one
    refusal::Texts refusal_texts;
    Py_ssize_t this_offset;  // of the owner's "this" slot; 0 when it has none
    Py_ssize_t holder_offset;  // of the owner's "_holder" slot; 0 when it has none
    bool has_setter;
    field_access::Layout layout;
    record_pointer::ViewClass view_class;  // of a nested record or array's views
};

PyTypeObject *field_type = nullptr;
Py_ssize_t data_offset = 0;

FieldData *data(PyObject *self) { return reinterpret_cast<FieldData *>(reinterpret_cast<char *>(self) + data_offset); }

// The record behind obj when the direct path applies, else null (a null
// record included: the module words that error).
inline char *direct_record(const FieldData *d, PyObject *obj) {
    if (reinterpret_cast<PyObject *>(Py_TYPE(obj)) != d->owner || !d->owner) return nullptr;
    return record_pointer::address_in_slot(obj, d->this_offset, d->layout.record_type);
}

// Learns the record pointer type from an instance of the owner class.
void learn_pointer_type(const FieldData *d, PyObject *obj) {
    if (record_pointer::type || !d->owner || reinterpret_cast<PyObject *>(Py_TYPE(obj)) != d->owner) return;
    record_pointer::learn_from(obj, d->this_offset);
}

// "Record.field" as refusals name the field; a borrowed reference, null
// with an exception only when no memory is left.
PyObject *label(FieldData *d) {
    if (d->label) return d->label;
    if (d->owner && d->name)
        d->label = PyUnicode_FromFormat("%s.%U", reinterpret_cast<PyTypeObject *>(d->owner)->tp_name, d->name);
    else
        d->label = d->name ? (Py_INCREF(d->name), d->name) : PyUnicode_FromString("field");
    return d->label;
}

// A hardware address given as text or six bytes, stored straight into the
// record: 0 when stored, -1 when refused (raised), 1 when value is neither
// or the record is not at hand, for the other paths to take.
int store_hardware_address(FieldData *d, PyObject *obj, PyObject *value) {
    if (!hardware_address::is_text_or_bytes(value)) return 1;
    char *record = direct_record(d, obj);
    if (!record) {
        void *address = nullptr;
        if (pointer_object::convert(obj, &address, registry::types[d->layout.record_type], 0) || !address) return 1;
        record = static_cast<char *>(address);
    }
    PyObject *l = label(d);
    if (!l) return -1;
    unsigned char bytes[6];
    int rc = hardware_address::parse(value, bytes, l);
    if (rc == 0) std::memcpy(record + d->layout.offset, bytes, sizeof bytes);
    return rc;
}

// Nested records and arrays are views of the instance's own memory.
bool views_in_place(const FieldData *d) {
    return d->layout.kind == field_layout::Nested || d->layout.kind == field_layout::Array;
}

PyObject *descr_get(PyObject *self, PyObject *obj, PyObject *cls) {
    if (!obj || obj == Py_None) return PyProperty_Type.tp_descr_get(self, obj, cls);
    FieldData *d = data(self);
    if (char *record = direct_record(d, obj)) {
        if (views_in_place(d)) {
            swig_type_info *ty = registry::types[d->layout.value_type];
            if ((d->view_class.info && ty->class_info == d->view_class.info) ||
                record_pointer::learn_view_class(ty, &d->view_class))
                return record_pointer::view_in(d->view_class, record + d->layout.offset, ty, obj, d->this_offset,
                                               d->holder_offset);
            d->view_class = {};
        }
        bool declined;
        PyObject *value = field_access::load(d->layout, record, &declined);
        if (!declined)
            return views_in_place(d) ? record_pointer::tie(value, obj, d->this_offset, d->holder_offset) : value;
    } else {
        learn_pointer_type(d, obj);
    }
    PyObject *value = PyProperty_Type.tp_descr_get(self, obj, cls);
    // The module reads a six-byte address array as a pointer; the companion
    // reads every hardware address as text.
    if (d->layout.kind == field_layout::HwAddr && value && !PyUnicode_Check(value) && value != Py_None)
        return hardware_address::text_of_pointer(value);
    if (!views_in_place(d) || !value) return value;
    Py_ssize_t this_offset = pointer_object::this_slot_offset(Py_TYPE(obj));
    return record_pointer::tie(value, obj, this_offset, record_pointer::holder_offset(Py_TYPE(obj)));
}

int descr_set(PyObject *self, PyObject *obj, PyObject *value) {
    FieldData *d = data(self);
    if (value && d->has_setter) {
        if (char *record = direct_record(d, obj)) {
            int refused = 0;
            int rc = field_access::store(d->layout, record, value, &refused);
            if (rc <= 0) return rc;
            if (refused) {
                // Worded here: the module's setter would only refuse it again.
                PyObject *l = label(d);
                if (!l) return -1;
                return refusal::raise(errors::type_for_code(refused), d->refusal_texts, l, d->layout, value);
            }
        } else {
            learn_pointer_type(d, obj);
        }
        if (d->layout.kind == field_layout::HwAddr) {
            // Texts and bytes fail the pointer conversion above; they are read here.
            int rc = store_hardware_address(d, obj, value);
            if (rc <= 0) return rc;
        }
    }
    int rc = PyProperty_Type.tp_descr_set(self, obj, value);
    if (rc < 0 && value && d->has_setter) {
        if (PyObject *l = label(d)) refusal::rephrase(d->refusal_texts, l, d->layout, value);
    }
    return rc;
}

// property.__set_name__ (where the interpreter has it) names the property
// in its messages; the owner and its "this" slot are what the direct path needs.
PyObject *set_name(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    // Called once per field as its class is made: 600 times on importing the
    // companion, so it is a fast call and calls the property's own by vectorcall.
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "__set_name__() takes exactly 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    PyObject *owner = args[0];
    static PyObject *base_set_name = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        base_set_name = PyObject_GetAttrString(reinterpret_cast<PyObject *>(&PyProperty_Type), "__set_name__");
        if (!base_set_name) PyErr_Clear();
    }
    if (base_set_name) {
        PyObject *call_args[] = {self, args[0], args[1]};
        PyObject *result = PyObject_Vectorcall(base_set_name, call_args, 3, nullptr);
        if (!result) return nullptr;
        Py_DECREF(result);
    }
    FieldData *d = data(self);
    Py_CLEAR(d->owner);
    Py_CLEAR(d->label);
    refusal::clear(d->refusal_texts);
    Py_INCREF(args[1]);
    Py_XSETREF(d->name, args[1]);
    d->this_offset = 0;
    d->holder_offset = 0;
    if (PyType_Check(owner) && field_access::valid(d->layout)) {
        Py_ssize_t offset = pointer_object::this_slot_offset(reinterpret_cast<PyTypeObject *>(owner));
        if (offset > 0) {
            Py_INCREF(owner);
            d->owner = owner;
            d->this_offset = offset;
            d->holder_offset = record_pointer::holder_offset(reinterpret_cast<PyTypeObject *>(owner));
        }
    }
    Py_RETURN_NONE;
}

int traverse(PyObject *self, visitproc visit, void *arg) {
    FieldData *d = data(self);
    Py_VISIT(d->doc);
    Py_VISIT(d->owner);
    Py_VISIT(d->name);
    Py_VISIT(d->label);
    if (int rc = refusal::traverse(d->refusal_texts, visit, arg)) return rc;
    return PyProperty_Type.tp_traverse(self, visit, arg);
}

int clear(PyObject *self) {
    FieldData *d = data(self);
    Py_CLEAR(d->doc);
    Py_CLEAR(d->owner);
    Py_CLEAR(d->name);
    Py_CLEAR(d->label);
    refusal::clear(d->refusal_texts);
    return PyProperty_Type.tp_clear ? PyProperty_Type.tp_clear(self) : 0;
}

void dealloc(PyObject *self) {
    // property's deallocator untracks the object (once only) and frees it.
    PyTypeObject *tp = Py_TYPE(self);
    FieldData *d = data(self);
    Py_CLEAR(d->doc);
    Py_CLEAR(d->owner);
    Py_CLEAR(d->name);
    Py_CLEAR(d->label);
    refusal::clear(d->refusal_texts);
    PyProperty_Type.tp_dealloc(self);  // frees the object
    Py_DECREF(tp);
}

// (kind, conversion, record_type, value_type, offset, size, count, bit, bits)
// as describe_field took them; for tests and for the curious.
PyObject *get_layout(PyObject *self, void *) {
    const field_access::Layout &l = data(self)->layout;
    return Py_BuildValue("(iiiinnnii)", l.kind, l.conversion, l.record_type, l.value_type, l.offset, l.size, l.count,
                         l.bit, l.bits);
}

PyGetSetDef getset[] = {
    {"layout", get_layout, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"__set_name__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(set_name)), METH_FASTCALL,
     "names the property and remembers its class"},
    {nullptr, nullptr, 0, nullptr},
};

bool long_arg(PyObject *arg, Py_ssize_t *out) {
    *out = PyLong_AsSsize_t(arg);
    return !(*out == -1 && PyErr_Occurred());
}

}  // namespace

PyTypeObject *type() {
    if (field_type) return field_type;
    data_offset = PyProperty_Type.tp_basicsize;
    static PyMemberDef members[] = {
        {"__doc__", T_OBJECT, 0, 0, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    members[0].offset = data_offset + static_cast<Py_ssize_t>(offsetof(FieldData, doc));
    static PyType_Slot slots[] = {
        {Py_tp_descr_get, reinterpret_cast<void *>(descr_get)},
        {Py_tp_descr_set, reinterpret_cast<void *>(descr_set)},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_methods, methods},
        {Py_tp_members, members},
        {Py_tp_getset, getset},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "_libfc_fields.field",
        static_cast<int>(data_offset + static_cast<Py_ssize_t>(sizeof(FieldData))),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
        slots,
    };
    PyObject *bases = PyTuple_Pack(1, reinterpret_cast<PyObject *>(&PyProperty_Type));
    if (!bases) return nullptr;
    PyObject *made = PyType_FromSpecWithBases(&spec, bases);
    Py_DECREF(bases);
    if (!made) return nullptr;
    field_type = reinterpret_cast<PyTypeObject *>(made);
    return field_type;
}

PyObject *describe(PyObject *, PyObject *const *args, Py_ssize_t nargs) noexcept {
    if (nargs != 11) {
        PyErr_Format(PyExc_TypeError, "describe_field() takes 11 arguments (%zd given)", nargs);
        return nullptr;
    }
    field_access::Layout layout;
    Py_ssize_t n[9];
    for (int i = 0; i < 9; ++i)
        if (!long_arg(args[2 + i], &n[i])) return nullptr;
    layout.kind = static_cast<int>(n[0]);
    layout.conversion = static_cast<int>(n[1]);
    layout.record_type = static_cast<int>(n[2]);
    layout.value_type = static_cast<int>(n[3]);
    layout.offset = n[4];
    layout.size = n[5];
    layout.count = n[6];
    layout.bit = static_cast<int>(n[7]);
    layout.bits = static_cast<int>(n[8]);
    if (!field_access::valid(layout)) {
        PyErr_SetString(PyExc_ValueError, "describe_field(): not a field layout this module knows");
        return nullptr;
    }
    PyTypeObject *t = type();
    if (!t) return nullptr;
    PyObject *fset = args[1] == Py_None ? nullptr : args[1];
    PyObject *made = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(t), args[0], fset ? fset : Py_None,
                                                  nullptr);
    if (!made) return nullptr;
    FieldData *d = data(made);
    d->layout = layout;
    d->has_setter = fset != nullptr;
    return made;
}

}  // namespace field_descriptor
