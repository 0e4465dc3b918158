// NETGEN's random source: the Park-Miller "minimal standard" generator
// (multiplier 16807, modulus 2^31 - 1) computed with the 16-bit split of the
// original, and its draw of an integer in [a, b]. Python-free, header-only.
#pragma once

#include <cstdint>

namespace korvane::netgen {

inline constexpr int64_t kParkMillerModulus = 2147483647;  // 2^31 - 1

// One step of the generator. The split keeps every product below 2^31 for a
// state below 2^31; larger states (seeds are any positive 64-bit value) follow
// the same bit arithmetic, which has no intermediate overflow for any
// non-negative 64-bit state, and may leave a value >= 2^31 - 1 that the next
// step reduces. Do not replace by 16807 * s mod P: they differ above ~2^48.
constexpr int64_t park_miller_step(int64_t s) {
  int64_t lo = 16807 * (s & 0xFFFF);
  int64_t hi = 16807 * (s >> 16) + (lo >> 16);
  lo = (lo & 0xFFFF) + (hi >> 15);
  hi = hi & 0x7FFF;
  int64_t next = hi * 65536 + lo - kParkMillerModulus;
  if (next < 0) next += kParkMillerModulus;
  return next;
}

class ParkMiller {
 public:
  explicit ParkMiller(int64_t seed) : state_(seed) {}

  // An integer in [a, b]. The state advances on every call, also when the
  // result is forced: b itself when b <= a (so draw(1, 0) is 0).
  // Precondition (checked by the caller's validation): b - a + 1 fits int64.
  int64_t draw(int64_t a, int64_t b) {
    state_ = park_miller_step(state_);
    if (b <= a) return b;
    return a + state_ % (b - a + 1);
  }

  int64_t state() const { return state_; }

 private:
  int64_t state_;
};

}  // namespace korvane::netgen
