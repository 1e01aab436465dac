// Writes the companion package libfc (__init__.py and __init__.pyi) from the
// same record description files the module's method table is built from, so
// the classes can never name a method the module does not have.
//
// The hand-written parts of the package (python/libfc/*.py: the record base
// class, the sequence mixin, the address helpers) sit beside the generated
// file; this program only writes what follows from the description lines and
// the C declarations (record sizes, array lengths).
//
// The stub also gives each packet header record its mixin and the typed
// fields of its host-order view; which records those are, and the values a
// view adds, are read from the package's own table (_MIXINS and
// _EXTRA_FIELDS in _headers.py, copied into OUTPUT_DIR by the build), as the
// signature generator reads parameter names from the C declarations.
//
// The package's hand-written Python that goes into the generated files (its
// export map, the lazy making of the classes, the imports) is read from
// TEMPLATE_DIR (tools/templates).
//
// usage: gen_companion OUTPUT_DIR TEMPLATE_DIR

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "include/hyp_kernel_types.h"
#include "include/hyp_packet_headers.h"
#include "include/libfabPublic.h"
#include "include/libfc.h"
#include "runtime/field_kinds.hpp"
#include "runtime/field_traits.hpp"

namespace {

enum class LineKind { Block, Record, Field, FieldReadOnly, BitField, Method, Function, Sequence, EndRecord };

struct Line {
    LineKind kind;
    const char *record;
    const char *name;        // field or method name
    const char *field_kind;  // FieldKind spelling; element lines: view, value or copy; sequence lines: the index method
    const char *value_type;  // descriptor id spelling, e.g. p_hyp_Name; element lines: what `of` names
    std::size_t size;        // record lines: sizeof the record; field lines: elements
    std::size_t element_size = 0;  // field lines: bytes of the field or of one array element
    const char *ctype = "";  // field lines: the declared C type
    const field_kinds::Row *row = nullptr;  // field lines: their kind's row
};

// Record description files in the module's declaration order.
const Line lines[] = {
#define RECORD_BLOCK(B) {LineKind::Block, #B, "", "", "", 0},
#define RECORD(R) {LineKind::Record, #R, "", "", "", sizeof(R)},
#define FIELD(R, F, KIND, CTYPE, VT)                                                  \
    {LineKind::Field, #R, #F, #KIND, #VT, records::element_count<decltype(R::F)>(),      \
     records::element_size<decltype(R::F)>(), CTYPE, &field_kinds::row(FieldKind::KIND)},
#define FIELD_RO(R, F, KIND, CTYPE, VT)                                               \
    {LineKind::FieldReadOnly, #R, #F, #KIND, #VT, records::element_count<decltype(R::F)>(), \
     records::element_size<decltype(R::F)>(), CTYPE, &field_kinds::row(FieldKind::KIND)},
#define BITFIELD(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) \
    {LineKind::BitField, #R, #F, "BitField", "none", 1, 0, "", &field_kinds::row(FieldKind::BitField)},
#define METHOD(R, NAME, FUNCTION) {LineKind::Method, #R, NAME, "", "", 0},
#define FUNCTION(NAME, FUNCTION) {LineKind::Function, "", NAME, "", "", 0},
// Element lines stand as methods or plain functions like the lines above.
#define ELEMENT_METHOD(R, NAME, RESULT, OF, ARRAY, BOUND) {LineKind::Method, #R, NAME, #RESULT, #OF, 0},
#define ELEMENT_FUNCTION(R, NAME, RESULT, OF, ARRAY, BOUND) {LineKind::Function, "", NAME, #RESULT, #OF, 0},
#define SEQUENCE(R, BOUND, ITER, INDEX) {LineKind::Sequence, #R, ITER, INDEX, "", 0},
#define END_RECORD(R) {LineKind::EndRecord, #R, "", "", "", 0},
#include "all_records.inc"
};

std::vector<std::string> record_names() {
    std::vector<std::string> names;
    for (const Line &l : lines)
        if (l.kind == LineKind::Record) names.push_back(l.record);
    return names;
}

bool has_record(const std::vector<std::string> &records, const std::string &name) {
    for (const std::string &r : records)
        if (r == name) return true;
    return false;
}

// The sequence line of a record (one that holds a counted run of items:
// len(), bounded indexing and iteration from the _Sequence mixin), or null.
const Line *sequence_of(const std::string &record) {
    for (const Line &l : lines)
        if (l.kind == LineKind::Sequence && record == l.record) return &l;
    return nullptr;
}

// Special methods the _Sequence mixin supplies; a METHOD line mapping onto
// one of them would hide the bounded version.
bool is_sequence_method(const std::string &attribute) {
    return attribute == "__getitem__" || attribute == "__len__" || attribute == "__iter__";
}

bool is_kind(const Line &l, FieldKind kind) { return l.row == &field_kinds::row(kind); }

bool has_flag(const Line &l, unsigned flag) { return l.row && (l.row->flags & flag); }

std::string python_tuple(const std::vector<std::string> &names) {
    std::string text = "(";
    for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", \"" : "\"") + names[i] + "\"";
    return text + (names.size() == 1 ? ",)" : ")");
}

std::vector<std::string> scalar_fields(const std::string &record) {
    std::vector<std::string> names;
    for (const Line &l : lines)
        if ((l.kind == LineKind::Field || l.kind == LineKind::FieldReadOnly || l.kind == LineKind::BitField) &&
            record == l.record && has_flag(l, field_kinds::kScalar))
            names.push_back(l.name);
    return names;
}

// A stub type column of the field's kind, {class} being the record class
// its view or pointer is handed out as, or SwigPyObject.
std::string stub_type(const Line &l, const char *column, const std::vector<std::string> &records) {
    const std::string vt = l.value_type, text = column;
    const std::string cls = vt.rfind("p_", 0) == 0 && has_record(records, vt.substr(2)) ? vt.substr(2) : "SwigPyObject";
    const std::size_t at = text.find("{class}");
    return at == std::string::npos ? text : text.substr(0, at) + cls + text.substr(at + 7);
}

// The Python type a field's getter returns, for the stub.
std::string python_type(const Line &l, const std::vector<std::string> &records) {
    return stub_type(l, l.row->stub_getter, records);
}

// What a field's setter takes when it takes more than its getter gives, or "".
std::string setter_type(const Line &l) { return l.row->stub_setter; }

// Names like "__u6_addr" would be mangled inside a class body, so such
// attributes are set on the class after it is made.
bool is_private_name(const std::string &name) {
    return name.size() > 2 && name.rfind("__", 0) == 0 && name.compare(name.size() - 2, 2, "__") != 0;
}

// The method name below the record prefix: "hyp_Name___repr__" -> "__repr__".
std::string method_attribute(const Line &l) {
    std::string full = l.name;
    std::string prefix = std::string(l.record) + "_";
    return full.rfind(prefix, 0) == 0 ? full.substr(prefix.size()) : full;
}

// The first line of every file this program writes.
const char *const kNotice = "# Generated at build time from the record descriptions of _libfc; do not edit.\n";

// The hand-written Python of the generated files, read from TEMPLATE_DIR
// (tools/templates), so that a new package function is an edit there.
//
// The classes are made when first used, a block of the interface at a time,
// so that importing the package pays only for the blocks a program touches.
// Until then each record type is registered with a stand-in whose __new__
// (what the module calls to wrap a pointer it returns) makes the block's
// classes, which register themselves, and hands out an instance of the class:
// the package's tail does that.
struct Templates {
    std::string init_head;   // the package's docstring, imports and where its functions live
    std::string init_tail;   // the stand-ins, after the table of each class's module
    std::string block_head;  // the imports of each block's module of classes
    std::string stub_head;   // the imports of the package's stub
};

// The module function `name` as the class bodies reach it.
std::string module_function(const std::string &name) { return "_functions[\"" + name + "\"]"; }

// Stub lines of a bounded sequence: its items are what its indexing method
// hands out, a record or an int.
void write_sequence(const Line &sequence, const std::vector<std::string> &records, std::string &pyi) {
    std::string item = "Any";
    for (const Line &l : lines) {
        if ((l.kind != LineKind::Method && l.kind != LineKind::Function) || std::string(l.name) != sequence.field_kind)
            continue;
        std::string of = l.value_type;
        if (std::string(l.field_kind) == "value")
            item = "int";
        else if (of.rfind("p_", 0) == 0 && has_record(records, of.substr(2)))
            item = of.substr(2);
    }
    pyi += "    def __len__(self) -> int: ...\n";
    pyi += "    def __iter__(self) -> Iterator[" + item + "]: ...\n";
    pyi += "    def __reversed__(self) -> Iterator[" + item + "]: ...\n";
    pyi += "    @overload\n    def __getitem__(self, index: SupportsIndex) -> " + item + ": ...\n";
    pyi += "    @overload\n    def __getitem__(self, index: slice) -> List[" + item + "]: ...\n";
}

// The IP version of an address field (4: a 32-bit value as a key or header
// stores it, 6: sixteen bytes in network order), 0 for other fields. Such a
// field also gets "<field>_addr", the address as an ipaddress object.
int address_version(const Line &l) {
    if (l.kind != LineKind::Field || is_private_name(l.name)) return 0;
    if (has_flag(l, field_kinds::kIPv4Address)) return 4;
    if (is_kind(l, FieldKind::Integer) && std::string(l.ctype) == "hyp_IPv4Address") return 4;
    if (is_kind(l, FieldKind::Array) && l.element_size == 1 && l.size == 16) return 6;
    return 0;
}

// The class docstring: the C record, and the address helpers it has.
std::string class_doc(const std::string &record) {
    std::string helpers, fields;
    for (const Line &l : lines) {
        if (record != l.record || !address_version(l)) continue;
        helpers += (helpers.empty() ? "" : ", ") + std::string(l.name) + "_addr";
        fields += (fields.empty() ? "" : ", ") + std::string(l.name);
    }
    std::string doc = "The C record " + record + ".";
    if (!helpers.empty())
        doc += "\n\n    " + helpers + ": " + fields + " as ipaddress objects; they take addresses or their text.\n    ";
    return doc;
}

// The field's attribute: a property over the module's getter and setter
// that the field descriptor type reads and writes in place, found by name.
std::string field_descriptor(const Line &l) {
    const std::string prefix = std::string(l.record) + "_" + l.name;
    std::string setter = l.kind == LineKind::FieldReadOnly ? "None" : module_function(prefix + "_set");
    return "_field(" + module_function(prefix + "_get") + ", " + setter + ", \"" + l.record + "." + l.name + "\")";
}

// ---- Packet headers, from the package's table of them ----

struct PacketHeaders {
    std::map<std::string, std::string> mixin;                // record -> its class in _headers
    std::map<std::string, std::vector<std::string>> extras;  // record -> values its view adds
};

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text of the call whose '(' is at `open`, to its matching ')'.
std::string call_text(const std::string &text, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        else if (text[i] == ')' && --depth == 0) return text.substr(open, i - open + 1);
    }
    return text.substr(open);
}

