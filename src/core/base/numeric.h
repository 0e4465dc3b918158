// Checked numeric conversions shared by the core: every double-to-integer
// conversion goes through saturating_cast, so none of them is undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace korvane {

// Converts `value` to the integer type T, truncating toward zero. NaN gives 0;
// values below or above T's range give T's minimum or maximum (so -infinity and
// +infinity saturate too). Callers apply floor/ceil/trunc first when they need a
// specific rounding. Only int64_t and uint64_t are supported.
template <class T>
T saturating_cast(double value) {
  static_assert(std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>,
                "saturating_cast supports int64_t and uint64_t");
  if (std::isnan(value)) {
    return 0;
  }
  // Both bounds are powers of two, hence exact doubles: 2^63 for int64_t, 2^64 for uint64_t.
  constexpr double kUpperExclusive =
      std::is_same_v<T, int64_t> ? 9223372036854775808.0 : 18446744073709551616.0;
  constexpr double kLowerInclusive = std::is_same_v<T, int64_t> ? -9223372036854775808.0 : 0.0;
  if (value >= kUpperExclusive) {
    return std::numeric_limits<T>::max();
  }
  if (value <= kLowerInclusive) {
    return std::numeric_limits<T>::min();
  }
  return static_cast<T>(value);
}

}  // namespace korvane
