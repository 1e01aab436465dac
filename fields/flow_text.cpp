// The text writers of flow query answers: a whole answer's flows written as
// JSON lines, or as the rows of the flows listing, in one call and without an
// object per flow. A listing that only prints spends most of its time making
// and formatting objects it then throws away; here each entry is read with
// the C declarations, as the decoder (flow_rows.cpp) reads it, and written
// byte for byte as the package's Flow.json_text() and the listing's rows
// spell it.

#include "fields/flow_text.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fields/answer_copy.hpp"
#include "fields/arguments.hpp"
#include "fields/chunked_copy.hpp"
#include "fields/flow_diff.hpp"
#include "fields/flow_rates.hpp"
#include "fields/flow_rows.hpp"
#include "fields/grown.hpp"
#include "fields/heap_type.hpp"
#include "fields/page_job.hpp"
#include "fields/walk_rest.hpp"
#include "fields/snapshot_lines.hpp"
#include "fields/spelling.hpp"
#include "fields/table_line.hpp"

namespace flow_text {

namespace {

using answer_copy::FlowEntry;
using flow_rows::BitMap;
using flow_rows::Entry;
using flow_rows::kActionBits;

// The listing's columns, in its order (cli/flows.py's COLUMNS).
// A writer made with rates has the rate of `flows --watch` beside the
// packets; the others leave that cell empty and out.
enum Cell : int { id, port, vni, source, destination, proto, src_mac, dst_mac, actions, ports, packets, rate, age,
                  expires, kCells };

// The cell of the listing's column k (a writer without rates has no rate
// column), as a table_line layout puts it.
struct Placed {
    bool rated;
    int operator()(int k) const { return !rated && k >= rate ? k + 1 : k; }
};
static_assert(kCells <= table_line::kMostColumns);

using chunked_copy::copy_chunks;
using chunked_copy::kChunk;
using chunked_copy::kOvershoot;
using chunked_copy::spaces;

// A text spelt once and copied whole into many lines: its bytes kept padded
// to a whole number of chunks (chunked_copy.hpp).
class Piece {
  public:
    void assign(std::string_view text) {
        size_ = text.size();
        padded_.assign(text);
        padded_.resize(size_ / kChunk * kChunk + kChunk, '\0');
    }
    char *put(char *to) const { return copy_chunks(to, padded_.data(), size_); }
    std::size_t size() const { return size_; }

  private:
    std::string padded_;
    std::size_t size_ = 0;
};

template <std::size_t N>
inline char *literal(char *to, const char (&text)[N]) {
    std::memcpy(to, text, N - 1);
    return to + N - 1;
}

constexpr std::size_t kNumberText = 20;  // the digits of any 64-bit number, or a sign and 10 digits
constexpr std::size_t kPortText = std::numeric_limits<flow_rows::Port>::digits10 + 2;  // its digits and a comma
constexpr std::size_t kDurationText = kNumberText + 4;  // "3d04h" of any 64-bit count of seconds

// The keys of a JSON line, in the order the writer writes them: the Flow's
// fields' (the package's JSON_FIELDS), an entity's two, and the rate's.
enum Key : int { k_id, k_flags, k_table, k_port, k_vni, k_ipv6, k_src, k_dst, k_proto, k_proto_name, k_ether_type,
                 k_ether_type_name, k_vlan, k_src_mac, k_dst_mac, k_inner_dst_mac, k_entities, k_packets, k_age_s,
                 k_expires_in_s, k_actions, k_dst_ports, k_rate, kKeys };

// The text of a flow's JSON between its values, each piece made once of the
// keys it is given (as _flow.TEXT_KEYS gives them), as the package's
// json_text() writes it, or json.dumps(indent=2) a flow of the listing's
// document (two deep).
enum Between : int { b_id, b_flags, b_table, b_port, b_vni, b_v4, b_v6, b_dst, b_ether_type, b_no_ether_type_name,
                     b_vlan, b_src_mac, b_dst_mac, b_inner_dst_mac, b_entities, b_actions, b_dst_ports, b_entity_end,
                     b_packets, b_age_s, b_expires_in_s, b_rate, b_flow_end, kBetween };

// A flow's JSON in one of its two styles: what stands before a flow of the
// listing's document (the comma after the flow before, then its opening
// brace), the pieces between its values (each padded for copy_chunks), the
// text from its destination address's closing quote through its protocol
// name of each protocol number, and of each named ether type its number and
// name.
struct JsonPieces {
    std::string document_opening;
    Piece between[kBetween];
    std::size_t every_between = 0;  // the bytes of them all
    Piece protocol_json[256];
    std::vector<Piece> ether_json;
    std::size_t longest_protocol_json = 0, longest_ether_json = 0;
};

// The styles: a JSON line, compact, and a flow of the listing's document
// as json.dumps(indent=2) lays it out: the flow's fields three deep, an
// entity four deep and its fields five, the names and ports in its lists
// six. A list item's text comes after item() and a list's last item is
// followed by close(), which writes nothing in a compact line; room is
// what each takes at most.
struct CompactJson {
    static constexpr int kForm = 0;
    static constexpr std::size_t kItemRoom = 1, kCloseRoom = 0;
    static char *item(char *to, bool first, int) {
        if (!first) *to++ = ',';
        return to;
    }
    static char *close(char *to, bool, int) { return to; }
};
struct IndentedJson {
    static constexpr int kForm = 1;
    static constexpr int kDeepest = 6;
    static constexpr std::size_t kItemRoom = 2 + 2 * kDeepest, kCloseRoom = 1 + 2 * kDeepest;
    static char *item(char *to, bool first, int depth) {
        if (!first) *to++ = ',';
        *to++ = '\n';
        return spaces(to, 2 * static_cast<std::size_t>(depth));
    }
    static char *close(char *to, bool any, int depth) { return any ? item(to, true, depth) : to; }
};

// The names a writer spells numbers by, and the keys of its lines, checked
// once to need no escaping in JSON nor in a table cell (printable ASCII
// without quote, backslash or space), so every text written here is what
// the package's JSON string encoder and the table's escaping would leave as
// it is.
struct Names {
    std::string key[kKeys];
    std::string action[kActionBits];
    std::string protocol[256];  // empty: the number has none
    std::vector<std::pair<std::uint16_t, std::string>> ether_type;
    // Each style's pieces (CompactJson::kForm, IndentedJson::kForm). A
    // compact line's text from the closing quote of its destination address
    // through its protocol name is `","proto":6,"proto_name":"tcp",`, that
    // of a named ether type `"ether_type":2048,"ether_type_name":"ipv4"`,
    // ether_named[number] - 1 of them (0: no name).
    JsonPieces json[2];
    std::uint32_t ether_named[65536] = {};
    // The longest pieces and names, for the room a line is written into.
    std::size_t longest_protocol = 0;
    std::size_t every_action_json = 0, every_action_cell = 0;

