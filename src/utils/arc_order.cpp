// Counting sort by tail rank, then small per-tail sorts.
#include "utils/arc_order.h"

#include <algorithm>
#include <numeric>

namespace korvane {

ArcOrder order_arcs(std::span<const uint64_t> tail_slot, std::span<const uint64_t> head_slot,
                    std::span<const int64_t> node_ids) {
  const std::size_t n = node_ids.size();
  const std::size_t e = tail_slot.size();
  ArcOrder out;
  out.parallel_index.assign(e, 0);
  out.pair_order.resize(e);
  if (e == 0) return out;

  // rank[slot] = position of the node's id in ascending id order.
  std::vector<uint64_t> rank(n);
  {
    std::vector<uint64_t> by_id(n);
    std::iota(by_id.begin(), by_id.end(), uint64_t{0});
    std::sort(by_id.begin(), by_id.end(),
              [&](uint64_t a, uint64_t b) { return node_ids[a] < node_ids[b]; });
    for (std::size_t r = 0; r < n; ++r) rank[by_id[r]] = r;
  }

  // Stable counting sort of positions by tail rank.
  std::vector<uint64_t> start(n + 1, 0);
  for (std::size_t a = 0; a < e; ++a) ++start[rank[tail_slot[a]] + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  {
    std::vector<uint64_t> cursor(start.begin(), start.end() - 1);
    for (std::size_t a = 0; a < e; ++a) out.pair_order[cursor[rank[tail_slot[a]]]++] = a;
  }

  // Within one tail: by head rank, then position (already ascending, so a
  // stable sort by head rank alone keeps it).
  struct Item {
    uint64_t head_rank;
    uint64_t position;
  };
  std::vector<Item> scratch;
  for (std::size_t t = 0; t < n; ++t) {
    const std::size_t lo = start[t], hi = start[t + 1];
    if (hi - lo < 2) continue;
    scratch.clear();
    for (std::size_t i = lo; i < hi; ++i) {
      scratch.push_back(Item{rank[head_slot[out.pair_order[i]]], out.pair_order[i]});
    }
    std::stable_sort(scratch.begin(), scratch.end(),
                     [](const Item& x, const Item& y) { return x.head_rank < y.head_rank; });
    for (std::size_t i = lo; i < hi; ++i) out.pair_order[i] = scratch[i - lo].position;
  }

  // Runs of equal pairs: the k-th arc of a run has parallel index k.
  std::size_t run = 0;
  for (std::size_t i = 0; i < e; ++i) {
    const uint64_t a = out.pair_order[i];
    if (i > 0) {
      const uint64_t b = out.pair_order[i - 1];
      run = (tail_slot[a] == tail_slot[b] && head_slot[a] == head_slot[b]) ? run + 1 : 0;
    }
    if (run == 1) ++out.num_parallel_pairs;
    out.parallel_index[a] = static_cast<int64_t>(run);
  }
  return out;
}

}  // namespace korvane
