// Writes the companion package libfc (__init__.py and __init__.pyi) from the
// same record description files the module's method table is built from, so
// the classes can never name a method the module does not have.
//
// usage: gen_companion OUTPUT_DIR

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class LineKind { Record, Field, FieldReadOnly, BitField, Method, Function, EndRecord };

struct Line {
    LineKind kind;
    const char *record;
    const char *name;        // field or method name
    const char *field_kind;  // FieldKind spelling
    const char *value_type;  // descriptor id spelling, e.g. p_hyp_Name
};

// Record description files in the module's declaration order.
const Line lines[] = {
#define RECORD(R) {LineKind::Record, #R, "", "", ""},
#define FIELD(R, F, KIND, CTYPE, VT) {LineKind::Field, #R, #F, #KIND, #VT},
#define FIELD_RO(R, F, KIND, CTYPE, VT) {LineKind::FieldReadOnly, #R, #F, #KIND, #VT},
#define BITFIELD(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) {LineKind::BitField, #R, #F, "BitField", "none"},
#define METHOD(R, NAME, FUNCTION) {LineKind::Method, #R, NAME, "", ""},
#define FUNCTION(NAME, FUNCTION) {LineKind::Function, "", NAME, "", ""},
#define END_RECORD(R) {LineKind::EndRecord, #R, "", "", ""},
#include "all_records.inc"
};

std::vector<std::string> record_names() {
    std::vector<std::string> names;
    for (const Line &l : lines)
        if (l.kind == LineKind::Record) names.push_back(l.record);
    return names;
}

// The Python type a field's getter returns, for the stub.
std::string python_type(const Line &l, const std::vector<std::string> &records) {
    std::string kind = l.field_kind;
    if (kind == "Integer" || kind == "BitField") return "int";
    if (kind == "Char" || kind == "CharArray" || kind == "HwAddr") return "str";
    if (kind == "OwnedText") return "str | None";
    std::string vt = l.value_type;
    if (vt.rfind("p_", 0) == 0) {
        std::string target = vt.substr(2);
        for (const std::string &r : records)
            if (r == target) return target + " | None";
    }
    return "SwigPyObject | None";
}

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

const char *kModuleHeader = R"(# Generated at build time from the record descriptions of _libfc; do not edit.
"""Python classes for the C records of _libfc.

Each class stands for one C record type: its attributes read and write the
record's fields in place, constructing it allocates a zero-filled record that
the instance owns, and pointers the module returns come back as instances of
these classes.
"""

import _libfc

_instance_method = _libfc.SWIG_PyInstanceMethod_New


class _Record:
    """Common behaviour of the record classes."""

    # "this" lives in a slot so the module finds it at a fixed offset.
    __slots__ = ("this", "__dict__", "__weakref__")

    @property
    def thisown(self):
        """True while this object owns, and will free, its C record."""
        return self.this.own()

    @thisown.setter
    def thisown(self, value):
        self.this.own(value)

    def __repr__(self):
        return "<%s.%s; proxy of %r >" % (self.__class__.__module__, self.__class__.__name__, self.this)

    def _attach(self, this):
        existing = getattr(self, "this", None)
        if existing is None:
            self.this = this
        else:
            existing.append(this)
)";

const char *kStubHeader = R"(# Generated at build time from the record descriptions of _libfc; do not edit.
from typing import Any

SwigPyObject = Any

class _Record:
    this: SwigPyObject
    thisown: bool
)";

bool write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> records = record_names();
    std::string py = kModuleHeader;
    std::string pyi = kStubHeader;
    std::string all = "\n__all__ = [\n";
    std::string deferred;  // attributes set after the class body
    for (const Line &l : lines) {
        const std::string r = l.record;
        switch (l.kind) {
        case LineKind::Record:
            py += "\n\nclass " + r + "(_Record):\n    \"\"\"The C record " + r + ".\"\"\"\n\n";
            pyi += "\nclass " + r + "(_Record):\n";
            all += "    \"" + r + "\",\n";
            break;
        case LineKind::Field:
        case LineKind::BitField:
        case LineKind::FieldReadOnly: {
            std::string accessors = "_libfc." + r + "_" + l.name + "_get";
            if (l.kind != LineKind::FieldReadOnly) accessors += ", _libfc." + r + "_" + l.name + "_set";
            std::string property = "property(" + accessors + ")";
            if (is_private_name(l.name))
                deferred += "setattr(" + r + ", \"" + l.name + "\", " + property + ")\n";
            else
                py += "    " + std::string(l.name) + " = " + property + "\n";
            if (l.kind == LineKind::FieldReadOnly)
                pyi += "    @property\n    def " + std::string(l.name) + "(self) -> " + python_type(l, records) +
                       ": ...\n";
            else
                pyi += "    " + std::string(l.name) + ": " + python_type(l, records) + "\n";
            break;
        }
        case LineKind::Method:
            py += "    " + method_attribute(l) + " = _instance_method(_libfc." + l.name + ")\n";
            pyi += "    def " + method_attribute(l) + "(self, *args: Any) -> Any: ...\n";
            break;
        case LineKind::Function:
            break;  // plain module functions have no class
        case LineKind::EndRecord:
            py += "\n    def __init__(self):\n        self._attach(_libfc.new_" + r + "())\n\n";
            py += "    __swig_destroy__ = _libfc.delete_" + r + "\n\n\n";
            py += deferred;
            deferred.clear();
            py += "_libfc." + r + "_swigregister(" + r + ")\n";
            pyi += "    def __init__(self) -> None: ...\n";
            break;
        }
    }
    py += all + "]\n";
    std::string dir = argv[1];
    if (!write_file(dir + "/__init__.py", py) || !write_file(dir + "/__init__.pyi", pyi) ||
        !write_file(dir + "/py.typed", "")) {
        std::perror("gen_companion");
        return 1;
    }
    return 0;
}
