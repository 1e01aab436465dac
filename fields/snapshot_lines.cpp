// The reader of a snapshot's flow lines. A million-flow snapshot read line
// by line through json and the field checks costs twenty walks of the cache;
// here a chunk of decompressed lines becomes Flow objects in one call, each
// line checked by the rules the snapshot module's field table states (the
// ranges, the name limit, the action names, the line limit), which it hands
// over when the reader is made. The reader only ever accepts: at a line it
// cannot take as a plain flow line (the end line, a text with escapes or
// bytes beyond ASCII, a key unknown or repeated, anything the rules refuse)
// it stops, and the Python reader reads that line itself. So what is
// refused, and the words for it, are said in one place, and a line this
// reader accepts is one that reader accepts as the same flow.

#include "fields/snapshot_lines.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <type_traits>

#include "fields/flow_object.hpp"
#include "fields/flow_rows.hpp"
#include "fields/grown.hpp"
#include "fields/spelling.hpp"
#include "runtime/python_compat.hpp"

namespace snapshot_lines {

namespace {

enum class Kind { integer, boolean, address, mac, name, entities };

// One field of a flow line, as the rules name it.
struct Rule {
    std::string_view key;  // the UTF-8 of a key object the reader holds
    // The key as the writers spell it at its place in a line: `{"key":` for
    // the first rule, `,"key":` after it (in the reader's leads).
    std::string_view lead;
    Kind kind;
    std::int64_t low;          // integer: the range; name: high is the longest text
    std::uint64_t high;        // entities: low the most entities, high the most ports
    int family;                // address: the rule whose boolean says IPv6
    int field;                 // the Flow field it fills; -1 for a field only checked
    // The object made last for this field, and what it was made of: the
    // flows of a cache share ports, VNIs and MACs, and the objects are
    // immutable, so the next flow with the same value shares it.
    PyObject *last;
    std::uint64_t last_magnitude;
    bool last_negative;
};

// A flow nests 4 deep (the line, its entities, an entity, its names).
constexpr int kFlowDepth = 4;
constexpr int kMaxRules = 64;
constexpr int kActionBits = 64;
constexpr std::uint64_t kPortHigh = UINT32_MAX;

// What one line holds for a rule, until the whole line is known good.
struct Value {
    std::uint64_t magnitude;
    bool negative;  // integer; for a boolean, its truth
    bool plain;     // address: IPv4 spelt as inet_ntop spells it
    bool null;      // name
    std::string_view text;
    unsigned char packed[16];  // address: its bytes
    unsigned entities;
    std::uint64_t bits[kActionBits];  // per entity (there are at most the rule's low of them)
    unsigned port_count[kActionBits];
};

// The fields of a flow line as the cache's entries hold them, so the listing's
// writers (flow_text.cpp) write a snapshot's flows as they write the live
// cache's: each Flow field a rule fills (whatever its key) is put in the
// entry field it is read from. A value is written to an entry only when its
// rule keeps it within the C field, checked once when the reader is made.
using Put = flow_object::Field;
constexpr int kPuts = flow_object::kFields;

struct Reader {
    PyObject_HEAD
    PyTypeObject *flow_type;
    PyObject *action_names;  // tuple: the name of bit n of an action bit map
    std::string_view action_text[kActionBits];  // their UTF-8, which the tuple keeps
    PyObject *keys;          // what the rules' keys point into
    std::string_view entity_key[2];  // an entity's keys, of its actions and its ports (in the rules)
    Rule rules[kMaxRules];
    int rule_count;
    Py_ssize_t line_limit;
    std::uint32_t *ports;  // room for one line's ports, most entities times most ports
    // The rule of each entry field; entry is null when the rules do not fit
    // the entry's fields, and there are no entries to be had.
    int put_rule[kPuts];
    char *entry;
    Value *values;
    struct Parsed *parsed;  // the aimed line's, as compact() makes it
    grown::Grown<std::uint32_t> *line_ports;
    char *leads;
    // The chunk aim() points the entry reader at, where its next line starts,
    // how many lines it took since (those keep() left out too), and how many
    // entries it gave of the most it gives (-1: any number).
    PyObject *aimed;
    Py_ssize_t aimed_at, taken, given, most;
    struct Filter *filter;  // null: every line's entry is given
};


// The bytes of w (eight bytes of a line, the first lowest) that end or spoil a
// plain text: a quote, a backslash, a control character or one beyond '~',
// each marked by its top bit. The lowest mark is always such a byte; marks
// above it may be false (a borrow or carry runs on into the bytes after it).
constexpr std::uint64_t text_stops(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101, tops = 0x8080808080808080;
    constexpr std::uint64_t quotes = ones * '"', backslashes = ones * '\\';
    auto zero = [&](std::uint64_t x) { return (x - ones) & ~x & tops; };
    std::uint64_t control = (w - ones * 0x20) & ~w & tops;
    std::uint64_t beyond = ((w + ones) | w) & tops;  // 0x7f and up
    return zero(w ^ quotes) | zero(w ^ backslashes) | control | beyond;
}
static_assert(text_stops(0x4242424242424242) == 0 && text_stops(0x4242424242224242) == 0x800000 &&
              text_stops(0x7e7e7e7e7e7e7e7f) == 0x80 && text_stops(0x2020205c20202020) == 0x8000000000);

struct Cursor {
    const char *p, *end;

