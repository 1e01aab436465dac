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
//
// Every C type text is resolved against the module's type list when the
// table is compiled: a text the list does not spell, or one that contradicts
// the function's declared parameter type, stops the build, and a call finds
// its descriptor by index.
#pragma once

#include <cstddef>
#include <string_view>
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
    constexpr std::string_view view() const { return {text, N - 1}; }
};

// Whether one line of a type list (the '|'-separated C spellings of one
// descriptor) spells `text` followed by `suffix`.
consteval bool spells(std::string_view line, std::string_view text, std::string_view suffix = {}) {
    for (;;) {
        std::size_t bar = line.find('|');
        std::string_view spelling = line.substr(0, bar);
        if (spelling.size() == text.size() + suffix.size() && spelling.starts_with(text) &&
            spelling.ends_with(suffix))
            return true;
        if (bar == std::string_view::npos) return false;
        line.remove_prefix(bar + 1);
    }
}

// The descriptor id whose line spells `text` + `suffix`, or -1. Lines are
// searched in order, as the registry searches spellings.
template <std::size_t N>
consteval int spelled_by(const char *const (&lines)[N], std::string_view text, std::string_view suffix = {}) {
    for (std::size_t i = 0; i < N; ++i)
        if (spells(lines[i], text, suffix)) return static_cast<int>(i);
    return -1;
}

// The C integer types by their C names: a type list line that spells
// "unsigned int *" says which C++ type its typedefs ("hyp_uint32") stand for.
using builtin_scalars = std::tuple<char, signed char, unsigned char, short, unsigned short, int, unsigned int,
                                   long, unsigned long, long long, unsigned long long>;
inline constexpr std::string_view builtin_scalar_names[] = {
    "char", "signed char", "unsigned char", "short", "unsigned short", "int", "unsigned int",
    "long", "unsigned long", "long long", "unsigned long long"};
static_assert(std::size(builtin_scalar_names) == std::tuple_size_v<builtin_scalars>);

template <class T, std::size_t... I>
consteval int builtin_index_of(std::index_sequence<I...>) {
    int found = -1;
    ((std::is_same_v<T, std::tuple_element_t<I, builtin_scalars>> ? found = static_cast<int>(I) : 0), ...);
    return found;
}
// Index of T in builtin_scalars, or -1.
template <class T>
inline constexpr int builtin_index =
    builtin_index_of<T>(std::make_index_sequence<std::tuple_size_v<builtin_scalars>>{});

// Index of the builtin named `text`, or -1.
consteval int builtin_named(std::string_view text) {
    for (std::size_t b = 0; b < std::size(builtin_scalar_names); ++b)
        if (builtin_scalar_names[b] == text) return static_cast<int>(b);
    return -1;
}

