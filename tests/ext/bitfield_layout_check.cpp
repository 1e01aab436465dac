// Checks every BITFIELD line of the record descriptions against the C
// compiler's layout at run time: the record with only that field set to all
// ones must have exactly the described bits set. The build does the same at
// compile time where it can; records holding pointers or unions are beyond
// constant evaluation, so this program is what covers them.

#include <cstdio>
#include <cstring>

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfabPublic.h"
#include "libfc.h"

namespace {

int checked = 0;
int mismatches = 0;

template <class R, class SetAllOnes>
void check(const char *name, unsigned unit_offset, unsigned lowest_bit, unsigned width, SetAllOnes set_all_ones) {
    R r;
    std::memset(&r, 0, sizeof r);
    set_all_ones(r);
    unsigned char bytes[sizeof(R)];
    std::memcpy(bytes, &r, sizeof r);
    unsigned first = 8 * unit_offset + lowest_bit;
    bool same = true;
    for (unsigned i = 0; i < 8 * sizeof(R); ++i) {
        bool set = (bytes[i / 8] >> (i % 8)) & 1u;
        if (set != (i >= first && i < first + width)) same = false;
    }
    ++checked;
    if (!same) {
        ++mismatches;
        std::printf("%s: described at bits %u..%u, the compiler placed it elsewhere\n", name, first,
                    first + width - 1);
    }
}

}  // namespace

int main() {
    // Only the bit-field lines: every other line kind expands to nothing.
#define BITFIELD(R, F, CTYPE, OFFSET, UNIT, BIT, BITS) \
    check<R>(#R "." #F, OFFSET, BIT, BITS, [](R &r) { r.F = 0; --r.F; });
#include "all_records.inc"
#undef BITFIELD
    std::printf("%d bit-fields checked, %d misplaced\n", checked, mismatches);
    return mismatches == 0 ? 0 : 1;
}
