// Direct table growth and the hash fallback of NodeIndex.
#include "utils/node_index.h"

#include <algorithm>

namespace korvane {
namespace {

uint64_t mix(uint64_t x) {
  // splitmix64 finaliser: spreads consecutive and strided ids over the table.
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

// The direct table may cover ids up to this many times the nodes it could hold,
// so a few huge ids never make it large.
constexpr uint64_t kMinDirect = uint64_t{1} << 16;
constexpr uint64_t kDensity = 4;

}  // namespace

bool NodeIndex::try_grow_direct(uint64_t id, std::size_t num_nodes) {
  const uint64_t allowed = std::max(kMinDirect, kDensity * (uint64_t{num_nodes} + 1));
  if (id >= allowed) return false;
  const uint64_t new_size = std::min(allowed, std::max<uint64_t>(2 * direct_.size(), id + 1));
  direct_.resize(new_size, 0);
  // Ids the hash map holds that the table now covers move into the table, so
  // every id has exactly one home.
  if (hash_size_ > 0) {
    std::vector<HashEntry> kept;
    kept.reserve(hash_size_);
    for (const HashEntry& e : table_) {
      if (e.slot == kEmpty) continue;
      if (e.id >= 0 && static_cast<uint64_t>(e.id) < new_size) {
        direct_[static_cast<uint64_t>(e.id)] = e.slot + 1;
      } else {
        kept.push_back(e);
      }
    }
    std::fill(table_.begin(), table_.end(), HashEntry{0, kEmpty});
    hash_size_ = 0;
    for (const HashEntry& e : kept) hash_insert(e.id, e.slot);
  }
  return true;
}

uint64_t NodeIndex::place_slow(int64_t id, std::vector<int64_t>& nodes) {
  if (id >= 0 && try_grow_direct(static_cast<uint64_t>(id), nodes.size())) return place(id, nodes);
  if (uint64_t* slot = hash_find(id)) return *slot;
  nodes.push_back(id);
  hash_insert(id, nodes.size() - 1);
  return nodes.size() - 1;
}

uint64_t* NodeIndex::hash_find(int64_t id) {
  if (table_.empty()) return nullptr;
  const std::size_t mask = table_.size() - 1;
  for (std::size_t i = mix(static_cast<uint64_t>(id)) & mask;; i = (i + 1) & mask) {
    if (table_[i].slot == kEmpty) return nullptr;
    if (table_[i].id == id) return &table_[i].slot;
  }
}

void NodeIndex::hash_insert(int64_t id, uint64_t slot) {
  if (2 * (hash_size_ + 1) > table_.size()) hash_rehash(std::max<std::size_t>(64, 2 * table_.size()));
  const std::size_t mask = table_.size() - 1;
  std::size_t i = mix(static_cast<uint64_t>(id)) & mask;
  while (table_[i].slot != kEmpty) i = (i + 1) & mask;
  table_[i] = HashEntry{id, slot};
  ++hash_size_;
}

void NodeIndex::hash_rehash(std::size_t capacity) {
  std::vector<HashEntry> old(capacity, HashEntry{0, kEmpty});
  old.swap(table_);
  hash_size_ = 0;
  for (const HashEntry& e : old) {
    if (e.slot != kEmpty) hash_insert(e.id, e.slot);
  }
}

}  // namespace korvane
