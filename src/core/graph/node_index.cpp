// Bitmap growth and the hash fallback of NodeIndex.
#include "core/graph/node_index.h"

#include <algorithm>

#include "core/base/hash.h"

namespace korvane {
namespace {

// The bitmap may cover ids up to this many times the nodes placed so far (and
// always the first 2^20), so a few huge ids never make it large.
constexpr uint64_t kMinBits = uint64_t{1} << 20;
constexpr uint64_t kDensity = 64;

}  // namespace

void NodeIndex::reserve_dense(uint64_t size) {
  if (size > bitmap_bits_) grow_bitmap(size);
}

bool NodeIndex::try_grow_bitmap(uint64_t id, std::size_t num_nodes) {
  const uint64_t allowed = std::max(kMinBits, kDensity * (uint64_t{num_nodes} + 1));
  // Grow at least twofold so that moving ids out of the hash set stays amortised.
  const uint64_t wanted = std::max<uint64_t>(2 * bitmap_bits_, id + 1);
  if (wanted > allowed) return false;
  grow_bitmap(wanted);
  return true;
}

void NodeIndex::grow_bitmap(uint64_t bits) {
  bitmap_.resize((bits + 63) / 64, 0);
  bitmap_bits_ = bitmap_.size() * 64;
  if (hash_size_ == 0) return;
  // Ids the hash set holds that the bitmap now covers move into it, so every
  // id has exactly one home.
  std::vector<int64_t> kept;
  kept.reserve(hash_size_);
  for (const int64_t id : table_) {
    if (id == kEmpty) continue;
    if (id >= 0 && static_cast<uint64_t>(id) < bitmap_bits_) {
      const auto u = static_cast<uint64_t>(id);
      bitmap_[u >> 6] |= uint64_t{1} << (u & 63);
    } else {
      kept.push_back(id);
    }
  }
  std::fill(table_.begin(), table_.end(), kEmpty);
  hash_size_ = 0;
  for (const int64_t id : kept) hash_insert(id);
}

void NodeIndex::place_slow(int64_t id, std::vector<int64_t>& nodes) {
  if (id >= 0 && try_grow_bitmap(static_cast<uint64_t>(id), nodes.size())) {
    place(id, nodes);
    return;
  }
  if (id == kEmpty) {
    if (!has_min_) {
      has_min_ = true;
      nodes.push_back(id);
    }
    return;
  }
  if (hash_insert(id)) nodes.push_back(id);
}

bool NodeIndex::hash_insert(int64_t id) {
  if (2 * (hash_size_ + 1) > table_.size()) hash_rehash(std::max<std::size_t>(64, 2 * table_.size()));
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = mix_hash(static_cast<uint64_t>(id)) & mask;; i = (i + 1) & mask) {
    if (table_[i] == id) return false;
    if (table_[i] == kEmpty) {
      table_[i] = id;
      ++hash_size_;
      return true;
    }
  }
}

void NodeIndex::hash_rehash(std::size_t capacity) {
  std::vector<int64_t> old(capacity, kEmpty);
  old.swap(table_);
  hash_size_ = 0;
  for (const int64_t id : old) {
    if (id != kEmpty) hash_insert(id);
  }
}

}  // namespace korvane