    void spell() {
        for (unsigned p = 0; p < 256; ++p) longest_protocol = std::max(longest_protocol, protocol[p].size());
        for (std::size_t k = 0; k < ether_type.size(); ++k) ether_named[ether_type[k].first] = static_cast<std::uint32_t>(k + 1);
        for (const std::string &name : action) {
            every_action_json += name.size() + 3;  // quoted, after a comma
            every_action_cell += name.size() + 1;
        }
        spell_json(json[CompactJson::kForm], false);
        spell_json(json[IndentedJson::kForm], true);
    }

  private:
    void spell_json(JsonPieces &j, bool indented) const {
        char number[kNumberText];
        auto quoted = [](const std::string &name) { return name.empty() ? std::string("null") : '"' + name + '"'; };
        auto keyed = [&](Key of) { return '"' + key[of] + (indented ? "\": " : "\":"); };
        auto deep = [&](int depth) { return indented ? '\n' + std::string(2 * static_cast<std::size_t>(depth), ' ') : ""; };
        const std::string next = "," + deep(3);  // between two of a flow's fields
        j.document_opening = "," + deep(2) + "{";
        const std::string texts[kBetween] = {
            deep(3) + keyed(k_id), next + keyed(k_flags), next + keyed(k_table), next + keyed(k_port),
            next + keyed(k_vni), next + keyed(k_ipv6) + "false" + next + keyed(k_src) + '"',
            next + keyed(k_ipv6) + "true" + next + keyed(k_src) + '"', '"' + next + keyed(k_dst) + '"',
            keyed(k_ether_type), next + keyed(k_ether_type_name) + "null", next + keyed(k_vlan),
            next + keyed(k_src_mac) + '"', '"' + next + keyed(k_dst_mac) + '"', '"' + next + keyed(k_inner_dst_mac) + '"',
            '"' + next + keyed(k_entities) + "[", "{" + deep(5) + keyed(k_actions) + "[",
            "]," + deep(5) + keyed(k_dst_ports) + "[", "]" + deep(4) + "}", "]" + next + keyed(k_packets),
            next + keyed(k_age_s), next + keyed(k_expires_in_s), next + keyed(k_rate), deep(2) + "}\n"};
        for (int b = 0; b < kBetween; ++b) j.between[b].assign(texts[b]), j.every_between += texts[b].size();
        for (unsigned p = 0; p < 256; ++p) {
            std::string_view digits(number, static_cast<std::size_t>(spelling::decimal(number, p) - number));
            j.protocol_json[p].assign('"' + next + keyed(k_proto) + std::string(digits) + next + keyed(k_proto_name) +
                                      quoted(protocol[p]) + next);
            j.longest_protocol_json = std::max(j.longest_protocol_json, j.protocol_json[p].size());
        }
        j.ether_json.resize(ether_type.size());
        for (std::size_t k = 0; k < ether_type.size(); ++k) {
            const auto &[value, name] = ether_type[k];
            std::string_view digits(number, static_cast<std::size_t>(spelling::decimal(number, value) - number));
            j.ether_json[k].assign(keyed(k_ether_type) + std::string(digits) + next + keyed(k_ether_type_name) +
                                   quoted(name));
            j.longest_ether_json = std::max(j.longest_ether_json, j.ether_json[k].size());
        }
    }
};

struct Writer {
    PyObject_HEAD
    PyObject *decoder;  // a flow_rows decoder: the answer's check and the action names
    Names *names;
    PyObject *rates;  // a flow_rates, or null: the flows' rates are written too
};

[[gnu::cold, gnu::noinline]] bool refuse_name(PyObject *name) {
    PyErr_Format(PyExc_ValueError, "flow_text: %R is no name a line can hold as it is", name);
    return false;
}

bool plain_name(PyObject *name, std::string &into) {
    Py_ssize_t size;
    const char *text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
    if (!text) return PyErr_Occurred() ? false : refuse_name(name);
    for (Py_ssize_t i = 0; i < size; ++i)
        if (text[i] <= ' ' || text[i] > '~' || text[i] == '"' || text[i] == '\\') return refuse_name(name);
    into.assign(text, static_cast<std::size_t>(size));
    return true;
}

// Fills names from a dict of number -> name, each number below `bound`.
template <class Put>
bool learn_names(PyObject *dict, unsigned long bound, Put put) {
    PyObject *key, *value;
    Py_ssize_t at = 0;
    while (PyDict_Next(dict, &at, &key, &value)) {
        unsigned long number = PyLong_Check(key) ? PyLong_AsUnsignedLong(key) : bound;
        if (PyErr_Occurred() || number >= bound) {
            PyErr_Clear();
            PyErr_Format(PyExc_ValueError, "flow_text: %R is no number of a flow key", key);
            return false;
        }
        std::string name;
        if (!plain_name(value, name)) return false;
        put(number, std::move(name));
    }
    return true;
}

// Text grown with realloc (grown.hpp): an allocation that fails marks the
// text failed (what is appended later is dropped) and the entry point
// raises MemoryError, instead of the process ending.
class Text {
  public:
    void append(const char *from, std::size_t n) {
        if (char *to = chars_.room(n)) std::memcpy(to, from, n);
    }
    // Room for n more bytes, written through the pointer and then kept
    // by took(end); null when the room cannot be had (the text failed).
    char *room(std::size_t n) { return chars_.reserve(n); }
    void took(const char *end) { chars_.took(end); }
    std::size_t size() const { return chars_.size(); }
    const char *data() const { return chars_.begin() ? chars_.begin() : ""; }  // never null: an empty text has none
    void clear() { chars_.clear(); }
    bool failed() const { return chars_.failed(); }

