// The min-cost flows of K commodities on one network, each commodity with its
// own capacities and supplies, re-optimised together for each new cost table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/result.h"
#include "core/flow/network_simplex.h"

namespace korvane {

class CommodityFlows {
 public:
  // capacity holds num_arcs rows of num_commodities bounds (row-major, negative:
  // no bound), supply num_commodities rows of num_nodes amounts. An invalid error
  // for sizes that disagree and what NetworkSimplex::create refuses.
  static Result<CommodityFlows> create(int64_t num_nodes, int64_t num_commodities,
                                       std::span<const int64_t> tails,
                                       std::span<const int64_t> heads,
                                       std::span<const int64_t> capacity,
                                       std::span<const int64_t> supply);

  // Re-optimises every commodity for `cost` (num_arcs rows of num_commodities,
  // row-major) from its last tree, the commodities shared among thread_count()
  // threads; writes each commodity's optimal flows into column k of `flows` (the
  // same layout) and its status into status[k]. Each commodity's result depends on
  // its own data and past costs alone, so every thread count gives the same.
  // Invalid for wrong sizes or costs that are not finite; cancelled when asked.
  Result<void> solve(std::span<const double> cost, std::span<int64_t> flows,
                     std::span<FlowStatus> status);

  std::size_t num_arcs() const { return num_arcs_; }
  std::size_t num_commodities() const { return commodities_.size(); }
  // Pivots made by all solves of all commodities so far.
  uint64_t pivots() const;

 private:
  std::size_t num_arcs_ = 0;
  std::vector<NetworkSimplex> commodities_;
};

}  // namespace korvane
