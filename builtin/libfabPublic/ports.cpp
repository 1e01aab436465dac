// Port operations: add, remove, find, state blocks and the port handle's getters.

#include <cstring>

#include "caller_output.hpp"
#include "guarded.hpp"
#include "properties.hpp"
#include "store_api.h"
#include "store_common.hpp"

using namespace fab;

namespace {

// A new port takes the next connection number of its switch.
uint32_t next_connect_id(sqlite3 *db, const std::string &switch_id) {
    Statement q(db, "SELECT coalesce(max(connect_id), 0) + 1 FROM ports WHERE switch_id = ?");
    q.bind(1, switch_id);
    q.step();
    return static_cast<uint32_t>(q.integer(0));
}

// The port a handle names as the store has it now; a removed port takes its
// handle with it.  Texts as for switches.
template <class Pick>
const char *port_text(DVSPortHandle port, Pick pick) {
    return guarded_value<const char *>(nullptr, [&]() -> const char * {
        const PortEntry *entry = find_port(port);
        if (!entry) return nullptr;
        PortEntry named = *entry;
        auto p = load_port(database(), named.switch_id, named.port_id);
        if (!p) {
            retire_port(named.switch_id, named.port_id);
            return nullptr;
        }
        return give_text(port, pick(*p));
    });
}

}  // namespace

extern "C" {

HYP_ReturnStatus store_DVSHYP_PortAdd(char const *switchId, char const *portId, void *state, int stateLen) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        Bytes initial = value_arg(state, stateLen);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        SwitchRecord s = require_switch(db, sw);
        if (load_port(db, sw, id)) return HYP_EXISTS;
        if (static_cast<int64_t>(count_ports(db, sw)) >= int64_t{s.max_ports}) return HYP_LIMIT_EXCEEDED;
        Statement(db, "INSERT INTO ports(switch_id, port_id, connect_id, type, state) VALUES(?, ?, ?, ?, ?)")
            .bind(1, sw)
            .bind(2, id)
            .bind(3, int64_t{next_connect_id(db, sw)})
            .bind(4, int64_t{DVSPORT_TYPE_ACTIVE})
            .bind(5, initial.data(), initial.size())
            .run();
        t.commit();
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_PortRemove(char const *switchId, char const *portId) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        require_port(db, sw, id);
        Statement(db, "DELETE FROM properties WHERE switch_id = ? AND scope = ? AND owner = ?")
            .bind(1, sw)
            .bind(2, int64_t{static_cast<int>(Scope::Port)})
            .bind(3, id)
            .run();
        Statement(db, "DELETE FROM ports WHERE switch_id = ? AND port_id = ?").bind(1, sw).bind(2, id).run();
        t.commit();
        retire_port(sw, id);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_PortFind(char const *switchId, char const *portId) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        return load_port(database(), sw, id) ? HYP_OK : HYP_NOT_FOUND;
    });
}

HYP_ReturnStatus store_DVSHYP_PortGetByExternalId(char const *switchId, char const *externalId,
                                                  OpaqueDVPortData **port) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        if (!externalId || !port) fail(HYP_BAD_PARAM);
        if (!*externalId) fail(HYP_INVALID_NAME);
        if (strnlen(externalId, sizeof(OpaqueDVPortData::externalId)) >= sizeof(OpaqueDVPortData::externalId))
            fail(HYP_NAME_TOO_LONG);
        sqlite3 *db = database();
        require_switch(db, sw);
        Statement q(db, "SELECT port_id FROM ports WHERE switch_id = ? AND external_id = ? ORDER BY port_id");
        q.bind(1, sw).bind(2, externalId);
        if (!q.step()) return HYP_NOT_FOUND;
        std::string id = q.text(0);
        auto *record = static_cast<OpaqueDVPortData *>(new_block(sizeof(OpaqueDVPortData)));
        std::memcpy(record->dvPortId, id.data(), std::min(id.size(), sizeof record->dvPortId - 1));
        std::strcpy(record->externalId, externalId);  // length checked above
        put_out(port, record);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_PortStateGet(char const *switchId, char const *portId, void **state,
                                           int *stateLen) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        if (!state || !stateLen) fail(HYP_BAD_PARAM);
        hand_out(state, stateLen, require_port(database(), sw, id).state);
        return HYP_OK;
    });
}

// The port with its persistent data items (no volatile ones) as a serialised
// port state block of the requested format version.
HYP_ReturnStatus store_DVSHYP_PersistentPortStateGet(char const *switchId, char const *portId, FabVersion version,
                                                     void **state, int *stateLen) noexcept {
    return guarded([&] {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        if (!state || !stateLen) fail(HYP_BAD_PARAM);
        check_format_version(version);
        sqlite3 *db = database();
        Block block;
        block.kind = BlockKind::PortState;
        block.ports.push_back(require_port(db, sw, id));
        for (PropertyRecord &p : load_properties(db, sw, Scope::Port, id))
            if (!(p.prop_type & VOLATILE_PROP_TYPE)) block.properties.push_back(std::move(p));
        hand_out(state, stateLen, serialise(block));
        return HYP_OK;
    });
}

hyp_Bool store_DVPortExist(char const *switchId, char const *portId) noexcept {
    return store_DVSHYP_PortFind(switchId, portId) == HYP_OK ? 1 : 0;
}

DVSPortHandle store_DVSState_PortFind(char const *switchId, char const *portId) noexcept {
    return guarded_value<DVSPortHandle>(nullptr, [&]() -> DVSPortHandle {
        std::string sw = switch_id_arg(switchId);
        std::string id = port_id_arg(portId);
        return load_port(database(), sw, id) ? port_handle(sw, id) : nullptr;
    });
}

char const *store_DVS_PortId(DVSPortHandle port) noexcept {
    return port_text(port, [](const PortRecord &p) { return p.port_id; });
}

char const *store_DVS_PortAlias(DVSPortHandle port) noexcept {
    return port_text(port, [](const PortRecord &p) { return p.alias; });
}

}  // extern "C"
