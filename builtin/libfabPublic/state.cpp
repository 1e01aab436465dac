// The state lifecycle: loading, replacing and resetting the whole store, and
// moving it to and from serialised blocks.

#include "guarded.hpp"
#include "properties.hpp"
#include "store_api.h"
#include "store_common.hpp"
#include "store_path.hpp"

namespace fab {
namespace {

bool is_volatile(uint32_t prop_type) { return (prop_type & VOLATILE_PROP_TYPE) != 0; }

// Everything in the store; the persistent view leaves out what does not
// survive a restart: volatile properties and zombie ports (with their data).
Block dump(sqlite3 *db, bool persistent_only) {
    Block block;
    block.kind = persistent_only ? BlockKind::PersistentState : BlockKind::FullState;
    {
        Statement q(db, "SELECT id FROM switches ORDER BY id");
        while (q.step()) block.switches.push_back(require_switch(db, q.text(0)));
    }
    for (const SwitchRecord &s : block.switches) {
        Statement q(db, "SELECT port_id FROM ports WHERE switch_id = ? ORDER BY port_id");
        q.bind(1, s.id);
        while (q.step()) {
            PortRecord p = require_port(db, s.id, q.text(0));
            if (persistent_only && p.type == DVSPORT_TYPE_ZOMBIE) continue;
            block.ports.push_back(std::move(p));
        }
        Statement props(db, "SELECT scope, owner, name, prop_type, value FROM properties WHERE switch_id = ? "
                            "ORDER BY scope, owner, name");
        props.bind(1, s.id);
        while (props.step()) {
            PropertyRecord p{s.id, static_cast<uint8_t>(props.integer(0)), props.text(1), props.text(2),
                             static_cast<uint32_t>(props.integer(3)), props.blob(4)};
            if (persistent_only && is_volatile(p.prop_type)) continue;
            block.properties.push_back(std::move(p));
        }
    }
    if (persistent_only) {
        // Data of the zombie ports left out above goes with them.
        std::erase_if(block.properties, [&](const PropertyRecord &p) {
            if (p.scope != static_cast<uint8_t>(Scope::Port)) return false;
            for (const PortRecord &port : block.ports)
                if (port.switch_id == p.switch_id && port.port_id == p.owner) return false;
            return true;
        });
    }
    return block;
}

void delete_switch_rows(sqlite3 *db, const std::string &switch_id) {
    Statement(db, "DELETE FROM switches WHERE id = ?").bind(1, switch_id).run();
}

// Writes a block's switches with their ports and properties.  Each switch in
// the block replaces the switch of that id; the properties are written last so
// that the columns they mirror end up as the block's port and switch records
// say.  Checks that every port and property belongs to a switch of the block.
void load(sqlite3 *db, const Block &block) {
    auto in_block = [&](const std::string &switch_id) {
        for (const SwitchRecord &s : block.switches)
            if (s.id == switch_id) return true;
        return false;
    };
    for (const PortRecord &p : block.ports)
        if (!in_block(p.switch_id)) fail(HYP_BAD_PARAM);
    for (const PropertyRecord &p : block.properties)
        if (!in_block(p.switch_id)) fail(HYP_BAD_PARAM);

    for (const SwitchRecord &s : block.switches) {
        switch_id_arg(s.id.c_str());
        delete_switch_rows(db, s.id);
        // Portsets are this host's: a merged switch whose portset another
        // switch took meanwhile gets a free one.
        Statement taken(db, "SELECT 1 FROM switches WHERE portset = ?");
        taken.bind(1, s.portset);
        std::string portset = taken.step() ? free_portset_name(db) : s.portset;
        Statement q(db, "INSERT INTO switches(id, alias, class_name, portset, version, max_ports, associated) "
                        "VALUES(?, ?, ?, ?, ?, ?, ?)");
        q.bind(1, s.id);
        if (s.alias.empty()) q.bind_null(2);
        else q.bind(2, s.alias);
        q.bind(3, s.class_name).bind(4, portset).bind(5, int64_t{s.version}).bind(6, int64_t{s.max_ports});
        q.bind(7, int64_t{s.associated ? 1 : 0}).run();
    }
    for (const PortRecord &p : block.ports) {
        port_id_arg(p.port_id.c_str());
        Statement(db, "INSERT INTO ports(switch_id, port_id, alias, external_id, connect_id, type, state) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?)")
            .bind(1, p.switch_id)
            .bind(2, p.port_id)
            .bind(3, p.alias)
            .bind(4, p.external_id)
            .bind(5, int64_t{p.connect_id})
            .bind(6, int64_t{p.type})
            .bind(7, p.state.data(), p.state.size())
            .run();
    }
    for (const PropertyRecord &p : block.properties) {
        if (p.scope == static_cast<uint8_t>(Scope::Port) && !load_port(db, p.switch_id, p.owner)) fail(HYP_BAD_PARAM);
        write_property(db, p);
    }
}

HYP_ReturnStatus get_state(void **state, int *stateLen, bool persistent_only) {
    if (!state || !stateLen) fail(HYP_BAD_PARAM);
    hand_out(state, stateLen, serialise(dump(database(), persistent_only)));
    return HYP_OK;
}

// Replaces (whole) or merges the store with a state block, in one transaction.
HYP_ReturnStatus put_state(const void *data, int length, bool replace_all) {
    if (!data || length <= 0) fail(HYP_BAD_PARAM);
    Block block = deserialise(data, static_cast<size_t>(length));
    if (block.kind != BlockKind::FullState && block.kind != BlockKind::PersistentState) fail(HYP_BAD_PARAM);
    sqlite3 *db = database_for_writing();
    Transaction t(db);
    if (replace_all) Statement(db, "DELETE FROM switches").run();
    load(db, block);
    t.commit();
    forget_handles();  // switches were rewritten: their old handles name nothing now
    return HYP_OK;
}

}  // namespace

HYP_ReturnStatus reset_store() {
    sqlite3 *db = database_for_writing();
    Transaction t(db);
    Statement(db, "DELETE FROM switches").run();
    t.commit();
    forget_handles();
    return HYP_OK;
}

}  // namespace fab

