// Argument checks and row reads shared by the operations.

#include "store_common.hpp"

#include <cstring>

#include "caller_output.hpp"

namespace fab {
namespace {

// Property names are free text, but bounded so that a stray pointer to a
// huge buffer is refused rather than stored.
constexpr size_t kNameMax = 1024;

std::string bounded_text(const char *text, size_t max_length) {
    if (!text) fail(HYP_BAD_PARAM);
    size_t length = strnlen(text, max_length + 1);
    if (length == 0) fail(HYP_INVALID_NAME);
    if (length > max_length) fail(HYP_NAME_TOO_LONG);
    return std::string(text, length);
}

SwitchRecord switch_from_row(const Statement &row) {
    SwitchRecord s;
    s.id = row.text(0);
    s.alias = row.is_null(1) ? std::string() : row.text(1);
    s.class_name = row.text(2);
    s.portset = row.text(3);
    s.version = static_cast<uint32_t>(row.integer(4));
    s.max_ports = static_cast<uint32_t>(row.integer(5));
    s.associated = row.integer(6) != 0;
    return s;
}

}  // namespace

// The fixed buffers keep a terminating zero: 63 and 47 bytes of text.
std::string switch_id_arg(const char *text) { return bounded_text(text, HYP_FAB_ID_MAX_LEN - 1); }
std::string port_id_arg(const char *text) { return bounded_text(text, HYP_FAB_PORT_ID_MAX_LEN - 1); }
std::string name_arg(const char *text) { return bounded_text(text, kNameMax); }

Bytes value_arg(const void *data, long long length) {
    if (length < 0 || (!data && length > 0)) fail(HYP_BAD_PARAM);
    auto *p = static_cast<const unsigned char *>(data);
    return length ? Bytes(p, p + length) : Bytes();
}

std::string text_of(const Bytes &value) {
    if (value.empty()) return {};  // no bytes, and no address to look at
    auto *p = reinterpret_cast<const char *>(value.data());
    return std::string(p, strnlen(p, value.size()));
}

std::optional<SwitchRecord> load_switch(sqlite3 *db, const std::string &switch_id) {
    Statement q(db, "SELECT id, alias, class_name, portset, version, max_ports, associated FROM switches WHERE id = ?");
    q.bind(1, switch_id);
    if (!q.step()) return std::nullopt;
    return switch_from_row(q);
}

SwitchRecord require_switch(sqlite3 *db, const std::string &switch_id) {
    auto s = load_switch(db, switch_id);
    if (!s) fail(HYP_NOT_FOUND);
    return *s;
}

std::optional<PortRecord> load_port(sqlite3 *db, const std::string &switch_id, const std::string &port_id) {
    Statement q(db,
                "SELECT alias, external_id, connect_id, type, state FROM ports WHERE switch_id = ? AND port_id = ?");
    q.bind(1, switch_id).bind(2, port_id);
    if (!q.step()) return std::nullopt;
    PortRecord p;
    p.switch_id = switch_id;
    p.port_id = port_id;
    p.alias = q.text(0);
    p.external_id = q.text(1);
    p.connect_id = static_cast<uint32_t>(q.integer(2));
    p.type = static_cast<int32_t>(q.integer(3));
    p.state = q.blob(4);
    return p;
}

PortRecord require_port(sqlite3 *db, const std::string &switch_id, const std::string &port_id) {
    auto p = load_port(db, switch_id, port_id);
    if (!p) fail(HYP_NOT_FOUND);
    return *p;
}

int count_ports(sqlite3 *db, const std::string &switch_id) {
    Statement q(db, "SELECT count(*) FROM ports WHERE switch_id = ?");
    q.bind(1, switch_id);
    q.step();
    return static_cast<int>(q.integer(0));
}

void hand_out(void **data, int *length, const Bytes &value) {
    if (!data || !length) fail(HYP_BAD_PARAM);
    if (value.size() > 0x7fffffffu) fail(HYP_LIMIT_EXCEEDED);
    put_out(data, copy_block(value.data(), value.size()));
    put_out(length, value.size());
}

std::string free_portset_name(sqlite3 *db) {
    for (int n = 0;; ++n) {
        std::string name = "portset-" + std::to_string(n);
        Statement q(db, "SELECT 1 FROM switches WHERE portset = ?");
        q.bind(1, name);
        if (!q.step()) return name;
    }
}

void copy_to_buffer(char *buffer, size_t size, const std::string &text) {
    if (!buffer) fail(HYP_BAD_PARAM);
    if (text.size() + 1 > size) fail(HYP_NAME_TOO_LONG);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

}  // namespace fab