    void space() {
        while (p != end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    }
    bool take(char c) {
        space();
        if (p == end || *p != c) return false;
        ++p;
        return true;
    }
    bool peek(char c) {
        space();
        return p != end && *p == c;
    }
    bool word(std::string_view w) {
        space();
        if (static_cast<std::size_t>(end - p) < w.size() || std::memcmp(p, w.data(), w.size()) != 0) return false;
        p += w.size();
        return true;
    }
    // A text of printable ASCII without escapes: its bytes are the str json makes of it.
    bool text(std::string_view &out) {
        if (!take('"')) return false;
        const char *start = p;
        // Eight bytes at a time up to the first that ends or spoils the text.
        for (std::uint64_t w, stop; end - p >= 8; p += 8) {
            std::memcpy(&w, p, 8);
            if ((stop = text_stops(w))) {
                p += std::countr_zero(stop) / 8;
                break;
            }
        }
        while (p != end && *p != '"') {
            auto c = static_cast<unsigned char>(*p);
            if (c < 0x20 || c > 0x7e || c == '\\') return false;
            ++p;
        }
        if (p == end) return false;
        out = std::string_view(start, static_cast<std::size_t>(p - start));
        ++p;
        return true;
    }
    // An integer as JSON spells one (no fraction, no exponent: those are floats).
    bool integer(std::uint64_t &magnitude, bool &negative) {
        space();
        negative = p != end && *p == '-';
        if (negative) ++p;
        if (p == end || *p < '0' || *p > '9' || (*p == '0' && end - p > 1 && p[1] >= '0' && p[1] <= '9'))
            return false;
        std::uint64_t v = 0;
        // Nineteen digits cannot overflow: only those after them are checked.
        for (const char *safe = end - p > 19 ? p + 19 : end; p != safe && *p >= '0' && *p <= '9'; ++p)
            v = v * 10 + unsigned(*p - '0');
        for (; p != end && *p >= '0' && *p <= '9'; ++p) {
            if (__builtin_mul_overflow(v, 10u, &v) || __builtin_add_overflow(v, unsigned(*p - '0'), &v)) return false;
        }
        magnitude = v;
        return p == end || (*p != '.' && *p != 'e' && *p != 'E');
    }
};

bool in_range(const Rule &r, std::uint64_t magnitude, bool negative) {
    if (negative)
        return magnitude != 0 ? r.low < 0 && magnitude - 1 <= static_cast<std::uint64_t>(-(r.low + 1))
                              : r.low <= 0;
    return magnitude <= r.high && (r.low <= 0 || magnitude >= static_cast<std::uint64_t>(r.low));
}

bool hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool is_mac(std::string_view t) {
    if (t.size() != 17) return false;
    for (std::size_t i = 0; i < 17; ++i)
        if (i % 3 == 2 ? t[i] != ':' : !hex_digit(t[i])) return false;
    return true;
}

// An IPv4 address spelt as inet_ntop spells it (four numbers to 255 without
// leading zeros): its bytes without the C library's formatted print.
bool plain_ipv4(std::string_view t, unsigned char (&packed)[16]) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part && (at == t.size() || t[at++] != '.')) return false;
        std::size_t start = at;
        unsigned value = 0;
        while (at < t.size() && at - start < 3 && t[at] >= '0' && t[at] <= '9') value = value * 10 + (t[at++] - '0');
        if (at == start || value > 255 || (t[start] == '0' && at - start > 1)) return false;
        packed[part] = static_cast<unsigned char>(value);
    }
    return at == t.size();
}

bool is_address(std::string_view t, bool ipv6, unsigned char (&packed)[16], bool &plain) {
    plain = !ipv6 && plain_ipv4(t, packed);
    if (plain) return true;
    char text[INET6_ADDRSTRLEN + 1];
    if (t.size() >= sizeof text) return false;
    std::memcpy(text, t.data(), t.size());
    text[t.size()] = '\0';
    return inet_pton(ipv6 ? AF_INET6 : AF_INET, text, packed) == 1;
}

// The bit of an action name, looked for above `after` only: a line whose
// names are not in bit order, or repeat, is left to the Python reader (its
// names are kept as written, which a bit map would reorder).
int action_bit(const Reader &r, std::string_view name, int after) {
    // The first byte told apart before the library's compare is called: most names differ there.
    for (int bit = after + 1; bit < kActionBits; ++bit) {
        std::string_view known = r.action_text[bit];
        if (known.size() == name.size() && (name.empty() || (known[0] == name[0] && known == name))) return bit;
    }
    return -1;
}

bool entity(const Reader &r, const Rule &rule, Cursor &c, Value &v, std::uint32_t *ports) {
    unsigned k = v.entities;
    v.bits[k] = 0;
    v.port_count[k] = 0;
    bool actions = false, dst_ports = false;
    if (!c.take('{')) return false;
    do {
        std::string_view key;
        if (!c.text(key) || !c.take(':')) return false;
        if (key == r.entity_key[0] && !actions) {
            actions = true;
            if (!c.take('[')) return false;
            int last = -1;
            if (!c.take(']')) {
                do {
                    std::string_view name;
                    if (!c.text(name) || (last = action_bit(r, name, last)) < 0) return false;
                    v.bits[k] |= std::uint64_t{1} << last;
                } while (c.take(','));
                if (!c.take(']')) return false;
            }
        } else if (key == r.entity_key[1] && !dst_ports) {
            dst_ports = true;
            if (!c.take('[')) return false;
            if (!c.take(']')) {
                do {
                    std::uint64_t port;
                    bool negative;
                    if (v.port_count[k] == rule.high || !c.integer(port, negative) || (negative && port) ||
                        port > kPortHigh)
                        return false;
                    ports[v.port_count[k]++] = static_cast<std::uint32_t>(port);
                } while (c.take(','));
                if (!c.take(']')) return false;
            }
        } else {
            return false;
        }
    } while (c.take(','));
    return actions && dst_ports && c.take('}');
}

bool value(const Reader &r, const Rule &rule, Cursor &c, Value &v) {
    switch (rule.kind) {
        case Kind::integer:
            return c.integer(v.magnitude, v.negative) && in_range(rule, v.magnitude, v.negative);
        case Kind::boolean:
            return (v.negative = c.word("true")) || c.word("false");
        case Kind::address:
            return c.text(v.text);
        case Kind::mac:
            return c.text(v.text) && is_mac(v.text);
        case Kind::name:
            if ((v.null = c.word("null"))) return true;
            return c.text(v.text) && v.text.size() <= rule.high;
        case Kind::entities:
            v.entities = 0;
            if (!c.take('[')) return false;
            if (c.take(']')) return true;
            do {
                if (v.entities == static_cast<std::uint64_t>(rule.low) ||
                    !entity(r, rule, c, v, r.ports + v.entities * rule.high))
                    return false;
                ++v.entities;
            } while (c.take(','));
            return c.take(']');
    }
    return false;
}

// Whether line is a flow line the rules accept, in any key order and spacing.
bool parse_any_order(const Reader &r, const char *line, const char *end, Value *values) {
    Cursor c{line, end};
    std::uint64_t seen = 0;
    int last = -1;
    if (!c.take('{') || c.peek('}')) return false;
    do {
        std::string_view key;
        if (!c.text(key) || !c.take(':')) return false;
        // Lines are written in the rules' order: the next rule is the likely one.
        int i = last + 1 < r.rule_count && r.rules[last + 1].key == key ? last + 1 : 0;
        while (i < r.rule_count && r.rules[i].key != key) ++i;
        last = i;
        if (i == r.rule_count || seen >> i & 1 || !value(r, r.rules[i], c, values[i])) return false;
        seen |= std::uint64_t{1} << i;
    } while (c.take(','));
    if (!c.take('}')) return false;
    c.space();
    return c.p == end && seen == (r.rule_count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << r.rule_count) - 1);
}

