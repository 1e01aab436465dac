// Entry point of the _libfc extension module.

#include "runtime/constants.hpp"
#include "runtime/method_block.hpp"
#include "runtime/module_entry.hpp"
#include "runtime/type_ids.hpp"

extern swig_type_info libfc_type_descriptors[ty::count];

#define RECORDS(BLOCK, DEF, HEADER) extern const MethodBlock BLOCK##_methods;
#define OPERATIONS RECORDS
#include "libfc_module/interface.def"
#undef RECORDS
#undef OPERATIONS

namespace {

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_libfc",
    nullptr,  // no documentation
    -1,       // state lives in process-wide statics
    nullptr,  // methods: joined from the blocks below at first initialisation
};

// Declaration order of the wrapped interface.
const MethodBlock *const blocks[] = {
#define RECORDS(BLOCK, DEF, HEADER) &BLOCK##_methods,
#define OPERATIONS RECORDS
#include "libfc_module/interface.def"
#undef RECORDS
#undef OPERATIONS
};

}  // namespace

extern "C" LIBFC_EXPORT PyObject *PyInit__libfc() {
    static const ModuleSetup setup = {
        &definition,
        blocks,
        sizeof blocks / sizeof blocks[0],
        libfc_type_descriptors,
        ty::count,
        constants_before_cvar,
        constants_before_cvar_count,
        constants_after_cvar,
        constants_after_cvar_count,
        nullptr,
        0,
        nullptr,
        true,  // the method table carries no documentation texts
    };
    return create_module(setup);
}
