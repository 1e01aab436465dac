// A small fixed-size cache of something worked out about a class (where its
// instances keep a slot, what its class attributes say), so that the work is
// done once per class rather than once per call.
//
// Each entry holds a strong reference to its class, so the address cannot be
// taken by another class while the entry lives. What follows from a class's
// attributes (FollowsAttributes) is also tied to the class's version tag when
// the entry was made, and found again only while the tag is unchanged: the
// interpreter gives a class a new tag whenever an attribute of it or of a
// base changes, and never reuses one. What is fixed when the class is made
// (where its instances keep a slot) needs no tag: the runtime itself drops
// the tags of classes it builds instances of. A slot shared by two classes
// holds the last one stored: the cache only saves work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "python_compat.hpp"

template <class Value, std::size_t Size, bool FollowsAttributes>
class TypeCache {
public:
    // The value stored for t while t is unchanged since, else null.
    const Value *find(PyTypeObject *t) const {
        const Entry &entry = entries_[index(t)];
        if (entry.type != t) return nullptr;
        if constexpr (FollowsAttributes) {
            unsigned int tag = compat::valid_version_tag(t);
            if (tag == 0 || tag != entry.tag) return nullptr;
        }
        return &entry.value;
    }

    // Stores value for t; false (nothing stored) when t has no version tag
    // the interpreter can give it, so that a change would go unnoticed.
    bool store(PyTypeObject *t, const Value &value) {
        unsigned int tag = 0;
        if constexpr (FollowsAttributes)
            if ((tag = version_tag(t)) == 0) return false;
        Entry &entry = entries_[index(t)];
        PyTypeObject *previous = entry.type;
        Py_INCREF(reinterpret_cast<PyObject *>(t));
        entry = {t, tag, value};
        // May run arbitrary code (a class dying): the entry is complete by now.
        Py_XDECREF(reinterpret_cast<PyObject *>(previous));
        return true;
    }

private:
    struct Entry {
        PyTypeObject *type;
        unsigned int tag;
        Value value;
    };

    static std::size_t index(PyTypeObject *t) { return (reinterpret_cast<std::uintptr_t>(t) >> 6) % Size; }

    // t's tag, given one first when it has none: a lookup through the class
    // is what assigns it (of a name the metaclass holds no data descriptor
    // for, so that the class itself is searched).
    static unsigned int version_tag(PyTypeObject *t) {
        unsigned int tag = compat::valid_version_tag(t);
        if (tag != 0) return tag;
        static PyObject *name = nullptr;
        if (!name && !(name = PyUnicode_InternFromString("__init__"))) {
            PyErr_Clear();
            return 0;
        }
        PyObject *found = PyObject_GetAttr(reinterpret_cast<PyObject *>(t), name);
        if (found)
            Py_DECREF(found);
        else
            PyErr_Clear();
        return compat::valid_version_tag(t);
    }

    Entry entries_[Size] = {};
};
