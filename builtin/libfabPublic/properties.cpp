// Property rows and the property operations of the library: get, set and clear
// for each scope, lookups, property lists.

#include "properties.hpp"

#include <cstring>

#include "caller_output.hpp"
#include "containers.hpp"
#include "guarded.hpp"
#include "store_api.h"

namespace fab {
namespace {

// Names whose value is also kept in a column, so that lookups by alias or
// external identifier and port lists need no scan of values.
constexpr const char *kSwitchAlias = "com.quorix.common.alias";                      // HYP_FABPROP_SWITCH_ALIAS
constexpr const char *kPortAlias = "com.quorix.common.port.alias";                   // HYP_FABPROP_PORT_ALIAS
constexpr const char *kPortConnectId = "com.quorix.common.port.connectid";           // HYP_FABPROP_PORT_CONNECTID
constexpr const char *kPortType = "com.quorix.common.port.volatile.type";            // HYP_FABPROP_PORT_TYPE
constexpr const char *kPortExternalId = "com.quorix.common.port.vnicConnectee";      // HYP_FABPROP_PORT_VNIC_CONNECTEE
constexpr size_t kAliasMax = 80;     // HYP_FAB_NAME_MAX_LEN and HYP_FAB_PORT_ALIAS_MAX_LEN with their zero
constexpr size_t kExternalIdMax = 127;
constexpr const char *kOwnNamespace = "com.quorix.";  // anything else is a vendor's

uint32_t u32_of(const Bytes &value) {
    if (value.size() != 4) fail(HYP_BAD_PARAM);
    return uint32_t{value[0]} | uint32_t{value[1]} << 8 | uint32_t{value[2]} << 16 | uint32_t{value[3]} << 24;
}

void mirror(sqlite3 *db, const PropertyRecord &p, bool cleared) {
    const std::string &n = p.name;
    if (p.scope == static_cast<uint8_t>(Scope::Global) && n == kSwitchAlias) {
        std::string alias = cleared ? std::string() : text_of(p.value);
        if (alias.size() > kAliasMax) fail(HYP_NAME_TOO_LONG);
        Statement q(db, "UPDATE switches SET alias = ? WHERE id = ?");
        if (alias.empty()) q.bind_null(1);
        else q.bind(1, alias);
        q.bind(2, p.switch_id).run();  // a clash with another switch's alias fails as HYP_EXISTS
        return;
    }
    if (p.scope != static_cast<uint8_t>(Scope::Port)) return;
    auto update = [&](const char *sql, auto value) {
        Statement(db, sql).bind(1, value).bind(2, p.switch_id).bind(3, p.owner).run();
    };
    if (n == kPortAlias) {
        std::string alias = cleared ? std::string() : text_of(p.value);
        if (alias.size() > kAliasMax) fail(HYP_NAME_TOO_LONG);
        update("UPDATE ports SET alias = ? WHERE switch_id = ? AND port_id = ?", alias);
    } else if (n == kPortExternalId) {
        std::string external = cleared ? std::string() : text_of(p.value);
        if (external.size() > kExternalIdMax) fail(HYP_NAME_TOO_LONG);
        update("UPDATE ports SET external_id = ? WHERE switch_id = ? AND port_id = ?", external);
    } else if (n == kPortType) {
        uint32_t type = cleared ? uint32_t{DVSPORT_TYPE_ACTIVE} : u32_of(p.value);
        if (type < DVSPORT_TYPE_ACTIVE || type > DVSPORT_TYPE_LOCALCACHE) fail(HYP_BAD_PARAM);
        update("UPDATE ports SET type = ? WHERE switch_id = ? AND port_id = ?", int64_t{type});
    } else if (n == kPortConnectId && !cleared) {
        update("UPDATE ports SET connect_id = ? WHERE switch_id = ? AND port_id = ?", int64_t{u32_of(p.value)});
    }
}

// The owner of a property of this scope, checked to exist.
void require_owner(sqlite3 *db, const std::string &switch_id, Scope scope, const std::string &owner) {
    if (scope == Scope::Port) require_port(db, switch_id, owner);
    else require_switch(db, switch_id);
}

std::optional<PropertyRecord> load_property(sqlite3 *db, const std::string &switch_id, Scope scope,
                                            const std::string &owner, const std::string &name) {
    Statement q(db,
                "SELECT prop_type, value FROM properties WHERE switch_id = ? AND scope = ? AND owner = ? AND name = ?");
    q.bind(1, switch_id).bind(2, int64_t{static_cast<int>(scope)}).bind(3, owner).bind(4, name);
    if (!q.step()) return std::nullopt;
    return PropertyRecord{switch_id, static_cast<uint8_t>(scope), owner, name, static_cast<uint32_t>(q.integer(0)),
                          q.blob(1)};
}

// The SmartNIC sees only what is synchronised to it: items marked
// NO_SYNC_PROP_TYPE are not found there.
HYP_ReturnStatus get(const char *switchId, Scope scope, const std::string &owner, const char *name, void **data,
                     int *dataLen, bool smartnic) {
    std::string sw = switch_id_arg(switchId);
    std::string key = name_arg(name);
    if (!data || !dataLen) fail(HYP_BAD_PARAM);
    sqlite3 *db = database();
    require_owner(db, sw, scope, owner);
    auto p = load_property(db, sw, scope, owner, key);
    if (!p || (smartnic && (p->prop_type & static_cast<uint32_t>(NO_SYNC_PROP_TYPE)))) return HYP_NOT_FOUND;
    hand_out(data, dataLen, p->value);
    return HYP_OK;
}

HYP_ReturnStatus set(const char *switchId, Scope scope, const std::string &owner, const char *name, void *data,
                     int dataLen, hyp_uint32 propType) {
    std::string sw = switch_id_arg(switchId);
    PropertyRecord p{sw, static_cast<uint8_t>(scope), owner, name_arg(name), propType, value_arg(data, dataLen)};
    sqlite3 *db = database_for_writing();
    Transaction t(db);
    require_owner(db, sw, scope, owner);
    write_property(db, p);
    t.commit();
    return HYP_OK;
}

HYP_ReturnStatus clear(const char *switchId, Scope scope, const std::string &owner, const char *name) {
    std::string sw = switch_id_arg(switchId);
    std::string key = name_arg(name);
    sqlite3 *db = database_for_writing();
    Transaction t(db);
    require_owner(db, sw, scope, owner);
    if (!erase_property(db, sw, scope, owner, key)) return HYP_NOT_FOUND;
    t.commit();
    retire_item(sw, scope, owner, key);
    return HYP_OK;
}

HYP_ReturnStatus lookup(const char *switchId, Scope scope, const char *name, DVSDataItem *item) {
    std::string sw = switch_id_arg(switchId);
    std::string key = name_arg(name);
    if (!item) fail(HYP_BAD_PARAM);
    sqlite3 *db = database();
    require_switch(db, sw);
    auto p = load_property(db, sw, scope, "", key);
    if (!p) return HYP_NOT_FOUND;
    put_out(item, item_handle(ItemEntry{sw, scope, "", key, p->prop_type, std::move(p->value)}));
    return HYP_OK;
}

// A property list: the owner's properties of the type set, all of them or
// only the vendors' (outside the system's own namespace), in a new container.
HYP_ReturnStatus list(const char *switchId, Scope scope, const char *portId, DVSDataHandle *out, hyp_uint32 mask,
                      bool vendors_only) {
    std::string sw = switch_id_arg(switchId);
    std::string owner = scope == Scope::Port ? port_id_arg(portId) : std::string();
    if (!out) fail(HYP_BAD_PARAM);
    sqlite3 *db = database();
    require_owner(db, sw, scope, owner);
    std::vector<PropertyRecord> selected;
    for (PropertyRecord &p : load_properties(db, sw, scope, owner)) {
        bool vendors = p.name.compare(0, std::strlen(kOwnNamespace), kOwnNamespace) != 0;
        if (prop_type_matches(p.prop_type, mask) && (vendors || !vendors_only)) selected.push_back(std::move(p));
    }
    put_out(out, container_of(selected));
    return HYP_OK;
}

}  // namespace

std::vector<PropertyRecord> load_properties(sqlite3 *db, const std::string &switch_id, Scope scope,
                                            const std::string &owner) {
    Statement q(db,
                "SELECT name, prop_type, value FROM properties WHERE switch_id = ? AND scope = ? AND owner = ? "
                "ORDER BY name");
    q.bind(1, switch_id).bind(2, int64_t{static_cast<int>(scope)}).bind(3, owner);
    std::vector<PropertyRecord> found;
    while (q.step())
        found.push_back(PropertyRecord{switch_id, static_cast<uint8_t>(scope), owner, q.text(0),
                                       static_cast<uint32_t>(q.integer(1)), q.blob(2)});
    return found;
}

bool property_exists(sqlite3 *db, const std::string &switch_id, Scope scope, const std::string &owner,
                     const std::string &name) {
    Statement q(db, "SELECT 1 FROM properties WHERE switch_id = ? AND scope = ? AND owner = ? AND name = ?");
    q.bind(1, switch_id).bind(2, int64_t{static_cast<int>(scope)}).bind(3, owner).bind(4, name);
    return q.step();
}

void write_property(sqlite3 *db, const PropertyRecord &p) {
    Statement(db, "INSERT OR REPLACE INTO properties(switch_id, scope, owner, name, prop_type, value) "
                  "VALUES(?, ?, ?, ?, ?, ?)")
        .bind(1, p.switch_id)
        .bind(2, int64_t{p.scope})
        .bind(3, p.owner)
        .bind(4, p.name)
        .bind(5, int64_t{p.prop_type})
        .bind(6, p.value.data(), p.value.size())
        .run();
    mirror(db, p, false);
}

bool erase_property(sqlite3 *db, const std::string &switch_id, Scope scope, const std::string &owner,
                    const std::string &name) {
    auto p = load_property(db, switch_id, scope, owner, name);
    if (!p) return false;
    Statement(db, "DELETE FROM properties WHERE switch_id = ? AND scope = ? AND owner = ? AND name = ?")
        .bind(1, switch_id)
        .bind(2, int64_t{static_cast<int>(scope)})
        .bind(3, owner)
        .bind(4, name)
        .run();
    mirror(db, *p, true);
    return true;
}

}  // namespace fab

