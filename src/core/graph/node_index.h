// NodeIndex: the set of node ids already placed, for building `nodes` lists in
// order of first appearance. Ids in a dense non-negative range (the common case
// in generated networks) live in a bitmap that stays cache-resident; other ids
// in an open-addressing hash set with a mixing hash. Both give the same answers;
// only the speed differs.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane {

class NodeIndex {
 public:
  // Appends `id` to `nodes` unless it was placed before.
  void place(int64_t id, std::vector<int64_t>& nodes) {
    if (id >= 0 && static_cast<uint64_t>(id) < bitmap_bits_) {
      const auto u = static_cast<uint64_t>(id);
      uint64_t& word = bitmap_[u >> 6];
      const uint64_t bit = uint64_t{1} << (u & 63);
      if ((word & bit) == 0) {
        word |= bit;
        nodes.push_back(id);
      }
      return;
    }
    place_slow(id, nodes);
  }

  // Lets the bitmap cover ids [0, size) from the start (a hint such as the
  // declared node count, capped by the caller).
  void reserve_dense(uint64_t size);

 private:
  static constexpr int64_t kEmpty = INT64_MIN;  // INT64_MIN itself is kept in a flag

  void place_slow(int64_t id, std::vector<int64_t>& nodes);
  bool try_grow_bitmap(uint64_t id, std::size_t num_nodes);
  void grow_bitmap(uint64_t bits);
  bool hash_insert(int64_t id);  // true when newly inserted
  void hash_rehash(std::size_t capacity);

  std::vector<uint64_t> bitmap_;
  uint64_t bitmap_bits_ = 0;
  std::vector<int64_t> table_;  // kEmpty marks a free entry
  std::size_t hash_size_ = 0;
  bool has_min_ = false;  // whether INT64_MIN was placed
};

}  // namespace korvane
