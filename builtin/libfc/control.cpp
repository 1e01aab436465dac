// The control interface's model side: reset, installing one flow, and what
// the control functions report besides their results.

#include <climits>

#include "flow_table.hpp"
#include "state_file.hpp"

using namespace fcemu;

extern "C" fcemu_status fcemu_model_reset(unsigned int tables, unsigned int entries) {
    if (!sizes_allowed(tables, entries))
        return fail(FCEMU_BAD_VALUE, "%u tables of %u entries are outside the limits", tables, entries);
    StateAccess access(StateAccess::reset, tables, entries);
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
    if (installed_new(result) || result == Installed::hit) return FCEMU_OK;
    return fail(FCEMU_REFUSED, "the flow's hash table is full, the entry malformed, or it needs more than a cached flow keeps");
}

extern "C" const char *fcemu_state_dir(void) {
    static char directory[PATH_MAX];
    state_directory(directory, sizeof directory);
    return directory;
}

extern "C" const char *fcemu_last_error(void) { return fcemu_status_message(); }
