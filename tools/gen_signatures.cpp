// Writes the typed signatures of the extension modules from the tables their
// methods are built from:
//
//   _libfc.pyi, _libfc_ptr.pyi, _libfc_fields.pyi   stubs for type checkers
//   libfc_ptr_method_docs.cpp
//                      _libfc_ptr's docstrings, opening with the method's
//                      signature in the form inspect.signature and help()
//                      read, sorted by name for module entry to look up
//                      (_libfc's method table carries no documentation texts)
//
// Record methods follow from the record description lines, library
// operations from their description lines (C types) and the C declarations
// in include/*.h (parameter names), output cells from ptr/output_cells.def and
// constants from the constants table. The few methods written by hand, the
// stubs' common head and _libfc_fields' stub (all of it hand-written) are
// read from TEMPLATE_DIR (tools/templates), so that a new hand-written
// function is a line there.
//
// usage: gen_signatures INCLUDE_DIR TEMPLATE_DIR STUB_DIR DOCS_DIR

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "include/hyp_kernel_types.h"
#include "include/hyp_packet_headers.h"
#include "include/libfabPublic.h"
#include "include/libfc.h"
#include "runtime/constants.hpp"
#include "runtime/field_kinds.hpp"
#include "runtime/field_traits.hpp"

namespace {

// One parameter of a signature: its name and its Python type in the stub.
struct Param {
    std::string name;
    std::string type;
};

// One module function: what its docstring and its stub line say.
struct Signature {
    std::string name;
    std::vector<Param> params;
    std::string result;
    std::string summary;     // the rest of the docstring
    bool variadic = false;   // takes further arguments it does not convert
};

// Python types of the stubs. Pointers come back as the module's pointer
// objects, or as the class a companion package registered for their C type,
// so results that are pointers are typed loosely.
const char *const kPointerArgument = "_PointerArgument";
const char *const kPointerResult = "_PointerResult";

// The first line of every stub this program writes.
std::string notice(const std::string &module) {
    return "# Generated at build time from the method tables of " + module + "; do not edit.\n";
}

// How a library function's parameter or result converts, by its C++ type,
// as the operation template chooses the conversion.
enum class Conversion { Void, Text, Char, Integer, Callback, Pointer };

template <class P>
constexpr Conversion conversion_of() {
    if constexpr (std::is_void_v<P>) return Conversion::Void;
    else if constexpr (std::is_same_v<P, const char *> || std::is_same_v<P, char *>) return Conversion::Text;
    else if constexpr (std::is_same_v<P, char>) return Conversion::Char;
    else if constexpr (std::is_integral_v<P> || std::is_enum_v<P>) return Conversion::Integer;
    else if constexpr (std::is_pointer_v<P> && std::is_function_v<std::remove_pointer_t<P>>) return Conversion::Callback;
    else return Conversion::Pointer;
}

// Of a function pointer type: named through decltype, so that the generator
// never refers to the library's functions themselves.
template <class F>
struct conversions;
template <class R, class... P>
struct conversions<R (*)(P...)> {
    static std::vector<Conversion> of() { return {conversion_of<R>(), conversion_of<P>()...}; }
};

// The Python type an argument of C type `ctype` accepts by its conversion.
std::string argument_type(Conversion conversion, const std::string &ctype) {
    if (ctype.rfind("char [", 0) == 0) return "str";  // a buffer, passed as a char * but filled from a text
    switch (conversion) {
    case Conversion::Text: return "_Text";
    case Conversion::Char: return "Union[str, int, None]";
    case Conversion::Integer: return "int";
    case Conversion::Callback: return "_Callback";
    default: return kPointerArgument;
    }
}

// The Python type of a result by its conversion.
std::string result_type(Conversion conversion) {
    switch (conversion) {
    case Conversion::Void: return "None";
    case Conversion::Text: return "Optional[str]";
    case Conversion::Char: return "str";
    case Conversion::Integer: return "int";
    default: return kPointerResult;
    }
}

// ---- Record description lines ----

enum class LineKind { Record, Field, FieldReadOnly, BitField, Method, Function, Element, ElementFunction, EndRecord };

struct Line {
    LineKind kind;
    const char *record;
    const char *name;        // field, or method name
    const char *field_kind;  // FieldKind spelling; element lines: view, copy or value
    const char *ctype;       // field C type; element lines: what `of` names
    const char *function;    // METHOD and FUNCTION lines: the C++ function
    bool indexed = false;    // element lines: take an index
    const char *array = "";  // element lines: the array
    const field_kinds::Row *row = nullptr;  // field lines: their kind's row
};

const Line lines[] = {
#define RECORD(R) {LineKind::Record, #R, "", "", "", ""},
#define FIELD(R, F, KIND, CTYPE, VT) \
    {LineKind::Field, #R, #F, #KIND, CTYPE, "", false, "", &field_kinds::row(FieldKind::KIND)},
#define FIELD_RO(R, F, KIND, CTYPE, VT) \
    {LineKind::FieldReadOnly, #R, #F, #KIND, CTYPE, "", false, "", &field_kinds::row(FieldKind::KIND)},
#define BITFIELD(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) \
    {LineKind::BitField, #R, #F, "BitField", CTYPE, "", false, "", &field_kinds::row(FieldKind::BitField)},
#define METHOD(R, NAME, FUNCTION) {LineKind::Method, #R, NAME, "", "", #FUNCTION},
#define FUNCTION(NAME, FUNCTION) {LineKind::Function, "", NAME, "", "", #FUNCTION},
#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND)                                            \
    {LineKind::Element, #R, NAME, #RESULT, #OF, "", records::array_traits<decltype(R::ARRAY)>::is_array, \
     #ARRAY},
#define ELEMENT_FUNCTION(R, NAME, RESULT, OF, ARRAY, BOUND)                                                  \
    {LineKind::ElementFunction, #R, NAME, #RESULT, #OF, "", records::array_traits<decltype(R::ARRAY)>::is_array, \
     #ARRAY},
#define END_RECORD(R) {LineKind::EndRecord, #R, "", "", "", ""},
#include "all_records.inc"
#undef RECORD
#undef FIELD
#undef FIELD_RO
#undef BITFIELD
#undef METHOD
#undef FUNCTION
#undef ELEMENT_METHOD
#undef ELEMENT_FUNCTION
#undef END_RECORD
};

// ---- Operation description lines ----

struct Operation {
    const char *name;
    std::vector<std::string> types;        // result, then each argument
    const char *wrapper;                   // FUNCTION lines: wrapped by hand
    std::vector<Conversion> conversions;   // of the C declaration, in the same order
};

const std::vector<Operation> operations = {
#define OPERATION(NAME, ...) {#NAME, {__VA_ARGS__}, nullptr, conversions<decltype(&::NAME)>::of()},
#define FUNCTION(NAME, WRAPPER) {#NAME, {}, #WRAPPER, {}},
#include "all_operations.inc"
#undef OPERATION
#undef FUNCTION
};

// ---- Output cells ----

struct Cell {
    const char *stem;
    const char *pointer_ctype;
    bool integer;
};

const Cell cells[] = {
#define CELL(STEM, T, CTYPE, ID, KIND, VID) {#STEM, CTYPE, std::strcmp(#KIND, "Integer") == 0},
#include "ptr/output_cells.def"
#undef CELL
};

// ---- Parameter names from the C declarations ----

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text without comments, so that declarations read as plain tokens.
std::string without_comments(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "/*") == 0) {
            std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 2;
            out += ' ';
        } else if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i);
            if (i == std::string::npos) i = text.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

bool is_identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The parameter names of the declaration of `function` in `text`, or false
// when it declares no such function. "..." stands as a parameter of its own.
bool declared_names(const std::string &text, const std::string &function, std::vector<std::string> &names) {
    for (std::size_t at = text.find(function); at != std::string::npos; at = text.find(function, at + 1)) {
        if (at > 0 && is_identifier_char(text[at - 1])) continue;
        std::size_t open = at + function.size();
        while (open < text.size() && std::isspace(static_cast<unsigned char>(text[open]))) ++open;
        if (open >= text.size() || text[open] != '(') continue;
        std::size_t close = text.find(')', open);
        std::size_t semicolon = close == std::string::npos ? close : text.find_first_not_of(" \t\n", close + 1);
        if (semicolon == std::string::npos || text[semicolon] != ';') continue;  // a call or a macro, not a declaration
        std::string list = text.substr(open + 1, close - open - 1);
        names.clear();
        std::stringstream params(list);
        std::string param;
        while (std::getline(params, param, ',')) {
            param = param.substr(0, param.find('['));  // char alias[64]
            std::size_t end = param.find_last_not_of(" \t\n");
            if (end == std::string::npos) continue;
            std::size_t begin = end;
            while (begin > 0 && is_identifier_char(param[begin - 1])) --begin;
            std::string name = param.substr(begin, end - begin + 1);
            if (param.find("...") != std::string::npos) name = "...";
            if (name == "void" && names.empty() && list.find(',') == std::string::npos) break;
            names.push_back(name);
        }
        return true;
    }
    return false;
}

// A C parameter name Python cannot take as one gets a trailing underscore.
std::string python_name(const std::string &name) {
    static const char *const keywords[] = {"False", "None", "True", "and", "as", "assert", "async", "await",
                                           "break", "class", "continue", "def", "del", "elif", "else", "except",
                                           "finally", "for", "from", "global", "if", "import", "in", "is",
                                           "lambda", "nonlocal", "not", "or", "pass", "raise", "return", "try",
                                           "while", "with", "yield"};
    for (const char *k : keywords)
        if (name == k) return name + "_";
    return name;
}

// ---- Output ----

std::string c_string(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '"' || c == '\\') out += std::string("\\") + c;
        else out += c;
    }
    return out + "\"";
}

// "name($module, a, b, /)\n--\n\nsummary": the form CPython reads a built-in
// function's signature from.
std::string docstring(const Signature &s) {
    std::string doc = s.name + "($module";
    for (const Param &p : s.params) doc += ", " + p.name;
    doc += ", /";
    if (s.variadic) doc += ", *args";
    return doc + ")\n--\n\n" + s.summary;
}

std::string stub_line(const Signature &s) {
    std::string line = "def " + s.name + "(";
    for (std::size_t i = 0; i < s.params.size(); ++i) line += (i ? ", " : "") + s.params[i].name + ": " + s.params[i].type;
    if (!s.params.empty()) line += ", /";
    if (s.variadic) line += std::string(s.params.empty() ? "" : ", ") + "*args: Any";
    return line + ") -> " + s.result + ": ...\n";
}

// ---- Methods written by hand, read from their stub lines ----

// The methods the description lines leave to hand-written code, in stub
// files under tools/templates: the package's authors add a function there,
// not here.
struct HandWritten {
    std::vector<Signature> runtime;        // every module built from the runtime has them
    std::vector<Signature> libfc;          // _libfc's FUNCTION and METHOD lines
    std::vector<Signature> ptr;            // _libfc_ptr's, besides its output cells
    std::vector<Signature> ptr_callbacks;  // typed, but they refuse to be called
};

std::string trimmed(const std::string &text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The items of a parameter list: its commas inside brackets (Callable[..., Any])
// separate nothing.
std::vector<std::string> parameter_items(const std::string &list) {
    std::vector<std::string> items;
    std::string item;
    int depth = 0;
    for (char c : list) {
        if (c == '[') ++depth;
        else if (c == ']') --depth;
        if (c == ',' && depth == 0) {
            items.push_back(trimmed(item));
            item.clear();
        } else {
            item += c;
        }
    }
    if (!trimmed(item).empty()) items.push_back(trimmed(item));
    return items;
}

// Reads "def name(a: A, b: B, /, *args: Any) -> R: ..." lines, or lines ending
// in ':' followed by a docstring (its summary; its lines are joined with a
// space). Each line must read exactly as the stub line written from it, so
// that the file shows what the stub says. False with a message otherwise.
bool read_hand_written(const std::string &path, std::vector<Signature> &out) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "gen_signatures: cannot read %s\n", path.c_str());
        return false;
    }
    std::string line;
    int number = 0;
    auto refuse = [&](const char *why) {
        std::fprintf(stderr, "gen_signatures: %s:%d: %s\n", path.c_str(), number, why);
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        const std::string text = trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        const std::size_t open = text.find('('), close = text.rfind(')');
        const std::size_t arrow = close == std::string::npos ? close : text.find(" -> ", close);
        const std::size_t colon = text.rfind(':');
        if (text.rfind("def ", 0) != 0 || open == std::string::npos || close < open || arrow == std::string::npos ||
            colon < arrow)
            return refuse("expected def name(parameters) -> result:");
        Signature s{trimmed(text.substr(4, open - 4)), {}, trimmed(text.substr(arrow + 4, colon - arrow - 4)), "", false};
        for (const std::string &item : parameter_items(text.substr(open + 1, close - open - 1))) {
            const std::size_t separator = item.find(':');
            if (item == "/") continue;
            if (separator == std::string::npos) return refuse("a parameter without a type");
            const std::string name = trimmed(item.substr(0, separator)), type = trimmed(item.substr(separator + 1));
            if (name == "*args") s.variadic = true;
            else s.params.push_back({name, type});
        }
        if (stub_line(s) != text.substr(0, colon) + ": ...\n")
            return refuse("the line does not read as the stub line written from it");
        const std::string rest = trimmed(text.substr(colon + 1));
        if (rest.empty()) {
            std::string doc;
            while (doc.size() < 6 || doc.compare(doc.size() - 3, 3, "\"\"\"") != 0) {
                if (!std::getline(in, line)) return refuse("the docstring does not end");
                ++number;
                if (doc.empty() && trimmed(line).rfind("\"\"\"", 0) != 0) return refuse("expected a docstring");
                doc += (doc.empty() ? "" : " ") + trimmed(line);
            }
            s.summary = doc.substr(3, doc.size() - 6);
        } else if (rest != "...") {
            return refuse("expected ... or a docstring after the signature");
        }
        out.push_back(s);
    }
    return true;
}

