// Writing and reading serialised blocks.  All numbers little-endian.

#include "serial_format.hpp"

#include <cstring>

#include "handles.hpp"
#include "status.hpp"

namespace fab {
namespace {

constexpr char kMagic[4] = {'F', 'A', 'B', 'S'};
constexpr size_t kHeaderSize = 20;

// CRC-32 (IEEE, reflected) of the payload; bitwise, as blocks are small.
uint32_t crc32(const unsigned char *data, size_t size) {
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

class Writer {
public:
    explicit Writer(Bytes &out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v) { put(v, 2); }
    void u32(uint32_t v) { put(v, 4); }
    void bytes(const void *data, size_t size) {
        u32(static_cast<uint32_t>(size));
        auto *p = static_cast<const unsigned char *>(data);
        out_.insert(out_.end(), p, p + size);
    }
    void text(const std::string &s) { bytes(s.data(), s.size()); }
    void blob(const Bytes &b) { bytes(b.data(), b.size()); }

    // A record: tag, body length (patched once the body is written), body.
    template <class Body>
    void record(RecordTag tag, Body &&body) {
        u8(static_cast<uint8_t>(tag));
        size_t length_at = out_.size();
        u32(0);
        body();
        uint32_t length = static_cast<uint32_t>(out_.size() - length_at - 4);
        for (int i = 0; i < 4; ++i) out_[length_at + i] = static_cast<unsigned char>(length >> (8 * i));
    }

private:
    void put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    Bytes &out_;
};

class Reader {
public:
    Reader(const unsigned char *data, size_t size) : p_(data), end_(data + size) {}
    bool at_end() const { return p_ == end_; }
    uint8_t u8() { return static_cast<uint8_t>(get(1)); }
    uint16_t u16() { return static_cast<uint16_t>(get(2)); }
    uint32_t u32() { return static_cast<uint32_t>(get(4)); }
    std::string text() {
        uint32_t n = u32();
        need(n);
        std::string s(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        if (s.find('\0') != std::string::npos) fail(HYP_BAD_PARAM);  // names are C strings
        return s;
    }
    Bytes blob() {
        uint32_t n = u32();
        need(n);
        Bytes b(p_, p_ + n);
        p_ += n;
        return b;
    }
    Reader sub(uint32_t n) {
        need(n);
        Reader r(p_, n);
        p_ += n;
        return r;
    }

private:
    void need(size_t n) const {
        if (static_cast<size_t>(end_ - p_) < n) fail(HYP_BAD_PARAM);
    }
    uint64_t get(int n) {
        need(n);
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t{p_[i]} << (8 * i);
        p_ += n;
        return v;
    }
    const unsigned char *p_;
    const unsigned char *end_;
};

void read_record(Block &block, RecordTag tag, Reader &r) {
    switch (tag) {
        case RecordTag::Switch: {
            SwitchRecord s;
            s.id = r.text();
            s.alias = r.text();
            s.class_name = r.text();
            s.portset = r.text();
            s.version = r.u32();
            s.max_ports = r.u32();
            s.associated = r.u8() != 0;
            block.switches.push_back(std::move(s));
            break;
        }
        case RecordTag::Port: {
            PortRecord p;
            p.switch_id = r.text();
            p.port_id = r.text();
            p.alias = r.text();
            p.external_id = r.text();
            p.connect_id = r.u32();
            p.type = static_cast<int32_t>(r.u32());
            p.state = r.blob();
            block.ports.push_back(std::move(p));
            break;
        }
        case RecordTag::Property: {
            PropertyRecord p;
            p.switch_id = r.text();
            p.scope = r.u8();
            p.owner = r.text();
            p.name = r.text();
            p.prop_type = r.u32();
            p.value = r.blob();
            if (p.scope > static_cast<uint8_t>(Scope::Uplink)) fail(HYP_BAD_PARAM);
            block.properties.push_back(std::move(p));
            break;
        }
        case RecordTag::DataItem: {
            DataItemRecord d;
            d.name = r.text();
            d.prop_type = r.u32();
            d.value = r.blob();
            block.items.push_back(std::move(d));
            break;
        }
    }
}

}  // namespace

Bytes serialise(const Block &block) {
    Bytes out(kHeaderSize, 0);
    Writer w(out);
    for (const SwitchRecord &s : block.switches)
        w.record(RecordTag::Switch, [&] {
            w.text(s.id);
            w.text(s.alias);
            w.text(s.class_name);
            w.text(s.portset);
            w.u32(s.version);
            w.u32(s.max_ports);
            w.u8(s.associated ? 1 : 0);
        });
    for (const PortRecord &p : block.ports)
        w.record(RecordTag::Port, [&] {
            w.text(p.switch_id);
            w.text(p.port_id);
            w.text(p.alias);
            w.text(p.external_id);
            w.u32(p.connect_id);
            w.u32(static_cast<uint32_t>(p.type));
            w.blob(p.state);
        });
    for (const PropertyRecord &p : block.properties)
        w.record(RecordTag::Property, [&] {
            w.text(p.switch_id);
            w.u8(p.scope);
            w.text(p.owner);
            w.text(p.name);
            w.u32(p.prop_type);
            w.blob(p.value);
        });
    for (const DataItemRecord &d : block.items)
        w.record(RecordTag::DataItem, [&] {
            w.text(d.name);
            w.u32(d.prop_type);
            w.blob(d.value);
        });

    uint32_t records = static_cast<uint32_t>(block.switches.size() + block.ports.size() +
                                             block.properties.size() + block.items.size());
    uint32_t payload = static_cast<uint32_t>(out.size() - kHeaderSize);
    Bytes header;
    Writer h(header);
    for (char c : kMagic) h.u8(static_cast<uint8_t>(c));
    h.u16(kFormatVersion);
    h.u16(static_cast<uint16_t>(block.kind));
    h.u32(records);
    h.u32(payload);
    h.u32(crc32(out.data() + kHeaderSize, payload));
    std::memcpy(out.data(), header.data(), kHeaderSize);
    return out;
}

Block deserialise(const void *data, size_t size) {
    auto *bytes = static_cast<const unsigned char *>(data);
    if (!bytes || size < kHeaderSize || std::memcmp(bytes, kMagic, 4) != 0) fail(HYP_BAD_PARAM);
    Reader header(bytes + 4, kHeaderSize - 4);
    uint16_t version = header.u16();
    uint16_t kind = header.u16();
    uint32_t records = header.u32();
    uint32_t payload = header.u32();
    uint32_t checksum = header.u32();
    if (version != kFormatVersion) fail(HYP_VERSION_MISMATCH_MAJOR);
    if (payload != size - kHeaderSize) fail(HYP_BAD_PARAM);
    if (crc32(bytes + kHeaderSize, payload) != checksum) fail(HYP_CHECKSUM_MISMATCH);
    if (kind < 1 || kind > 4) fail(HYP_BAD_PARAM);

    Block block;
    block.kind = static_cast<BlockKind>(kind);
    Reader r(bytes + kHeaderSize, payload);
    uint32_t seen = 0;
    while (!r.at_end()) {
        uint8_t tag = r.u8();
        Reader body = r.sub(r.u32());
        ++seen;
        if (tag < 1 || tag > 4) continue;  // a later minor addition: skipped
        read_record(block, static_cast<RecordTag>(tag), body);
    }
    if (seen != records) fail(HYP_BAD_PARAM);
    return block;
}

void check_format_version(uint32_t requested) {
    if (requested != 0 && requested != kFormatVersion) fail(HYP_VERSION_MISMATCH_MAJOR);
}

}  // namespace fab
