// Descriptor ids of the test-only module, in sorted order.
#pragma once

namespace ty {
inline constexpr int p_char = 0;
inline constexpr int p_f_p_void__void = 1;
inline constexpr int p_hyp_Name = 2;
inline constexpr int p_hyp_String = 3;
inline constexpr int p_int = 4;
inline constexpr int p_swigtest_Base = 5;
inline constexpr int p_swigtest_Probe = 6;
inline constexpr int p_unsigned_char = 7;
inline constexpr int p_void = 8;
inline constexpr int count = 9;
}  // namespace ty