// Whether line is a flow line spelt as the writers spell one: the rules'
// keys in their order, without spaces. Almost every line of a snapshot is,
// and matching each key as one run of bytes costs half of finding and
// looking it up; any other line is left to parse_any_order.
// Whether text (at least lead's size long) starts with lead, compared a
// word at a time: the library's compare costs more to call than a lead
// of a dozen bytes costs to compare.
bool starts_with(const char *text, std::string_view lead) {
    const char *want = lead.data();
    std::size_t n = lead.size();
    for (; n >= 8; n -= 8, text += 8, want += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, text, 8);
        std::memcpy(&b, want, 8);
        if (a != b) return false;
    }
    for (; n; --n)
        if (*text++ != *want++) return false;
    return true;
}

bool parse_as_written(const Reader &r, const char *line, const char *end, Value *values) {
    Cursor c{line, end};
    for (int i = 0; i < r.rule_count; ++i) {
        std::string_view lead = r.rules[i].lead;
        if (static_cast<std::size_t>(end - c.p) < lead.size() || !starts_with(c.p, lead)) return false;
        c.p += lead.size();
        if (!value(r, r.rules[i], c, values[i])) return false;
    }
    return end - c.p == 1 && *c.p == '}';
}

// Whether line is a flow line the rules accept, its values left in values.
bool parse(const Reader &r, const char *line, const char *end, Value *values) {
    if (r.rule_count == 0 || (!parse_as_written(r, line, end, values) && !parse_any_order(r, line, end, values)))
        return false;
    for (int i = 0; i < r.rule_count; ++i) {
        const Rule &rule = r.rules[i];
        Value &v = values[i];
        if (rule.kind == Kind::address && !is_address(v.text, values[rule.family].negative, v.packed, v.plain))
            return false;
    }
    return true;
}

PyObject *ascii_text(std::string_view t) {
    PyObject *s = PyUnicode_New(static_cast<Py_ssize_t>(t.size()), 127);
    if (s) std::memcpy(PyUnicode_DATA(s), t.data(), t.size());
    return s;
}

template <class Item>
PyObject *list_of(Py_ssize_t n, Item item) {
    PyObject *list = PyList_New(n);
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *made = item(i);
        if (!made) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, i, made);
    }
    return list;
}

// [(action names, destination ports), ...] as the Python reader makes them.
PyObject *entity_pairs(const Reader &r, const Rule &rule, const Value &v) {
    return list_of(v.entities, [&](Py_ssize_t k) -> PyObject * {
        std::uint64_t bits = v.bits[k];
        PyObject *names = list_of(std::popcount(bits), [&](Py_ssize_t) {
            PyObject *name = PyTuple_GET_ITEM(r.action_names, std::countr_zero(bits));
            bits &= bits - 1;
            Py_INCREF(name);
            return name;
        });
        const std::uint32_t *ports = r.ports + k * rule.high;
        PyObject *numbers =
            names ? list_of(v.port_count[k], [&](Py_ssize_t i) { return PyLong_FromUnsignedLong(ports[i]); })
                  : nullptr;
        PyObject *pair = numbers ? PyTuple_Pack(2, names, numbers) : nullptr;
        Py_XDECREF(names);
        Py_XDECREF(numbers);
        return pair;
    });
}

// The object of an integer or a MAC, the rule's last one when the value repeats.
template <class Make>
PyObject *shared(Rule &rule, std::uint64_t magnitude, bool negative, Make make) {
    if (!rule.last || rule.last_magnitude != magnitude || rule.last_negative != negative) {
        PyObject *made = make();
        if (!made) return nullptr;
        Py_XSETREF(rule.last, made);
        rule.last_magnitude = magnitude;
        rule.last_negative = negative;
    }
    Py_INCREF(rule.last);
    return rule.last;
}

// A MAC text (checked by is_mac) as its 48 bits.
std::uint64_t mac_key(std::string_view t) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 17; ++i)
        if (i % 3 != 2) key = key << 4 | static_cast<unsigned>(t[i] <= '9' ? t[i] - '0' : t[i] - 'a' + 10);
    return key;
}

// An address as the writers spell it, whatever spelling the line had
// ("FD00:0::1" reads as "fd00::1"): a flow's text never depends on the
// path that read it. IPv4 text is only taken spelt so (parse: plain).
PyObject *address_text(const Value &v, bool ipv6) {
    if (!ipv6) return ascii_text(v.text);
    char text[spelling::kIPv6Text];
    return ascii_text(std::string_view(text, spelling::ipv6_text(text, v.packed)));
}

PyObject *object_of(const Reader &r, Rule &rule, const Value &v, const Value *values) {
    switch (rule.kind) {
        case Kind::integer:
            return shared(rule, v.magnitude, v.negative, [&] {
                return v.negative ? PyLong_FromLongLong(-static_cast<long long>(v.magnitude - 1) - 1)
                                  : PyLong_FromUnsignedLongLong(v.magnitude);
            });
        case Kind::boolean:
            return PyBool_FromLong(v.negative);
        case Kind::mac:
            return shared(rule, mac_key(v.text), false, [&] { return ascii_text(v.text); });
        case Kind::address:
            return address_text(v, values[rule.family].negative);
        case Kind::name:
            return v.null ? (Py_INCREF(Py_None), Py_None) : ascii_text(v.text);
        case Kind::entities:
            return entity_pairs(r, rule, v);
    }
    return nullptr;
}

PyObject *flow(Reader &r, const Value *values) {
    PyObject *f = r.flow_type->tp_alloc(r.flow_type, 0);
    if (!f) return nullptr;
    for (int i = 0; i < r.rule_count; ++i) {
        if (r.rules[i].field < 0) continue;
        PyObject *made = object_of(r, r.rules[i], values[i], values);
        if (!made) {
            Py_DECREF(f);
            return nullptr;
        }
        flow_object::of(f).made[r.rules[i].field] = made;
    }
    return f;
}

// reader(chunk, start): (flows, stop). The flows of the whole lines of the
// bytes chunk from offset start on, up to the first line not accepted or
// the last line not ended in the chunk, where stop is.
PyObject *read(PyObject *self, PyObject *const *args, Py_ssize_t count) noexcept {
    Py_ssize_t start;
    if (count != 2 || !PyBytes_Check(args[0]) || (start = PyLong_AsSsize_t(args[1])) < 0 ||
        start > PyBytes_GET_SIZE(args[0])) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "snapshot_lines: (bytes, offset in them) needed");
        return nullptr;
    }
    Reader &r = *reinterpret_cast<Reader *>(self);
    const char *chunk = PyBytes_AS_STRING(args[0]), *end = chunk + PyBytes_GET_SIZE(args[0]);
    const char *at = chunk + start;
    PyObject *flows = PyList_New(0);
    Value *values = flows ? static_cast<Value *>(PyMem_Malloc(sizeof(Value) * r.rule_count)) : nullptr;
    if (!values) {
        Py_XDECREF(flows);
        return flows ? PyErr_NoMemory() : nullptr;
    }
    bool failed = false;
    // Nothing in the loop runs Python code, so deferring the collector until
    // it ends changes nothing anyone can observe (as in flow_rows).
    bool collecting = compat::suspend_collector();
    while (at != end) {
        const char *line_end = static_cast<const char *>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        if (!line_end || line_end - at >= r.line_limit || !parse(r, at, line_end, values)) break;
        PyObject *made = flow(r, values);
        if (!made || PyList_Append(flows, made) != 0) {
            Py_XDECREF(made);
            failed = true;
            break;
        }
        Py_DECREF(made);
        at = line_end + 1;
    }
    if (collecting) compat::resume_collector();
    PyMem_Free(values);
    if (failed) {
        Py_DECREF(flows);
        return nullptr;
    }
    PyObject *result = Py_BuildValue("(Nn)", flows, static_cast<Py_ssize_t>(at - chunk));
    return result;
}