// _MIXINS lists each header as _header("record", layers..., base=Mixin) or
// _stack("record", ...); _EXTRA_FIELDS maps a record to {"value": lambda: ...}.
// False with a message when either table is not found, so that a change of
// their shape stops the build instead of leaving the headers untyped.
bool packet_headers(const std::string &path, const std::vector<std::string> &records, PacketHeaders &out) {
    const std::string text = read_file(path);
    static const std::regex entry(R"re(\n\s+_(header|stack)\("(\w+)")re");
    static const std::regex base(R"re(\bbase=(\w+))re");
    for (std::sregex_iterator m(text.begin(), text.end(), entry), end; m != end; ++m) {
        const std::string record = (*m)[2];
        std::smatch named;
        const std::string call = call_text(text, m->position(0) + m->str(0).find('('));
        out.mixin[record] = (*m)[1] == "stack" ? "_HeaderStack"
                            : std::regex_search(call, named, base) ? named[1].str() : "PacketHeader";
        if (!has_record(records, record)) {
            std::fprintf(stderr, "gen_companion: %s lists %s, which is no record\n", path.c_str(), record.c_str());
            return false;
        }
    }
    const std::size_t start = text.find("\n_EXTRA_FIELDS = {");
    if (out.mixin.empty() || start == std::string::npos) {
        std::fprintf(stderr, "gen_companion: no _MIXINS or _EXTRA_FIELDS table in %s\n", path.c_str());
        return false;
    }
    const std::string table = text.substr(start, text.find("\n}", start) - start);
    static const std::regex item(R"re("(\w+)":\s*(\{|lambda))re");
    std::string record;
    for (std::sregex_iterator m(table.begin(), table.end(), item), end; m != end; ++m) {
        if ((*m)[2] == "{") record = (*m)[1];
        else out.extras[record].push_back((*m)[1]);
    }
    return true;
}

