// Records shared with every module of the same runtime generation.
// Their layout is an interface: other modules in the process read and write
// them through the shared registry capsule, so field order and widths are fixed.
#pragma once

#include <cstddef>
#include <cstdint>

typedef struct _object PyObject;

extern "C" {

struct swig_type_info;
struct swig_cast_info;
struct SwigPyClassInfo;

typedef void *(*swig_converter_func)(void *, int *);
typedef swig_type_info *(*swig_dycast_func)(void **);

struct swig_type_info {
    const char *name;             // mangled name, the registry key ("_p_FC_FlowKey")
    const char *str;              // '|'-separated C spellings; the last one is printed
    swig_dycast_func downcast;    // never set by this runtime
    swig_cast_info *casts;        // head of the list of acceptable source types
    SwigPyClassInfo *class_info;  // set once a class is registered for the type
    int owns_class_info;          // 1 once the registry owns class_info
};

struct swig_cast_info {
    swig_type_info *type;         // source type accepted
    swig_converter_func converter;
    swig_cast_info *next;
    swig_cast_info *prev;
};

struct swig_module_info {
    swig_type_info **types;         // descriptors in force, one per type, then null
    size_t size;
    swig_module_info *next;         // ring of every module sharing the registry
    swig_type_info **initial_types; // this module's own descriptors
    swig_cast_info **initial_casts; // per descriptor, its cast array ended by a null type
    void *user_data;                // unused
};

struct SwigPyClassInfo {
    PyObject *cls;
    PyObject *new_method;           // the class's __new__ when the registered object is no type
    PyObject *new_args;             // the class, or a 1-tuple holding it
    PyObject *destructor;           // the class's __swig_destroy__
    int destroy_via_temp;           // 1: call destructor with a temporary pointer object
    int implicit_conversion;
    PyObject *direct_type;
};

}  // extern "C"

static_assert(sizeof(swig_type_info) == 48);
static_assert(offsetof(swig_type_info, casts) == 24);
static_assert(offsetof(swig_type_info, owns_class_info) == 40);
static_assert(sizeof(swig_cast_info) == 32);
static_assert(offsetof(swig_cast_info, prev) == 24);
static_assert(sizeof(swig_module_info) == 48);
static_assert(offsetof(swig_module_info, initial_casts) == 32);
static_assert(sizeof(SwigPyClassInfo) == 48);
static_assert(offsetof(SwigPyClassInfo, destroy_via_temp) == 32);
static_assert(offsetof(SwigPyClassInfo, implicit_conversion) == 36);
static_assert(offsetof(SwigPyClassInfo, direct_type) == 40);
