// FC_ACTION_SIZE: a module function with no effect. It still parses its
// (empty) argument list and arms the trap, as every module function does.

#include "flowcache/flowcache_methods.hpp"
#include "runtime/errors.hpp"
#include "runtime/trap.hpp"

PyObject *FC_action_size(PyObject *, PyObject *args) noexcept {
    if (!unpack_args<0>(args, "FC_ACTION_SIZE", nullptr)) return nullptr;
    auto nothing = [] {};
    if (trap::armed(nothing)) return trap::raise_abandoned_call();
    Py_RETURN_NONE;
}
