// Keeping the state consistent across writers that die: the writer mark
// set around every change, and the repair that rebuilds what is derived
// from the flow records when a writer died with the mark set.
#pragma once

#include <cstdint>

#include "state_layout.hpp"

namespace fcemu {

// Called with the file locked, before anything reads it: repairs the state
// when the last holder of the lock died in the middle of a change, then
// marks this process as the one changing it.
void begin_change(StateFile &file);
// Called when the process is done with the state, before it unlocks.
void end_change(StateFile &file);

// What the cached flows hold, per allocation counter: what the repair sets
// the counters from, and what the check compares them with.
struct Held {
    std::uint64_t flows, entities, encaps, routes;
    void add(const FlowRecord &record) {
        flows += 1;
        entities += record.entities;
        encaps += record.encaps();
        routes += record.routes();
    }
};

}  // namespace fcemu
