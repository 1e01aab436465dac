// Switch operations: add, remove, association, version and port limit, port
// lists, commands, lookups by alias and the switch handle's getters.

#include <cstring>

#include "caller_output.hpp"
#include "guarded.hpp"
#include "store_api.h"
#include "store_common.hpp"

using namespace fab;

namespace {

constexpr size_t kClassNameMax = 127;  // HYP_FAB_CLASS_NAME_MAX_LEN with its zero

HYP_ReturnStatus update_switch(const char *switch_id, const char *sql, int64_t value) {
    return guarded([&] {
        std::string id = switch_id_arg(switch_id);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        require_switch(db, id);
        Statement(db, sql).bind(1, value).bind(2, id).run();
        t.commit();
        return HYP_OK;
    });
}

HYP_ReturnStatus set_association(const char *switch_id, bool associated) {
    return guarded([&] {
        std::string id = switch_id_arg(switch_id);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        if (require_switch(db, id).associated == associated) return associated ? HYP_IS_CONNECTED : HYP_IS_DISCONNECTED;
        Statement(db, "UPDATE switches SET associated = ? WHERE id = ?").bind(1, associated ? 1 : 0).bind(2, id).run();
        t.commit();
        return HYP_OK;
    });
}

// The switch an alias names: its alias, else its id.  AllTypes also finds
// switches that are not associated with a host.
std::optional<SwitchRecord> switch_by_alias(sqlite3 *db, const std::string &alias, bool any_association) {
    Statement q(db, "SELECT id FROM switches WHERE alias = ?1 UNION ALL SELECT id FROM switches WHERE id = ?1");
    q.bind(1, alias);
    while (q.step()) {
        auto s = load_switch(db, q.text(0));
        if (s && (any_association || s->associated)) return s;
    }
    return std::nullopt;
}

std::string display_name(const SwitchRecord &s) { return s.alias.empty() ? s.id : s.alias; }

// The switch a handle names as the store has it now.  A switch removed, by
// this process or another, takes its handle (and its ports' and items') with it.
std::optional<SwitchRecord> live_switch(DVSwitchHandle sw) {
    const SwitchEntry *entry = find_switch(sw);
    if (!entry) return std::nullopt;
    std::string id = entry->id;
    auto s = load_switch(database(), id);
    if (!s) retire_switch(id);
    return s;
}

// Text getters return the caller's own copy, valid until the same thread's
// next text call on the same handle.
template <class Pick>
const char *switch_text(DVSwitchHandle sw, Pick pick) {
    return guarded_value<const char *>(nullptr, [&]() -> const char * {
        auto s = live_switch(sw);
        return s ? give_text(sw, pick(*s)) : nullptr;
    });
}

template <class Result, class Pick>
Result switch_number(DVSwitchHandle sw, Pick pick) {
    return guarded_value<Result>(0, [&]() -> Result {
        auto s = live_switch(sw);
        return s ? pick(*s) : 0;
    });
}

}  // namespace

