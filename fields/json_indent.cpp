// Compact JSON lines re-laid out as json.dumps(indent=2) writes (json_indent.hpp).
#include "fields/json_indent.hpp"

#include <cstring>
#include <string_view>

#include "fields/grown.hpp"

namespace json_indent {

namespace {

// Deeper than a flow nests in a document (the document, its flows, a flow,
// its entities, an entity, its lists), with room to spare: text nested
// deeper is refused, not indented ever further.
constexpr int kMostDepth = 32;

class Indented {
  public:
    // A newline and the indentation of depth; false when memory ran out.
    bool line(int depth) { return put("\n", 1) && indent(depth); }
    bool indent(int depth) {
        auto n = 2 * static_cast<std::size_t>(depth);
        char *to = out_.room(n);
        return to && (std::memset(to, ' ', n), true);
    }
    bool put(const char *from, std::size_t n) {
        char *to = out_.room(n);
        return to && (std::memcpy(to, from, n), true);
    }
    grown::Grown<char> out_;
};

enum class Laid { done, too_deep, no_memory };

// One object of a line: `{` to its end, laid out from depth (whose
// indentation is written already). Text out of place (a line that is no
// JSON) is copied as it comes; brackets that close more than opened close
// nothing.
Laid lay_out(Indented &out, std::string_view text, int depth) {
    const int top = depth;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool ok = true;
        switch (c) {
            case '"': {
                std::size_t end = i + 1;
                while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
                end = end < text.size() ? end + 1 : text.size();
                ok = out.put(text.data() + i, end - i);
                i = end - 1;
                break;
            }
            case '{':
            case '[':
                if (i + 1 < text.size() && text[i + 1] == (c == '{' ? '}' : ']')) {
                    ok = out.put(text.data() + i, 2);
                    ++i;
                } else {
                    if (++depth - top > kMostDepth) return Laid::too_deep;
                    ok = out.put(&c, 1) && out.line(depth);
                }
                break;
            case '}':
            case ']':
                if (depth > top) --depth;
                ok = out.line(depth) && out.put(&c, 1);
                break;
            case ',':
                ok = out.put(",", 1) && out.line(depth);
                break;
            case ':':
                ok = out.put(": ", 2);
                break;
            default:
                ok = out.put(&c, 1);
        }
        if (!ok) return Laid::no_memory;
    }
    return Laid::done;
}

[[gnu::cold, gnu::noinline]] PyObject *refuse(PyObject *error, const char *why) {
    if (!PyErr_Occurred()) PyErr_SetString(error, why);
    return nullptr;
}

}  // namespace

PyObject *indented(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long level = n == 2 ? PyLong_AsLong(args[1]) : -1;
    if (n != 2 || level < 0 || level > kMostDepth)
        return refuse(PyExc_TypeError, "indented(lines, level): lines a str or bytes, level from 0 to 32");
    bool bytes = PyBytes_Check(args[0]);
    Py_ssize_t size = 0;
    const char *text = bytes ? PyBytes_AS_STRING(args[0]) : nullptr;
    if (bytes) size = PyBytes_GET_SIZE(args[0]);
    else if (PyUnicode_Check(args[0]) && PyUnicode_IS_ASCII(args[0])) text = PyUnicode_AsUTF8AndSize(args[0], &size);
    if (!text) return refuse(PyExc_TypeError, "indented: lines are bytes or a str of ASCII");
    Indented out;
    std::string_view rest(text, static_cast<std::size_t>(size));
    auto depth = static_cast<int>(level);
    for (bool first = true; !rest.empty(); first = false) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // The objects joined by ",\n", each indented as its depth.
        if (!(first || out.put(",\n", 2)) || !out.indent(depth)) return PyErr_NoMemory();
        Laid laid = lay_out(out, line, depth);
        if (laid == Laid::too_deep) return refuse(PyExc_ValueError, "indented: the lines nest too deep");
        if (laid == Laid::no_memory) return PyErr_NoMemory();
    }
    const char *made = out.out_.begin() ? out.out_.begin() : "";
    auto length = static_cast<Py_ssize_t>(out.out_.size());
    return bytes ? PyBytes_FromStringAndSize(made, length) : PyUnicode_DecodeASCII(made, length, nullptr);
}

}  // namespace json_indent
