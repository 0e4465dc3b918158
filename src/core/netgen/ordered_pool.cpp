// The ordered pool: a sorted list of removals, then a Fenwick tree with undo
// (see ordered_pool.h).
#include "core/netgen/ordered_pool.h"

#include <algorithm>

namespace korvane::netgen {

void OrderedPool::reset_storage(int64_t lo, int64_t hi) {
  lo_ = lo;
  hi_ = hi;
  length_ = static_cast<uint32_t>(hi - lo + 1);
  top_bit_ = 1;
  while (top_bit_ <= length_ / 2) top_bit_ <<= 1;
  tree_.clear();
  member_.clear();
  removed_.clear();
  sparse_ = true;
}

void OrderedPool::make(int64_t lo, int64_t hi) {
  size_ = 0;
  pseudo_ = 0;
  if (lo > hi || lo <= 0) {
    valid_ = false;
    return;
  }
  if (lo != lo_ || hi != hi_) {
    reset_storage(lo, hi);
  } else if (!sparse_) {
    if (removed_.size() > length_ / 16) {
      // Many removals: one linear rebuild is cheaper than undoing each.
      for (uint32_t i = 1; i <= length_; ++i) tree_[i] = i & (0U - i);
      std::fill(member_.begin(), member_.end(), uint8_t{1});
    } else {
      for (const uint32_t offset : removed_) {
        member_[offset] = 1;
        for (uint32_t i = offset + 1; i <= length_; i += i & (0U - i)) ++tree_[i];
      }
    }
    removed_.clear();
    sparse_ = true;
  } else {
    removed_.clear();
  }
  valid_ = true;
  size_ = length_;
  pseudo_ = length_;
}

void OrderedPool::to_tree() {
  if (tree_.empty()) {
    // A tree of ones: node i covers (i - lowbit(i), i].
    tree_.resize(std::size_t{length_} + 1);
    for (uint32_t i = 1; i <= length_; ++i) tree_[i] = i & (0U - i);
    member_.assign(length_, 1);
  }
  for (const uint32_t offset : removed_) {
    member_[offset] = 0;
    tree_remove(offset + 1);
  }
  sparse_ = false;
}

void OrderedPool::tree_remove(uint32_t position) {
  for (uint32_t i = position; i <= length_; i += i & (0U - i)) --tree_[i];
}

bool OrderedPool::is_member(uint32_t offset) const {
  if (!sparse_) return member_[offset] != 0;
  return !std::binary_search(removed_.begin(), removed_.end(), offset);
}

void OrderedPool::remove(uint32_t offset) {
  if (sparse_) {
    removed_.insert(std::lower_bound(removed_.begin(), removed_.end(), offset), offset);
    if (removed_.size() > kSparseLimit) to_tree();
  } else {
    member_[offset] = 0;
    removed_.push_back(offset);
    tree_remove(offset + 1);
  }
  --size_;
}

int64_t OrderedPool::take(int64_t k) {
  if (!valid_ || k < 1 || k > size_) return 0;
  uint32_t offset = 0;
  if (sparse_) {
    // The k-th number of the full range, pushed past every removal at or below it.
    offset = static_cast<uint32_t>(k - 1);
    for (const uint32_t gone : removed_) {
      if (gone > offset) break;
      ++offset;
    }
  } else {
    // Descend from the top: the last position whose prefix count is below k.
    uint32_t position = 0;
    auto left = static_cast<uint32_t>(k);
    for (uint32_t step = top_bit_; step != 0; step >>= 1) {
      const uint32_t next = position + step;
      if (next <= length_ && tree_[next] < left) {
        position = next;
        left -= tree_[next];
      }
    }
    offset = position;
  }
  remove(offset);
  --pseudo_;
  return lo_ + offset;
}

void OrderedPool::discard(int64_t x) {
  if (!valid_) return;
  --pseudo_;
  if (x < lo_ || x > hi_) return;
  const auto offset = static_cast<uint32_t>(x - lo_);
  if (is_member(offset)) remove(offset);
}

}  // namespace korvane::netgen
