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
// constants from the constants table. The few methods written by hand are
// listed below.
//
// usage: gen_signatures INCLUDE_DIR STUB_DIR DOCS_DIR

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

const char *kModuleStubHeader = R"(# Generated at build time from the method tables of %s; do not edit.
from typing import Any, Callable, NoReturn, Optional, Protocol, Union

class _SwigPyObject:
    """A C pointer: its address, its C type and whether it owns what it points to."""
    def own(self, value: bool = ...) -> bool: ...
    def disown(self) -> None: ...
    def acquire(self) -> None: ...
    def append(self, other: object) -> None: ...
    def next(self) -> object: ...
    def __int__(self) -> int: ...

class _Wrapper(Protocol):
    this: Any

# A pointer argument: a pointer object, an object holding one in `this` (an
# instance of a record class), or None for a null pointer.
_PointerArgument = Union[_SwigPyObject, _Wrapper, None]
# A pointer result: a pointer object or an instance of the class registered
# for its C type; None for a null pointer.
_PointerResult = Any
_Text = Union[str, _SwigPyObject, None]
_Callback = Union[_SwigPyObject, Callable[..., Any], None]

cvar: Any

)";

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

// ---- Methods written by hand ----

struct HandWritten {
    const char *name;
    std::vector<Param> params;
    const char *result;
    const char *summary;
    bool variadic;
};

// Every module built from the runtime has it; module entry sets its docstring.
const HandWritten instance_method = {"SWIG_PyInstanceMethod_New", {{"function", "Callable[..., Any]"}}, "Any", "",
                                     false};

const HandWritten libfc_hand_written[] = {
    {"FC_ACTION_SIZE", {}, "None", "Does nothing: the library's macro has no value to give here.", false},
    {"FC_FlowEntryIOC_get_srcip_entry", {{"entry", kPointerArgument}, {"isV6", "int"}}, "str",
     "The flow's source address as text, read as IPv6 when isV6 is true, else as IPv4.", false},
    {"FC_FlowEntryIOC_get_dstip_entry", {{"entry", kPointerArgument}, {"isV6", "int"}}, "str",
     "The flow's destination address as text, read as IPv6 when isV6 is true, else as IPv4.", false},
    {"FC_VDL2EncapActionDataIOC_get_sip", {{"action", kPointerArgument}}, "str",
     "The tunnel's source address as text, of the family its isV6 field states.", false},
    {"FC_VDL2EncapActionDataIOC_get_dip", {{"action", kPointerArgument}}, "str",
     "The tunnel's destination address as text, of the family its isV6 field states.", false},
    {"ovl_INTBitmapConvert", {{"bitmap", "int"}}, "int",
     "The telemetry bitmap with the bits of each byte reversed.", false},
    {"hyp_Name___repr__", {{"name", kPointerArgument}}, "str", "The name's text, quoted.", false},
    {"Panic", {{"fmt", "_Text"}}, "None",
     "Calls the library's Panic with the format: further arguments are taken but not converted, and the "
     "library sees one null value in their place.",
     true},
};

const HandWritten ptr_hand_written[] = {
    {"cdata", {{"pointer", kPointerArgument}, {"size", "int"}}, "bytes",
     "A copy of size bytes at pointer, within the block it addresses.", false},
    {"memmove", {{"pointer", kPointerArgument}, {"data", "bytes"}}, "None",
     "Writes data at pointer, within the block it addresses.", false},
    {"as_voidp", {{"pointer", kPointerArgument}}, kPointerResult,
     "An untyped view of the memory pointer addresses, as far as its known extent.", false},
    {"list_context", {{"items", "list[Any]"}}, kPointerResult,
     "A context for collect_handles that appends to items.", false},
};

// The C callbacks of _libfc_ptr carry their own docstrings (with the address
// the operations read); they are typed here but refuse to be called.
const HandWritten ptr_callbacks[] = {
    {"collect_handles", {{"entry", "Any"}, {"context", "Any"}}, "NoReturn", "", false},
    {"DVSData_MemAlloc", {{"size", "Any"}}, "NoReturn", "", false},
    {"DVSData_MemFree", {{"block", "Any"}}, "NoReturn", "", false},
};

const char *kFieldsStub = R"(# Generated at build time from the method tables of _libfc_fields; do not edit.
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple

cvar: Any
kinds: Tuple[str, ...]  # the field kinds, in the order layout[0] numbers them
kind_behaviours: Tuple[Tuple[str, str], ...]  # the kinds each behaves as in _libfc and in libfc

class field:
    """A record field: reads and writes it in place through the record's pointer."""
    def __get__(self, instance: Any, owner: Optional[type] = ...) -> Any: ...
    def __set__(self, instance: Any, value: Any) -> None: ...
    def __set_name__(self, owner: type, name: str) -> None: ...
    @property
    def layout(self) -> Any: ...

class record_initializer_type:
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...
    def __get__(self, instance: Any, owner: Optional[type] = ...) -> Any: ...
    def __set_name__(self, owner: type, name: str) -> None: ...

# Its __setattr__ refuses names that are no field; left out here, so that
# checkers see only the fields the record classes declare.
class record_base:
    """The base of the companion's record classes: only fields can be set."""

class sequence:
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Any]: ...
    def __getitem__(self, index: Any) -> Any: ...

class flow_rows:
    def __new__(cls, *args: Any) -> "flow_rows": ...
    def __call__(self, *args: Any) -> Any: ...
    def stream(self, pages: Any, /) -> Any: ...