// ---- lines as the cache's entries ----

using flow_rows::Entity;
using flow_rows::Entry;

// The C type a field's value is written as: an enum's underlying one.
template <class T>
using Stored = typename std::conditional_t<std::is_enum_v<T>, std::underlying_type<T>, std::type_identity<T>>::type;

template <class T>
void store(char *at, std::uint64_t bits) {
    auto value = static_cast<Stored<T>>(bits);  // a negative value's two's complement, cut to the field
    std::memcpy(at, &value, sizeof value);
}
#define STORE(RECORD, PATH, base, bits) store<FIELD_TYPE(RECORD, PATH)>(FIELD_AT(RECORD, PATH, base), bits)

struct Limits {
    std::int64_t low;
    std::uint64_t high;
};

template <class T>
constexpr Limits limits() {
    using U = Stored<T>;
    return {static_cast<std::int64_t>(std::numeric_limits<U>::min()),
            static_cast<std::uint64_t>(std::numeric_limits<U>::max())};
}
#define LIMITS(PATH) limits<FIELD_TYPE(Entry, PATH)>()

// The range an integer field's rule must keep within; flags are a C int,
// as the writers read them back.
constexpr Limits kNotInteger{1, 0};
constexpr Limits kPutLimits[kPuts] = {
    LIMITS(flowId), limits<std::int32_t>(), LIMITS(tblId), LIMITS(fkey.portID), LIMITS(fkey.vni), kNotInteger,
    kNotInteger, kNotInteger, LIMITS(fkey.proto), LIMITS(fkey.l2Key.etype), LIMITS(fkey.l2Key.vlanid),
    kNotInteger, kNotInteger, kNotInteger, kNotInteger, LIMITS(pktCount), limits<std::uint64_t>(),
    LIMITS(exprTime)};
static_assert(sizeof(std::remove_extent_t<FIELD_TYPE(Entity, dport)>) == sizeof(std::uint32_t));

Kind put_kind(int put) {
    switch (static_cast<Put>(put)) {
        case Put::field_ipv6: return Kind::boolean;
        case Put::field__source: case Put::field__destination: return Kind::address;
        case Put::field_src_mac: case Put::field_dst_mac: case Put::field_inner_dst_mac: return Kind::mac;
        case Put::field__entities: return Kind::entities;
        default: return Kind::integer;
    }
}

// Whether the rules name every entry field, each within the field's range;
// an entry reader is made only then.
bool rules_fit_entries(Reader &r) {
    for (int p = 0; p < kPuts; ++p) {
        r.put_rule[p] = -1;
        for (int i = 0; i < r.rule_count; ++i)
            if (r.rules[i].field == p) r.put_rule[p] = i;
        if (r.put_rule[p] < 0) return false;
        const Rule &rule = r.rules[r.put_rule[p]];
        Kind kind = put_kind(p);
        if (rule.kind != kind) return false;
        if (kind == Kind::integer && (rule.low < kPutLimits[p].low || rule.high > kPutLimits[p].high)) return false;
        if (kind == Kind::entities &&
            (rule.low > flow_rows::kEntityCapacity || rule.high > flow_rows::kPortCapacity))
            return false;
    }
    return true;
}

std::uint64_t bits_of(const Value &v) { return v.negative ? ~v.magnitude + 1 : v.magnitude; }

// A line's address as the writers would spell it: any other spelling is
// left to the Python reader, which spells it as they do.
bool spelt_as_written(const Value &v, bool v6) {
    if (!v6) return v.plain;  // told by parse, which read the address
    char text[spelling::kIPv6Text];
    return v.text == std::string_view(text, spelling::ipv6_text(text, v.packed));
}

// Ports grown with realloc (a batch's lines are read without the
// interpreter's lock, so not with PyMem): a failed allocation marks them
// failed and the reading stops.
using Ports = grown::Grown<std::uint32_t>;

// A line's values as its entry takes them, kept compact: an entry has room
// for thousands of ports, so a chunk's lines are kept as these (their
// ports in a Ports beside them) and each made an entry only when written.
struct Parsed {
    std::uint64_t bits[kPuts];  // the integer and boolean fields, as stored
    unsigned char src[16], dst[16];
    std::uint64_t mac[3];  // source, destination, inner destination
    std::uint32_t entities;
    std::uint64_t actions[flow_rows::kEntityCapacity];
    std::uint32_t port_count[flow_rows::kEntityCapacity];
    std::size_t ports_at;  // the first port of its first entity in the Ports
};

// A parsed line made compact, its ports appended to ports; false for a
// line whose addresses are not spelt as the writers spell them, or when
// the ports cannot grow (ports.failed).
bool compact(const Reader &r, Parsed &p, Ports &ports) {
    auto value = [&](Put put) -> const Value & { return r.values[r.put_rule[static_cast<int>(put)]]; };
    bool v6 = value(Put::field_ipv6).negative;
    const Value &src = value(Put::field__source), &dst = value(Put::field__destination);
    if (!spelt_as_written(src, v6) || !spelt_as_written(dst, v6)) return false;
    for (int put = 0; put < kPuts; ++put)
        p.bits[put] = put_kind(put) == Kind::integer ? bits_of(r.values[r.put_rule[put]]) : 0;
    p.bits[static_cast<int>(Put::field_ipv6)] = v6;
    std::memcpy(p.src, src.packed, v6 ? 16 : 4);
    std::memcpy(p.dst, dst.packed, v6 ? 16 : 4);
    p.mac[0] = mac_key(value(Put::field_src_mac).text);
    p.mac[1] = mac_key(value(Put::field_dst_mac).text);
    p.mac[2] = mac_key(value(Put::field_inner_dst_mac).text);
    const Value &entities = value(Put::field__entities);
    const Rule &rule = r.rules[r.put_rule[static_cast<int>(Put::field__entities)]];
    p.entities = entities.entities;
    p.ports_at = ports.size();
    for (unsigned k = 0; k < entities.entities; ++k) {
        p.actions[k] = entities.bits[k];
        p.port_count[k] = entities.port_count[k];
        std::uint32_t *room = ports.room(entities.port_count[k]);
        if (!room) return false;
        std::memcpy(room, r.ports + k * rule.high, entities.port_count[k] * sizeof *room);
    }
    return true;
}