  private:
    grown::Grown<char> chars_;
};

// Writes by write(char *) -> end into room for `most` bytes of out.
template <class Out, class Write>
void written(Out &out, std::size_t most, Write &&write) {
    if (char *room = out.room(most)) out.took(write(room));
}

inline char *address(char *to, bool v6, const char *at) {
    auto *octets = reinterpret_cast<const unsigned char *>(at);
    return to + (v6 ? spelling::ipv6_text(to, octets) : spelling::ipv4_text(to, octets));
}

inline char *mac(char *to, const char *at) {
    return spelling::mac_text(to, reinterpret_cast<const unsigned char *>(at));
}

// What is read of a flow, once, for any form.
struct Flow {
    const FlowEntry &of;
    bool v6;
    const char *src, *dst;
    std::uint64_t age_s;
    enum class Rate : unsigned char { off, unknown, known } rate = Rate::off;  // off: the writer has no rates
    double per_second = 0;

    // A snapshot's entry comes with its age as the snapshot says it.
    Flow(const FlowEntry &f, std::uint64_t age) : of(f), age_s(age) {
        const char *e = f.entry;
        v6 = LOAD(Entry, fkey.flags, e) & FC_FLOWKEY_IPV6;
        src = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, e);
        dst = v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, e);
    }
};

// Calls each(name) for the action names of a bit map, lowest bit first.
template <class Each>
void for_names(const Names &names, BitMap bits, Each each) {
    for (; bits; bits &= bits - 1) each(names.action[std::countr_zero(bits)]);
}

// The text of each action bit map a page meets, spelt by Spell the first
// time: the flows of a page share a few maps, each of some names.
template <class Spell>
class ActionTexts {
  public:
    ActionTexts() {
        for (Slot &s : slots_) s.size = kEmpty;
    }
    // Writes the text of bits at to (room for the longest), its end.
    char *put(char *to, const Names &names, BitMap bits) {
        Slot &s = slots_[static_cast<std::uint64_t>(bits) * 0x9e3779b97f4a7c15ULL >> (64 - kSlotBits)];
        if (s.size != kEmpty && s.bits == bits) return copy_chunks(to, s.text, s.size);
        char *end = Spell::spell(to, names, bits);
        auto size = static_cast<std::size_t>(end - to);
        if (size <= sizeof s.text) std::memcpy(s.text, to, size), s.bits = bits, s.size = static_cast<unsigned>(size);
        return end;
    }

  private:
    static constexpr int kSlotBits = 6;
    static constexpr unsigned kEmpty = ~0U;
    struct Slot {
        BitMap bits;
        unsigned size;
        char text[7 * kChunk];  // a whole number of chunks: copied as copy_chunks copies
    };
    Slot slots_[1 << kSlotBits];
};

// The action names of bits as the items of a list in a style (six deep in
// a flow's JSON), each between quote and quote (none, or '"').
template <class Style, char Quote>
char *joined_names(char *to, const Names &names, BitMap bits) {
    bool first = true;
    for_names(names, bits, [&](const std::string &action) {
        to = Style::item(to, first, 6);
        if (Quote) *to++ = Quote;
        std::memcpy(to, action.data(), action.size());
        to += action.size();
        if (Quote) *to++ = Quote;
        first = false;
    });
    return to;
}

// An entity's opening in a flow's JSON of a style, up to its first port.
template <class Style>
struct JsonActions {
    static char *spell(char *to, const Names &names, BitMap bits) {
        const Piece *between = names.json[Style::kForm].between;
        to = joined_names<Style, '"'>(between[b_actions].put(to), names, bits);
        return between[b_dst_ports].put(Style::close(to, bits != 0, 5));
    }
};

// An entity's cell of actions in the listing: names joined by commas, or "-"
// when that is empty.
struct CellActions {
    static char *spell(char *to, const Names &names, BitMap bits) {
        char *end = joined_names<CompactJson, '\0'>(to, names, bits);
        return end != to ? end : literal(to, "-");
    }
};

// The most a JSON line of a flow takes besides its opening, the text
// between its values, its protocol's and ether type's pieces and its
// entities: its other punctuation, 10 numbers, two addresses (one byte
// written past an IPv4 address), three MACs, and the bytes a copy in chunks
// runs past its piece.
constexpr std::size_t kJsonLineRoom =
    16 + 10 * kNumberText + 2 * (spelling::kIPv6Text + 1) + 3 * spelling::kMacText + kOvershoot;
// An entity's punctuation besides its keys, action names, ports and layout.
constexpr std::size_t kJsonEntityRoom = 4;

// A rate's number as repr() spells a double, or null.
constexpr std::size_t kJsonRateRoom = spelling::kFloatRepr;

template <class Style>
std::size_t json_line_room(const Names &names, std::size_t opening, const Flow &f) {
    const JsonPieces &json = names.json[Style::kForm];
    std::size_t room = kJsonLineRoom + opening + json.every_between + json.longest_protocol_json +
                       json.longest_ether_json + Style::kCloseRoom + (f.rate == Flow::Rate::off ? 0 : kJsonRateRoom);
    std::size_t entity = kJsonEntityRoom + Style::kItemRoom + 2 * Style::kCloseRoom + json.between[b_actions].size() +
                         json.between[b_dst_ports].size() + json.between[b_entity_end].size() + names.every_action_json +
                         kActionBits * Style::kItemRoom;
    for (unsigned k = 0; k < f.of.entities; ++k) room += entity + f.of.port_count[k] * (kPortText + Style::kItemRoom);
    return room;
}

// A line's opening, copied in chunks when it is short (the usual "{" or
// "{\"schema\":1,"): `padded` then holds it in whole chunks.
struct Opening {
    static constexpr std::size_t kShort = 3 * kChunk;
    std::string_view text;
    char padded[kShort + kChunk] = {};

