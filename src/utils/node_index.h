// NodeIndex: maps node ids to their 0-based order of first appearance.
// Ids in a dense non-negative range (the common case in generated networks)
// go through a direct table; other ids through an open-addressing hash map with
// a mixing hash. Both give the same answers; only the speed differs.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

class NodeIndex {
 public:
  // The slot of `id`, appending it to `nodes` (and giving it the next slot) when new.
  uint64_t place(int64_t id, std::vector<int64_t>& nodes) {
    if (id >= 0 && static_cast<uint64_t>(id) < direct_.size()) {
      uint64_t& entry = direct_[static_cast<uint64_t>(id)];
      if (entry == 0) {
        nodes.push_back(id);
        entry = nodes.size();
      }
      return entry - 1;
    }
    return place_slow(id, nodes);
  }

 private:
  static constexpr uint64_t kEmpty = UINT64_MAX;
  struct HashEntry {
    int64_t id;
    uint64_t slot;
  };

  uint64_t place_slow(int64_t id, std::vector<int64_t>& nodes);
  bool try_grow_direct(uint64_t id, std::size_t num_nodes);
  uint64_t* hash_find(int64_t id);
  void hash_insert(int64_t id, uint64_t slot);
  void hash_rehash(std::size_t capacity);

  std::vector<uint64_t> direct_;  // id -> slot + 1, 0 when absent
  std::vector<HashEntry> table_;  // slot == kEmpty marks a free entry
  std::size_t hash_size_ = 0;
};

}  // namespace korvane