// The type of a field in a header's host-order view, as _headers._view_field
// reads it; "" for the fields the view leaves out.
std::string view_type(const Line &l) {
    const std::string type = l.row->net_view;
    if (is_private_name(l.name)) return "";
    if (type == "bytes" && !(l.element_size == 1 && l.size > 0)) return "";  // only fixed byte arrays
    return type;
}

// A stub attribute of `type`, with a setter of `setter` when it takes more,
// indented for a class body `indent` deep.
std::string stub_attribute(const std::string &name, const std::string &type, const std::string &setter,
                           std::size_t indent = 4) {
    const std::string in(indent, ' ');
    if (setter.empty()) return in + name + ": " + type + "\n";
    return in + "@property\n" + in + "def " + name + "(self) -> " + type + ": ...\n" + in + "@" + name +
           ".setter\n" + in + "def " + name + "(self, value: " + setter + ") -> None: ...\n";
}

// What keyword construction takes for a field: what its setter takes, and
// the plain data from_dict takes (a nested record as a dict, an IPv4
// address as text).
std::string keyword_type(const Line &l, const std::vector<std::string> &records) {
    const std::string type = python_type(l, records);
    if (address_version(l) == 4) return "Union[" + type + ", str]";
    if (has_flag(l, field_kinds::kTakesDict) && type != "SwigPyObject") return "Union[" + type + ", Dict[str, Any]]";
    return setter_type(l).empty() ? type : setter_type(l);
}