    explicit Opening(std::string_view given) : text(given) {
        if (given.size() > kShort) return;
        std::memcpy(padded, given.data(), given.size());
        text = std::string_view(padded, given.size());
    }
    Opening(const Opening &) = delete;
    Opening &operator=(const Opening &) = delete;
    char *put(char *to) const {
        if (text.size() <= kShort) return copy_chunks(to, padded, text.size());
        std::memcpy(to, text.data(), text.size());
        return to + text.size();
    }
};

// Writes a flow's JSON in a style into room for json_line_room() bytes; its
// end (after its newline).
template <class Style>
char *json_line(char *to, const Names &names, const Opening &opening, const Flow &f,
                ActionTexts<JsonActions<Style>> &actions) {
    const char *e = f.of.entry;
    const JsonPieces &json = names.json[Style::kForm];
    const Piece *between = json.between;
    to = between[b_id].put(opening.put(to));
    to = spelling::decimal(to, LOAD(Entry, flowId, e));
    to = between[b_flags].put(to);
    to = spelling::decimal(to, static_cast<std::int32_t>(LOAD(Entry, fcFlags, e)));
    to = between[b_table].put(to);
    to = spelling::decimal(to, LOAD(Entry, tblId, e));
    to = between[b_port].put(to);
    to = spelling::decimal(to, LOAD(Entry, fkey.portID, e));
    to = between[b_vni].put(to);
    to = spelling::decimal(to, LOAD(Entry, fkey.vni, e));
    to = between[f.v6 ? b_v6 : b_v4].put(to);
    to = address(to, f.v6, f.src);
    to = between[b_dst].put(to);
    to = address(to, f.v6, f.dst);
    to = json.protocol_json[LOAD(Entry, fkey.proto, e)].put(to);
    auto ether = LOAD(Entry, fkey.l2Key.etype, e);
    if (std::uint32_t named = names.ether_named[ether]) {
        to = json.ether_json[named - 1].put(to);
    } else {
        to = between[b_ether_type].put(to);
        to = spelling::decimal(to, ether);
        to = between[b_no_ether_type_name].put(to);
    }
    to = between[b_vlan].put(to);
    to = spelling::decimal(to, LOAD(Entry, fkey.l2Key.vlanid, e));
    to = between[b_src_mac].put(to);
    to = mac(to, FIELD_AT(Entry, fkey.l2Key.saddr, e));
    to = between[b_dst_mac].put(to);
    to = mac(to, FIELD_AT(Entry, fkey.l2Key.daddr, e));
    to = between[b_inner_dst_mac].put(to);
    to = mac(to, FIELD_AT(Entry, fkey.inner.l2Key.daddr, e));
    to = between[b_entities].put(to);
    for (unsigned k = 0; k < f.of.entities; ++k) {
        to = actions.put(Style::item(to, k == 0, 4), names, f.of.actions[k]);
        unsigned n = f.of.port_count[k];
        for (unsigned i = 0; i < n; ++i) to = spelling::decimal(Style::item(to, i == 0, 6), f.of.port(k, i));
        to = between[b_entity_end].put(Style::close(to, n != 0, 5));
    }
    to = Style::close(to, f.of.entities != 0, 3);
    to = between[b_packets].put(to);
    to = spelling::decimal(to, LOAD(Entry, pktCount, e));
    to = between[b_age_s].put(to);
    to = spelling::decimal(to, f.age_s);
    to = between[b_expires_in_s].put(to);
    to = spelling::decimal(to, LOAD(Entry, exprTime, e));
    if (f.rate != Flow::Rate::off) {
        to = between[b_rate].put(to);
        to = f.rate == Flow::Rate::known ? spelling::float_repr(to, f.per_second) : literal(to, "null");
    }
    return between[b_flow_end].put(to);
}

// The listing's cells of a flow (cli/flows.py's _row), one after the other
// from `to`, each ending at ends[cell] from there.
constexpr unsigned kPortsShown = 4;

// The most the cells take besides the entities': four numbers, two
// addresses, the protocol (a name or a number), two MACs, a dash for each
// of actions and ports when there are no entities, two durations, and the
// bytes a copy in chunks runs past its piece.
constexpr std::size_t kRowRoom = 4 * kNumberText + 2 * (spelling::kIPv6Text + 1) + 3 + 2 * spelling::kMacText + 2 +
                                 2 * kDurationText + kOvershoot;
// An entity's separators, dash, shown ports and count of the others.
constexpr std::size_t kRowEntityRoom = 4 + kPortsShown * kPortText + 2 + kNumberText;

std::size_t row_room(const Names &names, const Flow &f) {
    return kRowRoom + names.longest_protocol + f.of.entities * (kRowEntityRoom + names.every_action_cell) +
           (f.rate == Flow::Rate::off ? 0 : spelling::kFixed1);
}

// A duration written at a char pointer, for spelling::duration.
struct Spelt {
    char *at;
    void put(char c) { *at++ = c; }
    void number(std::uint64_t v) { at = spelling::decimal(at, v); }
};

