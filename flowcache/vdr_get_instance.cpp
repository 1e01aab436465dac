// FC_VDRActionData_get_instance: the router information at the start of one
// element of vdrActions. The record is packed, so element i lies at
// 14 + 32 * i; only the three elements the record holds are reachable.

#include <cstddef>

#include "flowcache/flowcache_methods.hpp"
#include "flowcache/index_argument.hpp"
#include "runtime/convert.hpp"
#include "runtime/registry.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_VDRActionData_get_instance(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_VDRActionData_get_instance";
    constexpr const char *kRecord = "FC_VDRActionData *";
    constexpr long long kInstances = sizeof(FC_VDRActionData::vdrActions) / sizeof(FC_VDRInstanceData);
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *data;
    if (!convert::pointer_argument(argv[0], registry::types[ty::p_FC_VDRActionData], 0, kMethod, 1, kRecord, &data))
        return nullptr;
    int index;
    if (!flowcache::index_argument(argv[1], kMethod, &index)) return nullptr;
    if (!data) return errors::null_argument(kMethod, 1, kRecord);
    if (!flowcache::index_in_range(kMethod, index, kInstances)) return nullptr;
    char *info = nullptr;
    auto locate = [&info, data, index] {
        info = static_cast<char *>(data) + offsetof(FC_VDRActionData, vdrActions) +
               static_cast<std::size_t>(index) * sizeof(FC_VDRInstanceData) + offsetof(FC_VDRInstanceData, vdrInfo);
    };
    if (trap::armed(locate)) return trap::raise_abandoned_call();
    return pointer_object::make(info, registry::types[ty::p_FC_VdrInfo], 0);
}