bool read_hand_written(const std::string &templates, HandWritten &out) {
    return read_hand_written(templates + "/runtime_methods.pyi", out.runtime) &&
           read_hand_written(templates + "/libfc_methods.pyi", out.libfc) &&
           read_hand_written(templates + "/libfc_ptr_methods.pyi", out.ptr) &&
           read_hand_written(templates + "/libfc_ptr_callbacks.pyi", out.ptr_callbacks);
}

std::string docs_source(const char *array, std::vector<Signature> signatures) {
    std::sort(signatures.begin(), signatures.end(),
              [](const Signature &a, const Signature &b) { return std::strcmp(a.name.c_str(), b.name.c_str()) < 0; });
    // The names apart from the texts: the module's binary search then reads
    // a few pages of names, not pages of docstrings.
    std::string names, name_offsets, texts, text_offsets;
    std::size_t names_size = 0, texts_size = 0, count = 0;
    for (const Signature &s : signatures) {
        if (s.summary.empty()) continue;
        std::string doc = docstring(s);
        name_offsets += "    " + std::to_string(names_size) + ",\n";
        text_offsets += "    " + std::to_string(texts_size) + ",\n";
        names += "    " + c_string(s.name) + " \"\\0\"\n";
        texts += "    " + c_string(doc) + " \"\\0\"\n";
        names_size += s.name.size() + 1;
        texts_size += doc.size() + 1;
        ++count;
    }
    const std::string name = array;
    return "// Generated at build time by gen_signatures; do not edit.\n"
           "#include \"runtime/module_entry.hpp\"\n\n"
           "namespace {\n\n"
           "const char names[] =\n" + names + "    ;\n\n"
           "const std::uint32_t name_offsets[] = {\n" + name_offsets + "};\n\n"
           "const char texts[] =\n" + texts + "    ;\n\n"
           "const std::uint32_t text_offsets[] = {\n" + text_offsets + "};\n\n"
           "}  // namespace\n\n"
           "extern const MethodDocs " + name + ";\n"
           "const MethodDocs " + name + " = {names, name_offsets, texts, text_offsets, " + std::to_string(count) +
           "};\n";
}