class flow_text:
    def __new__(cls, decoder: flow_rows, protocol_names: Dict[int, str], ether_type_names: Dict[int, str]) -> "flow_text": ...
    def json_lines(self, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], opening: str, /) -> Tuple[int, str]: ...
    def table_cells(self, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], /) -> Tuple[int, List[List[str]]]: ...
    def table_lines(self, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], layout: Tuple[Any, ...], /) -> Tuple[int, str]: ...
    def seen(self, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], /) -> Tuple[int, bytes]: ...

class snapshot_lines:
    def __new__(cls, *args: Any) -> "snapshot_lines": ...
    def read(self, chunk: bytes, start: int, /) -> Tuple[List[Any], int]: ...
    def aim(self, chunk: bytes, start: int, /) -> None: ...
    def stopped(self) -> int: ...

class flow_diff:
    def __new__(cls, before: bytes, unchanged: bool) -> "flow_diff": ...
    def add(self, page: bytes, /) -> None: ...
    def finish(self) -> Tuple[bytes, bytes, Tuple[int, int, int, int]]: ...

class ipfix_records:
    def __new__(cls, decoder: flow_rows) -> "ipfix_records": ...
    def encode(self, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], expiry_s: int, /) -> Tuple[int, Tuple[bytes, bytes]]: ...
    def ended(self, now_ms: int, /) -> bytes: ...
    def templates(self) -> Tuple[Tuple[Tuple[int, int], ...], bytes]: ...
    @property
    def tracked(self) -> int: ...

class ipfix_sender:
    def __new__(cls, fd: int, host: str, port: int, rate: float, burst: int, capacity: int) -> "ipfix_sender": ...
    def send(self, message: bytes, /) -> None: ...
    def flush(self) -> None: ...
    def close(self) -> None: ...
    def counts(self) -> Tuple[int, int, int]: ...

def top_page(decoder: flow_rows, answer: Any, now_ms: int, rest: Tuple[Tuple[int, Any], ...], address_base: int, known_actions: Any, learn_actions: Any, counts_only: bool, /) -> Tuple[int, Any]: ...
def top_match(before_tables: Any, before_ids: Any, before_packets: Any, tables: Any, ids: Any, packets: Any, deltas: Any, /) -> Any: ...
def top_order(columns: Any, column: int, positions: Any, descending: bool, count: int, action_rank: Any, /) -> int: ...
def top_fold(columns: Any, positions: Any, column: int, /) -> List[Tuple[Any, int, int, int]]: ...
def top_widths(columns: Any, positions: Any, elapsed: float, action_texts: Any, protocol_names: Any, /) -> List[int]: ...
def top_lines(columns: Any, positions: Any, elapsed: float, action_texts: Any, protocol_names: Any, kept: Tuple[int, ...], widths: Tuple[int, ...], numeric: bool, limit: int, /) -> str: ...
def describe_field(fget: Callable[..., Any], fset: Optional[Callable[..., Any]], name: str, /) -> field: ...
def record_initializer(new_function: Callable[..., Any], python_init: Callable[..., Any], /) -> record_initializer_type: ...
def SWIG_PyInstanceMethod_New(function: Callable[..., Any], /) -> Any: ...
)";

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

Signature from_hand(const HandWritten &h) { return {h.name, h.params, h.result, h.summary, h.variadic}; }

// The module's accessors are typed by their kind's row; the pointer types it
// names are the stub's own aliases.
std::string field_value_type(const Line &l, bool argument) {
    return argument ? l.row->module_setter : l.row->module_getter;
}

// The methods of _libfc from the record and operation lines, or false with
// a message when a declaration cannot be found.
bool libfc_signatures(const std::string &headers, std::vector<Signature> &out) {
    out.push_back(from_hand(instance_method));
    for (const HandWritten &h : libfc_hand_written) out.push_back(from_hand(h));
    auto hand_written = [](const char *name) {
        for (const HandWritten &h : libfc_hand_written)
            if (std::strcmp(h.name, name) == 0) return true;
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

std::vector<Signature> ptr_signatures() {
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
    for (const HandWritten &h : ptr_hand_written) out.push_back(from_hand(h));
    return out;
}

std::string module_stub(const char *module, const std::vector<Signature> &signatures, const std::string &extra) {
    char header[4096];
    std::snprintf(header, sizeof header, kModuleStubHeader, module);
    std::string stub = header + extra;
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
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INCLUDE_DIR STUB_DIR DOCS_DIR\n", argv[0]);
        return 2;
    }
    const std::string include = argv[1], stubs = argv[2], docs = argv[3];
    std::string headers;
    for (const char *name : {"libfc.h", "libfabPublic.h"}) {
        std::string text = read_file(include + "/" + name);
        if (text.empty()) {
            std::fprintf(stderr, "gen_signatures: cannot read %s/%s\n", include.c_str(), name);
            return 1;
        }
        headers += without_comments(text);
    }
    std::vector<Signature> libfc;
    if (!libfc_signatures(headers, libfc)) return 1;
    std::vector<Signature> ptr = ptr_signatures();
    std::vector<Signature> ptr_typed = ptr;
    for (const HandWritten &h : ptr_callbacks) ptr_typed.push_back(from_hand(h));
    ptr_typed.push_back(from_hand(instance_method));
    bool ok = write_file(stubs + "/_libfc.pyi", module_stub("_libfc", libfc, constants_stub())) &&
              write_file(stubs + "/_libfc_ptr.pyi", module_stub("_libfc_ptr", ptr_typed, "")) &&
              write_file(stubs + "/_libfc_fields.pyi", kFieldsStub) &&
              write_file(docs + "/libfc_ptr_method_docs.cpp", docs_source("libfc_ptr_method_docs", ptr));
    if (!ok) {
        std::perror("gen_signatures");
        return 1;
    }
    return 0;
}
