// The field descriptor type: a C subclass of property whose get and set go
// straight to the record for the common case, with the property's own path
// (the module's getter and setter, their conversions and messages) for
// everything else: other classes, a replaced or missing "this", a null
// record, a refused value, deletion, read-only fields.

#include "fields/field_descriptor.hpp"

#include <structmember.h>

#include <cstddef>
#include <cstring>

#include "fields/field_table.hpp"
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
    const field_table::Entry *field;  // null for a field made as a plain property
    record_pointer::ViewClass view_class;  // of a nested record or array's views
};

PyTypeObject *field_type = nullptr;
Py_ssize_t data_offset = 0;

FieldData *data(PyObject *self) { return reinterpret_cast<FieldData *>(reinterpret_cast<char *>(self) + data_offset); }

// The record behind obj when the direct path applies, else null (a null
// record included: the module words that error).
inline char *direct_record(const FieldData *d, PyObject *obj) {
    if (reinterpret_cast<PyObject *>(Py_TYPE(obj)) != d->owner || !d->owner) return nullptr;
    return record_pointer::address_in_slot(obj, d->this_offset, d->field->desc->record_type);
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
        if (pointer_object::convert(obj, &address, registry::types[d->field->desc->record_type], 0) || !address)
            return 1;
        record = static_cast<char *>(address);
    }
    PyObject *l = label(d);
    if (!l) return -1;
    unsigned char bytes[6];
    int rc = hardware_address::parse(value, bytes, l);
    if (rc == 0) std::memcpy(record + d->field->desc->offset, bytes, sizeof bytes);
    return rc;
}

// Nested records and arrays are views of the instance's own memory.
bool views_in_place(const FieldData *d) {
    return d->field && field_kinds::has(d->field->desc->kind, field_kinds::kInPlace);
}

bool is_hardware_address(const FieldData *d) {
    return d->field && field_kinds::has(d->field->desc->kind, field_kinds::kHardwareAddress);
}

PyObject *descr_get(PyObject *self, PyObject *obj, PyObject *cls) {
    if (!obj || obj == Py_None) return PyProperty_Type.tp_descr_get(self, obj, cls);
    FieldData *d = data(self);
    if (char *record = direct_record(d, obj)) {
        const FieldDesc &f = *d->field->desc;
        if (views_in_place(d)) {
            swig_type_info *ty = registry::types[f.value_type];
            if ((d->view_class.info && ty->class_info == d->view_class.info) ||
                record_pointer::learn_view_class(ty, &d->view_class))
                return record_pointer::view_in(d->view_class, record + f.offset, ty, obj, d->this_offset,
                                               d->holder_offset);
            d->view_class = {};
        }
        if (d->field->load) {
            PyObject *value = d->field->load(record + f.offset);
            return views_in_place(d) ? record_pointer::tie(value, obj, d->this_offset, d->holder_offset) : value;
        }
    } else {
        learn_pointer_type(d, obj);
    }
    PyObject *value = PyProperty_Type.tp_descr_get(self, obj, cls);
    // The module reads a six-byte address array as a pointer; the companion
    // reads every hardware address as text.
    if (is_hardware_address(d) && value && !PyUnicode_Check(value) && value != Py_None)
        return hardware_address::text_of_pointer(value);
    if (!views_in_place(d) || !value) return value;
    Py_ssize_t this_offset = pointer_object::this_slot_offset(Py_TYPE(obj));
    return record_pointer::tie(value, obj, this_offset, record_pointer::holder_offset(Py_TYPE(obj)));
}

int descr_set(PyObject *self, PyObject *obj, PyObject *value) {
    FieldData *d = data(self);
    if (value && d->has_setter) {
        char *record = direct_record(d, obj);
        int rc = 1;  // not stored here, nor refused
        if (record && d->field->store) {
            rc = d->field->store(record + d->field->desc->offset, value);
            if (rc == errors::kOk) return 0;
            if (rc == errors::kPending) return -1;
            if (rc == errors::kMemoryError) {
                PyErr_NoMemory();  // no refusal: the value was fine
                return -1;
            }
        } else if (!record) {
            learn_pointer_type(d, obj);
        }
        if (is_hardware_address(d)) {
            // Texts and bytes fail the pointer conversion above; they are read here.
            int stored = store_hardware_address(d, obj, value);
            if (stored <= 0) return stored;
        }
        if (rc < 0) {
            // Worded here: the module's setter would only refuse it again.
            // A null record or array to copy in (rc > 0) is the setter's to word.
            PyObject *l = label(d);
            if (!l) return -1;
            return refusal::raise(errors::type_for_code(rc), d->refusal_texts, l, *d->field, value);
        }
    }
    int rc = PyProperty_Type.tp_descr_set(self, obj, value);
    if (rc < 0 && value && d->has_setter) {
        if (PyObject *l = label(d)) refusal::rephrase(d->refusal_texts, l, *d->field, value);
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
    if (PyType_Check(owner) && d->field) {
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
// of the field as its entry has it; for tests and the package's own helpers.
PyObject *get_layout(PyObject *self, void *) {
    const field_table::Entry *e = data(self)->field;
    if (!e) return Py_BuildValue("(iiiiiiiii)", -1, 0, -1, -1, 0, 0, 0, 0, 0);
    const FieldDesc &f = *e->desc;
    return Py_BuildValue("(iiiiIIIII)", static_cast<int>(f.kind), e->conversion, f.record_type, f.value_type,
                         f.offset, f.size, f.count, unsigned{f.bit}, unsigned{f.bits});
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

bool add_kind_names(PyObject *module) {
    // kinds: each kind's name; kind_behaviours: the names of the kinds it
    // behaves as in the module's accessors and in the companion's attributes.
    auto n = static_cast<Py_ssize_t>(field_kinds::count);
    PyObject *names = PyTuple_New(n), *behaviours = PyTuple_New(n);
    for (Py_ssize_t i = 0; names && behaviours && i < n; ++i) {
        const field_kinds::Row &r = field_kinds::rows[i];
        PyObject *name = PyUnicode_InternFromString(r.name);
        PyObject *as = Py_BuildValue("(ss)", field_kinds::row(r.module_as).name, field_kinds::row(r.companion_as).name);
        if (name) PyTuple_SET_ITEM(names, i, name);
        if (as) PyTuple_SET_ITEM(behaviours, i, as);
        if (!name || !as) Py_CLEAR(names);
    }
    if (names && behaviours && PyModule_AddObject(module, "kinds", names) == 0) {
        if (PyModule_AddObject(module, "kind_behaviours", behaviours) == 0) return true;
        names = nullptr;  // the module holds it now
    }
    Py_XDECREF(names);
    Py_XDECREF(behaviours);
    return false;
}

PyObject *describe(PyObject *, PyObject *const *args, Py_ssize_t nargs) noexcept {
    if (nargs != 3 || !PyUnicode_Check(args[2])) {
        PyErr_SetString(PyExc_TypeError, "describe_field() takes a getter, a setter or None and a field's name");
        return nullptr;
    }
    const char *name = PyUnicode_AsUTF8(args[2]);
    if (!name) return nullptr;
    const field_table::Entry *field = field_table::find(name);
    if (!field) {
        PyErr_Format(PyExc_ValueError, "describe_field(): no field %R", args[2]);
        return nullptr;
    }
    PyTypeObject *t = type();
    if (!t) return nullptr;
    PyObject *made = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(t), args[0], args[1], nullptr);
    if (!made) return nullptr;
    FieldData *d = data(made);
    d->field = field;
    d->has_setter = args[1] != Py_None;
    return made;
}

}  // namespace field_descriptor
