// Library operations: one template turns a description line
//
//   OPERATION(name, "result C type", "argument 1 C type", ...)
//
// into the module method that parses the argument tuple, converts every
// argument by its C parameter type (the C type texts word the messages, name
// the pointer descriptors and tell a "char [N]" buffer from a text, which C
// passes alike), arms the library-call trap, calls the library function
// once, converts its result and releases its text copies. Untyped pointers
// (void * and the handles defined as it) accept any pointer object.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "convert.hpp"
#include "errors.hpp"
#include "pointer_object.hpp"
#include "registry.hpp"
#include "trap.hpp"

namespace ops {

// A C type text usable as a template argument.
template <std::size_t N>
struct CType {
    char text[N];
    consteval CType(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

// The descriptor a C type text names ("FC_IOCFlows *"), looked up once in
// the shared registry by any of its spellings. Null for untyped pointers
// ("void *" and the switch handles accept any pointer object).
template <CType T>
swig_type_info *descriptor_of() {
    static swig_type_info *found = nullptr;
    static bool looked = false;
    if (!looked) {
        found = registry::lookup_any(T.text);
        looked = true;
    }
    return found;
}

template <class P>
inline constexpr bool is_text_v =
    std::is_same_v<P, const char *> || std::is_same_v<P, char *>;

template <class P>
inline constexpr bool is_function_pointer_v =
    std::is_pointer_v<P> && std::is_function_v<std::remove_pointer_t<P>>;

// Handles and untyped data pointers: any pointer object is accepted, whatever
// its type, so they are converted without a descriptor.
template <class P>
inline constexpr bool is_untyped_pointer_v = std::is_same_v<P, void *>;

// N for a fixed text buffer argument spelled "char [N]", else 0. Its C
// parameter is a plain char *, so only the type text tells it from a text.
template <CType T>
consteval std::size_t char_array_length() {
    constexpr char prefix[] = "char [";
    std::size_t i = 0;
    for (; prefix[i]; ++i)
        if (T.text[i] != prefix[i]) return 0;
    std::size_t n = 0;
    for (; T.text[i] >= '0' && T.text[i] <= '9'; ++i) n = n * 10 + static_cast<std::size_t>(T.text[i] - '0');
    return T.text[i] == ']' && T.text[i + 1] == '\0' ? n : 0;
}

// A zero-filled buffer on the wrapper's stack for a "char [N]" argument:
// what the library writes into it is dropped with the frame.
template <std::size_t N>
struct CharBuffer {
    char bytes[N];
};

// What one converted argument is kept as until the call: everything here is
// trivially destructible, as the trap requires of the frame it jumps into.
template <class P, CType T>
struct Slot {
    using type = std::conditional_t<(char_array_length<T>() > 0), CharBuffer<char_array_length<T>()>,
                 std::conditional_t<is_text_v<P>, convert::Text,
                 std::conditional_t<std::is_pointer_v<P>, void *,
                 std::conditional_t<std::is_enum_v<P>, int, P>>>>;
};
template <class P, CType T>
using slot_t = typename Slot<P, T>::type;

// Converts argument `position` (1-based) to the C parameter type P, raising
// the argument's exception with its fixed message on failure.
template <class P, CType Text>
inline bool convert_argument(PyObject *obj, slot_t<P, Text> *out, const char *method, int position) {
    int rc;
    if constexpr (constexpr std::size_t n = char_array_length<Text>(); n > 0) {
        rc = convert::to_char_array(obj, out->bytes, n);
    } else if constexpr (is_text_v<P>) {
        rc = convert::to_text(obj, out);
    } else if constexpr (std::is_same_v<P, char>) {
        rc = convert::to_char(obj, out);
    } else if constexpr (std::is_integral_v<P> || std::is_enum_v<P>) {
        rc = convert::to_integer(obj, out);
    } else if constexpr (is_function_pointer_v<P>) {
        rc = convert::to_function_pointer(obj, out, descriptor_of<Text>());
    } else if constexpr (is_untyped_pointer_v<P>) {
        return convert::pointer_argument(obj, nullptr, 0, method, position, Text.text, out);
    } else {
        static_assert(std::is_pointer_v<P>, "no conversion for this parameter type");
        return convert::pointer_argument(obj, descriptor_of<Text>(), 0, method, position, Text.text, out);
    }
    if (rc) [[unlikely]] {
        errors::argument(rc, method, position, Text.text);
        return false;
    }
    return true;
}

// The value a slot passes to the library.
template <class P, class S>
inline P pass(S &slot) {
    if constexpr (std::is_same_v<S, convert::Text>)
        return slot.ptr;
    else if constexpr (requires { slot.bytes; })
        return slot.bytes;
    else if constexpr (is_function_pointer_v<P>)
        return reinterpret_cast<P>(slot);
    else
        return static_cast<P>(slot);  // void * to its pointer type, int to its enumeration
}

template <class S>
inline void release(S &slot) {
    if constexpr (std::is_same_v<S, convert::Text>) convert::release(slot);
}

// The Python value of a library result of C type R.
template <class R, CType Text>
inline PyObject *result(R value) {
    if constexpr (is_text_v<R>)
        return convert::from_text(value);
    else if constexpr (std::is_same_v<R, char>)
        return convert::from_char(value);
    else if constexpr (std::is_enum_v<R>)
        return convert::from_integer(static_cast<int>(value));
    else if constexpr (std::is_integral_v<R>)
        return convert::from_integer(value);
    else
        // Records and handles the library hands out stay the library's.
        return pointer_object::make(const_cast<void *>(static_cast<const void *>(value)), descriptor_of<Text>(), 0);
}

template <class F>
struct signature;
template <class R, class... P>
struct signature<R (*)(P...)> {
    using result_type = R;
    using params = std::tuple<P...>;
    static constexpr std::size_t arity = sizeof...(P);
};

template <auto Fn, CType Name, CType Result, CType... Args>
struct Operation {
    using Sig = signature<decltype(Fn)>;
    using R = typename Sig::result_type;
    template <std::size_t I>
    using param_t = std::tuple_element_t<I, typename Sig::params>;
    static_assert(Sig::arity == sizeof...(Args), "one C type text per parameter");

    template <std::size_t... I>
    static PyObject *call(PyObject *args, std::index_sequence<I...>) noexcept {
        constexpr int n = static_cast<int>(sizeof...(I));
        PyObject *argv[n ? n : 1];
        if (!unpack_args<n>(args, Name.text, argv)) return nullptr;
        std::tuple<slot_t<param_t<I>, Args>...> slots{};
        // Converted from first to last, stopping at the first failure; the
        // text copies made so far are released on every path.
        bool ok = (convert_argument<param_t<I>, Args>(argv[I], &std::get<I>(slots), Name.text,
                                                      static_cast<int>(I) + 1) && ...);
        PyObject *out = nullptr;
        if (ok) {
            if constexpr (std::is_void_v<R>) {
                auto invoke = [&slots] { Fn(pass<param_t<I>>(std::get<I>(slots))...); };
                if (trap::armed(invoke)) {
                    trap::raise_abandoned_call();
                } else {
                    out = Py_None;
                    Py_INCREF(out);
                }
            } else {
                R value{};
                auto invoke = [&slots, &value] { value = Fn(pass<param_t<I>>(std::get<I>(slots))...); };
                if (trap::armed(invoke))
                    trap::raise_abandoned_call();
                else
                    out = result<R, Result>(value);
            }
        }
        (release(std::get<I>(slots)), ...);
        return out;
    }

    static PyObject *method(PyObject *, PyObject *args) noexcept {
        return call(args, std::make_index_sequence<sizeof...(Args)>{});
    }
};

}  // namespace ops
