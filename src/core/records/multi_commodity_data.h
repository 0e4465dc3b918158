// MultiCommodityData: a network's supply partition and per-commodity arc values.
// Holds each value once: dense arc-major tables (entry a*K + k) of costs and
// capacities (cost_table, capacity_table), the arc keys and upper bounds, and the arc_indices arrangement.
// commodity_edges, the per-arc lists and the keyed maps are produced when read.
#pragma once

#include <cstdint>
#include <vector>

#include "core/base/big_vector.h"
#include "core/base/flat_map.h"

namespace korvane {

using Partition = FlatMap<int64_t, std::vector<int64_t>>;
using Supplies = FlatMap<int64_t, int64_t>;

struct MultiCommodityData {
  Partition supply_partition;
  int64_t method = 0;
  uint64_t num_commodities = 0;  // K
  bool randomized_capacities = false;
  bool randomized_weights = false;
  bool cap_zero = false;
  double cap_zero_param = 0.0;
  uint64_t seed = 0;
  bool parallel = false;

  // Per arc (E entries), copied from the source instance.
  std::vector<int64_t> tails;
  std::vector<int64_t> heads;
  std::vector<int64_t> indices;  // parallel index
  std::vector<int64_t> ups;
  std::vector<uint64_t> pair_order;  // as NetworkInstance::pair_order

  // E*K tables, arc-major: entry a*K + k is arc a, commodity k.
  // Huge-page backed, see BigVector.
  BigVector<int64_t> cost_table;
  BigVector<int64_t> capacity_table;  // after randomisation and zeroing

  std::size_t num_edges() const { return tails.size(); }
};

// MultiCommoditySupplies: a wrapper around one supply partition.
struct MultiCommoditySupplies {
  Partition partition;
};

}  // namespace korvane
