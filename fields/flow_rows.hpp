// The bulk decoder of flow query answers: every entry of an FC_IOCFlows
// buffer turned into the companion's Flow objects in one call; and the
// layout of an answer's entries, which the decoder and the text writers
// (flow_text.cpp) read alike.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "hyp_kernel_types.h"
#include "libfc.h"
#include "runtime/python.hpp"

namespace flow_rows {

// The decoder type, flow_rows(flow_class, action_names, max_entries); null
// with an exception when it cannot be made.
PyTypeObject *type();

// The first entry of a query answer and (in count) how many it holds,
// checked as the decoder checks an answer; null with an exception when
// answer is none or states more entries than one holds.
const char *answer_entries(PyObject *decoder, PyObject *answer, Py_ssize_t &count) noexcept;

// The decoder's tuple of action names, bit n's at n (borrowed).
PyObject *action_names(PyObject *decoder) noexcept;

// An entry starts at any byte offset (the entries are packed one after the
// other), so fields are copied out, never read through a typed reference.
template <class T>
T load(const char *at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The address and the declared type of a (nested) field of a record at base.
#define FIELD_AT(RECORD, PATH, base) ((base) + offsetof(RECORD, PATH))
#define FIELD_TYPE(RECORD, PATH) decltype(std::declval<const RECORD &>().PATH)
#define LOAD(RECORD, PATH, base) ::flow_rows::load<FIELD_TYPE(RECORD, PATH)>(FIELD_AT(RECORD, PATH, base))

using Entity = FC_ActionEntityIOC;
using Entry = FC_FlowEntryIOC;
using Port = std::remove_extent_t<FIELD_TYPE(Entity, dport)>;
using BitMap = FIELD_TYPE(Entity, actionsBitMap);

constexpr unsigned kEntityCapacity = std::extent_v<FIELD_TYPE(Entry, actionEntity)>;
constexpr unsigned kPortCapacity = std::extent_v<FIELD_TYPE(Entity, dport)>;
constexpr int kActionBits = 8 * sizeof(BitMap);
constexpr int kMacBytes = std::extent_v<FIELD_TYPE(FC_l2Key, saddr)>;
static_assert(kMacBytes == 6 && std::extent_v<FIELD_TYPE(FC_l2Key, daddr)> == 6);
static_assert(sizeof(FC_ipv4Key::sip) == 4 && sizeof(FC_ipv6Key::sip) == 16);

// Counts beyond an array's length are read as the whole array, as the
// companion's sequences read them: the entry's own memory ends there.
inline unsigned clamped(unsigned stated, unsigned capacity) { return stated < capacity ? stated : capacity; }

// Entries lie 66 KB apart and an entry's fields span two pages (an action
// entity's port count follows its 4096 ports), so each entry costs cache and
// TLB misses; they are taken a few entries ahead, while those before are read.
constexpr Py_ssize_t kPrefetchAhead = 4;

inline void prefetch_entry(const char *entry) {
    for (std::size_t at : {offsetof(Entry, fcFlags), offsetof(Entry, fkey.inner), offsetof(Entry, pktCount),
                           offsetof(Entry, tblId), offsetof(Entry, numActionEntities),
                           offsetof(Entry, actionEntity) + offsetof(Entity, dport),
                           offsetof(Entry, actionEntity) + offsetof(Entity, dstPortsNum)})
        __builtin_prefetch(entry + at);
}

}  // namespace flow_rows