void put_mac(char *at, std::uint64_t key) {
    for (int i = 5; i >= 0; --i, key >>= 8) at[i] = static_cast<char>(key & 0xff);
}

// The entry e of a compact line whose ports start at ports.
void fill_entry(char *e, const Parsed &p, const std::uint32_t *ports) {
    auto bits = [&](Put put) { return p.bits[static_cast<int>(put)]; };
    bool v6 = bits(Put::field_ipv6);
    std::size_t size = v6 ? 16 : 4;
    std::memcpy(v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.sip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.sip, e), p.src,
                size);
    std::memcpy(v6 ? FIELD_AT(Entry, fkey.ipKey.ipv6Key.dip, e) : FIELD_AT(Entry, fkey.ipKey.ipv4Key.dip, e), p.dst,
                size);
    STORE(Entry, fkey.flags, e, v6 ? FC_FLOWKEY_IPV6 : 0);
    STORE(Entry, flowId, e, bits(Put::field_id));
    STORE(Entry, fcFlags, e, bits(Put::field_flags));
    STORE(Entry, tblId, e, bits(Put::field_table));
    STORE(Entry, fkey.portID, e, bits(Put::field_port));
    STORE(Entry, fkey.vni, e, bits(Put::field_vni));
    STORE(Entry, fkey.proto, e, bits(Put::field_proto));
    STORE(Entry, fkey.l2Key.etype, e, bits(Put::field_ether));
    STORE(Entry, fkey.l2Key.vlanid, e, bits(Put::field_vlan));
    STORE(Entry, pktCount, e, bits(Put::field_packets));
    STORE(Entry, exprTime, e, bits(Put::field_expires_in_s));
    put_mac(FIELD_AT(Entry, fkey.l2Key.saddr, e), p.mac[0]);
    put_mac(FIELD_AT(Entry, fkey.l2Key.daddr, e), p.mac[1]);
    put_mac(FIELD_AT(Entry, fkey.inner.l2Key.daddr, e), p.mac[2]);
    STORE(Entry, numActionEntities, e, p.entities);
    for (unsigned k = 0; k < p.entities; ++k) {
        char *entity = FIELD_AT(Entry, actionEntity, e) + k * sizeof(Entity);
        STORE(Entity, actionsBitMap, entity, p.actions[k]);
        STORE(Entity, dstPortsNum, entity, p.port_count[k]);
        if (p.port_count[k])  // ports is null while no line had any
            std::memcpy(FIELD_AT(Entity, dport, entity), ports, p.port_count[k] * sizeof(std::uint32_t));
        ports += p.port_count[k];
    }
}

// A query's criteria (the FC_GetFlows arguments but the buffer), as
// reader.keep() takes them: the lines of flows that do not match them are
// taken and left out. Zero matches every flow, as the library has it.
enum FilterField { f_sip, f_dip, f_ipv6, f_port, f_dmac, f_vni, f_ether, f_vlan, f_proto, f_inner_dmac, f_table,
                   kFilterFields };
struct Filter {
    std::uint64_t value[kFilterFields];
};

// The 32 bits a flow key holds of an address: its last four bytes as they
// lie in memory, the first the lowest.
std::uint64_t key_word(const unsigned char *packed, bool v6) {
    std::uint32_t word;
    std::memcpy(&word, packed + (v6 ? 12 : 0), sizeof word);
    return word;
}

bool kept(const Filter *f, const Parsed &p) {
    if (!f) return true;
    auto bits = [&](Put put) { return p.bits[static_cast<int>(put)]; };
    bool v6 = bits(Put::field_ipv6);
    const std::uint64_t have[kFilterFields] = {
        key_word(p.src, v6), key_word(p.dst, v6), v6, bits(Put::field_port), p.mac[1], bits(Put::field_vni),
        bits(Put::field_ether), bits(Put::field_vlan), bits(Put::field_proto), p.mac[2], bits(Put::field_table)};
    for (int k = 0; k < kFilterFields; ++k)
        if (f->value[k] && f->value[k] != have[k]) return false;
    return true;
}

// The next whole line of text from at, parsed and made compact into p;
// its end, or null at the end of the text or at a line it cannot take so.
const char *compact_line(const Reader &r, const char *at, const char *end, Parsed &p, Ports &ports) {
    if (at == end) return nullptr;
    const char *line_end = static_cast<const char *>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
    if (!line_end || line_end - at >= r.line_limit || !parse(r, at, line_end, r.values) || !compact(r, p, ports))
        return nullptr;
    return line_end;
}

// A chunk's lines read ahead (reader.parse_chunk), compact: as an answer,
// the flows of its lines, each made an entry once, when it is written.
struct Batch {
    PyObject_HEAD
    grown::Grown<Parsed> lines;
    Ports ports;
    Py_ssize_t count, next;  // the lines a writer writes (cut() may cut them), and the next one
    char *entry;
};

PyTypeObject *batch_type;  // made with the reader's type

void batch_dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    auto *b = reinterpret_cast<Batch *>(self);
    b->lines.~Grown();
    b->ports.~Ports();
    PyMem_Free(b->entry);
    t->tp_free(self);
    Py_DECREF(t);
}

// The lines of text from at that compact_line takes, into b, without the
// interpreter's lock: where the first line not taken starts, or null when
// memory ran out.
const char *parse_lines(const Reader &r, Batch &b, const char *at, const char *end, Py_ssize_t &taken) {
    // Room for the lines of a chunk of the writers' lines, most of which
    // are longer than 256 bytes, at once: only the pages used are touched.
    if (!b.lines.reserve(static_cast<std::size_t>(end - at) / 256 + 16)) return nullptr;
    for (;;) {
        Parsed *p = b.lines.reserve(1);
        if (!p) return nullptr;
        const char *line_end = compact_line(r, at, end, *p, b.ports);
        if (b.ports.failed()) return nullptr;
        if (!line_end) break;
        at = line_end + 1;
        ++taken;
        if (kept(r.filter, *p)) b.lines.took(p + 1);
        else b.ports.drop(b.ports.size() - p->ports_at);  // its ports go with it
    }
    b.count = static_cast<Py_ssize_t>(b.lines.size());
    return at;
}

