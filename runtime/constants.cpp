// Installation of the constant tables into the module dictionary.

#include "constants.hpp"

#include "convert.hpp"
#include "python.hpp"

bool install_constants(PyObject *dict, const ConstantDef *table, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const ConstantDef &c = table[i];
        PyObject *value = nullptr;
        switch (c.kind) {
        case ConstantKind::Int: value = PyLong_FromLongLong(c.value); break;
        case ConstantKind::UInt64:
            value = PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(c.value));
            break;
        case ConstantKind::Text: value = convert::from_text(c.text); break;
        }
        if (!value) return false;
        // The dictionary keeps the only reference.
        PyObject *name = convert::from_ascii_name(c.name);
        int rc = name ? PyDict_SetItem(dict, name, value) : -1;
        Py_XDECREF(name);
        Py_DECREF(value);
        if (rc < 0) return false;
    }
    return true;
}