bool write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// The module's accessors are typed by their kind's row; the pointer types it
// names are the stub's own aliases.
std::string field_value_type(const Line &l, bool argument) {
    return argument ? l.row->module_setter : l.row->module_getter;
}

// The methods of _libfc from the record and operation lines, or false with
// a message when a declaration cannot be found.
bool libfc_signatures(const std::string &headers, const HandWritten &hand, std::vector<Signature> &out) {
    out.insert(out.end(), hand.runtime.begin(), hand.runtime.end());
    out.insert(out.end(), hand.libfc.begin(), hand.libfc.end());
    auto hand_written = [&hand](const char *name) {
        for (const Signature &h : hand.libfc)
            if (h.name == name) return true;
        return false;
    };
    for (const Line &l : lines) {
        const std::string r = l.record;
        switch (l.kind) {
        case LineKind::Record:
            break;
        case LineKind::Field:
        case LineKind::BitField:
            out.push_back({r + "_" + l.name + "_set", {{"record", kPointerArgument}, {"value", field_value_type(l, true)}},
                           "None", "Writes " + r + "." + l.name + " (" + l.ctype + ").",
                           false});
            [[fallthrough]];
        case LineKind::FieldReadOnly:
            out.push_back({r + "_" + l.name + "_get", {{"record", kPointerArgument}}, field_value_type(l, false),
                           "Reads " + r + "." + l.name + " (" + l.ctype + ").", false});
            break;
        case LineKind::Method:
        case LineKind::Function:
            if (!hand_written(l.name)) {
                std::fprintf(stderr, "gen_signatures: %s is written by hand and not listed here; "
                                     "it is typed as taking any arguments\n", l.name);
                out.push_back({l.name, {}, "Any", "Written by hand.", true});
            }
            break;
        case LineKind::Element:
        case LineKind::ElementFunction: {
            std::vector<Param> params = {{"record", kPointerArgument}};
            if (l.indexed) params.push_back({"index", "int"});
            std::string kind = l.field_kind;
            std::string what = kind == "view" ? "in place" : kind == "copy" ? "as a copy the caller owns" : "as an integer";
            out.push_back({l.name, params, kind == "value" ? "int" : kPointerResult,
                           std::string(l.indexed ? "Element index of " : "The field ") + r + "." + l.array + ", " +
                               what + ".",
                           false});
            break;
        }
        case LineKind::EndRecord:
            out.push_back({"new_" + r, {}, kPointerResult,
                           "A zero-filled " + r + " record that the returned pointer owns.", false});
            out.push_back({"delete_" + r, {{"record", kPointerArgument}}, "None",
                           "Frees a " + r + " record this module allocated; does nothing for any other.", false});
            out.push_back({r + "_swigregister", {{"cls", "type"}}, "Any",
                           "Makes cls the class that " + r + " pointers are handed out as.", false});
            break;
        }
    }
    for (const Operation &op : operations) {
        if (op.wrapper) {
            if (!hand_written(op.name)) {
                std::fprintf(stderr, "gen_signatures: %s (%s) is not listed as written by hand\n", op.name, op.wrapper);
                return false;
            }
            continue;
        }
        std::vector<std::string> names;
        if (!declared_names(headers, op.name, names) || names.size() + 1 != op.types.size()) {
            std::fprintf(stderr, "gen_signatures: no declaration of %s with %zu parameters in the headers\n", op.name,
                         op.types.size() - 1);
            return false;
        }
        Signature s{op.name, {}, result_type(op.conversions[0]), "", false};
        std::string prototype = op.types[0] + (op.types[0].back() == '*' ? "" : " ") + op.name + "(";
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string &ctype = op.types[i + 1];
            s.params.push_back({python_name(names[i]), argument_type(op.conversions[i + 1], ctype)});
            prototype += (i ? ", " : "") + ctype + (ctype.back() == '*' ? "" : " ") + names[i];
        }
        s.summary = "Calls the library function " + prototype + (names.empty() ? "void" : "") + ").";
        out.push_back(s);
    }
    return true;
}

