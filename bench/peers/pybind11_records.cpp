// The benchmark's records bound with pybind11 the way its documentation
// shows: def_readwrite where a reference can bind, lambdas for packed and
// bit-field members.
#include <pybind11/pybind11.h>

#include <cstddef>

#include "record_access.hpp"

namespace py = pybind11;

PYBIND11_MODULE(bench_pybind11, m) {
    py::class_<hyp_FabPortStatistics>(m, "hyp_FabPortStatistics")
        .def(py::init<>())
        .def_readwrite("pktsInUnicast", &hyp_FabPortStatistics::pktsInUnicast)
        .def_readwrite("bytesInUnicast", &hyp_FabPortStatistics::bytesInUnicast);

    py::class_<hyp_IPv4Hdr>(m, "hyp_IPv4Hdr")
        .def(py::init<>())
        .def_property(
            "headerLength", [](const hyp_IPv4Hdr &h) { return peer::nibble(h, 0); },
            [](hyp_IPv4Hdr &h, std::uint8_t v) { peer::set_nibble(h, 0, v); })
        .def_property(
            "version", [](const hyp_IPv4Hdr &h) { return peer::nibble(h, 4); },
            [](hyp_IPv4Hdr &h, std::uint8_t v) { peer::set_nibble(h, 4, v); })
        .def_property(
            "totalLength", [](const hyp_IPv4Hdr &h) { return peer::load<hyp_uint16>(&h.totalLength); },
            [](hyp_IPv4Hdr &h, hyp_uint16 v) { peer::store(&h.totalLength, v); })
        .def_property(
            "ttl", [](const hyp_IPv4Hdr &h) { return h.ttl; }, [](hyp_IPv4Hdr &h, hyp_uint8 v) { h.ttl = v; });

    py::class_<FC_l2Key>(m, "FC_l2Key")
        .def(py::init<>())
        .def_property(
            "daddr", [](const FC_l2Key &k) { return peer::mac_text(k.daddr); },
            [](FC_l2Key &k, py::bytes v) { peer::set_mac(k.daddr, std::string_view(v)); })
        .def_readwrite("etype", &FC_l2Key::etype);

    py::class_<FC_FlowKey>(m, "FC_FlowKey")
        .def(py::init<>())
        .def_readwrite("portID", &FC_FlowKey::portID)
        .def_readwrite("vni", &FC_FlowKey::vni)
        .def_readwrite("l2Key", &FC_FlowKey::l2Key);

    py::class_<FC_FlowEntryIOC>(m, "FC_FlowEntryIOC")
        .def(py::init<>())
        .def_property(
            "flowId", [](const FC_FlowEntryIOC &e) { return peer::load<hyp_uint64>(&e.flowId); },
            [](FC_FlowEntryIOC &e, hyp_uint64 v) { peer::store(&e.flowId, v); })
        .def_property_readonly(
            "fkey",
            [](FC_FlowEntryIOC &e) {
                return reinterpret_cast<FC_FlowKey *>(reinterpret_cast<char *>(&e) + offsetof(FC_FlowEntryIOC, fkey));
            },
            py::return_value_policy::reference_internal);
}
