// Bytes behind a pointer: cdata(pointer, size) reads them, memmove(pointer,
// data) writes them, as_voidp(pointer) gives the untyped view that reads past
// a record into its variable part. Only bytes inside a block of known size
// are reached: a size beyond it is refused, and so is any size behind a
// pointer whose block is not known (a handle, or an address into memory
// nobody described).

#include <cstring>

#include "ptr/cell_object.hpp"
#include "ptr/pointee_sizes.hpp"
#include "ptr/ptr_blocks.hpp"
#include "runtime/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/pointer_object.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace {

// Any pointer object (its first one when it is a chain) or None.
bool any_pointer(PyObject *obj, const char *method, void **address, const swig_type_info **descriptor,
                 SwigPyObject **pointer = nullptr) {
    *descriptor = nullptr;
    if (pointer) *pointer = nullptr;
    if (obj == Py_None) {
        *address = nullptr;
        return true;
    }
    SwigPyObject *p = pointer_object::get_this(obj);
    if (!p) {
        errors::argument(errors::kTypeError, method, 1, "void *");
        return false;
    }
    *address = p->address;
    *descriptor = p->descriptor;
    if (pointer) *pointer = p;
    return true;
}

// The block [address, address + size) must lie inside what the pointer is
// known to address, and a null pointer addresses nothing.
LIBFC_COLD bool refuse_block(const char *method, void *address, const swig_type_info *descriptor, size_t size,
                             size_t limit) {
    const char *type = registry::pretty_name(descriptor);
    if (!address)
        errors::null_argument(method, 1, "void *");
    else if (limit == 0)
        PyErr_Format(PyExc_ValueError, "in method '%s', the '%s' addresses no block of known size", method,
                     type ? type : "void *");
    else
        PyErr_Format(PyExc_ValueError, "in method '%s', %zu bytes exceed the %zu bytes a '%s' addresses", method,
                     size, limit, type);
    return true;
}

// What a pointer argument is known to address: a cell knows its own block
// (a cell of int holds four bytes even though int * has no known extent); a
// pointer object of the runtime may carry the extent of a block a library
// handed out, or of the block an untyped view was made from; otherwise the
// size its type is known to have. 0 when nothing is known.
size_t known_extent(PyObject *obj, const SwigPyObject *p) {
    if (PyObject *cell = cells::as_cell(obj)) return cells::size(cell);
    if (!p) return 0;
    if (pointer_object::is_runtime_pointer(reinterpret_cast<PyObject *>(const_cast<SwigPyObject *>(p))) && p->extent)
        return p->extent;
    return known_pointee_size(p->descriptor);
}

inline bool block_fits(const char *method, PyObject *obj, const SwigPyObject *p, size_t size) {
    if (size == 0) return true;
    void *address = p ? p->address : nullptr;
    size_t limit = known_extent(obj, p);
    if (address && size <= limit) [[likely]]
        return true;
    return !refuse_block(method, address, p ? p->descriptor : nullptr, size, limit);
}

PyObject *cdata(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "cdata";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *address;
    const swig_type_info *descriptor;
    SwigPyObject *pointer;
    if (!any_pointer(argv[0], kMethod, &address, &descriptor, &pointer)) return nullptr;
    size_t size;
    if (int rc = convert::to_integer(argv[1], &size)) return errors::argument(rc, kMethod, 2, "size_t");
    if (!block_fits(kMethod, argv[0], pointer, size)) return nullptr;
    return PyBytes_FromStringAndSize(size ? static_cast<const char *>(address) : "",
                                     static_cast<Py_ssize_t>(size));
}

PyObject *memmove_into(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "memmove";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *address;
    const swig_type_info *descriptor;
    SwigPyObject *pointer;
    if (!any_pointer(argv[0], kMethod, &address, &descriptor, &pointer)) return nullptr;
    Py_buffer data;
    if (PyObject_GetBuffer(argv[1], &data, PyBUF_SIMPLE) < 0) {
        PyErr_Clear();
        return errors::argument(errors::kTypeError, kMethod, 2, "void const *");
    }
    size_t size = static_cast<size_t>(data.len);
    bool fits = block_fits(kMethod, argv[0], pointer, size);
    if (fits && size) std::memmove(address, data.buf, size);
    PyBuffer_Release(&data);
    if (!fits) return nullptr;
    Py_RETURN_NONE;
}

PyObject *as_voidp(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "as_voidp";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    void *address;
    const swig_type_info *descriptor;
    SwigPyObject *pointer;
    if (!any_pointer(argv[0], kMethod, &address, &descriptor, &pointer)) return nullptr;
    PyObject *view = pointer_object::make(address, registry::types[ty::p_void], pointer_object::kBare);
    // The view reaches exactly the block its source is known to address.
    if (view && view != Py_None) {
        size_t extent = known_extent(argv[0], pointer);
        reinterpret_cast<SwigPyObject *>(view)->extent =
            extent > pointer_object::kStatedToCaller ? pointer_object::kStatedToCaller : static_cast<std::uint32_t>(extent);
    }
    return view;
}

PyMethodDef entries[] = {
    {"cdata", cdata, METH_VARARGS, nullptr},
    {"memmove", memmove_into, METH_VARARGS, nullptr},
    {"as_voidp", as_voidp, METH_VARARGS, nullptr},
};

}  // namespace

const MethodBlock memory_block_methods{entries, sizeof entries / sizeof entries[0]};
