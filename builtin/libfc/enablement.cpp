// Portset and port enablement and the status texts that report it.

#include "enablement.hpp"

#include <cstdio>
#include <cstring>

#include "state_file.hpp"

namespace fcemu {
namespace {

// A stored name is used only when it is terminated inside its record.
template <std::size_t N>
bool same_name(const char (&stored)[N], const char *name) {
    return std::memchr(stored, '\0', N) && std::strcmp(stored, name) == 0;
}

template <std::size_t N>
void store_name(char (&stored)[N], const char *name) {
    std::memset(stored, 0, N);
    std::memcpy(stored, name, std::strlen(name));
}

fcemu_status check_name(const char *what, const char *name, std::size_t limit) {
    if (!name || !*name) return fail(FCEMU_BAD_VALUE, "empty %s name", what);
    if (std::strlen(name) >= limit) return fail(FCEMU_BAD_VALUE, "%s name %s is longer than %zu bytes", what, quoted(name), limit - 1);
    return FCEMU_OK;
}

std::uint32_t free_records(const PortsetRecord *records, std::uint32_t count) {
    std::uint32_t free = 0;
    for (std::uint32_t i = 0; i < count; ++i) free += !records[i].in_use;
    return free;
}

std::uint32_t free_records(const PortRecord *records, std::uint32_t count) {
    std::uint32_t free = 0;
    for (std::uint32_t i = 0; i < count; ++i) free += !records[i].in_use;
    return free;
}

const char *direction_text(std::uint32_t dir) {
    switch (dir) {
    case FC_PORT_DISABLE: return "disabled";
    case FC_PORT_ENABLE_DIR_INGRESS: return "ingress";
    case FC_PORT_ENABLE_DIR_EGRESS: return "egress";
    default: return "enabled";
    }
}

}  // namespace

int find_portset(const CacheState &state, const char *name) {
    for (std::uint32_t i = 0; i < kPortsets; ++i)
        if (state.portsets[i].in_use && same_name(state.portsets[i].name, name)) return static_cast<int>(i);
    return kNotFound;
}

int find_port(const CacheState &state, int portset, const char *name) {
    for (std::uint32_t i = 0; i < kPorts; ++i) {
        const PortRecord &port = state.ports[i];
        if (port.in_use && port.portset == static_cast<std::uint32_t>(portset) && same_name(port.name, name))
            return static_cast<int>(i);
    }
    return kNotFound;
}

int add_portset(CacheState &state, const char *name) {
    int known = find_portset(state, name);
    if (known != kNotFound) return known;
    for (std::uint32_t i = 0; i < kPortsets; ++i) {
        PortsetRecord &portset = state.portsets[i];
        if (portset.in_use) continue;
        store_name(portset.name, name);
        portset.in_use = 1;
        portset.enabled = 1;
        portset.multicast = 0;
        return static_cast<int>(i);
    }
    return kNotFound;
}

int add_port(CacheState &state, int portset, const char *name, std::uint32_t dir) {
    int known = find_port(state, portset, name);
    if (known != kNotFound) return known;
    for (std::uint32_t i = 0; i < kPorts; ++i) {
        PortRecord &port = state.ports[i];
        if (port.in_use) continue;
        store_name(port.name, name);
        port.in_use = 1;
        port.portset = static_cast<std::uint32_t>(portset);
        port.dir = dir;
        return static_cast<int>(i);
    }
    return kNotFound;
}

bool port_caches_ingress(const CacheState &state, std::uint32_t port_id) {
    char name[16];
    std::snprintf(name, sizeof name, "%u", port_id);
    for (std::uint32_t i = 0; i < kPorts; ++i) {
        const PortRecord &port = state.ports[i];
        if (!port.in_use || !same_name(port.name, name)) continue;
        if (port.portset < kPortsets && !state.portsets[port.portset].enabled) return false;
        return (port.dir & FC_PORT_ENABLE_DIR_INGRESS) != 0;
    }
    return true;
}

}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_set_port_prop(const char *switch_name, const char *port_name, int dir) {
    if (fcemu_status status = check_name("portset", switch_name, kPortsetNameMax)) return status;
    if (fcemu_status status = check_name("port", port_name, kPortNameMax)) return status;
    if (dir < FC_PORT_DISABLE || dir > FC_PORT_ENABLE_DIR_ALL) return fail(FCEMU_BAD_VALUE, "unknown port direction %d", dir);
    StateAccess access;
    if (access.status()) return access.status();
    CacheState &state = access.state();
    int portset = find_portset(state, switch_name);
    int port = portset == kNotFound ? kNotFound : find_port(state, portset, port_name);
    // Check both tables before adding to either, so a refusal changes nothing.
    if ((portset == kNotFound && !free_records(state.portsets, kPortsets)) || (port == kNotFound && !free_records(state.ports, kPorts)))
        return fail(FCEMU_NO_MEMORY, "no room for port %s of portset %s", port_name, quoted(switch_name));
    portset = add_portset(state, switch_name);
    port = add_port(state, portset, port_name, static_cast<std::uint32_t>(dir));
    state.ports[port].dir = static_cast<std::uint32_t>(dir);
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_set_host_prop(const char *switch_name, const char *prop_name, int enable) {
    if (fcemu_status status = check_name("portset", switch_name, kPortsetNameMax)) return status;
    bool multicast;
    if (prop_name && std::strcmp(prop_name, FCPROP_PORTSET_ENABLE_CACHE) == 0)
        multicast = false;
    else if (prop_name && std::strcmp(prop_name, FCPROP_PORTSET_ENABLE_MUL_DEST_CACHE) == 0)
        multicast = true;
    else
        return fail(FCEMU_BAD_VALUE, "unknown host property %s", quoted(prop_name));
    StateAccess access;
    if (access.status()) return access.status();
    CacheState &state = access.state();
    int portset = add_portset(state, switch_name);
    if (portset == kNotFound) return fail(FCEMU_NO_MEMORY, "no room for portset %s", quoted(switch_name));
    (multicast ? state.portsets[portset].multicast : state.portsets[portset].enabled) = enable ? 1 : 0;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_portset_status(const char *name, int multicast, const char **text) {
    *text = nullptr;
    if (!name || !*name) return FCEMU_OK;
    StateAccess access;
    if (access.status()) return access.status();
    int portset = find_portset(access.state(), name);
    if (portset == kNotFound) return FCEMU_OK;
    const PortsetRecord &record = access.state().portsets[portset];
    *text = (multicast ? record.multicast : record.enabled) ? "enabled" : "disabled";
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_port_status(const char *switch_name, const char *port_name, const char **text) {
    *text = nullptr;
    if (!switch_name || !*switch_name) return FCEMU_OK;
    StateAccess access;
    if (access.status()) return access.status();
    const CacheState &state = access.state();
    int portset = find_portset(state, switch_name);
    if (portset == kNotFound) return FCEMU_OK;
    if (!state.portsets[portset].enabled) {
        *text = "disabled";
        return FCEMU_OK;
    }
    int port = port_name && *port_name ? find_port(state, portset, port_name) : kNotFound;
    *text = direction_text(port == kNotFound ? std::uint32_t{FC_PORT_ENABLE_DIR_ALL} : state.ports[port].dir);
    return FCEMU_OK;
}
