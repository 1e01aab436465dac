// The four address functions: an IPv4 or IPv6 address a record holds in
// network order, as text through inet_ntop. They differ only in where the
// address bytes lie for each family and in what names the family.

#include <arpa/inet.h>

#include <cstddef>

#include "flowcache/flowcache_query_methods.hpp"
#include "runtime/element_methods.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

namespace {

// The family comes from argument 2 (any non-zero int is IPv6), or from the
// record's own flag byte at a given offset.
constexpr std::ptrdiff_t kFamilyFromArgument = -1;

struct AddressSource {
    const char *method;
    int record_type;
    const char *record_text;
    std::size_t v4;               // offset of the 4 bytes of an IPv4 address
    std::size_t v6;               // offset of the 16 bytes of an IPv6 address
    std::ptrdiff_t family_flag;  // offset of the record's isV6 byte, or kFamilyFromArgument
};

PyObject *address_text(const AddressSource &source, PyObject *args) {
    const bool flag_argument = source.family_flag == kFamilyFromArgument;
    char *record;
    int is_v6 = 0;
    if (!element::record_and_int(args, source.method, source.record_type, source.record_text, &record,
                                 flag_argument ? &is_v6 : nullptr))
        return nullptr;
    const bool v6 = flag_argument ? is_v6 != 0 : record[source.family_flag] != 0;
    const char *bytes = record + (v6 ? source.v6 : source.v4);
    char text[INET6_ADDRSTRLEN];  // 46: the longest IPv6 text and its terminator
    const char *formatted = nullptr;
    auto format = [bytes, v6, &text, &formatted] {
        formatted = inet_ntop(v6 ? AF_INET6 : AF_INET, bytes, text, sizeof text);
    };
    if (trap::armed(format)) return trap::raise_abandoned_call();
    if (!formatted) [[unlikely]]
        return PyErr_SetFromErrno(PyExc_OSError);
    return PyUnicode_FromString(text);
}

// An entry's key: both families' source addresses open the key's union, the
// destination addresses lie at different places.
constexpr std::size_t kEntryKey = offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey);

constexpr AddressSource kEntrySource{"FC_FlowEntryIOC_get_srcip_entry", ty::p_FC_FlowEntryIOC, "FC_FlowEntryIOC *",
                                     kEntryKey + offsetof(FC_FlowKey_ipKey, ipv4Key.sip),
                                     kEntryKey + offsetof(FC_FlowKey_ipKey, ipv6Key.sip), kFamilyFromArgument};
constexpr AddressSource kEntryDestination{"FC_FlowEntryIOC_get_dstip_entry", ty::p_FC_FlowEntryIOC,
                                          "FC_FlowEntryIOC *", kEntryKey + offsetof(FC_FlowKey_ipKey, ipv4Key.dip),
                                          kEntryKey + offsetof(FC_FlowKey_ipKey, ipv6Key.dip), kFamilyFromArgument};

// A tunnel keeps IPv4 addresses in the first 4 of its 16 address bytes.
constexpr std::ptrdiff_t kTunnelFamily = offsetof(FC_VDL2EncapActionDataIOC, isV6);
constexpr AddressSource kTunnelSource{"FC_VDL2EncapActionDataIOC_get_sip", ty::p_FC_VDL2EncapActionDataIOC,
                                      "FC_VDL2EncapActionDataIOC *", offsetof(FC_VDL2EncapActionDataIOC, sip),
                                      offsetof(FC_VDL2EncapActionDataIOC, sip), kTunnelFamily};
constexpr AddressSource kTunnelDestination{"FC_VDL2EncapActionDataIOC_get_dip", ty::p_FC_VDL2EncapActionDataIOC,
                                           "FC_VDL2EncapActionDataIOC *", offsetof(FC_VDL2EncapActionDataIOC, dip),
                                           offsetof(FC_VDL2EncapActionDataIOC, dip), kTunnelFamily};

}  // namespace

PyObject *FC_FlowEntryIOC_srcip_text(PyObject *, PyObject *args) noexcept { return address_text(kEntrySource, args); }
PyObject *FC_FlowEntryIOC_dstip_text(PyObject *, PyObject *args) noexcept {
    return address_text(kEntryDestination, args);
}
PyObject *FC_VDL2EncapActionDataIOC_sip_text(PyObject *, PyObject *args) noexcept {
    return address_text(kTunnelSource, args);
}
PyObject *FC_VDL2EncapActionDataIOC_dip_text(PyObject *, PyObject *args) noexcept {
    return address_text(kTunnelDestination, args);
}