// reader.parse_chunk(chunk): (batch, count, stop). The whole lines of the
// bytes chunk up to the first not accepted, or not ended, which starts at
// offset stop, read while other threads run; batch, given to a flow_text
// writer as its answer, writes their count flows.
PyObject *parse_chunk(PyObject *self, PyObject *chunk) noexcept {
    if (!PyBytes_Check(chunk)) {
        PyErr_SetString(PyExc_TypeError, "snapshot_lines.parse_chunk: bytes needed");
        return nullptr;
    }
    Reader &r = *reinterpret_cast<Reader *>(self);
    auto *b = PyObject_New(Batch, batch_type);
    if (!b) return nullptr;
    new (&b->lines) grown::Grown<Parsed>;
    new (&b->ports) Ports;
    b->count = b->next = 0;
    b->entry = static_cast<char *>(PyMem_Calloc(1, sizeof(Entry)));
    PyObject *made = reinterpret_cast<PyObject *>(b);
    if (!b->entry) {
        Py_DECREF(made);
        return PyErr_NoMemory();
    }
    const char *text = PyBytes_AS_STRING(chunk), *stop = text;
    Py_ssize_t taken = 0;
    if (r.entry) {
        // The chunk is the caller's until the call returns; the reader, with
        // the values it parses into, is this thread's (see Snapshot.pages).
        Py_BEGIN_ALLOW_THREADS
        stop = parse_lines(r, *b, text, text + PyBytes_GET_SIZE(chunk), taken);
        Py_END_ALLOW_THREADS
    }
    if (!stop) {
        Py_DECREF(made);
        return PyErr_NoMemory();
    }
    return Py_BuildValue("(Nnn)", made, taken, static_cast<Py_ssize_t>(stop - text));
}

// reader.aim(chunk, start, most=-1): next_entry() reads the lines of the
// bytes chunk from start on, and gives at most `most` entries (-1: any).
PyObject *aim(PyObject *self, PyObject *const *args, Py_ssize_t count) noexcept {
    Py_ssize_t start = -1, most = -1;
    if ((count == 2 || count == 3) && PyBytes_Check(args[0])) {
        start = PyLong_AsSsize_t(args[1]);
        if (count == 3 && !PyErr_Occurred()) most = PyLong_AsSsize_t(args[2]);
    }
    if (PyErr_Occurred() || start < 0 || start > PyBytes_GET_SIZE(args[0]) || most < -1) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "snapshot_lines.aim: (bytes, offset in them, most entries or -1) needed");
        return nullptr;
    }
    Reader &r = *reinterpret_cast<Reader *>(self);
    Py_INCREF(args[0]);
    Py_XSETREF(r.aimed, args[0]);
    r.aimed_at = start;
    r.taken = r.given = 0;
    r.most = most;
    Py_RETURN_NONE;
}

// batch.cut(most): the writer given the batch writes no more than its first
// `most` flows.
PyObject *cut(PyObject *self, PyObject *most) noexcept {
    Py_ssize_t n = PyLong_AsSsize_t(most);
    if (n < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "snapshot_lines_batch.cut: a count, 0 or more");
        return nullptr;
    }
    Batch &b = *reinterpret_cast<Batch *>(self);
    b.count = std::min(b.count, b.next + n);
    Py_RETURN_NONE;
}

PyMethodDef batch_methods[] = {
    {"cut", cut, METH_O, "cut($self, most, /)\n--\n\nA writer given the batch writes no more than its next most flows."},
    {nullptr, nullptr, 0, nullptr},
};

// reader.taken(): the lines next_entry() took since aim(), those keep() left out too.
PyObject *taken(PyObject *self, PyObject *) noexcept {
    return PyLong_FromSsize_t(reinterpret_cast<Reader *>(self)->taken);
}

// reader.keep(criteria): from now on the entries given, and the lines
// parse_chunk() keeps, are only those of flows that match criteria: the
// eleven numbers of FilterField's order, zero for any (MACs as 48 bits,
// addresses as key words); None for every flow.
PyObject *keep(PyObject *self, PyObject *criteria) noexcept {
    Reader &r = *reinterpret_cast<Reader *>(self);
    if (criteria == Py_None) {
        PyMem_Free(r.filter);
        r.filter = nullptr;
        Py_RETURN_NONE;
    }
    Filter f;
    if (!PyTuple_Check(criteria) || PyTuple_GET_SIZE(criteria) != kFilterFields) {
        PyErr_Format(PyExc_TypeError, "snapshot_lines.keep: a tuple of %d numbers or None", int(kFilterFields));
        return nullptr;
    }
    for (int k = 0; k < kFilterFields; ++k) {
        f.value[k] = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(criteria, k));
        if (PyErr_Occurred()) return nullptr;
    }
    if (!r.filter && !(r.filter = static_cast<Filter *>(PyMem_Malloc(sizeof(Filter))))) return PyErr_NoMemory();
    *r.filter = f;
    Py_RETURN_NONE;
}

// reader.stopped(): the offset of the first line next_entry() did not take; the chunk let go.
PyObject *stopped(PyObject *self, PyObject *) noexcept {
    Reader &r = *reinterpret_cast<Reader *>(self);
    Py_CLEAR(r.aimed);
    return PyLong_FromSsize_t(r.aimed_at);
}

[[gnu::cold, gnu::noinline]] bool refuse_rule(PyObject *rule) {
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_ValueError, "snapshot_lines: %R is not (key, field or None, kind) of a flow field", rule);
    return false;
}