std::vector<Signature> ptr_signatures(const HandWritten &hand) {
    std::vector<Signature> out;
    for (const Cell &c : cells) {
        std::string stem = c.stem, ctype = c.pointer_ctype;
        std::string pointee = ctype.substr(0, ctype.size() - 1);  // "void **" holds a "void *"
        if (pointee.back() == ' ') pointee.pop_back();
        out.push_back({"new_" + stem, {}, kPointerResult,
                       "A new " + ctype + " output cell holding a zero " + pointee + "; freed with the object.", false});
        out.push_back({stem + "_value", {{"cell", kPointerArgument}}, c.integer ? "int" : kPointerResult,
                       "The " + pointee + " the cell holds.", false});
        out.push_back({"delete_" + stem, {{"cell", kPointerArgument}}, "None", "Frees a cell new_" + stem + " made.",
                       false});
    }
    out.insert(out.end(), hand.ptr.begin(), hand.ptr.end());
    return out;
}

// The head (tools/templates/module_stub_head.pyi: the stub's own types) is
// the same for every module.
std::string module_stub(const std::string &module, const std::string &head, const std::vector<Signature> &signatures,
                        const std::string &extra) {
    std::string stub = notice(module) + head + "\n" + extra;
    for (const Signature &s : signatures) stub += stub_line(s);
    return stub;
}

