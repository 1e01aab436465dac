// Snapshots for the iteration functions: the handles or items to walk, taken
// before the walk so that callbacks run with no statement of ours open.

#include <cstdlib>
#include <cstring>

#include "guarded.hpp"
#include "properties.hpp"
#include "store_api.h"
#include "store_common.hpp"

using namespace fab;

namespace {

fab_snapshot to_snapshot(const std::vector<void *> &entries) {
    fab_snapshot snapshot{nullptr, 0};
    if (entries.empty()) return snapshot;
    snapshot.entries = static_cast<void **>(std::malloc(entries.size() * sizeof(void *)));
    if (!snapshot.entries) return snapshot;  // nothing to walk rather than a failure nobody sees
    std::memcpy(snapshot.entries, entries.data(), entries.size() * sizeof(void *));
    snapshot.count = entries.size();
    return snapshot;
}

// Any failure (unknown handle, unusable store) walks nothing: a caller that
// must tell an empty store from an unusable one asks DVSLoadConfig first.
template <class Collect>
fab_snapshot snapshot_of(Collect collect) noexcept {
    try {
        StoreCall call;
        return to_snapshot(collect());
    } catch (...) {
        return fab_snapshot{nullptr, 0};
    }
}

std::vector<void *> items_of(const std::string &switch_id, Scope scope, const std::string &owner) {
    std::vector<void *> items;
    for (PropertyRecord &p : load_properties(database(), switch_id, scope, owner))
        items.push_back(item_handle(ItemEntry{switch_id, scope, owner, p.name, p.prop_type, std::move(p.value)}));
    return items;
}

std::vector<void *> switch_props(DVSwitchHandle sw, Scope scope) {
    const SwitchEntry *entry = find_switch(sw);
    if (!entry) return {};
    std::string id = entry->id;  // issuing item handles may move entries
    return items_of(id, scope, "");
}

}  // namespace

extern "C" {

fab_snapshot store_switch_snapshot(void) noexcept {
    return snapshot_of([] {
        std::vector<void *> handles;
        Statement q(database(), "SELECT id FROM switches ORDER BY id");
        while (q.step()) handles.push_back(switch_handle(q.text(0)));
        return handles;
    });
}

fab_snapshot store_port_snapshot(DVSwitchHandle sw) noexcept {
    return snapshot_of([&] {
        std::vector<void *> handles;
        const SwitchEntry *entry = find_switch(sw);
        if (!entry) return handles;
        std::string id = entry->id;  // issuing port handles may move entries
        Statement q(database(), "SELECT port_id FROM ports WHERE switch_id = ? ORDER BY port_id");
        q.bind(1, id);
        while (q.step()) handles.push_back(port_handle(id, q.text(0)));
        return handles;
    });
}

fab_snapshot store_host_prop_snapshot(DVSwitchHandle sw) noexcept {
    return snapshot_of([&] { return switch_props(sw, Scope::Host); });
}

fab_snapshot store_global_prop_snapshot(DVSwitchHandle sw) noexcept {
    return snapshot_of([&] { return switch_props(sw, Scope::Global); });
}

fab_snapshot store_port_data_snapshot(DVSPortHandle port) noexcept {
    return snapshot_of([&] {
        const PortEntry *entry = find_port(port);
        if (!entry) return std::vector<void *>{};
        PortEntry copy = *entry;
        return items_of(copy.switch_id, Scope::Port, copy.port_id);
    });
}

void store_snapshot_release(fab_snapshot *snapshot) noexcept {
    std::free(snapshot->entries);
    snapshot->entries = nullptr;
    snapshot->count = 0;
}

}  // extern "C"
