// The module's integer and text constants, installed into the module dictionary
// in table order at initialisation.
#pragma once

#include <cstddef>

typedef struct _object PyObject;

enum class ConstantKind : unsigned char {
    Int,     // created from a signed 64-bit value
    UInt64,  // created by the unsigned 64-bit result conversion
    Text,    // created by the char * result conversion
};

struct ConstantDef {
    const char *name;
    ConstantKind kind;
    long long value;       // Int, and UInt64 reinterpreted
    const char *text;      // Text only
};

// The table is split where the global-variables object "cvar" is installed:
// the first part ends with HYP_IOCTL_CALLER_32, the second starts with HYP_MISC_NAME_MAX.
extern const ConstantDef constants_before_cvar[];
extern const std::size_t constants_before_cvar_count;
extern const ConstantDef constants_after_cvar[];
extern const std::size_t constants_after_cvar_count;

// Stores every constant of the table under its name; returns false with a
// Python exception set when a value could not be created.
bool install_constants(PyObject *dict, const ConstantDef *table, std::size_t count);