char *row_cells(char *to, std::size_t (&ends)[kCells], const Names &names, const Flow &f,
                ActionTexts<CellActions> &action_texts) {
    const char *e = f.of.entry, *start = to;
    auto end = [&](Cell c) { ends[c] = static_cast<std::size_t>(to - start); };
    to = spelling::decimal(to, LOAD(Entry, flowId, e)), end(id);
    to = spelling::decimal(to, LOAD(Entry, fkey.portID, e)), end(port);
    to = spelling::decimal(to, LOAD(Entry, fkey.vni, e)), end(vni);
    to = address(to, f.v6, f.src), end(source);
    to = address(to, f.v6, f.dst), end(destination);
    auto protocol = LOAD(Entry, fkey.proto, e);
    const std::string &name = names.protocol[protocol];
    if (name.empty()) {
        to = spelling::decimal(to, protocol);
    } else {
        std::memcpy(to, name.data(), name.size());
        to += name.size();
    }
    end(proto);
    to = mac(to, FIELD_AT(Entry, fkey.l2Key.saddr, e)), end(src_mac);
    to = mac(to, FIELD_AT(Entry, fkey.l2Key.daddr, e)), end(dst_mac);
    unsigned entities = f.of.entities;
    for (unsigned k = 0; k < entities; ++k) {
        if (k) *to++ = ';';
        to = action_texts.put(to, names, f.of.actions[k]);
    }
    if (!entities) *to++ = '-';
    end(actions);
    for (unsigned k = 0; k < entities; ++k) {
        if (k) *to++ = ';';
        unsigned n = f.of.port_count[k];
        for (unsigned i = 0; i < n && i < kPortsShown; ++i) {
            if (i) *to++ = ',';
            to = spelling::decimal(to, f.of.port(k, i));
        }
        if (n > kPortsShown) {
            to = literal(to, ",+");
            to = spelling::decimal(to, n - kPortsShown);
        }
        if (!n) *to++ = '-';
    }
    if (!entities) *to++ = '-';
    end(ports);
    to = spelling::decimal(to, LOAD(Entry, pktCount, e)), end(packets);
    if (f.rate == Flow::Rate::known) to = spelling::fixed1(to, f.per_second);
    else if (f.rate == Flow::Rate::unknown) *to++ = '-';
    end(rate);
    Spelt out{to};
    spelling::duration(out, f.age_s);
    to = out.at, end(age);
    spelling::duration(out, LOAD(Entry, exprTime, e));
    to = out.at, end(expires);
    return to;
}

// Cell c of a row row_cells() wrote at `row`, by its ends.
inline std::string_view cell_text(const char *row, const std::size_t (&ends)[kCells], int c) {
    std::size_t from = c ? ends[c - 1] : 0;
    return {row + from, ends[c] - from};
}

// What a diff keeps of a flow (flow_diff::Seen).
flow_diff::Seen seen_of(const Flow &f) {
    const char *e = f.of.entry;
    flow_diff::Seen s{};
    s.table = LOAD(Entry, tblId, e);
    s.id = LOAD(Entry, flowId, e);
    s.packets = LOAD(Entry, pktCount, e);
    s.port = LOAD(Entry, fkey.portID, e);
    s.vni = LOAD(Entry, fkey.vni, e);
    s.proto = LOAD(Entry, fkey.proto, e);
    s.ipv6 = f.v6;
    std::memcpy(s.src, f.src, f.v6 ? 16 : 4);
    std::memcpy(s.dst, f.dst, f.v6 ? 16 : 4);
    return s;
}

// Runs each(flow) for every flow of the answer (see
// answer_copy::each_aged_flow: a query's, a copy of one, or a snapshot_lines
// reader's lines) outside rest; the count of them, or -1 with an exception.
// A writer with rates takes each flow's rate (and keeps its count for the
// next listing) as it writes it.
template <class Each>
Py_ssize_t each_flow(const Writer &w, PyObject *answer, long long now_ms, PyObject *rest, Each each) {
    return answer_copy::each_aged_flow(w.decoder, answer, now_ms, rest, [&](const FlowEntry &f, std::uint64_t age_s) {
        Flow flow(f, age_s);
        if (w.rates) {
            bool known = flow_rates::rate(w.rates, LOAD(Entry, flowId, f.entry), LOAD(Entry, pktCount, f.entry),
                                          flow.per_second);
            flow.rate = known ? Flow::Rate::known : Flow::Rate::unknown;
        }
        return each(flow);
    });
}

// A str of ASCII text by a copy, where PyUnicode_FromStringAndSize would
// first read it all to learn that it is ASCII; a single character is the
// interpreter's own.
PyObject *ascii_text(const char *text, std::size_t size) {
    if (size == 1) return PyUnicode_FromOrdinal(static_cast<unsigned char>(*text));
    PyObject *made = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
    if (made) std::memcpy(PyUnicode_DATA(made), text, size);
    return made;
}

PyObject *ascii_text(const Text &text) {
    return text.failed() ? PyErr_NoMemory() : ascii_text(text.data(), text.size());
}

// A page's text, copied into the object the caller receives once whole.
// Writing it straight into an object made beforehand with room for the lines
// expected saves that copy, but the object is then larger than the text it
// is cut to, and the C library maps such a block afresh for each page (it
// maps what is larger than the blocks it was last given back): the pages'
// faults cost several times the copy.
class PageText {
  public:
    enum Form { bytes, ascii, utf8 };  // utf8: decoded at the end
    void set_form(Form form) { form_ = form; }
    char *room(std::size_t n) { return text_.room(n); }
    void took(const char *end) { text_.took(end); }
    // The page's object (with the interpreter lock), or null with an exception.
    PyObject *made() {
        if (text_.failed()) return PyErr_NoMemory();
        auto size = static_cast<Py_ssize_t>(text_.size());
        switch (form_) {
            case bytes: return PyBytes_FromStringAndSize(text_.data(), size);
            case ascii: return ascii_text(text_);
            case utf8: break;
        }
        return PyUnicode_DecodeUTF8(text_.data(), size, nullptr);
    }

  private:
    Form form_ = utf8;
    Text text_;
};

PyObject *counted(Py_ssize_t count, PyObject *made) {
    if (!made) return nullptr;
    return Py_BuildValue("(nN)", count, made);
}

PyObject *new_reference(PyObject *o) {
    Py_INCREF(o);
    return o;
}

// An answer and the time its flows' ages count to.
struct Aged {
    PyObject *answer;  // held by the job
    long long now_ms;
};

