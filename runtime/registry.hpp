// Type registry: the module's descriptors, their sharing with other modules of
// the same runtime generation through a capsule ring, lookups and class info.
#pragma once

#include "python.hpp"
#include "swig_abi.hpp"

namespace registry {

// Descriptors in force for this module, indexed by the module's type ids.
// Filled by init(); before that it points at the module's own descriptors.
extern swig_type_info **types;

// A pointer of type `source` is also acceptable as `target`, through
// `converter` when it is set. _libfc declares none: each of its types accepts
// only itself.
struct ExtraCast {
    int target;
    int source;
    swig_converter_func converter;
};

// Sets up (first call only) and shares the module type table built from the
// module's sorted static descriptors. Later calls only relink if needed.
void init(swig_type_info *descriptors, size_t count, const ExtraCast *extra_casts = nullptr,
          size_t extra_cast_count = 0);

swig_module_info *module_table();

swig_type_info *lookup(swig_module_info *start, swig_module_info *end, const char *name);
swig_type_info *lookup_any(const char *name);
swig_cast_info *match(const char *name, swig_type_info *ty);
const char *pretty_name(const swig_type_info *ty);
void set_class_info(swig_type_info *ty, SwigPyClassInfo *info);

// The "this" attribute name, created on first use.
PyObject *this_name();

// The char * descriptor, looked up once by spelling and cached.
swig_type_info *char_pointer_type();

// X_swigregister(cls) for the descriptor with the given id.
PyObject *register_class(PyObject *args, int type_id);

}  // namespace registry
