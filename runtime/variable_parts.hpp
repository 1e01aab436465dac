// Records followed in their buffer by a run of items that a count field of
// the record states (a flow query's entries, the invalidation table's
// entries, the hash tables' statistics). The record's own size covers only
// its header, so how far such a buffer reaches is known only from the count
// the library wrote when it handed the buffer out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swig_abi.hpp"

namespace variable_parts {

struct Part {
    int record_type;           // descriptor id of the record pointer
    std::size_t header;        // offset of the first item: the record's own bytes
    std::size_t stride;        // bytes per item
    std::size_t count_offset;  // of the field counting the items
    std::size_t count_size;    // its width in bytes
};

// The variable part of records of descriptor ty; null when they have none.
const Part *of(const swig_type_info *ty);

// Bytes the buffer at address holds according to its count field now (the
// header included), saturated to the range of the result; 0 for records
// without a variable part.
std::uint32_t stated_extent(const void *address, const swig_type_info *ty);

// Items of part p that an extent of `extent` bytes holds.
inline std::size_t items_within(const Part &p, std::uint32_t extent) {
    return extent > p.header ? (extent - p.header) / p.stride : 0;
}

}  // namespace variable_parts
