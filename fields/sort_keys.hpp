// The keys a flows listing orders by, each named by the Flow attribute it
// orders by (cli/flows.py's SORT_KEYS), read from an entry: top_flows picks
// a page's best flows by one, a flow_hold orders every flow by one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "fields/answer_copy.hpp"

namespace sort_keys {

using answer_copy::FlowEntry;
using flow_rows::Entry;

struct SortKey {
    const char *attribute;
    std::uint64_t (*of)(const FlowEntry &f, std::uint64_t age_s);
};

constexpr SortKey kSortKeys[] = {
    {"packets", [](const FlowEntry &f, std::uint64_t) -> std::uint64_t { return LOAD(Entry, pktCount, f.entry); }},
    {"age_s", [](const FlowEntry &, std::uint64_t age_s) { return age_s; }},
    {"expires_in_s", [](const FlowEntry &f, std::uint64_t) -> std::uint64_t { return LOAD(Entry, exprTime, f.entry); }},
    {"port", [](const FlowEntry &f, std::uint64_t) -> std::uint64_t { return LOAD(Entry, fkey.portID, f.entry); }},
    {"vni", [](const FlowEntry &f, std::uint64_t) -> std::uint64_t { return LOAD(Entry, fkey.vni, f.entry); }},
    {"id", [](const FlowEntry &f, std::uint64_t) -> std::uint64_t { return LOAD(Entry, flowId, f.entry); }},
};

// The key named so (a str), or null.
inline const SortKey *named(PyObject *name) {
    const char *text = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    if (!text) return nullptr;
    const SortKey *key = std::find_if(std::begin(kSortKeys), std::end(kSortKeys),
                                      [&](const SortKey &k) { return std::strcmp(k.attribute, text) == 0; });
    return key == std::end(kSortKeys) ? nullptr : key;
}

// A flow as a listing orders it: by (key, id), and, as Python's stable sort
// leaves them, flows equal in both in the order they were read.
struct Ranked {
    std::uint64_t key, id;
    std::uint64_t position;
};

// The listing's order, largest first or smallest first.
inline auto order(bool largest) {
    return [largest](const Ranked &a, const Ranked &b) {
        if (a.key != b.key) return largest ? a.key > b.key : a.key < b.key;
        if (a.id != b.id) return largest ? a.id > b.id : a.id < b.id;
        return a.position < b.position;
    };
}

}  // namespace sort_keys