// A page of one of the writer's forms, rendered as a page_job: Form takes
// each flow (take) and makes the page of the count it took (page). What the
// loop reads is C data (the writer's names, a layout read beforehand), so
// that over a copy it runs without the interpreter lock; the objects it was
// given are held until the page is made. A page is one answer's flows, or
// those of several copies one after the other (of_copies()).
template <class Form>
class WriterJob : public page_job::Job {
  public:
    WriterJob(PyObject *writer, PyObject *answer, long long now_ms, PyObject *rest)
        : writer_(new_reference(writer)), held_(new_reference(answer)), rest_(new_reference(rest)),
          one_{answer, now_ms} {}
    ~WriterJob() override {
        Py_DECREF(writer_);
        Py_DECREF(held_);
        Py_DECREF(rest_);
    }
    // The job's answer read as pages of copies: a tuple of (copy, now_ms)
    // pairs, each copy an answer_copy. False for anything else (with an
    // exception when there is no memory for them, or now_ms overflows).
    bool of_copies() {
        PyObject *pages = held_;
        Aged *at = copies_.room(static_cast<std::size_t>(PyTuple_GET_SIZE(pages)));
        if (!at) return PyErr_NoMemory(), false;
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(pages); ++k, ++at) {
            PyObject *pair = PyTuple_GET_ITEM(pages, k);
            if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !answer_copy::is_copy(PyTuple_GET_ITEM(pair, 0)) ||
                !PyLong_Check(PyTuple_GET_ITEM(pair, 1)) || !arguments::integer(PyTuple_GET_ITEM(pair, 1), at->now_ms))
                return false;
            at->answer = PyTuple_GET_ITEM(pair, 0);
        }
        of_copies_ = true;
        return true;
    }
    void run() noexcept override {
        const Writer &w = *reinterpret_cast<Writer *>(writer_);
        Form &form = *static_cast<Form *>(this);
        auto each = [&](const Flow &f) {
            form.take(*w.names, f);
            return true;
        };
        if (!of_copies_) {
            count_ = each_flow(w, one_.answer, one_.now_ms, rest_, each);
            return;
        }
        count_ = 0;
        for (const Aged &page : copies_) {
            Py_ssize_t shown = each_flow(w, page.answer, page.now_ms, rest_, each);
            if (shown < 0) {
                count_ = -1;
                return;
            }
            count_ += shown;
        }
    }
    PyObject *finish() noexcept override {
        const Writer &w = writer();
        if (count_ >= 0 && w.rates && flow_rates::failed(w.rates)) return PyErr_NoMemory();
        return count_ < 0 ? nullptr : static_cast<Form *>(this)->page(count_);
    }
    // A snapshot reader's lines are C data too: read without the lock, which
    // the thread inflating the next lines then takes at once, where it would
    // wait for the whole chunk. So are copies.
    bool needs_lock(PyObject *answer) const noexcept override {
        return !of_copies_ && !snapshot_lines::is_reader(answer);
    }

  protected:
    const Writer &writer() const { return *reinterpret_cast<Writer *>(writer_); }
    // The listing's columns (one more with rates), each put at its cell.
    int columns() const { return writer().rates ? kCells : kCells - 1; }
    Placed place() const { return {writer().rates != nullptr}; }

  private:
    PyObject *writer_, *held_, *rest_;
    Aged one_;
    grown::Grown<Aged> copies_;
    bool of_copies_ = false;
    Py_ssize_t count_ = -1;
};

// A page of JSON lines, each opened by the opening given (bytes for an
// opening given as bytes: lines for a binary file, which would otherwise
// copy the text once more to encode it; else a str); or of the flows of the
// listing's document, each after the comma that would stand before it and
// without a newline, in a style.
template <class Style>
class JsonFlows final : public WriterJob<JsonFlows<Style>> {
  public:
    JsonFlows(PyObject *writer, PyObject *const *args, long long now_ms, std::string_view opening, bool lines)
        : WriterJob<JsonFlows>(writer, args[0], now_ms, args[2]), opening_(lines ? new_reference(args[3]) : nullptr),
          open_(opening), lines_(lines) {
        out_.set_form(opening_ && PyBytes_Check(opening_) ? PageText::bytes : PageText::ascii);
    }
    ~JsonFlows() override { Py_XDECREF(opening_); }
    void take(const Names &names, const Flow &f) {
        written(out_, json_line_room<Style>(names, open_.text.size(), f), [&](char *to) {
            char *end = json_line<Style>(to, names, open_, f, actions_);
            return lines_ ? end : end - 1;  // a document's flows are joined by commas alone
        });
    }
    PyObject *page(Py_ssize_t count) { return counted(count, out_.made()); }

  private:
    PyObject *opening_;  // holds the text open_ views when it is long
    Opening open_;
    bool lines_;
    PageText out_;
    ActionTexts<JsonActions<Style>> actions_;
};

// The cells of every row one after the other in cells_, and each row's
// ends (relative to its start) in ends_; the rows' lists made at the end.
class TableCells final : public WriterJob<TableCells> {
  public:
    using WriterJob::WriterJob;
    void take(const Names &names, const Flow &f) {
        std::size_t ends[kCells];
        written(cells_, row_room(names, f), [&](char *to) { return row_cells(to, ends, names, f, actions_); });
        ends_.append(reinterpret_cast<const char *>(ends), sizeof ends);
    }
    PyObject *page(Py_ssize_t count) {
        if (cells_.failed() || ends_.failed()) return PyErr_NoMemory();
        int columns = this->columns();
        Placed place = this->place();
        PyObject *rows = PyList_New(count);
        const char *at = cells_.data();
        for (Py_ssize_t r = 0; rows && r < count; ++r) {
            std::size_t ends[kCells];
            std::memcpy(ends, ends_.data() + r * sizeof ends, sizeof ends);
            PyObject *row = PyList_New(columns);
            for (int k = 0; row && k < columns; ++k) {
                std::string_view text = cell_text(at, ends, place(k));
                PyObject *cell = ascii_text(text.data(), text.size());
                if (!cell) Py_CLEAR(row);
                else PyList_SET_ITEM(row, k, cell);
            }
            if (!row) Py_CLEAR(rows);
            else PyList_SET_ITEM(rows, r, row);
            at += ends[kCells - 1];
        }
        return counted(count, rows);
    }

  private:
    Text cells_, ends_;
    ActionTexts<CellActions> actions_;
};

