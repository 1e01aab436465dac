// FC_VDL2EncapActionDataIOC_get_sip: the tunnel's sip as text, of the family
// the record's own isV6 byte names (IPv4 uses the first 4 of the 16 bytes).

#include <cstddef>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "flowcache/ip_address_text.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_VDL2EncapActionDataIOC_sip_text(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_VDL2EncapActionDataIOC_get_sip";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    char *data;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_VDL2EncapActionDataIOC, kMethod,
                                       "FC_VDL2EncapActionDataIOC *", &data))
        return nullptr;
    bool v6 = data[offsetof(FC_VDL2EncapActionDataIOC, isV6)] != 0;
    return ip_address_text(data + offsetof(FC_VDL2EncapActionDataIOC, sip), v6);
}
