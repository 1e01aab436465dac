// Type registry: descriptors, the shared ring of module tables, lookups,
// type matching with move-to-front, class registration and the capsule.

#include "registry.hpp"

#include <cstdlib>
#include <cstring>

namespace registry {
namespace {

constexpr const char *kCapsuleName = "swig_runtime_data4.type_pointer_capsule";
constexpr const char *kRuntimeModule = "swig_runtime_data4";

swig_module_info table;             // this module's table, process-wide
swig_module_info *shared = nullptr; // the ring's head found at import, if any
PyObject *this_string = nullptr;
bool char_pointer_looked_up = false;
swig_type_info *char_pointer = nullptr;

// Byte-wise comparison of a query with one '|'-separated spelling, ignoring
// spaces anywhere on both sides.
bool spelling_equals(const char *query, const char *part, const char *part_end) {
    const char *q = query;
    const char *p = part;
    for (;;) {
        while (*q == ' ') ++q;
        while (p != part_end && *p == ' ') ++p;
        bool q_done = *q == '\0';
        bool p_done = p == part_end;
        if (q_done || p_done) return q_done && p_done;
        if (*q != *p) return false;
        ++q;
        ++p;
    }
}

bool str_matches(const char *query, const char *str) {
    if (!str) return false;
    const char *part = str;
    for (;;) {
        const char *bar = std::strchr(part, '|');
        const char *end = bar ? bar : part + std::strlen(part);
        if (spelling_equals(query, part, end)) return true;
        if (!bar) return false;
        part = bar + 1;
    }
}

void link_cast(swig_type_info *ty, swig_cast_info *cast) {
    cast->next = ty->casts;
    cast->prev = nullptr;
    if (ty->casts) ty->casts->prev = cast;
    ty->casts = cast;
}

bool ring_has_others() { return table.next != &table; }

// Resolve each descriptor against the other tables of the ring, so that a
// type known to several modules is one descriptor object for all of them.
void resolve_descriptors() {
    for (size_t i = 0; i < table.size; ++i) {
        swig_type_info *own = table.initial_types[i];
        swig_type_info *in_use = own;
        if (ring_has_others()) {
            swig_type_info *found = lookup(table.next, &table, own->name);
            if (found) {
                in_use = found;
                if (own->class_info) found->class_info = own->class_info;
            }
        }
        for (swig_cast_info *cast = table.initial_casts[i]; cast->type; ++cast) {
            swig_type_info *found = nullptr;
            if (ring_has_others()) found = lookup(table.next, &table, cast->type->name);
            if (found) {
                if (in_use == own) {
                    cast->type = found;
                    link_cast(in_use, cast);
                } else if (!match(found->name, in_use)) {
                    link_cast(in_use, cast);
                }
            } else {
                link_cast(in_use, cast);
            }
        }
        table.types[i] = in_use;
    }
    table.types[table.size] = nullptr;
}

void capsule_destructor(PyObject *capsule) {
    auto *published = static_cast<swig_module_info *>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (!published) {
        PyErr_Clear();
        return;
    }
    for (size_t i = 0; i < published->size; ++i) {
        swig_type_info *ty = published->types[i];
        if (!ty || !ty->owns_class_info || !ty->class_info) continue;
        SwigPyClassInfo *info = ty->class_info;
        Py_CLEAR(info->new_method);
        Py_CLEAR(info->new_args);
        Py_CLEAR(info->destructor);
    }
    Py_CLEAR(this_string);
}

// The capsule's module is made with PyImport_AddModule and so exists only in
// sys.modules: when no module of this runtime generation was loaded before,
// there is nothing to import, and asking the import system for it would
// search every path entry on each first import.
bool runtime_module_loaded() {
    PyObject *modules = PyImport_GetModuleDict();  // borrowed
    if (!PyDict_Check(modules)) return true;        // replaced by a script: let the import system answer
    return PyDict_GetItemString(modules, kRuntimeModule) != nullptr;
}

void publish() {
    PyObject *capsule = PyCapsule_New(&table, kCapsuleName, capsule_destructor);
    if (!capsule) {
        PyErr_Clear();
        return;
    }
    PyObject *module = PyImport_AddModule(kRuntimeModule);  // borrowed
    if (!module || PyModule_AddObject(module, "type_pointer_capsule", capsule) < 0) {
        PyErr_Clear();
        Py_DECREF(capsule);
    }
}

}  // namespace

swig_type_info **types = nullptr;

swig_module_info *module_table() { return &table; }

swig_type_info *lookup(swig_module_info *start, swig_module_info *end, const char *name) {
    swig_module_info *iter = start;
    do {
        if (iter->size) {
            size_t low = 0;
            size_t high = iter->size - 1;
            while (low <= high) {
                size_t probe = (low + high) / 2;
                const char *probe_name = iter->types[probe] ? iter->types[probe]->name : nullptr;
                if (!probe_name) break;
                int cmp = std::strcmp(name, probe_name);
                if (cmp == 0) return iter->types[probe];
                if (cmp < 0) {
                    if (probe == 0) break;
                    high = probe - 1;
                } else {
                    low = probe + 1;
                }
            }
        }
        iter = iter->next;
    } while (iter && iter != end);
    return nullptr;
}

swig_type_info *lookup_any(const char *name) {
    if (swig_type_info *ty = lookup(&table, &table, name)) return ty;
    swig_module_info *iter = &table;
    do {
        for (size_t i = 0; i < iter->size; ++i) {
            swig_type_info *ty = iter->types[i];
            if (ty && str_matches(name, ty->str)) return ty;
        }
        iter = iter->next;
    } while (iter && iter != &table);
    return nullptr;
}

swig_cast_info *match(const char *name, swig_type_info *ty) {
    if (!ty) return nullptr;
    for (swig_cast_info *cast = ty->casts; cast; cast = cast->next) {
        if (std::strcmp(cast->type->name, name) != 0) continue;
        if (cast != ty->casts) {
            // Move to front: the type matched last is found first next time.
            cast->prev->next = cast->next;
            if (cast->next) cast->next->prev = cast->prev;
            cast->next = ty->casts;
            cast->prev = nullptr;
            ty->casts->prev = cast;
            ty->casts = cast;
        }
        return cast;
    }
    return nullptr;
}

const char *pretty_name(const swig_type_info *ty) {
    if (!ty) return nullptr;
    if (!ty->str) return ty->name;
    const char *last = ty->str;
    for (const char *s = ty->str; *s; ++s)
        if (*s == '|') last = s + 1;
    return last;
}

void set_class_info(swig_type_info *ty, SwigPyClassInfo *info) {
    ty->class_info = info;
    for (swig_cast_info *cast = ty->casts; cast; cast = cast->next) {
        if (cast->converter) continue;
        if (!cast->type->class_info) set_class_info(cast->type, info);
    }
}

PyObject *this_name() {
    if (!this_string) this_string = PyUnicode_InternFromString("this");
    return this_string;
}

swig_type_info *char_pointer_type() {
    if (!char_pointer_looked_up) {
        char_pointer = lookup_any("_p_char");
        char_pointer_looked_up = true;
    }
    return char_pointer;
}

void init(swig_type_info *descriptors, size_t count, const ExtraCast *extra_casts, size_t extra_cast_count) {
    bool first = table.next == nullptr;
    if (first) {
        // Tables live for the process; the ring keeps pointers into them.
        table.size = count;
        table.types = static_cast<swig_type_info **>(std::calloc(count + 1, sizeof(swig_type_info *)));
        table.initial_types = static_cast<swig_type_info **>(std::calloc(count, sizeof(swig_type_info *)));
        table.initial_casts = static_cast<swig_cast_info **>(std::calloc(count, sizeof(swig_cast_info *)));
        // Per type: itself, its extra sources, and the terminating entry.
        auto *casts = static_cast<swig_cast_info *>(
            std::calloc(2 * count + extra_cast_count, sizeof(swig_cast_info)));
        swig_cast_info *next_cast = casts;
        for (size_t i = 0; i < count; ++i) {
            table.initial_types[i] = &descriptors[i];
            table.types[i] = &descriptors[i];
            table.initial_casts[i] = next_cast;
            (next_cast++)->type = &descriptors[i];
            for (size_t e = 0; e < extra_cast_count; ++e) {
                if (static_cast<size_t>(extra_casts[e].target) != i) continue;
                next_cast->type = &descriptors[extra_casts[e].source];
                (next_cast++)->converter = extra_casts[e].converter;
            }
            ++next_cast;  // left zero: ends this type's array
        }
        table.next = &table;
        types = table.types;
    }

    if (!shared && runtime_module_loaded()) {
        shared = static_cast<swig_module_info *>(PyCapsule_Import(kCapsuleName, 0));
        if (!shared) PyErr_Clear();
    }
    if (!shared) {
        publish();
    } else {
        swig_module_info *iter = shared;
        do {
            if (iter == &table) return;  // already part of the ring
            iter = iter->next;
        } while (iter != shared);
        table.next = shared->next;
        shared->next = &table;
    }
    if (first) resolve_descriptors();
}

PyObject *register_class(PyObject *args, int type_id) {
    PyObject *cls;
    if (!PyArg_ParseTuple(args, "O:swigregister", &cls)) return nullptr;

    // Class info records are never freed: descriptors of other modules may
    // point at them for the rest of the process.
    auto *info = static_cast<SwigPyClassInfo *>(std::calloc(1, sizeof(SwigPyClassInfo)));
    if (!info) return PyErr_NoMemory();
    Py_INCREF(cls);
    info->cls = cls;
    bool lookup_failed = false;
    if (PyType_Check(cls)) {
        Py_INCREF(cls);
        info->new_args = cls;
    } else {
        info->new_method = PyObject_GetAttrString(cls, "__new__");
        if (info->new_method) {
            info->new_args = PyTuple_Pack(1, cls);
        } else {
            lookup_failed = true;
            PyErr_Clear();
            Py_INCREF(cls);
            info->new_args = cls;
        }
    }
    info->destructor = PyObject_GetAttrString(cls, "__swig_destroy__");
    if (!info->destructor || lookup_failed) {
        // A failed lookup is not reported; the class simply has no destructor.
        PyErr_Clear();
        Py_CLEAR(info->destructor);
    }
    if (info->destructor) {
        bool takes_one_object = PyCFunction_Check(info->destructor) &&
                                (PyCFunction_GetFlags(info->destructor) & METH_O);
        info->destroy_via_temp = takes_one_object ? 0 : 1;
    }
    swig_type_info *ty = types[type_id];
    set_class_info(ty, info);
    ty->owns_class_info = 1;
    Py_RETURN_NONE;
}

}  // namespace registry
