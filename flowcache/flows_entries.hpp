// Where the entries of a query result lie, and how many there are.
#pragma once

#include <cstddef>
#include <cstring>

#include "libfc.h"
#include "runtime/allocations.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

// numEntries, the entries the buffer actually holds (totalEntries counts the
// flows that matched, which may be more than were returned). A buffer made
// by new_FC_IOCFlows is the header alone, so it holds none whatever a script
// wrote into its numEntries.
inline hyp_uint32 flows_entry_count(char *flows) {
    if (allocations::holds(flows, registry::types[ty::p_FC_IOCFlows])) return 0;
    hyp_uint32 count;
    std::memcpy(&count, flows + offsetof(FC_IOCFlows, numEntries), sizeof count);
    return count;
}

// Entry index of the buffer; the index is in range, so the product fits.
inline char *flows_entry(char *flows, int index) {
    return flows + offsetof(FC_IOCFlows, entries) + static_cast<std::ptrdiff_t>(index) * sizeof(FC_FlowEntryIOC);
}
