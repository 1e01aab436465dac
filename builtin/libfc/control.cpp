// The control interface's model side: reset, installing one flow, and what
// the control functions report besides their results.

#include <climits>

#include "flow_table.hpp"
#include "state_file.hpp"

using namespace fcemu;

extern "C" fcemu_status fcemu_model_reset(void) {
    StateAccess access(StateAccess::reset);
    return access.status();
}

extern "C" fcemu_status fcemu_model_add_flow(const FC_FlowEntryIOC *entry) {
    if (!entry) return fail(FCEMU_REFUSED, "no flow entry");
    if (entry->pktCount > FCEMU_MAX_FLOW_PACKETS)
        return fail(FCEMU_REFUSED, "a flow entry's pktCount is at most %u", FCEMU_MAX_FLOW_PACKETS);
    StateAccess access;
    if (access.status()) return access.status();
    // A flow handed in alone carries no frame sizes: its packets count,
    // its bytes do not.
    Installed result = install_flow(*access.file(), *entry, 0, access.now());
    return result == Installed::refused ? fail(FCEMU_REFUSED, "the flow cache is full or the entry malformed") : FCEMU_OK;
}

extern "C" const char *fcemu_state_dir(void) {
    static char directory[PATH_MAX];
    state_directory(directory, sizeof directory);
    return directory;
}

extern "C" const char *fcemu_last_error(void) { return fcemu_status_message(); }
