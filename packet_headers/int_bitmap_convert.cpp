// ovl_INTBitmapConvert: the INT instruction bitmap numbers its bits from the
// most significant bit of each wire byte, so a stored bitmap becomes a mask
// with bit i for bitmap bit i (and back) by reversing the bits of each byte.

#include <array>
#include <cstdint>

#include "packet_headers/packet_headers_methods.hpp"
#include "runtime/convert.hpp"
#include "runtime/errors.hpp"
#include "runtime/trap.hpp"

namespace {

constexpr std::array<std::uint8_t, 256> reversed_bytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned r = 0;
        for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1u) << (7 - i);
        table[b] = static_cast<std::uint8_t>(r);
    }
    return table;
}();

static_assert(reversed_bytes[0x01] == 0x80 && reversed_bytes[0x03] == 0xC0 && reversed_bytes[0x80] == 0x01);

}  // namespace

// Two lookups; the bytes stay where they are.
extern "C" hyp_uint16 ovl_INTBitmapConvert(hyp_uint16 bitmap) {
    return static_cast<hyp_uint16>(reversed_bytes[bitmap & 0xFF] | reversed_bytes[bitmap >> 8] << 8);
}

PyObject *ovl_INTBitmapConvert_method(PyObject *, PyObject *args) noexcept {
    constexpr const char *kMethod = "ovl_INTBitmapConvert";
    PyObject *argv[1];
    if (!unpack_args<1>(args, kMethod, argv)) return nullptr;
    hyp_uint16 bitmap;
    if (int rc = convert::to_integer(argv[0], &bitmap)) return errors::argument(rc, kMethod, 1, "hyp_uint16");
    hyp_uint16 mask = 0;
    auto convert_bitmap = [bitmap, &mask] { mask = ovl_INTBitmapConvert(bitmap); };
    if (trap::armed(convert_bitmap)) return trap::raise_abandoned_call();
    return convert::from_integer(mask);
}
