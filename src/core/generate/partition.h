// Supply partitioning: splits every node's amount into K integer commodity parts
// (spread, uniform, beta-binomial) and balances the commodities afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "core/records/multi_commodity_data.h"
#include "core/random/random_source.h"
#include "core/base/result.h"

namespace korvane {

// Random cut points: K - 1 draws of uniform_int_inclusive(0, |a|) per non-zero
// node, in ascending node order, then balancing on the same generator. Lists only
// non-zero nodes. Internal error on K = 0 (at the first non-zero node), on an
// amount of -2^63 and on any draw or balancing failure. Throws std::bad_alloc when
// the lists cannot be allocated. Never modifies `supplies`.
Result<Partition> split_supply_and_demand_spread(const Supplies& supplies, uint64_t num_commodities,
                                                 uint64_t seed);

// Equal shares, remainder units placed by one commodity cursor that runs on across
// nodes; balancing without a generator. Lists every node (zero amounts as K zeros).
// Internal error on K = 0 with any node and on an amount of -2^63; std::bad_alloc
// as above.
Result<Partition> split_supply_and_demand_uniform(const Supplies& supplies,
                                                  uint64_t num_commodities);

// Stick-breaking: commodity k takes Binomial(remaining, Beta(c, c(K-1-k))) units;
// drawing for a node stops once nothing remains. Balancing on the same generator.
// Lists only non-zero nodes. Internal error on K = 0, an amount of -2^63 and on the
// Beta/Binomial parameter failures (c <= 0 or NaN with K >= 2); std::bad_alloc as above.
Result<Partition> split_supply_and_demand_beta_binomial(const Supplies& supplies,
                                                        uint64_t num_commodities, uint64_t seed,
                                                        double concentration_param);

// Message of a call that has a node to split but no commodity to put it in.
inline std::string no_commodities_message() { return "num_commodities must be at least 1"; }
// Message of an amount whose magnitude does not fit a signed 64-bit integer.
inline std::string no_magnitude_message(int64_t amount) {
  return "supply amount " + std::to_string(amount) + " has no representable magnitude";
}

}  // namespace korvane
