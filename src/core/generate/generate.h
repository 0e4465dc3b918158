// Generation of multi-commodity data from a single-commodity network: the supply
// partition, per-commodity arc costs and capacities, and capacity zeroing.
#pragma once

#include <cstdint>
#include <string>

#include "core/records/multi_commodity_data.h"
#include "core/records/network_instance.h"
#include "core/base/result.h"

namespace korvane {

// The arguments of one generation call, with the module function's defaults.
struct GenerationParams {
  uint64_t num_commodities = 0;
  int64_t method = 0;  // 0 spread, 1 uniform, 2 beta-binomial
  bool randomize_caps = false;
  double cap_a = 0.8;
  double cap_b = 1.0;
  bool randomize_costs = false;
  double cost_a = 0.8;
  double cost_b = 1.2;
  double concentration_param = 3.0;
  bool cap_zero = false;
  double cap_zero_param = 0.0;
  uint64_t seed = 42;
};

// Partitions the instance's supplies with the chosen method (the partitioner makes
// its own generator from the seed), then gives every arc and commodity a cost and
// a capacity, drawn from a generator seeded with the same seed in the order arcs
// ascending, commodities ascending, cost before capacity, and zeroes a fraction of
// the capacities when asked. Internal errors: an unknown method ("Unknown
// partitioning method: N"), the partitioner's failures, a draw range of non-finite
// width (NonFinite). Throws std::bad_alloc when the E x K tables cannot be
// allocated. Never modifies the instance; nothing is returned on failure.
Result<MultiCommodityData> generate_multi_commodity_data(const NetworkInstance& instance,
                                                         const GenerationParams& params);

inline std::string unknown_method_message(int64_t method) {
  return "Unknown partitioning method: " + std::to_string(method);
}

}  // namespace korvane
