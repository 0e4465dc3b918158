// Parallel indices and the arc_indices arrangement, computed once after all
// arcs are read: a counting sort of the arcs by the rank of their tail id, then
// a sort of each tail's arcs by (head rank, position). Equal to what an ordered
// map from (tail, head) to counters and position lists would give.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace korvane {

struct ArcOrder {
  std::vector<int64_t> parallel_index;  // per arc: earlier arcs with the same pair
  std::vector<uint64_t> pair_order;     // positions sorted by (tail, head, position)
  uint64_t num_parallel_pairs = 0;      // pairs carrying two or more arcs
};

// `tail_slot[a]`/`head_slot[a]` index into `node_ids` (ids in order of first
// appearance, each once).
ArcOrder order_arcs(std::span<const uint64_t> tail_slot, std::span<const uint64_t> head_slot,
                    std::span<const int64_t> node_ids);

}  // namespace korvane