using namespace fab;

extern "C" {

HYP_ReturnStatus store_DVSHYP_PortDataGet(char const *switchId, char const *portId, char const *name, void **data,
                                          int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Port, port_id_arg(portId), name, data, dataLen, false); });
}

HYP_ReturnStatus store_DVSHYP_SmartNICPortDataGet(char const *switchId, char const *portId, char const *name,
                                                  void **data, int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Port, port_id_arg(portId), name, data, dataLen, true); });
}

HYP_ReturnStatus store_DVSHYP_PortDataSet(char const *switchId, char const *portId, char const *name, void *data,
                                          int dataLen, hyp_uint32 propType) noexcept {
    return guarded([&] { return set(switchId, Scope::Port, port_id_arg(portId), name, data, dataLen, propType); });
}

HYP_ReturnStatus store_DVSHYP_PortDataClear(char const *switchId, char const *portId, char const *name) noexcept {
    return guarded([&] { return clear(switchId, Scope::Port, port_id_arg(portId), name); });
}

HYP_ReturnStatus store_DVSHYP_UplinkDataGet(char const *switchId, char const *name, hyp_uint32 uplink, void **data,
                                            int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Uplink, std::to_string(uplink), name, data, dataLen, false); });
}

HYP_ReturnStatus store_DVSHYP_UplinkDataSet(char const *switchId, char const *name, hyp_uint32 uplink, void *data,
                                            int dataLen, hyp_uint32 propType) noexcept {
    return guarded([&] { return set(switchId, Scope::Uplink, std::to_string(uplink), name, data, dataLen, propType); });
}

