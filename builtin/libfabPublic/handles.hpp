// What the library hands out by address: switch, port and item handles, data
// blocks and data containers.  A caller may pass any address back, so each
// kind is kept in a registry and checked there before it is used; an address
// the library did not issue, or issued for something since removed, is not
// found and never dereferenced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "database.hpp"

namespace fab {

// Where a property lives.  Port data belongs to a port, uplink data to an
// uplink number; host and global properties to the switch.
enum class Scope : int { Host = 0, Global = 1, Port = 2, Uplink = 3 };

struct SwitchEntry {
    std::string id;
    std::string text;  // the last name or class name returned for this handle
};

struct PortEntry {
    std::string switch_id;
    std::string port_id;
    std::string text;  // the last alias returned for this handle
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
void *switch_handle(const std::string &switch_id);
void *port_handle(const std::string &switch_id, const std::string &port_id);
void *item_handle(const ItemEntry &item);  // refreshes the value of an existing item

SwitchEntry *find_switch(void *handle);
PortEntry *find_port(void *handle);
ItemEntry *find_item(void *handle);

void retire_switch(const std::string &switch_id);  // with its ports and items
void retire_port(const std::string &switch_id, const std::string &port_id);  // with its data items
void retire_item(const std::string &switch_id, Scope scope, const std::string &owner, const std::string &name);
void forget_handles();

// Data blocks handed out through output arguments, released by DVSHYP_DataFree.
void *new_block(size_t size);  // zero-filled; HYP_NO_MEMORY when there is none
void *copy_block(const void *data, size_t size);
bool release_block(void *block);  // false when the block is not one of ours

// Data containers, made by DVSData_Alloc or a property list.
void register_container(void *container);
bool is_container(void *container);
void unregister_container(void *container);

}  // namespace fab
