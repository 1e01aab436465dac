// FC_IOCInvalEntries___getitem__: an owned copy of one entity of the
// invalidation table. Entities follow the packed 12-byte header, so entity i
// lies at 12 + 72 * i and its 64-bit fields are unaligned in the table.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flowcache/flowcache_methods.hpp"
#include "flowcache/index_argument.hpp"
#include "flowcache/owned_copy.hpp"
#include "runtime/allocations.hpp"
#include "runtime/convert.hpp"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

PyObject *FC_IOCInvalEntries_getitem(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "FC_IOCInvalEntries___getitem__";
    constexpr const char *kRecord = "FC_IOCInvalEntries *";
    PyObject *argv[2];
    if (!unpack_args<2>(args, kMethod, argv)) return nullptr;
    swig_type_info *table_type = registry::types[ty::p_FC_IOCInvalEntries];
    void *table;
    if (!convert::pointer_argument(argv[0], table_type, 0, kMethod, 1, kRecord, &table)) return nullptr;
    int index;
    if (!flowcache::index_argument(argv[1], kMethod, &index)) return nullptr;
    if (!table) return errors::null_argument(kMethod, 1, kRecord);
    // A table made by new_FC_IOCInvalEntries is the header alone, whatever
    // its numEntries says; only the library's tables carry entities.
    std::uint32_t count = 0;
    if (!allocations::holds(table, table_type))
        std::memcpy(&count, static_cast<const char *>(table) + offsetof(FC_IOCInvalEntries, numEntries), sizeof count);
    if (!flowcache::index_in_range(kMethod, index, count)) return nullptr;
    const char *entity = static_cast<const char *>(table) + offsetof(FC_IOCInvalEntries, entries) +
                         static_cast<std::size_t>(index) * sizeof(FC_InvalEntity);
    return flowcache::owned_copy(entity, sizeof(FC_InvalEntity), ty::p_FC_InvalEntity);
}