bool read_templates(const std::string &dir, Templates &out) {
    const std::pair<const char *, std::string *> files[] = {
        {"package_init_head.py", &out.init_head},
        {"package_init_tail.py", &out.init_tail},
        {"record_block_head.py", &out.block_head},
        {"package_stub_head.pyi", &out.stub_head},
    };
    for (const auto &[name, text] : files) {
        *text = read_file(dir + "/" + name);
        if (text->empty()) {
            std::fprintf(stderr, "gen_companion: cannot read %s/%s\n", dir.c_str(), name);
            return false;
        }
    }
    return true;
}

bool write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR TEMPLATE_DIR\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> records = record_names();
    const std::string dir = argv[1];
    Templates templates;
    if (!read_templates(argv[2], templates)) return 1;
    PacketHeaders headers;
    if (!packet_headers(dir + "/_headers.py", records, headers)) return 1;
    std::string py = kNotice + templates.init_head;
    std::string pyi = kNotice + templates.stub_head;
    std::set<std::string> mixins = {"NetView"};
    for (const auto &[record, mixin] : headers.mixin) mixins.insert(mixin);
    pyi += "from ._headers import ";
    for (const std::string &mixin : mixins) pyi += mixin + (mixin == *mixins.rbegin() ? "\n" : ", ");
    pyi += "\nSwigPyObject = Any\n";
    std::string all = "\n__all__ = [\n";
    std::string blocks = "\n# The module of each class.\n_blocks = {\n";
    std::vector<std::pair<std::string, std::string>> block_files;  // module name, text
    std::string block_all;  // the classes of the block being written
    std::string deferred;  // attributes set after the class body
    const Line *sequence = nullptr;  // of the record being written
    std::string keywords;  // the constructor's parameters in the stub
    std::string view;      // the stub's host-order view class of a header record
    std::set<std::string> view_names;
    auto end_block = [&] {
        if (!block_files.empty()) block_files.back().second += "\n__all__ = [\n" + block_all + "]\n";
        block_all.clear();
    };
    for (const Line &l : lines) {
        const std::string r = l.record;
        std::string *text = block_files.empty() ? &py : &block_files.back().second;
        std::string &cls = *text;
        switch (l.kind) {
        case LineKind::Block:
            end_block();
            block_files.push_back({"_records_" + r, kNotice + templates.block_head});
            break;
        case LineKind::Record: {
            if (block_files.empty()) {
                std::fprintf(stderr, "gen_companion: record %s outside a block\n", l.record);
                return 1;
            }
            sequence = sequence_of(r);
            std::string bases = sequence ? "_Sequence, _Record" : "_Record";
            // Hand-written mixins some records take as well (python/libfc/_headers.py).
            cls += "\n\nclass " + r + "(*_extra_bases.get(\"" + r + "\", ()), " + bases + "):\n    \"\"\"" +
                   class_doc(r) + "\"\"\"\n\n";
            cls += "    __module__ = \"libfc\"\n";
            cls += "    __slots__ = ()  # no instance dictionary: only fields can be set\n";
            cls += "    _size_ = " + std::to_string(l.size) + "\n";
            cls += "    _repr_fields_ = " + python_tuple(scalar_fields(r)) + "\n";
            const auto header = headers.mixin.find(r);
            pyi += "\nclass " + r + "(" + (header == headers.mixin.end() ? "" : header->second + ", ") + bases + "):\n";
            if (header != headers.mixin.end()) view = "    class _NetView(NetView):\n";
            if (sequence) write_sequence(*sequence, records, pyi);
            cls += "\n";
            all += "    \"" + r + "\",\n";
            blocks += "    \"" + r + "\": \"" + block_files.back().first + "\",\n";
            block_all += "    \"" + r + "\",\n";
            break;
        }
        case LineKind::Field:
        case LineKind::BitField:
        case LineKind::FieldReadOnly: {
            std::string property = field_descriptor(l);
            if (is_private_name(l.name))
                deferred += "setattr(" + r + ", \"" + l.name + "\", " + property + ")\n" + "getattr(" + r +
                            ", \"" + l.name + "\").__set_name__(" + r + ", \"" + l.name + "\")\n";
            else
                cls += "    " + std::string(l.name) + " = " + property + "\n";
            if (int version = address_version(l)) {
                const std::string helper = std::string(l.name) + "_addr";
                const std::string address = version == 4 ? "IPv4Address" : "IPv6Address";
                cls += "    " + helper + " = _address(\"" + l.name + "\", " + std::to_string(version) + ")\n";
                pyi += "    @property\n    def " + helper + "(self) -> " + address + ": ...\n    @" + helper +
                       ".setter\n    def " + helper + "(self, value: Union[" + address + ", str]) -> None: ...\n";
            }
            if (l.kind == LineKind::FieldReadOnly)
                pyi += "    @property\n    def " + std::string(l.name) + "(self) -> " + python_type(l, records) +
                       ": ...\n";
            else
                pyi += stub_attribute(l.name, python_type(l, records), setter_type(l));
            if (l.kind != LineKind::FieldReadOnly && !is_private_name(l.name)) {
                keywords += ", " + std::string(l.name) + ": " + keyword_type(l, records) + " = ...";
                if (int version = address_version(l))
                    keywords += ", " + std::string(l.name) + "_addr: Union[" + (version == 4 ? "IPv4Address" : "IPv6Address") +
                                ", str] = ...";
            }
            if (!view.empty()) {
                const std::string type = view_type(l);
                if (type == "bytes") view += stub_attribute(l.name, type, "Union[bytes, bytearray, memoryview]", 8);
                else if (!type.empty()) view += stub_attribute(l.name, type, setter_type(l), 8);
                if (!type.empty()) view_names.insert(l.name);
            }
            break;
        }
        case LineKind::Method: {
            const std::string attribute = method_attribute(l);
            if (sequence && is_sequence_method(attribute)) break;  // the mixin's bounded version stands
            // A repr never fails: the module's strict text becomes an escaped one.
            const char *wrap = attribute == "__repr__" ? "_text_repr(" : "_instance_method(";
            cls += "    " + attribute + " = " + wrap + module_function(l.name) + ")\n";
            pyi += "    def " + attribute + "(self, *args: Any) -> Any: ...\n";
            break;
        }
        case LineKind::Function:
        case LineKind::Sequence:
            break;  // plain module functions have no class; sequences are written with their record
        case LineKind::EndRecord:
            cls += "\n    def __init__(self, **fields):\n        self._attach(_libfc.new_" + r + "())\n";
            cls += "        if fields:\n            self._assign(fields, \"__init__\")\n\n";
            cls += "    __init__ = _initializer(" + module_function("new_" + r) + ", __init__)\n\n";
            cls += "    __swig_destroy__ = " + module_function("delete_" + r) + "\n\n\n";
            cls += deferred;
            deferred.clear();
            cls += module_function(r + "_swigregister") + "(" + r + ")\n";
            pyi += "    def __init__(self" + (keywords.empty() ? "" : ", *" + keywords) + ") -> None: ...\n";
            if (!view.empty()) {
                for (const std::string &extra : headers.extras[r])
                    if (view_names.insert(extra).second) view += "        " + extra + ": int\n";
                if (view_names.empty()) view += "        ...\n";
                // The view's class lives in the record's: its name says whose view it is.
                pyi += view + "    @property\n    def net(self) -> _NetView: ...\n";
            }
            view_names.clear();
            keywords.clear();
            view.clear();
            sequence = nullptr;
            break;
        }
    }
    end_block();
    py += all + "]\n" + blocks + "}\n\n" + templates.init_tail;
    bool written = write_file(dir + "/__init__.py", py) && write_file(dir + "/__init__.pyi", pyi) &&
                   write_file(dir + "/py.typed", "");
    for (const auto &[name, text] : block_files) written = written && write_file(dir + "/" + name + ".py", text);
    if (!written) {
        std::perror("gen_companion");
        return 1;
    }
    return 0;
}