// The builtin a line spells a pointer to ("unsigned int *"), or -1 for a
// line of an enumeration or record.
consteval int builtin_pointee(std::string_view line) {
    for (std::size_t b = 0; b < std::size(builtin_scalar_names); ++b)
        if (spells(line, builtin_scalar_names[b], " *")) return static_cast<int>(b);
    return -1;
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

// What a C type text stands for as the C++ type P of a parameter or result,
// checked against the module's type list `Types` (libfc_module/types.def): `id` is
// the descriptor of a pointer (of void * for untyped ones), -1 for the
// others. Each assertion names the mistake a description line can make.
template <class P, CType T, const auto &Types>
struct TypeText {
    static consteval int resolve() {
        constexpr std::string_view text = T.view();
        constexpr int untyped = spelled_by(Types, "void *");
        if constexpr (std::is_void_v<P>) {
            static_assert(text == "void", "a function without result is described as \"void\"");
            return -1;
        } else if constexpr (char_array_length<T>() > 0) {
            static_assert(std::is_same_v<P, char *>, "a \"char [N]\" buffer is a char * parameter");
            return -1;
        } else if constexpr (is_text_v<P>) {
            static_assert(text == "char const *" || text == "const char *" ||
                              (std::is_same_v<P, char *> && text == "char *"),
                          "a text parameter or result is described as \"char const *\"");
            return -1;
        } else if constexpr (std::is_integral_v<P> || std::is_enum_v<P>) {
            constexpr int named = builtin_named(text);
            if constexpr (named >= 0) {
                static_assert(named == builtin_index<P>,
                              "the C type text names another integer type than the function's");
            } else {
                // A typedef or an enumeration: known by the line of its pointer.
                constexpr int line = spelled_by(Types, text, " *");
                static_assert(line >= 0, "the type list spells no pointer to this C type: misspelt?");
                if constexpr (line >= 0) {
                    constexpr int pointee = builtin_pointee(Types[line]);
                    static_assert(pointee >= 0 ? pointee == builtin_index<P> : std::is_enum_v<P>,
                                  "the C type text names another type than the function's");
                }
            }
            return -1;
        } else if constexpr (is_untyped_pointer_v<P>) {
            // void * itself, a handle the list spells as void * (DVSwitchHandle),
            // or one whose pointer it spells as void ** (DVSDataItem).
            constexpr int line = spelled_by(Types, text);
            constexpr int pointer_to_untyped = spelled_by(Types, "void **");
            static_assert(untyped >= 0 && (line == untyped || (line < 0 && pointer_to_untyped >= 0 &&
                                                               spelled_by(Types, text, " *") == pointer_to_untyped)),
                          "a void * parameter or result is described as void * or a handle type of the type list");
            return untyped;
        } else {
            static_assert(std::is_pointer_v<P>, "no conversion for this parameter type");
            constexpr int line = spelled_by(Types, text);
            static_assert(line >= 0, "the type list spells no such C type: misspelt?");
            using pointee_t = std::remove_cv_t<std::remove_pointer_t<P>>;
            if constexpr (line >= 0 && builtin_index<pointee_t> >= 0)
                static_assert(builtin_pointee(Types[line]) == builtin_index<pointee_t>,
                              "the C type text points to another integer type than the function's");
            return line;
        }
    }
    static constexpr int id = resolve();
};

// The descriptor in force for a pointer type text, found by its id.
template <class P, CType T, const auto &Types>
inline swig_type_info *descriptor_of() {
    return registry::types[TypeText<P, T, Types>::id];
}

// Converts argument `position` (1-based) to the C parameter type P, raising
// the argument's exception with its fixed message on failure.
template <class P, CType Text, const auto &Types>
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
        rc = convert::to_function_pointer(obj, out, descriptor_of<P, Text, Types>());
    } else if constexpr (is_untyped_pointer_v<P>) {
        return convert::pointer_argument(obj, nullptr, 0, method, position, Text.text, out);
    } else {
        static_assert(std::is_pointer_v<P>, "no conversion for this parameter type");
        return convert::pointer_argument(obj, descriptor_of<P, Text, Types>(), 0, method, position, Text.text, out);
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
template <class R, CType Text, const auto &Types>
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
        return pointer_object::make(const_cast<void *>(static_cast<const void *>(value)),
                                    descriptor_of<R, Text, Types>(), 0);
}

template <class F>
struct signature;
template <class R, class... P>
struct signature<R (*)(P...)> {
    using result_type = R;
    using params = std::tuple<P...>;
    static constexpr std::size_t arity = sizeof...(P);
};

// Types: the module's type list, one '|'-separated line of C spellings per
// descriptor id.
template <const auto &Types, auto Fn, CType Name, CType Result, CType... Args>
struct Operation {
    using Sig = signature<decltype(Fn)>;
    using R = typename Sig::result_type;
    template <std::size_t I>
    using param_t = std::tuple_element_t<I, typename Sig::params>;
    static_assert(Sig::arity == sizeof...(Args), "one C type text per parameter");

    // Every text is checked, also those no conversion looks at.
    template <std::size_t... I>
    static consteval bool texts_resolve(std::index_sequence<I...>) {
        return TypeText<R, Result, Types>::id >= -1 &&
               ((TypeText<param_t<I>, Args, Types>::id >= -1) && ...);
    }
    static_assert(texts_resolve(std::make_index_sequence<sizeof...(Args)>{}));

    template <std::size_t... I>
    static PyObject *call(PyObject *args, std::index_sequence<I...>) noexcept {
        constexpr int n = static_cast<int>(sizeof...(I));
        PyObject *argv[n ? n : 1];
        if (!unpack_args<n>(args, Name.text, argv)) return nullptr;
        std::tuple<slot_t<param_t<I>, Args>...> slots{};
        // Converted from first to last, stopping at the first failure; the
        // text copies made so far are released on every path.
        bool ok = (convert_argument<param_t<I>, Args, Types>(argv[I], &std::get<I>(slots), Name.text,
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
                    out = result<R, Result, Types>(value);
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