class TableLines final : public WriterJob<TableLines> {
  public:
    TableLines(PyObject *writer, PyObject *const *args, long long now_ms)
        : WriterJob(writer, args[0], now_ms, args[2]), layout_(new_reference(args[3])) {}
    ~TableLines() override { Py_DECREF(layout_); }
    bool read() {
        if (!l_.read(layout_, columns(), place(), "flow_text.table_lines")) return false;
        out_.set_form(l_.ascii ? PageText::ascii : PageText::utf8);
        return true;
    }
    void take(const Names &names, const Flow &f) {
        std::size_t ends[kCells];
        text_.clear();
        // The cells lie in the row's text, with room after it for the bytes
        // a chunked copy reads past the last.
        written(text_, row_room(names, f), [&](char *to) { return row_cells(to, ends, names, f, actions_); });
        std::string_view cells[kCells];
        for (int c = 0; c < kCells; ++c) cells[c] = cell_text(text_.data(), ends, c);
        table_line::line<table_line::Chunked>(out_, l_, cells);
    }
    PyObject *page(Py_ssize_t count) {
        if (!l_.write_back(layout_, columns(), place())) return nullptr;
        // Cells are ASCII; a cut row is too unless the caller's ellipsis is not.
        if (text_.failed()) return PyErr_NoMemory();
        return counted(count, out_.made());
    }

  private:
    PyObject *layout_;  // holds the ellipsis l_ views, and the widths written back
    table_line::Layout l_;
    PageText out_;
    Text text_;
    ActionTexts<CellActions> actions_;
};

class SeenRecords final : public WriterJob<SeenRecords> {
  public:
    using WriterJob::WriterJob;
    void take(const Names &, const Flow &f) {
        flow_diff::Seen s = seen_of(f);
        out_.append(reinterpret_cast<const char *>(&s), sizeof s);
    }
    PyObject *page(Py_ssize_t count) {
        if (out_.failed()) return PyErr_NoMemory();
        return counted(count, PyBytes_FromStringAndSize(out_.data(), static_cast<Py_ssize_t>(out_.size())));
    }

  private:
    Text out_;
};

// The arguments every form takes first: answer, now_ms, rest.
bool page_arguments(PyObject *const *args, Py_ssize_t n, Py_ssize_t needed, long long &now_ms) {
    now_ms = -1;
    return n == needed && arguments::integer(args[1], now_ms) && walk_rest::valid(args[2]) &&
           answer_copy::rest_fits(args[0], args[2]);
}

// A JSON line's opening: bytes, or a str of ASCII (which keeps every line
// ASCII, made into a str by a copy); false for anything else.
bool opening_of(PyObject *o, std::string_view &open) {
    const char *text = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_Check(o)) text = PyBytes_AS_STRING(o), size = PyBytes_GET_SIZE(o);
    else if (PyUnicode_Check(o) && PyUnicode_IS_ASCII(o)) text = PyUnicode_AsUTF8AndSize(o, &size);
    open = {text ? text : "", static_cast<std::size_t>(size)};
    return text != nullptr;
}

// writer.json_lines(answer, now_ms, rest, opening): (count, text).
PyObject *json_lines(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms;
    std::string_view open;
    if (!page_arguments(args, n, 4, now_ms) || !opening_of(args[3], open))
        return arguments::refuse("flow_text.json_lines", "answer, now_ms, rest, opening");
    return page_job::render(new (std::nothrow) JsonFlows<CompactJson>(self, args, now_ms, open, true), args[0]);
}

// The rest of a copy's flows: none, a copy holding only the flows outside
// the rest it was taken with.
PyObject *no_rest() {
    static PyObject *none = PyTuple_New(0);
    return none;
}

// writer.json_lines_of(pages, opening): (count, text) of json_lines over
// each copy of pages in turn, rendered here without the interpreter lock:
// a thread that takes the lock once for many pages, not once a page.
PyObject *json_lines_of(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    std::string_view open;
    PyObject *pages = n == 2 && opening_of(args[1], open) ? PySequence_Tuple(args[0]) : nullptr;
    PyObject *call[] = {pages, nullptr, no_rest(), args[1]};
    auto *job = pages && call[2] ? new (std::nothrow) JsonFlows<CompactJson>(self, call, 0, open, true) : nullptr;
    PyObject *page = nullptr;
    if (job && job->of_copies()) page = page_job::render(job, pages);
    else if (job) delete job;
    else if (pages) PyErr_NoMemory();
    Py_XDECREF(pages);
    return page ? page : arguments::refuse("flow_text.json_lines_of", "pages of (copy, now_ms), opening");
}

// writer.json_document(answer, now_ms, rest, indented): (count, text), the
// flows of the listing's document, each after its comma: ',{...}', or laid
// out as json.dumps(indent=2) lays out a flow two deep.
PyObject *json_document(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms;
    int indented = n == 4 ? PyObject_IsTrue(args[3]) : -1;
    if (indented < 0 || !page_arguments(args, n, 4, now_ms))
        return arguments::refuse("flow_text.json_document", "answer, now_ms, rest, indented");
    const Names &names = *reinterpret_cast<Writer *>(self)->names;
    if (indented) {
        std::string_view opening = names.json[IndentedJson::kForm].document_opening;
        return page_job::render(new (std::nothrow) JsonFlows<IndentedJson>(self, args, now_ms, opening, false), args[0]);
    }
    std::string_view opening = names.json[CompactJson::kForm].document_opening;
    return page_job::render(new (std::nothrow) JsonFlows<CompactJson>(self, args, now_ms, opening, false), args[0]);
}

// writer.table_cells(answer, now_ms, rest): (count, rows of cells).
PyObject *table_cells(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms;
    if (!page_arguments(args, n, 3, now_ms)) return arguments::refuse("flow_text.table_cells", "answer, now_ms, rest");
    return page_job::render(new (std::nothrow) TableCells(self, args[0], now_ms, args[2]), args[0]);
}

// writer.seen(answer, now_ms, rest): (count, bytes of flow_diff.Seen records).
PyObject *seen(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms;
    if (!page_arguments(args, n, 3, now_ms)) return arguments::refuse("flow_text.seen", "answer, now_ms, rest");
    return page_job::render(new (std::nothrow) SeenRecords(self, args[0], now_ms, args[2]), args[0]);
}