HYP_ReturnStatus store_DVSHYP_HostPropGet(char const *switchId, char const *name, void **data, int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Host, "", name, data, dataLen, false); });
}

HYP_ReturnStatus store_DVSHYP_SmartNICHostPropGet(char const *switchId, char const *name, void **data,
                                                  int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Host, "", name, data, dataLen, true); });
}

HYP_ReturnStatus store_DVSHYP_HostPropSet(char const *switchId, char const *name, void *data, int dataLen,
                                          hyp_uint32 propType) noexcept {
    return guarded([&] { return set(switchId, Scope::Host, "", name, data, dataLen, propType); });
}

HYP_ReturnStatus store_DVSHYP_HostPropClear(char const *switchId, char const *name) noexcept {
    return guarded([&] { return clear(switchId, Scope::Host, "", name); });
}

HYP_ReturnStatus store_DVSHYP_GlobalPropGet(char const *switchId, char const *name, void **data,
                                            int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Global, "", name, data, dataLen, false); });
}

HYP_ReturnStatus store_DVSHYP_SmartNICGlobalPropGet(char const *switchId, char const *name, void **data,
                                                    int *dataLen) noexcept {
    return guarded([&] { return get(switchId, Scope::Global, "", name, data, dataLen, true); });
}

HYP_ReturnStatus store_DVSHYP_GlobalPropSet(char const *switchId, char const *name, void *data, int dataLen,
                                            hyp_uint32 propType) noexcept {
    return guarded([&] { return set(switchId, Scope::Global, "", name, data, dataLen, propType); });
}

