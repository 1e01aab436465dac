// Bytes behind a pointer: cdata(pointer, size) reads them, memmove(pointer,
// data) writes them, as_voidp(pointer) gives the untyped view that reads past
// a record into its variable part. A size beyond what the pointer's type is
// known to address is refused.

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
bool any_pointer(PyObject *obj, const char *method, void **address, const swig_type_info **descriptor) {
    *descriptor = nullptr;
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
    return true;
}

// The block [address, address + size) must lie inside what the pointer is
// known to address, and a null pointer addresses nothing.
LIBFC_COLD bool refuse_block(const char *method, void *address, const swig_type_info *descriptor, size_t size,
                             size_t limit) {
    if (!address) {
        errors::null_argument(method, 1, "void *");
        return true;
    }
    PyErr_Format(PyExc_ValueError, "in method '%s', %zu bytes exceed the %zu bytes a '%s' addresses", method, size,
                 limit, registry::pretty_name(descriptor));
    return true;
}

// What a pointer argument is known to address: a cell knows its own block
// (a cell of int holds four bytes even though int * has no known extent),
// otherwise the size its type is known to have, 0 when nothing is known.
size_t known_extent(PyObject *obj, const swig_type_info *descriptor, bool *is_cell) {
    PyObject *cell = cells::as_cell(obj);
    *is_cell = cell != nullptr;
    return cell ? cells::size(cell) : known_pointee_size(descriptor);
}

inline bool block_fits(const char *method, PyObject *obj, void *address, const swig_type_info *descriptor,
                       size_t size) {
    if (size == 0) return true;
    bool is_cell;
    size_t limit = known_extent(obj, descriptor, &is_cell);
    if (is_cell && address && size > limit) return !refuse_block(method, address, descriptor, size, limit);
    if (address && (limit == 0 || size <= limit)) [[likely]]
        return true;
    return !refuse_block(method, address, descriptor, size, limit);
}

PyObject *cdata(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "cdata";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *address;
    const swig_type_info *descriptor;
    if (!any_pointer(argv[0], kMethod, &address, &descriptor)) return nullptr;
    size_t size;
    if (int rc = convert::to_integer(argv[1], &size)) return errors::argument(rc, kMethod, 2, "size_t");
    if (!block_fits(kMethod, argv[0], address, descriptor, size)) return nullptr;
    return PyBytes_FromStringAndSize(size ? static_cast<const char *>(address) : "",
                                     static_cast<Py_ssize_t>(size));
}

PyObject *memmove_into(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "memmove";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *address;
    const swig_type_info *descriptor;
    if (!any_pointer(argv[0], kMethod, &address, &descriptor)) return nullptr;
    Py_buffer data;
    if (PyObject_GetBuffer(argv[1], &data, PyBUF_SIMPLE) < 0) {
        PyErr_Clear();
        return errors::argument(errors::kTypeError, kMethod, 2, "void const *");
    }
    size_t size = static_cast<size_t>(data.len);
    bool fits = block_fits(kMethod, argv[0], address, descriptor, size);
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
    if (!any_pointer(argv[0], kMethod, &address, &descriptor)) return nullptr;
    return pointer_object::make(address, registry::types[ty::p_void], pointer_object::kBare);
}

PyMethodDef entries[] = {
    {"cdata", cdata, METH_VARARGS, nullptr},
    {"memmove", memmove_into, METH_VARARGS, nullptr},
    {"as_voidp", as_voidp, METH_VARARGS, nullptr},
};

}  // namespace

const MethodBlock memory_block_methods{entries, sizeof entries / sizeof entries[0]};
