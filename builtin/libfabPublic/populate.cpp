// fabemu_populate: a deterministic, realistic store for tests and demos.

#include <cstdio>

#include "fabemu.h"
#include "guarded.hpp"
#include "properties.hpp"
#include "store_api.h"
#include "store_common.hpp"

namespace fab {
namespace {

// splitmix64: a small generator whose output depends only on the seed, so the
// same arguments always give the same store.
class Generator {
public:
    explicit Generator(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }

private:
    uint64_t state_;
};

// Switch ids look like the 16 bytes of a UUID written as two groups of hex
// pairs, as the management plane names switches.
std::string switch_uuid(Generator &g) {
    std::string id;
    for (int i = 0; i < 16; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(g.below(256)));
        id += pair;
        id += i == 7 ? '-' : ' ';
    }
    id.pop_back();
    return id;
}

Bytes text_value(const std::string &text) { return Bytes(text.c_str(), text.c_str() + text.size() + 1); }

Bytes u32_value(uint32_t v) {
    return Bytes{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v >> 16),
                 static_cast<unsigned char>(v >> 24)};
}

constexpr uint32_t kConfig = CONFIG_PROP_TYPE;
constexpr uint32_t kRuntimeVolatile = RUNTIME_PROP_TYPE | VOLATILE_PROP_TYPE;
constexpr uint32_t kPolicy = POLICY_PROP_TYPE;

void populate_switch(sqlite3 *db, Generator &g, unsigned index, unsigned ports) {
    static const char *const kClasses[] = {"quorix.ethernet", "quorix.overlay", "quorix.edge"};
    static const uint32_t kVersions[] = {0x06050000, 0x07000000, 0x08000300};
    std::string id = switch_uuid(g);
    std::string alias = "dvs-" + std::to_string(index);
    uint32_t uplinks = 2 + g.below(3);

    Statement(db, "INSERT INTO switches(id, class_name, portset, version, max_ports, associated) "
                  "VALUES(?, ?, ?, ?, ?, ?)")
        .bind(1, id)
        .bind(2, kClasses[g.below(3)])
        .bind(3, "portset-" + std::to_string(index))
        .bind(4, int64_t{kVersions[g.below(3)]})
        .bind(5, int64_t{ports} + 64)
        .bind(6, int64_t{index % 5 != 4})  // every fifth switch is not associated with this host
        .run();

    auto prop = [&](Scope scope, const std::string &owner, const char *name, uint32_t type, Bytes value) {
        write_property(db, PropertyRecord{id, static_cast<uint8_t>(scope), owner, name, type, std::move(value)});
    };
    prop(Scope::Global, "", "com.quorix.common.alias", kConfig, text_value(alias));
    prop(Scope::Global, "", "com.quorix.common.version", kConfig, text_value("8.0." + std::to_string(g.below(4))));
    prop(Scope::Global, "", "com.quorix.common.uplinkPorts", kConfig, text_value("uplink1,uplink2"));
    prop(Scope::Global, "", "com.cisco.svs.switch.cdp", kPolicy, text_value(g.below(2) ? "listen" : "both"));
    prop(Scope::Host, "", "com.quorix.common.host.volatile.status", kRuntimeVolatile, u32_value(0));
    prop(Scope::Host, "", "com.quorix.common.host.portset", kConfig, text_value("portset-" + std::to_string(index)));
    prop(Scope::Host, "", "com.quorix.common.host.uplinkPorts", kConfig, text_value("uplink0,uplink1"));
    prop(Scope::Host, "", "com.acme.host.telemetry", kRuntimeVolatile | NO_SYNC_PROP_TYPE, text_value("enabled"));
    for (uint32_t u = 0; u < uplinks; ++u)
        write_property(db, PropertyRecord{id, static_cast<uint8_t>(Scope::Uplink), std::to_string(u),
                                          "com.quorix.common.port.linkstatus", kRuntimeVolatile, u32_value(g.below(2))});

    for (unsigned p = 0; p < ports; ++p) {
        if (cancel_requested()) fail(HYP_ABORTED);  // the transaction rolls back: the old store stays
        std::string port_id = std::to_string(p);
        bool zombie = g.below(16) == 0;
        Statement(db, "INSERT INTO ports(switch_id, port_id, connect_id, type, state) VALUES(?, ?, ?, ?, ?)")
            .bind(1, id)
            .bind(2, port_id)
            .bind(3, int64_t{p + 1})
            .bind(4, int64_t{DVSPORT_TYPE_ACTIVE})
            .bind(5, text_value("port-state-" + port_id).data(), port_id.size() + 12)
            .run();
        uint32_t vm = g.below(1000);
        prop(Scope::Port, port_id, "com.quorix.common.port.alias", kConfig,
             text_value("vm-" + std::to_string(vm) + "-eth" + std::to_string(p % 2)));
        prop(Scope::Port, port_id, "com.quorix.common.port.vnicConnectee", kConfig,
             text_value("vnic-" + std::to_string(index) + "-" + port_id));
        prop(Scope::Port, port_id, "com.quorix.common.port.connectid", kConfig,
             u32_value(0x10000000u + g.below(0x10000000u)));
        prop(Scope::Port, port_id, "com.quorix.common.port.volatile.status", kRuntimeVolatile,
             u32_value(HYP_FABPORT_STATUS_INUSE | (g.below(4) ? HYP_FABPORT_STATUS_LINKUP : 0)));
        prop(Scope::Port, port_id, "com.quorix.common.port.volatile.vlan", kRuntimeVolatile, u32_value(g.below(4095)));
        prop(Scope::Port, port_id, "com.quorix.common.port.portgroupid", kConfig,
             text_value("dvportgroup-" + std::to_string(10 + g.below(20))));
        prop(Scope::Port, port_id, "com.acme.port.filter", kPolicy, text_value("default-allow"));
        if (zombie)
            prop(Scope::Port, port_id, "com.quorix.common.port.volatile.type", kRuntimeVolatile,
                 u32_value(DVSPORT_TYPE_ZOMBIE));
    }
}

}  // namespace
}  // namespace fab

using namespace fab;

extern "C" int store_populate(unsigned int switches, unsigned int ports_per_switch, unsigned int seed) noexcept {
    return guarded([&] {
        if (switches > FABEMU_MAX_SWITCHES || ports_per_switch > FABEMU_MAX_PORTS_PER_SWITCH ||
            uint64_t{switches} * ports_per_switch > FABEMU_MAX_PORTS)
            return HYP_LIMIT_EXCEEDED;
        sqlite3 *db = database_for_writing();
        Transaction t(db);  // the old store goes and the new one comes in one change
        Statement(db, "DELETE FROM switches").run();
        Generator g(seed);
        for (unsigned s = 0; s < switches; ++s) {
            if (cancel_requested()) fail(HYP_ABORTED);
            populate_switch(db, g, s, ports_per_switch);
        }
        t.commit();
        forget_handles();
        return HYP_OK;
    });
}
