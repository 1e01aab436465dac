// Entry point of _libfc_fields, the companion's C-level attributes: field
// descriptors and record initialisers. Built from the same runtime and type
// table as _libfc, so it joins the shared registry and sees the descriptors
// _libfc's pointer objects carry.

#include "fields/field_descriptor.hpp"
#include "fields/flow_diff.hpp"
#include "fields/flow_object.hpp"
#include "fields/flow_rows.hpp"
#include "fields/flow_text.hpp"
#include "fields/ipfix_records.hpp"
#include "fields/ipfix_sender.hpp"
#include "fields/record_base.hpp"
#include "fields/record_initializer.hpp"
#include "fields/sequence.hpp"
#include "fields/snapshot_lines.hpp"
#include "fields/top_filter.hpp"
#include "fields/top_groups.hpp"
#include "fields/top_pages.hpp"
#include "fields/answer_copy.hpp"
#include "fields/flow_hold.hpp"
#include "fields/flow_rank.hpp"
#include "fields/flow_rates.hpp"
#include "fields/json_indent.hpp"
#include "fields/top_rows.hpp"
#include "runtime/module_entry.hpp"
#include "runtime/python_compat.hpp"
#include "runtime/type_ids.hpp"

extern swig_type_info libfc_type_descriptors[ty::count];

namespace {

PyMethodDef field_methods[] = {
    {"describe_field", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(field_descriptor::describe)),
     METH_FASTCALL,
     "describe_field($module, fget, fset, name, /)\n"
     "--\n\n"
     "A field descriptor: a property over the module's getter and setter that reads and writes the\n"
     "field named \"Record.field\" in place for instances of the class it is defined in."},
    {"record_initializer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(record_initializer::make)),
     METH_FASTCALL,
     "record_initializer($module, new_function, python_init, /)\n--\n\n"
     "An __init__ that makes the record without running Python code on the common path."},
    {"top_page", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_pages::page)), METH_FASTCALL,
     "top_page($module, decoder, answer, now_ms, rest, address_base, known_actions, learn_actions,\n"
     "counts_only, /)\n--\n\n(count, columns): an answer's flows outside rest as the bytes of top's columns."},
    {"indented", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(json_indent::indented)), METH_FASTCALL,
     "indented($module, lines, level, /)\n--\n\n"
     "The compact JSON objects of lines, one a line, laid out as json.dumps(indent=2) lays them out\n"
     "level deep, the first line indented too, joined by ',\\n'."},
    {"top_flows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(flow_rank::top_flows)), METH_FASTCALL,
     "top_flows($module, decoder, answer, now_ms, rest, key, n, largest, /)\n--\n\n"
     "(count, (copy, now_ms)): of an answer's flows outside rest, the n first by (key, id), in its order."},
    {"top_match", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_pages::match)), METH_FASTCALL,
     "top_match($module, before_tables, before_ids, before_packets, tables, ids, packets, deltas, /)\n--\n\n"
     "Fills deltas with the packets counted since the read before; the positions it held that left."},
    {"top_order", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_rows::order)), METH_FASTCALL,
     "top_order($module, columns, column, positions, descending, count, action_rank, /)\n--\n\n"
     "Sorts top's positions in place by a column (the first count only, unless negative); how many lead."},
    {"top_fold", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_groups::fold)), METH_FASTCALL,
     "top_fold($module, columns, positions, column, /)\n--\n\n"
     "top's rows folded by a column's raw value: the groups' sums, packed for top_pick."},
    {"top_pick", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_groups::pick)), METH_FASTCALL,
     "top_pick($module, fold, by, descending, count, /)\n--\n\n"
     "(groups, places): the bytes of the places of the first count groups of a fold in order."},
    {"top_group_rows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_groups::rows)), METH_FASTCALL,
     "top_group_rows($module, fold, places, /)\n--\n\n"
     "The groups at the places of a fold, (value, flows, packets, packet delta) each."},
    {"top_group_widths", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_groups::widths)),
     METH_FASTCALL, "top_group_widths($module, fold, places, elapsed, key_cells, count, /)\n--\n\n"
     "The length of each of top's group columns' longest cell at the places."},
    {"top_group_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_groups::lines)),
     METH_FASTCALL, "top_group_lines($module, fold, places, elapsed, key_cells, count, layout, /)\n--\n\n"
     "top's table lines of the groups at the places, each ending in a newline, laid out by the\n"
     "fitter's layout (cli._output.Layout.as_tuple())."},
    {"top_select", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_filter::select)), METH_FASTCALL,
     "top_select($module, columns, positions, words, /)\n--\n\n"
     "The bytes of the positions of top's rows that match every filter word."},
    {"top_widths", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_rows::widths)), METH_FASTCALL,
     "top_widths($module, columns, positions, elapsed, action_texts, protocol_names, /)\n--\n\n"
     "The length of each of top's columns' longest cell at the positions."},
    {"top_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(top_rows::lines)), METH_FASTCALL,
     "top_lines($module, columns, positions, elapsed, action_texts, protocol_names, layout, /)\n--\n\n"
     "top's table lines of the rows at the positions, each ending in a newline, laid out by the\n"
     "fitter's layout (cli._output.Layout.as_tuple())."},
};

const MethodBlock field_block = {field_methods, sizeof field_methods / sizeof field_methods[0]};
const MethodBlock *const blocks[] = {&field_block};

bool add_type(PyObject *module, const char *name, PyTypeObject *t) {
    if (!t) return false;
    Py_INCREF(t);
    if (PyModule_AddObject(module, name, reinterpret_cast<PyObject *>(t)) == 0) return true;
    Py_DECREF(t);
    return false;
}

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "_libfc_fields", nullptr, -1, nullptr};

}  // namespace

extern "C" LIBFC_EXPORT PyObject *PyInit__libfc_fields() {
    static const ModuleSetup setup = {
        &definition, blocks, 1, libfc_type_descriptors, ty::count, nullptr, 0, nullptr, 0,
    };
    PyObject *module = create_module(setup);
    if (!module) return nullptr;
    if (!add_type(module, "field", field_descriptor::type()) ||
        !add_type(module, "record_initializer_type", record_initializer::type()) ||
        !add_type(module, "sequence", sequence::type()) ||
        !add_type(module, "record_base", record_base::type()) || !add_type(module, "flow_rows", flow_rows::type()) ||
        !add_type(module, "flow_object", flow_object::type()) ||
        !add_type(module, "flow_text", flow_text::type()) ||
        !add_type(module, "ipfix_records", ipfix_records::type()) ||
        !add_type(module, "ipfix_sender", ipfix_sender::type()) ||
        !add_type(module, "snapshot_lines", snapshot_lines::type()) ||
        !add_type(module, "snapshot_lines_batch", snapshot_lines::batch_type_made()) ||
        !add_type(module, "flow_diff", flow_diff::type()) ||
        !add_type(module, "answer_copy", answer_copy::type()) ||
        !add_type(module, "flow_hold", flow_hold::type()) ||
        !add_type(module, "flow_rates", flow_rates::type()) ||
        PyModule_AddIntConstant(module, "_fast_internals", LIBFC_FAST_INTERNALS) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    if (!field_descriptor::add_kind_names(module)) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
