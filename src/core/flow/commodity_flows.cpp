#include "core/flow/commodity_flows.h"

#include <string>

#include "core/base/parallel.h"

namespace korvane {

Result<CommodityFlows> CommodityFlows::create(int64_t num_nodes, int64_t num_commodities,
                                              std::span<const int64_t> tails,
                                              std::span<const int64_t> heads,
                                              std::span<const int64_t> capacity,
                                              std::span<const int64_t> supply) {
  const auto arcs = tails.size();
  if (num_nodes < 0 || num_commodities < 0 || heads.size() != arcs) {
    return invalid("the min-cost flows need one head per tail and non-negative counts");
  }
  const auto k = static_cast<std::size_t>(num_commodities);
  const auto n = static_cast<std::size_t>(num_nodes);
  if (capacity.size() != arcs * k || supply.size() != n * k) {
    return invalid("the min-cost flows need " + std::to_string(k) + " capacities per arc and " +
                   std::to_string(k) + " supplies per node");
  }
  CommodityFlows flows;
  flows.num_arcs_ = arcs;
  flows.commodities_.reserve(k);
  std::vector<int64_t> cap(arcs);
  for (std::size_t c = 0; c < k; ++c) {
    for (std::size_t a = 0; a < arcs; ++a) cap[a] = capacity[a * k + c];
    auto one = NetworkSimplex::create(num_nodes, tails, heads, cap, supply.subspan(c * n, n));
    if (!one.ok()) return one.error();
    flows.commodities_.push_back(std::move(one.value()));
  }
  return flows;
}

Result<void> CommodityFlows::solve(std::span<const double> cost, std::span<int64_t> flows,
                                   std::span<FlowStatus> status) {
  const auto k = commodities_.size();
  if (cost.size() != num_arcs_ * k || flows.size() != num_arcs_ * k || status.size() != k) {
    return invalid("the min-cost flows need " + std::to_string(k) + " costs and flows per arc");
  }
  const auto chunks = chunk_count(k, thread_count(), 1);
  std::vector<Error> failures(chunks);
  std::vector<char> failed(chunks, 0);  // one byte per chunk: written from its own thread
  for_each_chunk(k, chunks, [&](std::size_t chunk, std::size_t begin, std::size_t end) {
    std::vector<double> own(num_arcs_);
    for (std::size_t c = begin; c < end; ++c) {
      for (std::size_t a = 0; a < num_arcs_; ++a) own[a] = cost[a * k + c];
      auto result = commodities_[c].solve(own);
      if (!result.ok()) {
        failures[chunk] = result.error();
        failed[chunk] = 1;
        return;
      }
      status[c] = result.value();
      const auto x = commodities_[c].flows();
      for (std::size_t a = 0; a < num_arcs_; ++a) flows[a * k + c] = x[a];
    }
  });
  // The lowest chunk's failure, whatever the thread count.
  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    if (failed[chunk] != 0) return failures[chunk];
  }
  return {};
}

uint64_t CommodityFlows::pivots() const {
  uint64_t total = 0;
  for (const auto& one : commodities_) total += one.pivots();
  return total;
}

}  // namespace korvane
