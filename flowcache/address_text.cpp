// The four address functions: an IPv4 or IPv6 address a record holds in
// network order, as inet_ntop writes it. They differ only in where the
// address bytes lie for each family and in what names the family.

#include <cstddef>
#include <cstring>

#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/ip_text.hpp"
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
    char text[ip_text::kIPv6Max];
    char *end = text;
    auto format = [bytes, v6, &text, &end] {
        const auto *address = reinterpret_cast<const unsigned char *>(bytes);
        end = v6 ? ip_text::write_ipv6(text, address) : ip_text::write_ipv4(text, address);
    };
    if (trap::armed(format)) return trap::raise_abandoned_call();
    const Py_ssize_t n = end - text;
    PyObject *result = PyUnicode_New(n, 127);  // ASCII, copied in: no decoding
    if (result) std::memcpy(PyUnicode_DATA(result), text, static_cast<std::size_t>(n));
    return result;
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
