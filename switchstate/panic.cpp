// Panic: the one switch state operation that takes a variable argument list.
// It converts only its first argument and, unlike every other library call,
// runs with the trap disarmed: a library whose Panic does not return has no
// frame of ours to jump back to.

#include "convert.hpp"
#include "errors.hpp"
#include "switchstate/dvs_operations.hpp"

PyObject *Panic_wrapper(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "Panic";
    if (PyTuple_GET_SIZE(args) < 1) [[unlikely]]
        return errors::argument_count(args, 1, kMethod);
    convert::Text text;
    if (int rc = convert::to_text(PyTuple_GET_ITEM(args, 0), &text)) [[unlikely]]
        return errors::argument(rc, kMethod, 1, "char const *");
    // The further arguments stand for the format's values; none of them is
    // converted, and the library sees a single null one in their place.
    Panic(text.ptr, static_cast<void *>(nullptr));
    convert::release(text);
    Py_RETURN_NONE;
}
