// The sizes table of pointee_sizes.hpp, from the same record descriptions
// the method tables of _libfc are built from.

#include "ptr/pointee_sizes.hpp"

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfabPublic.h"
#include "libfc.h"
#include "runtime/registry.hpp"
#include "runtime/type_ids.hpp"

namespace {

struct PointeeSize {
    int type_id;
    std::size_t size;
};

constexpr PointeeSize sizes[] = {
#define RECORD(R) {ty::p_##R, sizeof(R)},
#include "all_records.inc"
#undef RECORD
    {ty::p_a_1040__char, 1040},
    {ty::p_a_16__unsigned_char, 16},
    {ty::p_a_48__char, 48},
    {ty::p_a_64__char, 64},
    {ty::p_a_6__unsigned_char, 6},
    {ty::p_p_DVPortList, sizeof(DVPortList *)},
    {ty::p_p_OpaqueDVPortData, sizeof(OpaqueDVPortData *)},
    {ty::p_p_void, sizeof(void *)},
};

}  // namespace

std::size_t known_pointee_size(const swig_type_info *descriptor) {
    if (!descriptor) return 0;
    // The descriptors in force are shared by name across the ring, so the
    // pointer itself identifies the type whichever module made the object.
    for (const PointeeSize &entry : sizes)
        if (registry::types[entry.type_id] == descriptor) return entry.size;
    return 0;
}
