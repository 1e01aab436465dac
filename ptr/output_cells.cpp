// new_<cell>(), <cell>_value(p) and delete_<cell>(p) for every line of
// output_cells.def: one template, one table.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cell_object.hpp"
#include "libfabPublic.h"
#include "ptr/ptr_blocks.hpp"
#include "runtime/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/operations.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace {

namespace ty_extra {
constexpr int none = -1;
}

enum class ValueKind { Integer, Pointer };

// How far the block a library wrote to an output address reaches, as far as
// the library said so: an untyped data block's size went to the caller in
// another output; a port list holds the ports it counts, back to back from
// its first; any other record is its type's size (0: nothing to add).
std::uint32_t handed_out_extent(const void *address, int value_type) {
    if (value_type == ty::p_void) return pointer_object::kStatedToCaller;
    if (value_type == ty::p_DVPortList) {
        int ports;
        std::memcpy(&ports, static_cast<const char *>(address) + offsetof(DVPortList, nports), sizeof ports);
        std::uint64_t bytes = offsetof(DVPortList, dvPort) + std::uint64_t(ports > 1 ? ports : 1) * sizeof(DVPortData);
        return bytes > UINT32_MAX - 1 ? UINT32_MAX - 1 : static_cast<std::uint32_t>(bytes);
    }
    return 0;
}

template <class T, ops::CType PointerType, int Id, ValueKind Kind, int ValueId, ops::CType NewName,
          ops::CType DeleteName, ops::CType ValueName>
struct CellFunctions {
    static PyObject *create(PyObject *, PyObject *args) noexcept {
        if (!unpack_args<0>(args, NewName.text, nullptr)) return nullptr;
        return cells::make_block(sizeof(T), registry::types[Id]);
    }

    // Frees only cells made by create: any other pointer of the type
    // addresses memory this module does not own.
    static PyObject *destroy(PyObject *, PyObject *args) noexcept {
        PyObject *argv[1];
        if (!unpack_args<1>(args, DeleteName.text, argv)) return nullptr;
        if (argv[0] == Py_None) Py_RETURN_NONE;
        PyObject *cell = cells::as_cell(argv[0]);
        void *address;
        if (!cell || pointer_object::convert(argv[0], &address, registry::types[Id], 0))
            return errors::argument(errors::kTypeError, DeleteName.text, 1, PointerType.text);
        cells::release(cell);
        Py_RETURN_NONE;
    }

    static PyObject *value(PyObject *, PyObject *args) noexcept {
        PyObject *argv[1];
        if (!unpack_args<1>(args, ValueName.text, argv)) return nullptr;
        void *address;
        if (!convert::pointer_argument(argv[0], registry::types[Id], 0, ValueName.text, 1, PointerType.text,
                                       &address))
            return nullptr;
        if (!address) return errors::null_argument(ValueName.text, 1, PointerType.text);
        // Record getters hand out pointers into packed records, so the
        // value may sit at any address: copied out, not loaded through T *.
        T stored;
        std::memcpy(&stored, address, sizeof stored);
        if constexpr (Kind == ValueKind::Integer) {
            return convert::from_integer(stored);
        } else {
            // What the library stored stays the library's.
            PyObject *result = pointer_object::make(static_cast<void *>(stored), registry::types[ValueId], 0);
            if (SwigPyObject *p = result ? pointer_object::get_this(result) : nullptr)
                p->extent = handed_out_extent(p->address, ValueId);
            return result;
        }
    }
};

using namespace ty;
using namespace ty_extra;

#define CELL(STEM, T, CTYPE, ID, KIND, VID)                                                              \
    using STEM##_functions = CellFunctions<T, CTYPE, ID, ValueKind::KIND, VID, "new_" #STEM, "delete_" #STEM, \
                                           #STEM "_value">;
#include "ptr/output_cells.def"
#undef CELL

PyMethodDef entries[] = {
#define CELL(STEM, T, CTYPE, ID, KIND, VID)                                   \
    {"new_" #STEM, STEM##_functions::create, METH_VARARGS, nullptr},          \
    {#STEM "_value", STEM##_functions::value, METH_VARARGS, nullptr},         \
    {"delete_" #STEM, STEM##_functions::destroy, METH_VARARGS, nullptr},
#include "ptr/output_cells.def"
#undef CELL
};

}  // namespace

const MethodBlock output_cell_methods{entries, sizeof entries / sizeof entries[0]};
