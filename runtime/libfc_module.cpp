// Entry point of the _libfc extension module.

#include "constants.hpp"
#include "kernel/kernel_methods.hpp"
#include "module_entry.hpp"
#include "type_ids.hpp"

extern swig_type_info libfc_type_descriptors[ty::count];

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
    &kernel_name_methods,
    &kernel_socket_methods,
    &kernel_status_methods,
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
    };
    return create_module(setup);
}
