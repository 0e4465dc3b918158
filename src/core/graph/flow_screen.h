// The per-commodity feasibility screen: each commodity alone on the network,
// bundles ignored, as a maximum flow from its supplies to its demands.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/base/result.h"

namespace korvane {

// The network and the commodities' own data, all indexed by node rank and arc
// position: tails[a] and heads[a] are ranks below num_nodes; capacity holds
// num_arcs rows of num_commodities bounds (row-major; +inf for no bound, a value
// <= 0 closes the arc to that commodity); supply holds num_commodities rows of
// num_nodes amounts (positive out of the node, negative into it).
struct ScreenInput {
  int64_t num_nodes = 0;
  int64_t num_commodities = 0;
  std::span<const int64_t> tails;
  std::span<const int64_t> heads;
  std::span<const double> capacity;
  std::span<const double> supply;
};

// The commodities (ascending) that have no flow meeting their supplies within
// their capacities: their supplies do not sum to zero, or the maximum flow from
// the supplies to the demands falls short of the total supply (both up to a
// relative 1e-9). With first_only it stops at the first one. Dinic's algorithm
// on one residual graph whose capacities are reset per commodity: O(N + E)
// memory, nothing allocated per commodity. An invalid error for inconsistent
// sizes or a rank out of range; cancelled when the poll asks.
Result<std::vector<int64_t>> infeasible_commodities(const ScreenInput& input, bool first_only);

}  // namespace korvane
