// What the library hands out by address: switch, port and item handles, data
// blocks and data containers.  A caller may pass any address back, so each
// kind is kept in a registry and checked there before it is used; an address
// the library did not issue, or issued for something since removed, is not
// found and never dereferenced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "database.hpp"

namespace fab {

// Where a property lives.  Port data belongs to a port, uplink data to an
// uplink number; host and global properties to the switch.
enum class Scope : int { Host = 0, Global = 1, Port = 2, Uplink = 3 };

struct SwitchEntry {
    std::string id;
};

struct PortEntry {
    std::string switch_id;
    std::string port_id;
};

struct ItemEntry {
    std::string switch_id;
    Scope scope;
    std::string owner;
    std::string name;
    uint32_t prop_type = 0;
    Bytes value;  // as read when the item was last handed out
};

// Handles are tokens, not addresses of memory: a token is never reused, so a
// stale handle can never be mistaken for a newer object at the same address.
// A handle names its switch, port or item by the whole of its key.
void *switch_handle(const std::string &switch_id);
void *port_handle(const std::string &switch_id, const std::string &port_id);
void *item_handle(ItemEntry item);  // refreshes the value of an existing item

// What a handle names, or null.  The switch and port entries are the
// registry's: use them before the next change of the registry.  An item is
// shared and never changed, so it may be kept.
const SwitchEntry *find_switch(void *handle);
const PortEntry *find_port(void *handle);
std::shared_ptr<const ItemEntry> find_item(void *handle);

// The arguments are copies: a caller may pass the fields of the very entry
// being retired.
void retire_switch(std::string switch_id);  // with its ports and items
void retire_port(std::string switch_id, std::string port_id);  // with its data items
void retire_item(std::string switch_id, Scope scope, std::string owner, std::string name);
void forget_handles();

// What a caller is given for a handle (a text, an item's name or value)
// stays alive until the same thread asks for the same thing of the same
// handle again, whatever other threads do meanwhile.
enum class Given { Text = 0, ItemName = 1, ItemValue = 2 };
const char *give_text(void *handle, std::string text);
void give(void *handle, Given what, std::shared_ptr<const void> keep);

// Data blocks handed out through output arguments, released by DVSHYP_DataFree.
void *new_block(size_t size);  // zero-filled; HYP_NO_MEMORY when there is none
void *copy_block(const void *data, size_t size);
bool release_block(void *block);  // false when the block is not one of ours

// Data containers, made by DVSData_Alloc or a property list.
void register_container(void *container);
bool is_container(void *container);
void unregister_container(void *container);

}  // namespace fab
