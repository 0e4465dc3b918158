// Generation of multi-commodity data from a single-commodity network: the supply
// partition, per-commodity arc costs and capacities, and capacity zeroing.
#pragma once

#include <cstdint>
#include <string>

#include "core/records/multi_commodity_data.h"
#include "core/records/network_instance.h"
#include "core/base/result.h"
#include "korvane/generation_params.hpp"

namespace korvane {

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
