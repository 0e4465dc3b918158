// Parallel indices and the arc_indices arrangement, computed once after all
// arcs are read, from the arcs ordered by (tail, head, position). The result is
// what an ordered map from pairs to counters and position lists would give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/result.h"

namespace korvane {

struct ArcOrder {
  std::vector<int64_t> parallel_index;  // per arc: earlier arcs with the same pair
  std::vector<uint64_t> pair_order;     // positions sorted by (tail, head, position)
  uint64_t num_parallel_pairs = 0;      // pairs carrying two or more arcs
};

// Arcs per thread below which a stretch of the work is not split further.
inline constexpr std::size_t kMinOrderChunk = std::size_t{1} << 16;

// `node_ids` holds every id of `tails` and `heads` (other ids may be present).
// Work is split over thread_count() threads in chunks of at least `min_chunk`
// arcs; the result is the same for every split. Fails only with kCancelled,
// when the cancellation poll (core/base/cancel.h) asks.
Result<ArcOrder> order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                            std::span<const int64_t> node_ids,
                            std::size_t min_chunk = kMinOrderChunk);

}  // namespace korvane
