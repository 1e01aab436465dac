// Keeping the state consistent across writers that die: the writer mark
// set around every change, the repair that rebuilds what is derived from
// the flow records, and the check of every invariant.
#pragma once

#include "state_layout.hpp"

namespace fcemu {

// Called with the file locked, before anything reads it: repairs the state
// when the last holder of the lock died in the middle of a change, then
// marks this process as the one changing it.
void begin_change(StateFile &file);
// Called when the process is done with the state, before it unlocks.
void end_change(StateFile &file);

}  // namespace fcemu
