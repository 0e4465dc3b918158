// The 48-bit linear congruential source the generator draws from, written out
// so that no platform's drand48 is needed: the same seeding and the same draws
// on every machine.
#pragma once

#include <cstdint>

namespace korvane {

class Drand48 {
 public:
  static constexpr uint64_t kMultiplier = 0x5DEECE66D;
  static constexpr uint64_t kIncrement = 0xB;
  static constexpr uint64_t kMask = (uint64_t{1} << 48) - 1;

  // Only the low 32 bits of the seed count (srand48's seeding): they become the
  // high 32 bits of the state, below them the constant 0x330E.
  explicit Drand48(int64_t seed)
      : x_(((static_cast<uint64_t>(seed) & 0xFFFFFFFFu) << 16) | 0x330E) {}

  // Advances the state, then returns it as x / 2^48 in [0, 1): exact, since a
  // 48-bit integer is a double and 2^-48 a power of two. The product wraps
  // modulo 2^64, which the mask makes harmless.
  double next() {
    x_ = (kMultiplier * x_ + kIncrement) & kMask;
    return static_cast<double>(x_) * kScale;
  }

  uint64_t state() const { return x_; }

 private:
  static constexpr double kScale = 1.0 / 281474976710656.0;  // 2^-48
  uint64_t x_;
};

}  // namespace korvane