HYP_ReturnStatus store_DVSHYP_GlobalPropClear(char const *switchId, char const *name) noexcept {
    return guarded([&] { return clear(switchId, Scope::Global, "", name); });
}

HYP_ReturnStatus store_DVSState_HostPropLookup(char const *switchId, char const *name, DVSDataItem *item) noexcept {
    return guarded([&] { return lookup(switchId, Scope::Host, name, item); });
}

HYP_ReturnStatus store_DVSState_GlobalPropLookup(char const *switchId, char const *name, DVSDataItem *item) noexcept {
    return guarded([&] { return lookup(switchId, Scope::Global, name, item); });
}

HYP_ReturnStatus store_DVSHYP_VendorGlobalPropList(char const *switchId, DVSDataHandle *list,
                                                   hyp_uint32 propType) noexcept {
    return guarded([&] { return fab::list(switchId, Scope::Global, nullptr, list, propType, true); });
}

HYP_ReturnStatus store_DVSHYP_VendorHostPropList(char const *switchId, DVSDataHandle *list,
                                                 hyp_uint32 propType) noexcept {
    return guarded([&] { return fab::list(switchId, Scope::Host, nullptr, list, propType, true); });
}

HYP_ReturnStatus store_DVSHYP_ExtraConfigPropList(char const *switchId, DVSDataHandle *list,
                                                  hyp_uint32 propType) noexcept {
    return guarded([&] { return fab::list(switchId, Scope::Global, nullptr, list, propType, false); });
}

HYP_ReturnStatus store_DVSHYP_ExtraConfigPortPropList(char const *switchId, char const *portId, DVSDataHandle *list,
                                                      hyp_uint32 propType) noexcept {
    return guarded([&] { return fab::list(switchId, Scope::Port, portId, list, propType, false); });
}

HYP_ReturnStatus store_DVSHYP_VendorPortPropList(char const *switchId, char const *portId, DVSDataHandle *list,
                                                 hyp_uint32 propType) noexcept {
    return guarded([&] { return fab::list(switchId, Scope::Port, portId, list, propType, true); });
}

}  // extern "C"