std::string constants_stub() {
    std::string out;
    auto add = [&out](const ConstantDef *table, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            out += std::string(table[i].name) + (table[i].kind == ConstantKind::Text ? ": str\n" : ": int\n");
    };
    add(constants_before_cvar, constants_before_cvar_count);
    add(constants_after_cvar, constants_after_cvar_count);
    return out + "\n";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s INCLUDE_DIR TEMPLATE_DIR STUB_DIR DOCS_DIR\n", argv[0]);
        return 2;
    }
    const std::string include = argv[1], templates = argv[2], stubs = argv[3], docs = argv[4];
    std::string headers;
    for (const char *name : {"libfc.h", "libfabPublic.h"}) {
        std::string text = read_file(include + "/" + name);
        if (text.empty()) {
            std::fprintf(stderr, "gen_signatures: cannot read %s/%s\n", include.c_str(), name);
            return 1;
        }
        headers += without_comments(text);
    }
    // The stub's head and _libfc_fields' whole stub are written by hand.
    const std::string head = read_file(templates + "/module_stub_head.pyi");
    const std::string fields = read_file(templates + "/libfc_fields.pyi");
    if (head.empty() || fields.empty()) {
        std::fprintf(stderr, "gen_signatures: cannot read the stubs in %s\n", templates.c_str());
        return 1;
    }
    HandWritten hand;
    if (!read_hand_written(templates, hand)) return 1;
    std::vector<Signature> libfc;
    if (!libfc_signatures(headers, hand, libfc)) return 1;
    std::vector<Signature> ptr = ptr_signatures(hand);
    std::vector<Signature> ptr_typed = ptr;
    ptr_typed.insert(ptr_typed.end(), hand.ptr_callbacks.begin(), hand.ptr_callbacks.end());
    ptr_typed.insert(ptr_typed.end(), hand.runtime.begin(), hand.runtime.end());
    bool ok = write_file(stubs + "/_libfc.pyi", module_stub("_libfc", head, libfc, constants_stub())) &&
              write_file(stubs + "/_libfc_ptr.pyi", module_stub("_libfc_ptr", head, ptr_typed, "")) &&
              write_file(stubs + "/_libfc_fields.pyi", notice("_libfc_fields") + fields) &&
              write_file(docs + "/libfc_ptr_method_docs.cpp", docs_source("libfc_ptr_method_docs", ptr));
    if (!ok) {
        std::perror("gen_signatures");
        return 1;
    }
    return 0;
}
