// Parsing a flow query's address texts and matching cached flows with it.

#include "flow_filter.hpp"

#include <cstddef>
#include <cstring>

namespace fcemu {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "xx:xx:xx:xx:xx:xx" with one or two hex digits a group, ':' or '-'
// between groups; NULL or empty leaves the address zero (a wildcard).
fcemu_status parse_mac(const char *text, hyp_uint8 (&address)[6]) {
    std::memset(address, 0, sizeof address);
    if (!text || !*text) return FCEMU_OK;
    const char *at = text;
    for (int group = 0; group < 6; ++group) {
        int digits = 0, value = 0;
        for (int digit; digits < 2 && (digit = hex_digit(*at)) >= 0; ++at, ++digits) value = value * 16 + digit;
        bool separated = group == 5 ? *at == '\0' : (*at == ':' || *at == '-');
        if (digits == 0 || !separated) {
            std::memset(address, 0, sizeof address);
            return fail(FCEMU_BAD_VALUE, "invalid MAC address %s", quoted(text));
        }
        address[group] = static_cast<hyp_uint8>(value);
        if (group < 5) ++at;
    }
    return FCEMU_OK;
}

bool zero(const hyp_uint8 (&address)[6]) {
    static const hyp_uint8 none[6] = {};
    return std::memcmp(address, none, sizeof none) == 0;
}

// The 32 bits an IPv4 criterion is compared with: the address itself, or
// the last four bytes of an IPv6 address.
std::uint32_t low_word(const FC_FlowKey &key, bool source) {
    std::uint32_t word;
    if (key.flags & FC_FLOWKEY_IPV6)
        std::memcpy(&word, (source ? key.ipKey.ipv6Key.sip : key.ipKey.ipv6Key.dip) + 12, sizeof word);
    else
        word = source ? key.ipKey.ipv4Key.sip : key.ipKey.ipv4Key.dip;
    return word;
}

}  // namespace

fcemu_status parse_filter(const fcemu_query &query, FlowFilter &filter) {
    filter.values = query.values;
    if (fcemu_status status = parse_mac(query.daddr, filter.values.daddr)) return status;
    return parse_mac(query.innerdaddr, filter.values.innerdaddr);
}

bool matches(const FlowFilter &filter, const FC_FlowKey &key, std::uint32_t table_id) {
    const FC_FlowsFilter &want = filter.values;
    auto differs = [](std::uint32_t wanted, std::uint32_t have) { return wanted != 0 && wanted != have; };
    if (differs(want.sip, low_word(key, true)) || differs(want.dip, low_word(key, false))) return false;
    if (want.isV6 && !(key.flags & FC_FLOWKEY_IPV6)) return false;
    if (differs(want.switchPort, key.portID) || differs(want.vni, key.vni)) return false;
    if (!zero(want.daddr) && std::memcmp(want.daddr, key.l2Key.daddr, 6) != 0) return false;
    if (differs(want.ether, key.l2Key.etype) || differs(want.vlanid, key.l2Key.vlanid)) return false;
    if (differs(want.proto, key.proto)) return false;
    if (!zero(want.innerdaddr) && std::memcmp(want.innerdaddr, key.inner.l2Key.daddr, 6) != 0) return false;
    return !differs(want.tid, table_id);
}

}  // namespace fcemu
