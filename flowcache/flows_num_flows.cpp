// FC_IOCFlows_get_num_flows: the entry count a query result reports, read as
// the signed 32-bit int scripts have always been given (4294967295 is -1).

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flowcache/flow_method_arguments.hpp"
#include "flowcache/flowcache_query_methods.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_IOCFlows_num_flows(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_IOCFlows_get_num_flows";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    char *flows;
    if (!flow_methods::record_argument(argv[0], ty::p_FC_IOCFlows, kMethod, "FC_IOCFlows *", &flows)) return nullptr;
    std::int32_t total = 0;
    auto read = [flows, &total] { std::memcpy(&total, flows + offsetof(FC_IOCFlows, totalEntries), sizeof total); };
    if (trap::armed(read)) return trap::raise_abandoned_call();
    return PyLong_FromLong(total);
}