// A rule from (key, field name or None, kind): ("integer", low, high),
// ("bool",), ("address", key of the IPv6 boolean), ("mac",), ("name",
// longest), ("entities", most entities, most ports, key of the actions,
// key of the ports).
bool learn_rule(Reader &r, int i, PyObject *rule) {
    Rule &into = r.rules[i];
    PyObject *key, *field, *kind;
    if (!PyTuple_Check(rule) || !PyArg_ParseTuple(rule, "UOO!", &key, &field, &PyTuple_Type, &kind))
        return refuse_rule(rule);
    Py_ssize_t size;
    const char *text = PyUnicode_AsUTF8AndSize(key, &size);
    if (!text || PyTuple_GET_SIZE(kind) < 1 || !PyUnicode_Check(PyTuple_GET_ITEM(kind, 0))) return refuse_rule(rule);
    into.key = std::string_view(text, static_cast<std::size_t>(size));
    into.family = into.field = -1;  // the reader's memory is zeroed, not constructed (last is null)
    if (field != Py_None) {
        const char *name = PyUnicode_Check(field) ? PyUnicode_AsUTF8(field) : nullptr;
        into.field = name ? flow_object::field_named(name) : -1;
        if (into.field < 0) return refuse_rule(rule);
    }
    const char *kind_name = PyUnicode_AsUTF8(PyTuple_GET_ITEM(kind, 0));
    Py_ssize_t n = PyTuple_GET_SIZE(kind);
    long long low = 0;
    unsigned long long high = 0;
    if (!kind_name) return false;
    if (n == 3 || n == 5) {
        low = PyLong_AsLongLong(PyTuple_GET_ITEM(kind, 1));
        high = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(kind, 2));
    } else if (n == 2 && std::strcmp(kind_name, "name") == 0) {
        high = PyLong_AsUnsignedLongLong(PyTuple_GET_ITEM(kind, 1));
    }
    if (PyErr_Occurred()) return refuse_rule(rule);
    into.low = low;
    into.high = high;
    std::string_view k(kind_name);
    if (k == "integer" && n == 3 && (low <= 0 || static_cast<unsigned long long>(low) <= high)) {
        into.kind = Kind::integer;
    } else if (k == "bool" && n == 1) {
        into.kind = Kind::boolean;
    } else if (k == "mac" && n == 1) {
        into.kind = Kind::mac;
    } else if (k == "name" && n == 2) {
        into.kind = Kind::name;
    } else if (k == "entities" && n == 5 && !r.ports && low > 0 && low <= kActionBits && high > 0 &&
               high <= 1 << 16) {
        into.kind = Kind::entities;
        for (int e = 0; e < 2; ++e) {
            PyObject *name = PyTuple_GET_ITEM(kind, 3 + e);
            const char *utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
            if (!utf8) return refuse_rule(rule);
            r.entity_key[e] = std::string_view(utf8, static_cast<std::size_t>(size));
        }
        r.ports = static_cast<std::uint32_t *>(PyMem_Malloc(sizeof(std::uint32_t) * low * high));
        if (!r.ports) return PyErr_NoMemory(), false;
    } else if (k == "address" && n == 2 && PyUnicode_Check(PyTuple_GET_ITEM(kind, 1))) {
        into.kind = Kind::address;
        into.family = -2;  // resolved once every rule is known
    } else {
        return refuse_rule(rule);
    }
    return true;
}

// Each address rule names the boolean rule it goes by.
bool resolve_families(Reader &r, PyObject *rules) {
    for (int i = 0; i < r.rule_count; ++i) {
        if (r.rules[i].kind != Kind::address) continue;
        PyObject *rule = PyTuple_GET_ITEM(rules, i);
        const char *by = PyUnicode_AsUTF8(PyTuple_GET_ITEM(PyTuple_GET_ITEM(rule, 2), 1));
        for (int j = 0; by && j < r.rule_count; ++j)
            if (r.rules[j].kind == Kind::boolean && r.rules[j].key == by) r.rules[i].family = j;
        if (r.rules[i].family < 0) return refuse_rule(rule);
    }
    return true;
}

// Every field of a flow is filled by exactly one rule: a field left unset
// would raise AttributeError when read.
bool fills_every_field(const Reader &r) {
    int filled = 0;
    for (int i = 0; i < r.rule_count; ++i) {
        if (r.rules[i].field < 0) continue;
        ++filled;
        for (int j = 0; j < i; ++j)
            if (r.rules[j].field == r.rules[i].field) filled = -1 - flow_object::kFields;
    }
    if (filled == flow_object::kFields) return true;
    PyErr_Format(PyExc_ValueError, "snapshot_lines: the rules fill %d fields of %.200s, not its %d", filled,
                 r.flow_type->tp_name, static_cast<int>(flow_object::kFields));
    return false;
}

// Each rule's lead, as parse_as_written matches it. A key is a text
// without escapes, as a line's keys must be for parse_any_order: a lead
// matched as bytes then accepts no line that it refuses.
bool spell_leads(Reader &r) {
    std::size_t size = 0;
    for (int i = 0; i < r.rule_count; ++i) {
        for (char k : r.rules[i].key)
            if (static_cast<unsigned char>(k) < 0x20 || static_cast<unsigned char>(k) > 0x7e || k == '"' || k == '\\')
                return refuse_rule(PyTuple_GET_ITEM(r.keys, i));
        size += r.rules[i].key.size() + 4;
    }
    if (!(r.leads = static_cast<char *>(PyMem_Malloc(size ? size : 1)))) return PyErr_NoMemory(), false;
    char *at = r.leads;
    for (int i = 0; i < r.rule_count; ++i) {
        std::string_view key = r.rules[i].key;
        char *start = at;
        *at++ = i == 0 ? '{' : ',';
        *at++ = '"';
        std::memcpy(at, key.data(), key.size());
        at += key.size();
        *at++ = '"';
        *at++ = ':';
        r.rules[i].lead = std::string_view(start, static_cast<std::size_t>(at - start));
    }
    return true;
}

int traverse(PyObject *self, visitproc visit, void *arg) {
    auto *r = reinterpret_cast<Reader *>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(r->flow_type);
    Py_VISIT(r->action_names);
    Py_VISIT(r->keys);
    Py_VISIT(r->aimed);
    return 0;
}

int clear(PyObject *self) {
    auto *r = reinterpret_cast<Reader *>(self);
    Py_CLEAR(r->flow_type);
    Py_CLEAR(r->action_names);
    Py_CLEAR(r->keys);
    Py_CLEAR(r->aimed);
    for (int i = 0; i < r->rule_count; ++i) Py_CLEAR(r->rules[i].last);
    r->rule_count = 0;
    return 0;
}

void dealloc(PyObject *self) {
    PyTypeObject *t = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    auto *r = reinterpret_cast<Reader *>(self);
    PyMem_Free(r->ports);
    PyMem_Free(r->entry);
    PyMem_Free(r->values);
    PyMem_Free(r->leads);
    PyMem_Free(r->parsed);
    PyMem_Free(r->filter);
    delete r->line_ports;
    t->tp_free(self);
    Py_DECREF(t);
}

