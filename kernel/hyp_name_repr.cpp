// hyp_Name___repr__: a name as text, stopping at its first zero byte (the
// field getter instead keeps inner zero bytes and drops trailing ones).

#include <cstring>

#include "hyp_kernel_types.h"
#include "kernel/kernel_methods.hpp"
#include "runtime/convert.hpp"
#include "runtime/registry.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *hyp_Name_repr(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "hyp_Name___repr__";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    void *address;
    if (!convert::pointer_argument(argv[0], registry::types[ty::p_hyp_Name], 0, kMethod, 1, "hyp_Name *", &address))
        return nullptr;
    if (!address) return errors::null_argument(kMethod, 1, "hyp_Name *");
    const char *text = static_cast<const hyp_Name *>(address)->string;
    std::size_t length = 0;
    auto measure = [text, &length] { length = strnlen(text, sizeof(hyp_Name::string)); };
    if (trap::armed(measure)) return trap::raise_abandoned_call();
    return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "strict");
}
