// The serialised block format of state, port state and data containers
// (described in FORMAT.md): a header, then tagged records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database.hpp"

namespace fab {

inline constexpr uint16_t kFormatVersion = 1;

enum class BlockKind : uint16_t { FullState = 1, PersistentState = 2, PortState = 3, DataContainer = 4 };

enum class RecordTag : uint8_t { Switch = 1, Port = 2, Property = 3, DataItem = 4 };

struct SwitchRecord {
    std::string id, alias, class_name, portset;
    uint32_t version = 0, max_ports = 0;
    bool associated = false;
};

struct PortRecord {
    std::string switch_id, port_id, alias, external_id;
    uint32_t connect_id = 0;
    int32_t type = 0;
    Bytes state;
};

struct PropertyRecord {
    std::string switch_id;
    uint8_t scope = 0;
    std::string owner, name;
    uint32_t prop_type = 0;
    Bytes value;
};

struct DataItemRecord {
    std::string name;
    uint32_t prop_type = 0;
    Bytes value;
};

struct Block {
    BlockKind kind = BlockKind::FullState;
    std::vector<SwitchRecord> switches;
    std::vector<PortRecord> ports;
    std::vector<PropertyRecord> properties;
    std::vector<DataItemRecord> items;
};

// The bytes of a block in the current format version.
Bytes serialise(const Block &block);

// Reads a block; throws StoreError: HYP_BAD_PARAM for what is not a block,
// HYP_VERSION_MISMATCH_MAJOR for another format version, HYP_CHECKSUM_MISMATCH for a
// damaged one.  Records of unknown tags are skipped.
Block deserialise(const void *data, size_t size);

// The format version a caller asked for: 0 means the current one.
void check_format_version(uint32_t requested);

}  // namespace fab
