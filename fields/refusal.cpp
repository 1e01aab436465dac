// The messages of refused field values, worded for the companion's users
// (see refusal.hpp); only refusals come here.

#include "fields/refusal.hpp"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "runtime/registry.hpp"

namespace refusal {

namespace {

using field_table::kSigned;
using field_table::kUnsignedLongLong;

// The values an integer conversion takes, as "lo..hi". Unsigned types other
// than unsigned long long are read as signed 64-bit values first, so none
// of them reaches past the signed 64-bit maximum. The texts here are built in
// fixed buffers: nothing on a refusal's way may throw, out of memory included.
void integer_range(int conversion, char (&text)[64]) {
    int bytes = conversion & 15;
    if (conversion & kSigned) {
        long long hi = bytes >= 8 ? LLONG_MAX : (1LL << (8 * bytes - 1)) - 1;
        std::snprintf(text, sizeof text, "%lld..%lld", -hi - 1, hi);
    } else {
        unsigned long long hi = bytes >= 8 ? (conversion & kUnsignedLongLong ? ULLONG_MAX : LLONG_MAX)
                                           : (1ULL << (8 * bytes)) - 1;
        std::snprintf(text, sizeof text, "0..%llu", hi);
    }
}

// The C type a pointer, nested record or array field holds, without the
// trailing " *" of its pointer type ("FC_FlowKey", "unsigned int").
std::string_view pointee(int value_type) {
    const char *name = value_type >= 0 ? registry::pretty_name(registry::types[value_type]) : nullptr;
    std::string_view text = name ? name : "a pointer";
    if (text.size() > 2 && text.ends_with(" *")) text.remove_suffix(2);
    return text;
}

// A message column of the field's kind (runtime/field_kinds.def) with its
// {held}, {count} and {range} filled in, cut to fit.
void fill(const char *column, const field_table::Entry &e, char (&text)[256]) {
    const FieldDesc &l = *e.desc;
    std::size_t n = 0;
    auto put = [&](std::string_view piece) {
        for (char c : piece)
            if (n + 1 < sizeof text) text[n++] = c;
    };
    for (std::string_view rest = column; !rest.empty();) {
        char number[64];
        if (rest.starts_with("{held}")) {
            put(pointee(l.value_type));
            rest.remove_prefix(6);
        } else if (rest.starts_with("{count}")) {
            std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(l.count));
            put(number);
            rest.remove_prefix(7);
        } else if (rest.starts_with("{range}")) {
            integer_range(e.conversion, number);
            put(number);
            rest.remove_prefix(7);
        } else {
            put(rest.substr(0, 1));
            rest.remove_prefix(1);
        }
    }
    text[n] = '\0';
}

// What a value of an unaccepted type is told the field expects.
void expected_kind(const field_table::Entry &e, char (&text)[256]) {
    const char *accepted = field_kinds::row(e.desc->kind).accepted;
    fill(*accepted ? accepted : "another value", e, text);
}

// The end of the message for a value of an accepted type that is refused
// anyway (out of range, too long); null when the field has no such refusal.
PyObject *value_suffix(const field_table::Entry &e, bool is_int) {
    const field_kinds::Row &kind = field_kinds::row(e.desc->kind);
    const char *refused = is_int ? kind.int_refused : kind.text_refused;
    if (!*refused) return nullptr;
    char text[256];
    fill(refused, e, text);
    return PyUnicode_FromString(text);
}

}  // namespace

int traverse(Texts &t, visitproc visit, void *arg) {
    Py_VISIT(t.prefix);
    Py_VISIT(t.int_suffix);
    Py_VISIT(t.text_suffix);
    Py_VISIT(t.kind_type);
    Py_VISIT(t.kind_message);
    Py_VISIT(t.last_value);
    Py_VISIT(t.last_message);
    return 0;
}

void clear(Texts &t) {
    Py_CLEAR(t.prefix);
    Py_CLEAR(t.int_suffix);
    Py_CLEAR(t.text_suffix);
    Py_CLEAR(t.kind_type);
    Py_CLEAR(t.kind_message);
    Py_CLEAR(t.last_value);
    Py_CLEAR(t.last_message);
}

int raise(PyObject *exc_type, Texts &t, PyObject *label, const field_table::Entry &e, PyObject *value) {
    bool is_int = PyLong_Check(value);
    PyObject **suffix = nullptr;
    if (is_int || PyUnicode_Check(value)) {
        suffix = is_int ? &t.int_suffix : &t.text_suffix;
        if (!*suffix) {
            *suffix = value_suffix(e, is_int);
            if (!*suffix && PyErr_Occurred()) return -1;
        }
        if (!*suffix) suffix = nullptr;
    }
    if (suffix) {
        // The same value refused again (a retry loop) gets the message made last time.
        if (t.last_value && Py_TYPE(t.last_value) == Py_TYPE(value) &&
            (t.last_value == value || PyObject_RichCompareBool(t.last_value, value, Py_EQ) == 1)) {
            PyErr_SetObject(exc_type, t.last_message);
            return -1;
        }
        PyErr_Clear();  // a failed comparison only means no match
        // "Record.field: " + repr(value) + suffix
        if (!t.prefix && !(t.prefix = PyUnicode_FromFormat("%U: ", label))) return -1;
        PyObject *shown = PyObject_Repr(value);
        if (!shown) return -1;
        PyObject *message = PyUnicode_Concat(t.prefix, shown);
        Py_DECREF(shown);
        if (message) PyUnicode_Append(&message, *suffix);
        if (!message) return -1;
        PyErr_SetObject(exc_type, message);
        if (PyLong_CheckExact(value) || PyUnicode_CheckExact(value)) {
            Py_INCREF(value);
            Py_XSETREF(t.last_value, value);
            Py_XSETREF(t.last_message, message);
        } else {
            Py_DECREF(message);
        }
        return -1;
    }
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(value));
    if (t.kind_type != type) {
        char expected[256];
        expected_kind(e, expected);
        PyObject *message = PyUnicode_FromFormat("%U: expected %s, got %s", label, expected, Py_TYPE(value)->tp_name);
        if (!message) return -1;
        Py_INCREF(type);
        Py_XSETREF(t.kind_type, type);
        Py_XSETREF(t.kind_message, message);
    }
    PyErr_SetObject(exc_type, t.kind_message);
    return -1;
}

int rephrase(Texts &texts, PyObject *label, const field_table::Entry &field, PyObject *value) {
    if (!PyErr_Occurred()) return -1;
    PyObject *exc_type, *exc_value, *exc_tb;
    PyErr_Fetch(&exc_type, &exc_value, &exc_tb);
    PyErr_NormalizeException(&exc_type, &exc_value, &exc_tb);
    bool refused = false;
    // Only a refused value is worded again; running out of memory is not one.
    if (PyObject *text = exc_type != PyExc_MemoryError && exc_value ? PyObject_Str(exc_value) : nullptr) {
        const char *utf8 = PyUnicode_AsUTF8(text);
        refused = utf8 && std::strncmp(utf8, "in method '", 11) == 0 && std::strstr(utf8, "', argument 2 of type '");
        Py_DECREF(text);
    }
    PyErr_Clear();
    if (!refused) {
        PyErr_Restore(exc_type, exc_value, exc_tb);
        return -1;
    }
    raise(exc_type, texts, label, field, value);
    Py_XDECREF(exc_type);
    Py_XDECREF(exc_value);
    Py_XDECREF(exc_tb);
    return -1;
}

}  // namespace refusal
