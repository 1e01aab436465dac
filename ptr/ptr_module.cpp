// Entry point of _libfc_ptr, the pointer helper module: output cells for the
// switch state operations, byte access to pointed-to memory and C callbacks.
// It is built from the same runtime as _libfc and carries the same type
// descriptors, so whichever of the two is imported first, both use one
// shared descriptor per type and accept each other's pointer objects.

#include "ptr/ptr_blocks.hpp"
#include "runtime/module_entry.hpp"
#include "runtime/type_ids.hpp"

extern swig_type_info libfc_type_descriptors[ty::count];
extern const MethodDocs libfc_ptr_method_docs;

namespace {

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "_libfc_ptr", nullptr, -1, nullptr};

const MethodBlock *const blocks[] = {&output_cell_methods, &memory_block_methods, &callback_methods};

}  // namespace

extern "C" LIBFC_EXPORT PyObject *PyInit__libfc_ptr() {
    static const ModuleSetup setup = {
        &definition, blocks, sizeof blocks / sizeof blocks[0], libfc_type_descriptors, ty::count,
        nullptr,     0,      nullptr,                          0,
        nullptr,     0,      &libfc_ptr_method_docs,
    };
    describe_callbacks();
    return create_module(setup);
}
