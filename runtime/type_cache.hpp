// Small fixed-size caches of what is worked out once and looked up on every
// call: where a class's instances keep a slot, what a class's attributes
// say, the message of a refusal. One entry per slot, chosen by the key's
// hash; a key that maps to a taken slot displaces what was there, as the
// cache only saves work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "python_compat.hpp"

// Hash of a key that is an address: the low bits of object addresses are
// alignment, the same for every key.
struct AddressHash {
    std::size_t operator()(const void *p) const {
        auto key = reinterpret_cast<std::uintptr_t>(p);
        return static_cast<std::size_t>(key ^ (key >> 6) ^ (key >> 15));
    }
};

// Key and Value are plain data; an entry that holds references is handed
// to the release function given to store() when it is displaced.
template <class Key, class Value, std::size_t Size, class Hash = AddressHash>
class KeyedCache {
public:
    Value *find(const Key &key) {
        Entry &entry = entries_[Hash{}(key) % Size];
        return entry.used && entry.key == key ? &entry.value : nullptr;
    }

    // Stores value under key; release(old key, old value) runs for a
    // displaced entry once the new one is in place, as releasing may run
    // arbitrary code.
    template <class Release>
    Value &store(const Key &key, const Value &value, Release release) {
        Entry &entry = entries_[Hash{}(key) % Size];
        Entry old = entry;
        entry = {true, key, value};
        if (old.used) release(old.key, old.value);
        return entry.value;
    }

    Value &store(const Key &key, const Value &value) {
        return store(key, value, [](const Key &, const Value &) {});
    }

private:
    struct Entry {
        bool used;
        Key key;
        Value value;
    };
    Entry entries_[Size] = {};
};

// Keyed by class. Each entry holds a strong reference to its class, so the
// address cannot be taken by another class while the entry lives. What
// follows from a class's attributes (FollowsAttributes) is also tied to the
// class's version tag when the entry was made and found again only while the
// tag is unchanged: the interpreter gives a class a new tag whenever an
// attribute of it or of a base changes, and never reuses one. Such a value
// may therefore borrow the attribute objects it was worked out from. What
// is fixed when the class is made (where its instances keep a slot) needs no
// tag: the runtime itself drops the tags of classes it builds instances of.
template <class Value, std::size_t Size, bool FollowsAttributes>
class TypeCache {
public:
    // The value stored for t while t is unchanged since, else null.
    const Value *find(PyTypeObject *t) {
        const Tagged *entry = entries_.find(t);
        if (!entry) return nullptr;
        if constexpr (FollowsAttributes) {
            unsigned int tag = compat::valid_version_tag(t);
            if (tag == 0 || tag != entry->tag) return nullptr;
        }
        return &entry->value;
    }

    // The value stored for t whatever became of t since, else null: for a
    // value that holds references to what it was worked out from, so that
    // it can be checked again more cheaply than worked out (then store()
    // it again to take t's current tag).
    const Value *find_any(PyTypeObject *t) {
        const Tagged *entry = entries_.find(t);
        return entry ? &entry->value : nullptr;
    }

    // Stores value for t; null (nothing stored) when t has no version tag
    // the interpreter can give it, so that a change would go unnoticed.
    // release_value(old value) runs for a value displaced.
    template <class Release>
    const Value *store(PyTypeObject *t, const Value &value, Release release_value) {
        unsigned int tag = 0;
        if constexpr (FollowsAttributes)
            if ((tag = version_tag(t)) == 0) return nullptr;
        Py_INCREF(reinterpret_cast<PyObject *>(t));
        // A displaced entry of t itself (its tag changed) held t too.
        auto release = [&release_value](PyTypeObject *old, const Tagged &displaced) {
            release_value(displaced.value);
            Py_DECREF(reinterpret_cast<PyObject *>(old));
        };
        return &entries_.store(t, {tag, value}, release).value;
    }

    const Value *store(PyTypeObject *t, const Value &value) {
        return store(t, value, [](const Value &) {});
    }

private:
    struct Tagged {
        unsigned int tag;
        Value value;
    };

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

    KeyedCache<PyTypeObject *, Tagged, Size> entries_;
};
