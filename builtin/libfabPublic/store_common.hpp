// Checks and reads shared by the store's operations: argument validation,
// the rows of a switch or port, handing a value out as a data block.
#pragma once

#include <optional>
#include <string>

#include "database.hpp"
#include "handles.hpp"
#include "serial_format.hpp"
#include "status.hpp"

namespace fab {

// Identifiers and names arrive as C strings: null is HYP_BAD_PARAM, empty
// HYP_INVALID_NAME, too long for the library's fixed buffers HYP_NAME_TOO_LONG.
std::string switch_id_arg(const char *text);
std::string port_id_arg(const char *text);
std::string name_arg(const char *text);

// A value passed as address and length: a negative length, or a null address
// with a length, is HYP_BAD_PARAM.
Bytes value_arg(const void *data, long long length);

// The text stored in a value: up to its first zero byte.
std::string text_of(const Bytes &value);

std::optional<SwitchRecord> load_switch(sqlite3 *db, const std::string &switch_id);
SwitchRecord require_switch(sqlite3 *db, const std::string &switch_id);  // HYP_NOT_FOUND
std::optional<PortRecord> load_port(sqlite3 *db, const std::string &switch_id, const std::string &port_id);
PortRecord require_port(sqlite3 *db, const std::string &switch_id, const std::string &port_id);
int count_ports(sqlite3 *db, const std::string &switch_id);

// Stores a copy of value as a data block in *data and its length in *length
// (both required: HYP_BAD_PARAM).
void hand_out(void **data, int *length, const Bytes &value);

// Fills a fixed-size text buffer of the caller's; HYP_NAME_TOO_LONG when the
// text and its terminating zero do not fit.
void copy_to_buffer(char *buffer, size_t size, const std::string &text);

// The lowest free portset name: portsets are numbered from 0 on each host.
std::string free_portset_name(sqlite3 *db);

// Empties the store (every switch with its ports and properties).
HYP_ReturnStatus reset_store();

}  // namespace fab