extern "C" {

HYP_ReturnStatus store_DVSHYP_SwitchAdd(char const *switchId, char const *className, hyp_uint32 maxPorts,
                                        FabVersion version) noexcept {
    return guarded([&] {
        std::string id = switch_id_arg(switchId);
        if (!className) fail(HYP_BAD_PARAM);
        if (std::strlen(className) > kClassNameMax) fail(HYP_NAME_TOO_LONG);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        if (load_switch(db, id)) return HYP_EXISTS;
        Statement(db, "INSERT INTO switches(id, class_name, portset, version, max_ports) VALUES(?, ?, ?, ?, ?)")
            .bind(1, id)
            .bind(2, className)
            .bind(3, free_portset_name(db))
            .bind(4, int64_t{version})
            .bind(5, int64_t{maxPorts})
            .run();
        t.commit();
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_SwitchRemove(char const *switchId) noexcept {
    return guarded([&] {
        std::string id = switch_id_arg(switchId);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        require_switch(db, id);
        Statement(db, "DELETE FROM switches WHERE id = ?").bind(1, id).run();  // ports and properties cascade
        t.commit();
        retire_switch(id);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_SwitchAssociate(char const *switchId) noexcept { return set_association(switchId, true); }

HYP_ReturnStatus store_DVSHYP_SwitchDissociate(char const *switchId) noexcept {
    return set_association(switchId, false);
}

HYP_ReturnStatus store_DVSHYP_SwitchSetVersion(char const *switchId, FabVersion version) noexcept {
    return update_switch(switchId, "UPDATE switches SET version = ? WHERE id = ?", version);
}

HYP_ReturnStatus store_DVSHYP_SwitchSetMaxPorts(char const *switchId, hyp_uint32 maxPorts) noexcept {
    return guarded([&] {
        std::string id = switch_id_arg(switchId);
        sqlite3 *db = database_for_writing();
        Transaction t(db);
        require_switch(db, id);
        if (static_cast<int64_t>(count_ports(db, id)) > int64_t{maxPorts}) return HYP_LIMIT_EXCEEDED;
        Statement(db, "UPDATE switches SET max_ports = ? WHERE id = ?").bind(1, int64_t{maxPorts}).bind(2, id).run();
        t.commit();
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_SwitchPortList(char const *switchId, DVPortList **ports, DVSPortType type) noexcept {
    // Callers pass any int in the enum's place; read as an enum, a value
    // outside its enumerators' range would be undefined in C++.
    int kind;
    std::memcpy(&kind, &type, sizeof kind);
    return guarded([&] {
        std::string id = switch_id_arg(switchId);
        if (!ports || kind < DVSPORT_TYPE_ACTIVE || kind > DVSPORT_TYPE_LOCALCACHE) fail(HYP_BAD_PARAM);
        sqlite3 *db = database();
        require_switch(db, id);
        std::vector<DVPortData> found;
        Statement q(db, "SELECT port_id, connect_id FROM ports WHERE switch_id = ? AND type = ? ORDER BY port_id");
        q.bind(1, id).bind(2, int64_t{kind});
        while (q.step()) {
            DVPortData entry{};
            std::string port_id = q.text(0);
            std::memcpy(entry.dvPortId, port_id.data(), std::min(port_id.size(), sizeof entry.dvPortId - 1));
            entry.connectId = static_cast<hyp_uint32>(q.integer(1));
            found.push_back(entry);
        }
        // The record declares one element; the others follow it back to back.
        size_t size = offsetof(DVPortList, dvPort) + std::max<size_t>(found.size(), 1) * sizeof(DVPortData);
        auto *list = static_cast<DVPortList *>(new_block(size));
        list->nports = static_cast<int>(found.size());
        list->type = static_cast<DVSPortType>(kind);
        if (!found.empty()) std::memcpy(list->dvPort, found.data(), found.size() * sizeof(DVPortData));
        put_out(ports, list);
        return HYP_OK;
    });
}

// Commands a switch answers: "echo" returns its input, "portCount" the number
// of ports as text, "status" "associated" or "dissociated".
HYP_ReturnStatus store_DVSHYP_CmdExec(char const *switchId, char const *cmd, void *in, int inLen, void **out,
                                      int *outLen) noexcept {
    return guarded([&] {
        std::string id = switch_id_arg(switchId);
        if (!cmd || !out || !outLen) fail(HYP_BAD_PARAM);
        Bytes input = value_arg(in, inLen);
        sqlite3 *db = database();
        SwitchRecord s = require_switch(db, id);
        auto as_text = [](const std::string &text) { return Bytes(text.c_str(), text.c_str() + text.size() + 1); };
        Bytes result;
        if (std::strcmp(cmd, "echo") == 0) result = input;
        else if (std::strcmp(cmd, "portCount") == 0) result = as_text(std::to_string(count_ports(db, id)));
        else if (std::strcmp(cmd, "status") == 0) result = as_text(s.associated ? "associated" : "dissociated");
        else return HYP_NOT_SUPPORTED;
        hand_out(out, outLen, result);
        return HYP_OK;
    });
}

DVSwitchHandle store_DVSState_SwitchFindByAlias(char const *alias) noexcept {
    return guarded_value<DVSwitchHandle>(nullptr, [&]() -> DVSwitchHandle {
        if (!alias || !*alias) return nullptr;
        auto s = switch_by_alias(database(), alias, true);
        return s ? switch_handle(s->id) : nullptr;
    });
}

char const *store_DVS_SwitchId(DVSwitchHandle sw) noexcept {
    return switch_text(sw, [](const SwitchRecord &s) { return s.id; });
}

char const *store_DVS_SwitchName(DVSwitchHandle sw) noexcept { return switch_text(sw, display_name); }

char const *store_DVS_ClassName(DVSwitchHandle sw) noexcept {
    return switch_text(sw, [](const SwitchRecord &s) { return s.class_name; });
}

int store_DVS_GetMaxPorts(DVSwitchHandle sw) noexcept {
    return switch_number<int>(sw, [](const SwitchRecord &s) { return static_cast<int>(s.max_ports); });
}

FabVersion store_DVS_Version(DVSwitchHandle sw) noexcept {
    return switch_number<FabVersion>(sw, [](const SwitchRecord &s) { return s.version; });
}

HYP_ReturnStatus store_DVSPortsetNameToAlias(char const *portsetName, char alias[PORTSET_NAME_MAX]) noexcept {
    return guarded([&] {
        if (!portsetName || !alias) fail(HYP_BAD_PARAM);
        sqlite3 *db = database();
        Statement q(db, "SELECT id FROM switches WHERE portset = ?");
        q.bind(1, portsetName);
        if (!q.step()) return HYP_NOT_FOUND;
        copy_to_buffer(alias, PORTSET_NAME_MAX, display_name(require_switch(db, q.text(0))));
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSAliasToPortsetName(char const *alias, char portsetName[PORTSET_NAME_MAX]) noexcept {
    return guarded([&] {
        if (!alias || !portsetName) fail(HYP_BAD_PARAM);
        auto s = switch_by_alias(database(), alias, true);
        if (!s) return HYP_NOT_FOUND;
        copy_to_buffer(portsetName, PORTSET_NAME_MAX, s->portset);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSAliasToSwitchId(char const *alias, char switchId[HYP_FAB_ID_MAX_LEN]) noexcept {
    return guarded([&] {
        if (!alias || !switchId) fail(HYP_BAD_PARAM);
        auto s = switch_by_alias(database(), alias, false);
        if (!s) return HYP_NOT_FOUND;
        copy_to_buffer(switchId, HYP_FAB_ID_MAX_LEN, s->id);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSAliasToSwitchIdAllTypes(char const *alias, char switchId[HYP_FAB_ID_MAX_LEN]) noexcept {
    return guarded([&] {
        if (!alias || !switchId) fail(HYP_BAD_PARAM);
        auto s = switch_by_alias(database(), alias, true);
        if (!s) return HYP_NOT_FOUND;
        copy_to_buffer(switchId, HYP_FAB_ID_MAX_LEN, s->id);
        return HYP_OK;
    });
}

}  // extern "C"
