// FCHashStats___getitem__: one element of bucketLengthMap, the bucket count
// per chain length.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flowcache/flowcache_methods.hpp"
#include "flowcache/index_argument.hpp"
#include "runtime/convert.hpp"
#include "runtime/registry.hpp"
#include "runtime/trap.hpp"
#include "runtime/type_ids.hpp"

PyObject *FCHashStats_getitem(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FCHashStats___getitem__";
    constexpr const char *kRecord = "FCHashStats *";
    constexpr long long kBuckets = sizeof(FCHashStats::bucketLengthMap) / sizeof(hyp_uint32);
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    void *stats;
    if (!convert::pointer_argument(argv[0], registry::types[ty::p_FCHashStats], 0, kMethod, 1, kRecord, &stats))
        return nullptr;
    int index;
    if (!flowcache::index_argument(argv[1], kMethod, &index)) return nullptr;
    if (!stats) return errors::null_argument(kMethod, 1, kRecord);
    if (!flowcache::index_in_range(kMethod, index, kBuckets)) return nullptr;
    hyp_uint32 count = 0;
    auto read = [&count, stats, index] {
        std::memcpy(&count,
                    static_cast<const char *>(stats) + offsetof(FCHashStats, bucketLengthMap) +
                        static_cast<std::size_t>(index) * sizeof(hyp_uint32),
                    sizeof count);
    };
    if (trap::armed(read)) return trap::raise_abandoned_call();
    return convert::from_integer(count);
}
