// The filter of a flow query: eleven criteria, each a wildcard when zero.
#pragma once

#include <cstdint>

#include "state_layout.hpp"
#include "status.hpp"

namespace fcemu {

struct FlowFilter {
    FC_FlowsFilter values;              // daddr and innerdaddr hold the parsed texts
};

// Parses the address texts; a malformed one is refused naming the text.
fcemu_status parse_filter(const fcemu_query &query, FlowFilter &filter);

// Whether a cached flow of key in table table_id (1-based) matches.
bool matches(const FlowFilter &filter, const FC_FlowKey &key, std::uint32_t table_id);

}  // namespace fcemu