using namespace fab;

extern "C" {

// Reads the whole store once: a caller that is about to walk it (walks
// report nothing) learns here whether the store can be read at all: not
// ours, not safe, corrupt, locked.  Creates nothing.
HYP_ReturnStatus store_DVSLoadConfig(void) noexcept {
    return guarded([] {
        Statement q(database(), "PRAGMA quick_check(1)");
        if (q.step() && q.text(0) != "ok") refuse(HYP_INVALID_METADATA, store_path(), "it is damaged: " + q.text(0));
        return HYP_OK;
    });
}

// With no block, the same as loading the configuration; with one, the store
// becomes exactly what the block holds.
HYP_ReturnStatus store_DVSHYP_StateInit(void *state, int stateLen) noexcept {
    return guarded([&] {
        if (!state && stateLen == 0) return store_DVSLoadConfig();
        return put_state(state, stateLen, true);
    });
}

HYP_ReturnStatus store_DVSHYP_StateCleanup(void) noexcept {
    return guarded([] {
        close_database();
        return HYP_OK;
    });
}

// Removes zombie ports and their data: what is left after a host restart.
HYP_ReturnStatus store_DVSHYP_StateSanitize(void) noexcept {
    return guarded([] {
        sqlite3 *db = database_for_writing();
        std::vector<std::pair<std::string, std::string>> zombies;
        Transaction t(db);
        Statement q(db, "SELECT switch_id, port_id FROM ports WHERE type = ?");
        q.bind(1, int64_t{DVSPORT_TYPE_ZOMBIE});
        while (q.step()) zombies.emplace_back(q.text(0), q.text(1));
        for (const auto &[sw, port] : zombies) {
            Statement(db, "DELETE FROM properties WHERE switch_id = ? AND scope = ? AND owner = ?")
                .bind(1, sw)
                .bind(2, int64_t{static_cast<int>(Scope::Port)})
                .bind(3, port)
                .run();
            Statement(db, "DELETE FROM ports WHERE switch_id = ? AND port_id = ?").bind(1, sw).bind(2, port).run();
        }
        t.commit();
        for (const auto &[sw, port] : zombies) retire_port(sw, port);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSHYP_StateGet(void **state, int *stateLen) noexcept {
    return guarded([&] { return get_state(state, stateLen, false); });
}

HYP_ReturnStatus store_DVSHYP_PersistentStateGet(void **state, int *stateLen) noexcept {
    return guarded([&] { return get_state(state, stateLen, true); });
}

HYP_ReturnStatus store_DVSState_ConfigDeserialize(void *config, int configLen) noexcept {
    return guarded([&] { return put_state(config, configLen, false); });
}

HYP_ReturnStatus store_DVSState_ConfigReset(void) noexcept {
    return guarded([] { return reset_store(); });
}

int store_reset(void) noexcept { return store_DVSState_ConfigReset(); }

void store_cancel(void) noexcept { request_cancel(); }

const char *store_file_path(void) noexcept {
    // Kept per thread until that thread's next call, as a caller reads it
    // after the store's lock is gone.
    thread_local std::string path;
    return guarded_value<const char *>(nullptr, [] {
        path = store_path();
        return path.c_str();
    });
}

}  // extern "C"