// writer.table_lines(answer, now_ms, rest, (kept, widths, numeric, shrink,
// limit, ellipsis)): (count, text); widths widened in place as rows need.
PyObject *table_lines(PyObject *self, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms;
    if (!page_arguments(args, n, 4, now_ms) || !PyTuple_Check(args[3]))
        return arguments::refuse("flow_text.table_lines", "answer, now_ms, rest, layout");
    auto *job = new (std::nothrow) TableLines(self, args, now_ms);
    if (job && !job->read()) {
        delete job;
        return nullptr;
    }
    return page_job::render(job, args[0]);
}

PyMethodDef writer_methods[] = {
    {"json_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(json_lines)), METH_FASTCALL,
     "json_lines(answer, now_ms, rest, opening, /)\n--\n\n"
     "(count, text): the answer's flows outside rest (or a snapshot_lines reader's aimed lines) as JSON lines, each Flow.json_text() with its\n"
     "opening brace replaced by opening; the text is bytes when opening is."},
    {"json_lines_of", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(json_lines_of)), METH_FASTCALL,
     "json_lines_of(pages, opening, /)\n--\n\n"
     "(count, text): json_lines(copy, now_ms, (), opening) of each (copy, now_ms) of pages, one after the other,\n"
     "copies made by answer_copy; rendered in the calling thread, the interpreter lock let go meanwhile."},
    {"json_document", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(json_document)), METH_FASTCALL,
     "json_document(answer, now_ms, rest, indented, /)\n--\n\n"
     "(count, text): the answer's flows as the flows of the listing's --json document, each after the\n"
     "comma that would stand before it: compact, or indented as json.dumps(indent=2) indents them."},
    {"table_cells", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_cells)), METH_FASTCALL,
     "table_cells(answer, now_ms, rest, /)\n--\n\n"
     "(count, rows): the flows listing's cells of the answer's flows outside rest."},
    {"table_lines", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(table_lines)), METH_FASTCALL,
     "table_lines(answer, now_ms, rest, layout, /)\n--\n\n"
     "(count, text): the flows listing's finished lines of the answer's flows outside rest, laid out\n"
     "by (kept, widths, numeric, shrink, limit, ellipsis); widths widened in place."},
    {"seen", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(seen)), METH_FASTCALL,
     "seen(answer, now_ms, rest, /)\n--\n\n"
     "(count, records): what a diff keeps of the answer's flows outside rest, as flow_diff's Seen records."},
    {nullptr, nullptr, 0, nullptr},
};

int traverse(PyObject *self, visitproc visit, void *arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(reinterpret_cast<Writer *>(self)->decoder);
    Py_VISIT(reinterpret_cast<Writer *>(self)->rates);
    return 0;
}

int clear(PyObject *self) {
    auto *w = reinterpret_cast<Writer *>(self);
    Py_CLEAR(w->decoder);
    Py_CLEAR(w->rates);
    delete std::exchange(w->names, nullptr);
    return 0;
}

// flow_text(decoder, protocol_names, ether_type_names, keys, rates=None)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"decoder", "protocol_names", "ether_type_names", "keys", "rates", nullptr};
    PyObject *decoder, *protocols, *ether_types, *keys, *rates = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!O!O!O!|O:flow_text", const_cast<char **>(keywords),
                                     flow_rows::type(), &decoder, &PyDict_Type, &protocols, &PyDict_Type,
                                     &ether_types, &PyTuple_Type, &keys, &rates))
        return nullptr;
    if (rates != Py_None && Py_TYPE(rates) != flow_rates::type()) {
        PyErr_SetString(PyExc_TypeError, "flow_text: rates is a flow_rates or None");
        return nullptr;
    }
    if (PyTuple_GET_SIZE(keys) != kKeys) {
        PyErr_Format(PyExc_ValueError, "flow_text: keys are the %d keys of a JSON line, its entities' and its rate",
                     int{kKeys});
        return nullptr;
    }
    auto *names = new (std::nothrow) Names;
    if (!names) return PyErr_NoMemory();
    PyObject *actions = flow_rows::action_names(decoder);
    bool ready = true;
    for (int k = 0; ready && k < kKeys; ++k) ready = plain_name(PyTuple_GET_ITEM(keys, k), names->key[k]);
    for (int bit = 0; ready && bit < kActionBits; ++bit)
        ready = plain_name(PyTuple_GET_ITEM(actions, bit), names->action[bit]);
    ready = ready && learn_names(protocols, 256, [&](unsigned long n, std::string s) { names->protocol[n] = std::move(s); }) &&
            learn_names(ether_types, 65536, [&](unsigned long n, std::string s) {
                names->ether_type.emplace_back(static_cast<std::uint16_t>(n), std::move(s));
            });
    if (ready) names->spell();
    auto *w = ready ? reinterpret_cast<Writer *>(t->tp_alloc(t, 0)) : nullptr;
    if (!w) {
        delete names;
        return nullptr;
    }
    Py_INCREF(decoder);
    w->decoder = decoder;
    w->names = names;
    w->rates = rates == Py_None ? nullptr : (Py_INCREF(rates), rates);
    return reinterpret_cast<PyObject *>(w);
}

}  // namespace

PyTypeObject *type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_methods, writer_methods},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(heap_type::gc_dealloc<clear>)},
        {Py_tp_doc, const_cast<char *>(
                        "flow_text(decoder, protocol_names, ether_type_names, keys, rates=None)\n"
                        "The text writers of flow query answers: JSON lines and the flows listing's rows of a\n"
                        "whole answer, the answer checked and the action names taken from decoder (a\n"
                        "flow_rows), protocol and ether type numbers named by the two dicts, a line's keys\n"
                        "by keys (a Flow's JSON keys in order, an entity's two and the rate's). Given an\n"
                        "answer_copy made beside, a writer returns a pending page whose result() is its pair.\n"
                        "Made with rates (a flow_rates), it writes each flow's packets per second too: as\n"
                        "packets_per_second, last of a JSON line, and in a column of its own after PACKETS.")},
        {0, nullptr},
    };
    static PyTypeObject *made = nullptr;
    return heap_type::made(made, "_libfc_fields.flow_text",
                           sizeof(Writer), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots);
}

}  // namespace flow_text
