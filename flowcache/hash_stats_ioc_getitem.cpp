// FC_HashStatsIOC___getitem__: an owned copy of one hash table's statistics
// from the buffer the cache returns (a 4-byte header, then `entries`
// FCHashStats of 60 bytes each).

#include <cstddef>
#include <cstring>

#include "flowcache/flowcache_methods.hpp"
#include "flowcache/index_argument.hpp"
#include "flowcache/owned_copy.hpp"
#include "runtime/allocations.hpp"
#include "runtime/convert.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_HashStatsIOC_getitem(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_HashStatsIOC___getitem__";
    constexpr const char *kRecord = "FC_HashStatsIOC *";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    swig_type_info *buffer_type = registry::types[ty::p_FC_HashStatsIOC];
    void *buffer;
    if (!convert::pointer_argument(argv[0], buffer_type, 0, kMethod, 1, kRecord, &buffer)) return nullptr;
    int index;
    if (!flowcache::index_argument(argv[1], kMethod, &index)) return nullptr;
    if (!buffer) return errors::null_argument(kMethod, 1, kRecord);
    // A buffer made by new_FC_HashStatsIOC is the header alone, whatever its
    // entries field says; only the library's buffers carry statistics.
    hyp_uint16 count = 0;
    if (!allocations::holds(buffer, buffer_type))
        std::memcpy(&count, static_cast<const char *>(buffer) + offsetof(FC_HashStatsIOC, entries), sizeof count);
    if (!flowcache::index_in_range(kMethod, index, count)) return nullptr;
    const char *stats = static_cast<const char *>(buffer) + offsetof(FC_HashStatsIOC, stats) +
                        static_cast<std::size_t>(index) * sizeof(FCHashStats);
    return flowcache::owned_copy(stats, sizeof(FCHashStats), ty::p_FCHashStats);
}
