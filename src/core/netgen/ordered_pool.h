// The ordered pool of NETGEN: "take the k-th remaining number" over a range
// lo..hi, with the pseudo size that counts discards of non-members too. Making
// a pool again with the same bounds undoes the recorded removals, so a pool
// over N numbers that loses a few members costs O(removals), not O(N). While
// few members are gone they are kept in a short sorted list (a take walks it,
// touching no memory of size N); past kSparseLimit removals they move into a
// Fenwick tree kept for the whole run: O(log N) per take, O(removals log N) to
// undo. Python-free.
#pragma once

#include <cstdint>
#include <vector>

namespace korvane::netgen {

class OrderedPool {
 public:
  // Makes the pool hold every integer lo..hi. With lo > hi or lo <= 0 the
  // pool is invalid: it holds nothing, take() yields 0, discard() does
  // nothing, both counters read 0. Storage is reused when the bounds repeat.
  void make(int64_t lo, int64_t hi);

  // The k-th smallest member, removed (size and pseudo size drop by 1); 0
  // and no change when k is not in 1..size().
  int64_t take(int64_t k);
  // Lowers the pseudo size by 1 always; removes x (and lowers the size) when
  // it is a member.
  void discard(int64_t x);

  int64_t size() const { return size_; }
  // size() minus the discards of non-members; may go below zero.
  int64_t pseudo_size() const { return pseudo_; }

  static constexpr std::size_t kSparseLimit = 48;

 private:
  void reset_storage(int64_t lo, int64_t hi);
  void to_tree();  // moves the sparse removals into the tree
  void tree_remove(uint32_t position);  // 1-based position
  bool is_member(uint32_t position) const;  // 0-based offset from lo
  void remove(uint32_t offset);  // 0-based offset from lo; a member

  int64_t lo_ = 0;
  int64_t hi_ = -1;
  bool valid_ = false;
  bool sparse_ = true;  // removals in removed_ only; the tree is all ones
  uint32_t length_ = 0;  // hi - lo + 1
  uint32_t top_bit_ = 0;  // highest power of two <= length_
  std::vector<uint32_t> removed_;  // 0-based offsets removed since make, ascending while sparse
  std::vector<uint32_t> tree_;  // 1-based Fenwick tree of member counts (built on first use)
  std::vector<uint8_t> member_;  // by 0-based offset, kept in tree mode only
  int64_t size_ = 0;
  int64_t pseudo_ = 0;
};

}  // namespace korvane::netgen