// snapshot_lines(flow_class, action_names, rules, line_limit, depth_limit)
PyObject *make(PyTypeObject *t, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"flow_class", "action_names", "rules", "line_limit", "depth_limit", nullptr};
    PyObject *flow_class, *names, *rules;
    Py_ssize_t line_limit, depth_limit;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!O!O!nn:snapshot_lines", const_cast<char **>(keywords),
                                     &PyType_Type, &flow_class, &PyTuple_Type, &names, &PyTuple_Type, &rules,
                                     &line_limit, &depth_limit))
        return nullptr;
    if (PyTuple_GET_SIZE(names) != kActionBits || PyTuple_GET_SIZE(rules) > kMaxRules || line_limit <= 0 ||
        depth_limit < kFlowDepth) {
        PyErr_Format(PyExc_ValueError,
                     "snapshot_lines: %d action names, at most %d rules, a line limit and a depth limit of at "
                     "least %d are needed", kActionBits, kMaxRules, kFlowDepth);
        return nullptr;
    }
    if (!flow_object::fillable(reinterpret_cast<PyTypeObject *>(flow_class), "snapshot_lines")) return nullptr;
    auto *r = reinterpret_cast<Reader *>(t->tp_alloc(t, 0));
    if (!r) return nullptr;
    for (Py_ssize_t i = 0; i < kActionBits; ++i) {
        Py_ssize_t size;
        PyObject *name = PyTuple_GET_ITEM(names, i);
        const char *text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &size) : nullptr;
        if (!text) {
            if (!PyErr_Occurred()) PyErr_Format(PyExc_TypeError, "snapshot_lines: action name %zd is not a str", i);
            Py_DECREF(reinterpret_cast<PyObject *>(r));
            return nullptr;
        }
        r->action_text[i] = std::string_view(text, static_cast<std::size_t>(size));
    }
    PyObject *self = reinterpret_cast<PyObject *>(r);
    Py_INCREF(flow_class);
    Py_INCREF(names);
    Py_INCREF(rules);
    r->flow_type = reinterpret_cast<PyTypeObject *>(flow_class);
    r->action_names = names;
    r->keys = rules;
    r->line_limit = line_limit;
    bool ready = true;
    for (int i = 0; ready && i < PyTuple_GET_SIZE(rules); ++i) {
        r->rule_count = i + 1;
        ready = learn_rule(*r, i, PyTuple_GET_ITEM(rules, i));
    }
    ready = ready && resolve_families(*r, rules) && fills_every_field(*r) && spell_leads(*r);
    if (ready && rules_fit_entries(*r)) {
        r->entry = static_cast<char *>(PyMem_Calloc(1, sizeof(Entry)));
        r->values = static_cast<Value *>(PyMem_Malloc(sizeof(Value) * r->rule_count));
        r->parsed = static_cast<Parsed *>(PyMem_Calloc(1, sizeof(Parsed)));
        r->line_ports = new (std::nothrow) Ports;
        if (!r->entry || !r->values || !r->parsed || !r->line_ports) ready = !PyErr_NoMemory();
    }
    if (ready) return self;
    Py_DECREF(self);
    return nullptr;
}

PyMethodDef reader_methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_FASTCALL,
     "read($self, chunk, start, /)\n--\n\n"
     "(flows, stop): the flows of the whole lines of the bytes chunk from offset start on, up to the\n"
     "first line not accepted, or not ended in the chunk, which starts at offset stop."},
    {"aim", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(aim)), METH_FASTCALL,
     "aim($self, chunk, start, most=-1, /)\n--\n\n"
     "Points the reader at the lines of the bytes chunk from offset start on: a flow_text writer\n"
     "given the reader writes the flows of the lines accepted, up to the first other one, and no more\n"
     "than most of them (-1: any number)."},
    {"parse_chunk", parse_chunk, METH_O,
     "parse_chunk($self, chunk, /)\n--\n\n"
     "(batch, count, stop): the whole lines of the bytes chunk up to the first not accepted, or not\n"
     "ended, which starts at offset stop, read without the interpreter's lock; a flow_text writer\n"
     "given batch writes the flows of those count lines."},
    {"stopped", stopped, METH_NOARGS,
     "stopped($self, /)\n--\n\n"
     "The offset of the first line the writer did not take; the chunk is let go."},
    {"taken", taken, METH_NOARGS,
     "taken($self, /)\n--\n\n"
     "The lines the writer took since aim(), those keep() left out included."},
    {"keep", keep, METH_O,
     "keep($self, criteria, /)\n--\n\n"
     "Gives, and parses ahead, only the flows that match criteria: eleven numbers in FC_GetFlows'\n"
     "order of its criteria (MACs as 48 bits, addresses as a key's 32-bit words), zero for any; None\n"
     "for every flow."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool is_reader(PyObject *object) noexcept { return Py_TYPE(object) == type() || Py_TYPE(object) == batch_type; }

PyTypeObject *batch_type_made() noexcept { return batch_type; }

const char *next_entry(PyObject *answer, std::uint64_t &age_s) noexcept {
    if (Py_TYPE(answer) == batch_type) {
        Batch &b = *reinterpret_cast<Batch *>(answer);
        if (b.next == b.count) return nullptr;
        const Parsed &p = b.lines[b.next++];
        fill_entry(b.entry, p, b.ports.begin() + p.ports_at);
        age_s = p.bits[static_cast<int>(Put::field_age_s)];
        return b.entry;
    }
    Reader &r = *reinterpret_cast<Reader *>(answer);
    if (!r.entry || !r.aimed || r.given == r.most) return nullptr;
    const char *chunk = PyBytes_AS_STRING(r.aimed), *end = chunk + PyBytes_GET_SIZE(r.aimed);
    Parsed &p = *r.parsed;
    do {
        r.line_ports->clear();
        const char *line_end = compact_line(r, chunk + r.aimed_at, end, p, *r.line_ports);
        if (!line_end) return nullptr;
        r.aimed_at = line_end + 1 - chunk;
        ++r.taken;
    } while (!kept(r.filter, p));
    ++r.given;
    fill_entry(r.entry, p, r.line_ports->begin() + p.ports_at);
    age_s = p.bits[static_cast<int>(Put::field_age_s)];
    return r.entry;
}

PyTypeObject *type() {
    static PyTypeObject *made = nullptr;
    if (made) return made;
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void *>(make)},
        {Py_tp_methods, reader_methods},
        {Py_tp_traverse, reinterpret_cast<void *>(traverse)},
        {Py_tp_clear, reinterpret_cast<void *>(clear)},
        {Py_tp_dealloc, reinterpret_cast<void *>(dealloc)},
        {Py_tp_doc, const_cast<char *>(
                        "snapshot_lines(flow_class, action_names, rules, line_limit, depth_limit)\n"
                        "A reader of snapshot flow lines: rules is a tuple of (key, field of flow_class or None,\n"
                        "kind) naming every field of a line and what it must be; action_names names bit n of an\n"
                        "action bit map. read() turns the lines it accepts into flow_class objects and stops at\n"
                        "any other line.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "_libfc_fields.snapshot_lines", sizeof(Reader), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots,
    };
    static PyType_Slot batch_slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void *>(batch_dealloc)},
        {Py_tp_methods, batch_methods},
        {Py_tp_doc, const_cast<char *>("The lines of a chunk snapshot_lines.parse_chunk read, as a writer's answer.")},
        {0, nullptr},
    };
    static PyType_Spec batch_spec = {
        "_libfc_fields.snapshot_lines_batch", sizeof(Batch), 0, Py_TPFLAGS_DEFAULT, batch_slots,
    };
    batch_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&batch_spec));
    if (!batch_type) return nullptr;
    made = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&spec));
    return made;
}

}  // namespace snapshot_lines
