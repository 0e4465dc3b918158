// Size check for the large per-node and per-arc tables: a count no vector can
// hold is reported as std::bad_alloc (MemoryError in Python), never length_error.
#pragma once

#include <cstdint>
#include <new>
#include <vector>

namespace korvane {

// Throws std::bad_alloc when `rows` x `width` 64-bit values overflow or exceed
// what one vector can address. Does not allocate.
inline void check_table_size(uint64_t rows, uint64_t width) {
  const uint64_t limit = std::vector<int64_t>().max_size();
  if (width != 0 && rows > limit / width) throw std::bad_alloc();
}

}  // namespace korvane
