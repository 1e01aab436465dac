// The registries of issued handles, data blocks and containers.

#include "handles.hpp"

#include "status.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <variant>

namespace fab {
namespace {

using Entry = std::variant<SwitchEntry, PortEntry, std::shared_ptr<const ItemEntry>>;

struct Registry {
    // Tokens start far from small integers and step by 16, so that they look
    // like (and are printed as) ordinary aligned addresses.
    uintptr_t next_token = 0x00000fab00000000u;
    std::unordered_map<uintptr_t, Entry> entries;
    std::map<std::string, uintptr_t> by_key;  // ordered: a switch's or port's dependants follow it
    std::unordered_set<void *> blocks;
    std::unordered_set<void *> containers;
};

Registry &registry() {
    static Registry instance;
    return instance;
}

// Keys separate their parts with '\0', which no C string part contains.  A
// key is matched whole; the dependants of a switch or port are the keys that
// begin with its parts and a separator after the last one, so that switch
// "1" and its ports never reach those of switch "10".
std::string key(char kind, std::initializer_list<std::string_view> parts) {
    std::string k(1, kind);
    for (std::string_view part : parts) {
        k += '\0';
        k += part;
    }
    return k;
}

std::string scope_part(Scope scope) { return std::to_string(static_cast<int>(scope)); }

std::string item_key(const std::string &switch_id, Scope scope, const std::string &owner, const std::string &name) {
    return key('I', {switch_id, scope_part(scope), owner, name});
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

// The handle already issued for a key, or a new one for `entry`.
void *existing_or_issue(std::string k, Entry entry) {
    Registry &r = registry();
    if (auto found = r.by_key.find(k); found != r.by_key.end()) return reinterpret_cast<void *>(found->second);
    return issue(std::move(k), std::move(entry));
}

const Entry *find_entry(void *handle) {
    Registry &r = registry();
    auto found = r.entries.find(reinterpret_cast<uintptr_t>(handle));
    return found == r.entries.end() ? nullptr : &found->second;
}

void retire_key(const std::string &k) {
    Registry &r = registry();
    if (auto found = r.by_key.find(k); found != r.by_key.end()) {
        r.entries.erase(found->second);
        r.by_key.erase(found);
    }
}

void retire_dependants(const std::string &parent_key) {
    Registry &r = registry();
    std::string prefix = parent_key + '\0';
    auto it = r.by_key.lower_bound(prefix);
    while (it != r.by_key.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
        r.entries.erase(it->second);
        it = r.by_key.erase(it);
    }
}

// What this thread was given, by token and kind (tokens step by 16, so the
// kind fits in the low bits).  Entries of retired handles are dropped now
// and then, when the map has doubled since the last sweep.
struct GivenToThisThread {
    std::unordered_map<uintptr_t, std::shared_ptr<const void>> kept;
    size_t sweep_at = 64;
};

thread_local GivenToThisThread given_here;

}  // namespace

void *switch_handle(const std::string &switch_id) {
    return existing_or_issue(key('S', {switch_id}), SwitchEntry{switch_id});
}

void *port_handle(const std::string &switch_id, const std::string &port_id) {
    return existing_or_issue(key('P', {switch_id, port_id}), PortEntry{switch_id, port_id});
}

void *item_handle(ItemEntry item) {
    std::string k = item_key(item.switch_id, item.scope, item.owner, item.name);
    return issue(std::move(k), std::make_shared<const ItemEntry>(std::move(item)));
}

const SwitchEntry *find_switch(void *handle) {
    const Entry *entry = find_entry(handle);
    return entry ? std::get_if<SwitchEntry>(entry) : nullptr;
}

const PortEntry *find_port(void *handle) {
    const Entry *entry = find_entry(handle);
    return entry ? std::get_if<PortEntry>(entry) : nullptr;
}

std::shared_ptr<const ItemEntry> find_item(void *handle) {
    const Entry *entry = find_entry(handle);
    auto *item = entry ? std::get_if<std::shared_ptr<const ItemEntry>>(entry) : nullptr;
    return item ? *item : nullptr;
}

void retire_switch(std::string switch_id) {
    retire_key(key('S', {switch_id}));
    retire_dependants(key('P', {switch_id}));
    retire_dependants(key('I', {switch_id}));
}

void retire_port(std::string switch_id, std::string port_id) {
    retire_key(key('P', {switch_id, port_id}));
    retire_dependants(key('I', {switch_id, scope_part(Scope::Port), port_id}));
}

void retire_item(std::string switch_id, Scope scope, std::string owner, std::string name) {
    retire_key(item_key(switch_id, scope, owner, name));
}

void forget_handles() {
    Registry &r = registry();
    r.entries.clear();
    r.by_key.clear();
}

void give(void *handle, Given what, std::shared_ptr<const void> keep) {
    GivenToThisThread &g = given_here;
    g.kept[reinterpret_cast<uintptr_t>(handle) + static_cast<uintptr_t>(what)] = std::move(keep);
    if (g.kept.size() < g.sweep_at) return;
    const Registry &r = registry();
    std::erase_if(g.kept, [&](const auto &kept) { return r.entries.count(kept.first & ~uintptr_t{15}) == 0; });
    g.sweep_at = std::max<size_t>(64, 2 * g.kept.size());
}

const char *give_text(void *handle, std::string text) {
    auto kept = std::make_shared<const std::string>(std::move(text));
    const char *result = kept->c_str();
    give(handle, Given::Text, std::move(kept));
    return result;
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
