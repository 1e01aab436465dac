// The benchmark's records bound with nanobind the way its documentation
// shows: def_rw where a reference can bind, lambdas for packed and bit-field
// members.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cstddef>

#include "record_access.hpp"

namespace nb = nanobind;

NB_MODULE(bench_nanobind, m) {
    nb::class_<hyp_FabPortStatistics>(m, "hyp_FabPortStatistics")
        .def(nb::init<>())
        .def_rw("pktsInUnicast", &hyp_FabPortStatistics::pktsInUnicast)
        .def_rw("bytesInUnicast", &hyp_FabPortStatistics::bytesInUnicast);

    nb::class_<hyp_IPv4Hdr>(m, "hyp_IPv4Hdr")
        .def(nb::init<>())
        .def_prop_rw(
            "headerLength", [](const hyp_IPv4Hdr &h) { return peer::nibble(h, 0); },
            [](hyp_IPv4Hdr &h, std::uint8_t v) { peer::set_nibble(h, 0, v); })
        .def_prop_rw(
            "version", [](const hyp_IPv4Hdr &h) { return peer::nibble(h, 4); },
            [](hyp_IPv4Hdr &h, std::uint8_t v) { peer::set_nibble(h, 4, v); })
        .def_prop_rw(
            "totalLength", [](const hyp_IPv4Hdr &h) { return peer::load<hyp_uint16>(&h.totalLength); },
            [](hyp_IPv4Hdr &h, hyp_uint16 v) { peer::store(&h.totalLength, v); })
        .def_prop_rw(
            "ttl", [](const hyp_IPv4Hdr &h) { return h.ttl; }, [](hyp_IPv4Hdr &h, hyp_uint8 v) { h.ttl = v; });

    nb::class_<FC_l2Key>(m, "FC_l2Key")
        .def(nb::init<>())
        .def_prop_rw(
            "daddr", [](const FC_l2Key &k) { return peer::mac_text(k.daddr); },
            [](FC_l2Key &k, nb::bytes v) { peer::set_mac(k.daddr, std::string_view(v.c_str(), v.size())); })
        .def_rw("etype", &FC_l2Key::etype);

    nb::class_<FC_FlowKey>(m, "FC_FlowKey")
        .def(nb::init<>())
        .def_rw("portID", &FC_FlowKey::portID)
        .def_rw("vni", &FC_FlowKey::vni)
        .def_rw("l2Key", &FC_FlowKey::l2Key);

    nb::class_<FC_FlowEntryIOC>(m, "FC_FlowEntryIOC")
        .def(nb::init<>())
        .def_prop_rw(
            "flowId", [](const FC_FlowEntryIOC &e) { return peer::load<hyp_uint64>(&e.flowId); },
            [](FC_FlowEntryIOC &e, hyp_uint64 v) { peer::store(&e.flowId, v); })
        .def_prop_ro(
            "fkey",
            [](FC_FlowEntryIOC &e) {
                return reinterpret_cast<FC_FlowKey *>(reinterpret_cast<char *>(&e) + offsetof(FC_FlowEntryIOC, fkey));
            },
            nb::rv_policy::reference_internal);
}
