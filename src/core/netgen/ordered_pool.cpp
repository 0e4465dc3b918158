// The ordered pool over a Fenwick tree with undo (see ordered_pool.h).
#include "core/netgen/ordered_pool.h"

#include <algorithm>

namespace korvane::netgen {

void OrderedPool::make(int64_t lo, int64_t hi) {
  if (lo > hi || lo <= 0) {
    valid_ = false;
    size_ = 0;
    pseudo_ = 0;
    return;
  }
  const auto length = static_cast<uint32_t>(hi - lo + 1);
  if (lo != lo_ || hi != hi_ || tree_.empty()) {
    lo_ = lo;
    hi_ = hi;
    length_ = length;
    top_bit_ = 1;
    while (top_bit_ <= length_ / 2) top_bit_ <<= 1;
    tree_.assign(std::size_t{length_} + 1, 0);
    member_.assign(std::size_t{length_} + 1, 1);
    removed_.clear();
    rebuild();
  } else if (removed_.size() > length_ / 16) {
    // Many removals: one linear rebuild is cheaper than undoing each.
    std::fill(member_.begin(), member_.end(), uint8_t{1});
    removed_.clear();
    rebuild();
  } else {
    for (const uint32_t position : removed_) {
      member_[position] = 1;
      for (uint32_t i = position; i <= length_; i += i & (0U - i)) ++tree_[i];
    }
    removed_.clear();
  }
  valid_ = true;
  size_ = length;
  pseudo_ = length;
}

void OrderedPool::rebuild() {
  // A tree of ones: node i covers (i - lowbit(i), i].
  for (uint32_t i = 1; i <= length_; ++i) tree_[i] = i & (0U - i);
}

void OrderedPool::remove_at(uint32_t position) {
  member_[position] = 0;
  removed_.push_back(position);
  for (uint32_t i = position; i <= length_; i += i & (0U - i)) --tree_[i];
  --size_;
}

int64_t OrderedPool::take(int64_t k) {
  if (!valid_ || k < 1 || k > size_) return 0;
  // Descend from the top: the smallest position whose prefix count is k.
  uint32_t position = 0;
  auto left = static_cast<uint32_t>(k);
  for (uint32_t step = top_bit_; step != 0; step >>= 1) {
    const uint32_t next = position + step;
    if (next <= length_ && tree_[next] < left) {
      position = next;
      left -= tree_[next];
    }
  }
  ++position;
  remove_at(position);
  --pseudo_;
  return lo_ + position - 1;
}

void OrderedPool::discard(int64_t x) {
  if (!valid_) return;
  --pseudo_;
  if (x < lo_ || x > hi_) return;
  const auto position = static_cast<uint32_t>(x - lo_ + 1);
  if (member_[position] != 0) remove_at(position);
}

}  // namespace korvane::netgen
