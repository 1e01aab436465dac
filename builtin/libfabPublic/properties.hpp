// Reading and writing property rows (port data, uplink data, host and global
// properties), with the few names whose value is also a column of its switch
// or port.
#pragma once

#include <string>
#include <vector>

#include "store_common.hpp"

namespace fab {

// The properties of one owner, ordered by name.
std::vector<PropertyRecord> load_properties(sqlite3 *db, const std::string &switch_id, Scope scope,
                                            const std::string &owner);

// Is there a property of that name?
bool property_exists(sqlite3 *db, const std::string &switch_id, Scope scope, const std::string &owner,
                     const std::string &name);

// Inserts or replaces a property (inside the caller's transaction) and keeps
// the mirrored columns in step: the switch alias, and a port's alias,
// connection number, type and external identifier.
void write_property(sqlite3 *db, const PropertyRecord &property);

// Removes a property; false when there was none.
bool erase_property(sqlite3 *db, const std::string &switch_id, Scope scope, const std::string &owner,
                    const std::string &name);

// A property list's filter: does an item of prop_type belong to the set mask?
inline bool prop_type_matches(uint32_t prop_type, uint32_t mask) { return (prop_type & mask) != 0; }

}  // namespace fab
