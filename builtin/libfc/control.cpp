// The control interface's model side: reset and installing one flow.

#include "flow_table.hpp"
#include "state_file.hpp"

using namespace fcemu;

extern "C" fcemu_status fcemu_model_reset(unsigned int tables, unsigned int entries) {
    if (!sizes_allowed(tables, entries))
        return fail(FCEMU_BAD_VALUE, "%u tables of %u entries are outside the limits", tables, entries);
    StateAccess access;
    return access.rebuild(tables, entries);
}

extern "C" fcemu_status fcemu_model_add_flow(const FC_FlowEntryIOC *entry) {
    if (!entry) return FCEMU_REFUSED;
    StateAccess access;
    if (access.status()) return access.status();
    // A flow handed in alone carries no frame sizes: its packets count,
    // its bytes do not.
    Installed result = install_flow(*access.file(), *entry, 0, access.now());
    return installed_new(result) || result == Installed::hit ? FCEMU_OK : FCEMU_REFUSED;
}
