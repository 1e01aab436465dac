// Pointer objects: a C address, the descriptor of its pointee and an
// ownership flag, plus the conversions between them and Python objects.
#pragma once

#include <cstdint>

#include "python.hpp"
#include "swig_abi.hpp"

// Shared with other modules of the runtime generation: 48 bytes, fixed layout.
struct SwigPyObject {
    PyObject_HEAD
    void *address;
    swig_type_info *descriptor;
    int own;
    // Bytes the block at address is known to hold, 0 when nothing is known
    // beyond the pointee's type: what a library stated for a buffer with a
    // variable part when it handed it out. Kept in what is padding to other
    // modules of the runtime generation, and read only from this runtime's
    // own pointer objects.
    std::uint32_t extent;
    PyObject *next;
};
static_assert(sizeof(SwigPyObject) == 48);
static_assert(offsetof(SwigPyObject, address) == 16);
static_assert(offsetof(SwigPyObject, own) == 32);
static_assert(offsetof(SwigPyObject, extent) == 36);
static_assert(offsetof(SwigPyObject, next) == 40);

namespace pointer_object {

// Creation flags.
inline constexpr int kOwn = 1;   // the new object owns the record
inline constexpr int kBare = 2;  // never wrap in the registered class

// Conversion flag: take ownership away from the object that supplied the address.
inline constexpr int kDisown = 1;

extern PyTypeObject *cached_type;  // null until the type is first built

PyTypeObject *type();

bool is_pointer_object(PyObject *op);

// The extent word of a pointer object of this runtime (one whose type is
// t or this module's own); 0 for any other object.
inline std::uint32_t known_extent(PyObject *op, PyTypeObject *t) {
    if (Py_TYPE(op) != t && Py_TYPE(op) != cached_type) return 0;
    return reinterpret_cast<SwigPyObject *>(op)->extent;
}

// Whether op is a pointer object of any module built from this runtime,
// whose extent word is set: those types allocate through their module's
// free list, where other runtime generations keep the interpreter's own
// allocation (and leave that word undefined).
bool is_runtime_pointer(PyObject *op);

// Marks a block whose size only its user was told (a library's data block
// written to an output address, the size in another output): reads and
// writes of any size are the caller's to bound.
inline constexpr std::uint32_t kStatedToCaller = UINT32_MAX;

// The instance offset of t's "this" when t's instances keep it in an object
// slot (declared through __slots__ by t or a base); -1 when they do not.
Py_ssize_t this_slot_offset(PyTypeObject *t);

// The pointer object behind obj, following "this" attributes: 0 with *out
// set, -1 when there is none (whatever a lookup raised is cleared).
int find_this(PyObject *obj, SwigPyObject **out);

// find_this's pointer object, or null.
SwigPyObject *get_this(PyObject *obj);

// 0 with *out set, or -1 when obj carries no pointer acceptable as ty
// (ty null accepts the first pointer object of the chain). Sets no exception.
int convert_slow(PyObject *obj, void **out, swig_type_info *ty, int flags);

inline int convert(PyObject *obj, void **out, swig_type_info *ty, int flags) {
    // A bare pointer object of exactly the expected type is the common case
    // on the field-access path; everything else takes the general route.
    if (Py_TYPE(obj) == cached_type) {
        auto *p = reinterpret_cast<SwigPyObject *>(obj);
        if (p->descriptor == ty) {
            *out = p->address;
            if (flags) p->own = 0;
            return 0;
        }
    }
    return convert_slow(obj, out, ty, flags);
}

// A new reference: None for a null address, else a pointer object, wrapped in
// the registered class of ty unless kBare is given. Null with an exception on
// allocation failure. A pointer that does not own its record and addresses a
// record followed by a counted variable part keeps the extent the count
// states at this moment: a library's buffer is handed out this way.
PyObject *make(void *address, swig_type_info *ty, int flags);

// make() with a pointer object type of another module of the runtime, for a
// module that hands out that module's pointer objects (the companion's field
// descriptors hand out _libfc's). t must have the shared layout.
PyObject *make_as(PyTypeObject *t, void *address, swig_type_info *ty, int flags);

// make_as() for a view (not owned, wrapped) made by the companion's own
// accessors: an instance of a registered class that keeps "this" in a slot is
// allocated and filled in place, without the base constructor (which would
// build an empty instance dictionary up front) and without dropping the
// class's cached attribute lookups, as nothing about the class changes.
// Other classes are built as make_as() builds them.
PyObject *make_view_as(PyTypeObject *t, void *address, swig_type_info *ty);

// The runtime's own record destructors are run as the owning pointer object
// dies without the temporary pointer object and argument tuple a call of the
// class's destructor takes: destroy(address, ty) does what that call would
// do, or returns false (having done nothing) when it cannot stand in for it.
using DirectDestroy = bool (*)(void *address, const swig_type_info *ty);
void set_direct_destructor(const SwigPyClassInfo *info, DirectDestroy destroy);

}  // namespace pointer_object
