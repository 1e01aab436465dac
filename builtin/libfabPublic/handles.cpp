// The registries of issued handles, data blocks and containers.

#include "handles.hpp"

#include "status.hpp"

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <variant>

namespace fab {
namespace {

using Entry = std::variant<SwitchEntry, PortEntry, ItemEntry>;

struct Registry {
    // Tokens start far from small integers and step by 16, so that they look
    // like (and are printed as) ordinary aligned addresses.
    uintptr_t next_token = 0x00000fab00000000u;
    std::unordered_map<uintptr_t, Entry> entries;
    std::map<std::string, uintptr_t> by_key;  // ordered: a prefix names a switch or port with its dependants
    std::unordered_set<void *> blocks;
    std::unordered_set<void *> containers;
};

Registry &registry() {
    static Registry instance;
    return instance;
}

// Keys separate their parts with '\0', which no C string part contains, so
// that the key of a switch is a prefix of exactly its ports' and items' keys.
std::string key(char kind, std::initializer_list<std::string_view> parts) {
    std::string k(1, kind);
    for (std::string_view part : parts) {
        k += '\0';
        k += part;
    }
    return k;
}

std::string item_key(const std::string &switch_id, Scope scope, const std::string &owner, const std::string &name) {
    return key('I', {switch_id, std::to_string(static_cast<int>(scope)), owner, name});
}

void *issue(std::string k, Entry entry) {
    Registry &r = registry();
    auto found = r.by_key.find(k);
    if (found != r.by_key.end()) {
        r.entries.at(found->second) = std::move(entry);
        return reinterpret_cast<void *>(found->second);
    }
    uintptr_t token = r.next_token += 16;
    r.entries.emplace(token, std::move(entry));
    r.by_key.emplace(std::move(k), token);
    return reinterpret_cast<void *>(token);
}

template <class T>
T *find(void *handle) {
    Registry &r = registry();
    auto found = r.entries.find(reinterpret_cast<uintptr_t>(handle));
    return found == r.entries.end() ? nullptr : std::get_if<T>(&found->second);
}

void retire_prefix(const std::string &prefix, bool whole_key_too) {
    Registry &r = registry();
    auto it = r.by_key.lower_bound(prefix);
    while (it != r.by_key.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
        if (it->first.size() == prefix.size() && !whole_key_too) {
            ++it;
            continue;
        }
        r.entries.erase(it->second);
        it = r.by_key.erase(it);
    }
}

}  // namespace

void *switch_handle(const std::string &switch_id) {
    std::string k = key('S', {switch_id});
    if (auto found = registry().by_key.find(k); found != registry().by_key.end())
        return reinterpret_cast<void *>(found->second);
    return issue(std::move(k), SwitchEntry{switch_id, {}});
}

void *port_handle(const std::string &switch_id, const std::string &port_id) {
    std::string k = key('P', {switch_id, port_id});
    if (auto found = registry().by_key.find(k); found != registry().by_key.end())
        return reinterpret_cast<void *>(found->second);
    return issue(std::move(k), PortEntry{switch_id, port_id, {}});
}

void *item_handle(const ItemEntry &item) {
    return issue(item_key(item.switch_id, item.scope, item.owner, item.name), item);
}

SwitchEntry *find_switch(void *handle) { return find<SwitchEntry>(handle); }
PortEntry *find_port(void *handle) { return find<PortEntry>(handle); }
ItemEntry *find_item(void *handle) { return find<ItemEntry>(handle); }

void retire_switch(const std::string &switch_id) {
    retire_prefix(key('S', {switch_id}), true);
    retire_prefix(key('P', {switch_id}) + '\0', true);
    retire_prefix(key('I', {switch_id}) + '\0', true);
}

void retire_port(const std::string &switch_id, const std::string &port_id) {
    retire_prefix(key('P', {switch_id, port_id}), true);
    retire_prefix(key('I', {switch_id, std::to_string(static_cast<int>(Scope::Port)), port_id}) + '\0', true);
}

void retire_item(const std::string &switch_id, Scope scope, const std::string &owner, const std::string &name) {
    retire_prefix(item_key(switch_id, scope, owner, name), true);
}

void forget_handles() {
    Registry &r = registry();
    r.entries.clear();
    r.by_key.clear();
}

void *new_block(size_t size) {
    // At least one byte, so that an empty value still comes back as a block
    // that DVSHYP_DataFree recognises.
    void *block = std::calloc(1, size ? size : 1);
    if (!block) fail(HYP_NO_MEMORY);
    try {
        registry().blocks.insert(block);
    } catch (...) {
        std::free(block);
        throw;
    }
    return block;
}

void *copy_block(const void *data, size_t size) {
    void *block = new_block(size);
    if (size) std::memcpy(block, data, size);
    return block;
}

bool release_block(void *block) {
    if (!block || registry().blocks.erase(block) == 0) return false;
    std::free(block);
    return true;
}

void register_container(void *container) { registry().containers.insert(container); }
bool is_container(void *container) { return container && registry().containers.count(container) != 0; }
void unregister_container(void *container) { registry().containers.erase(container); }

}  // namespace fab
