// Parallel indices and the arc_indices arrangement, computed once after all
// arcs are read, from the arcs ordered by (tail, head, position). The result is
// what an ordered map from pairs to counters and position lists would give.
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

// `node_ids` holds every id of `tails` and `heads` (other ids may be present).
ArcOrder order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                    std::span<const int64_t> node_ids);

}  // namespace korvane
