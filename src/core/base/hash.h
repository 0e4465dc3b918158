// The mixing hash for integer keys of open-addressing tables.
#pragma once

#include <cstdint>

namespace korvane {

// splitmix64's finaliser: spreads consecutive and strided keys over the table.
inline uint64_t mix_hash(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

}  // namespace korvane
