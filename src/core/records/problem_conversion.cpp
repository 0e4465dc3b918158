// The conversion of korvane's network and parsed records into a
// MulticommodityProblem, the record the four-file formats describe.
#include "core/records/problem_conversion.h"

#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/base/cancel.h"
#include "core/graph/node_rank.h"

namespace korvane {
namespace {

// "arc 3 (1, 2, 0)": position and key, as korvane's records name an arc.
std::string key_label(std::size_t a, int64_t tail, int64_t head, int64_t index) {
  return "arc " + std::to_string(a) + " (" + std::to_string(tail) + ", " + std::to_string(head) +
         ", " + std::to_string(index) + ")";
}

Error wrong_length(std::string_view what, std::size_t length, uint64_t k) {
  return invalid(std::string(what) + " holds " + std::to_string(length) +
                 " per-commodity values, not K = " + std::to_string(k));
}

}  // namespace

namespace detail {

Error lower_bound_refused(std::size_t a, int64_t tail, int64_t head, int64_t index, int64_t low) {
  return invalid(key_label(a, tail, head, index) + " has lower bound " + std::to_string(low) +
                 "; Mnetgen files have no lower bounds");
}

Error negative_capacity_refused(std::size_t a, int64_t tail, int64_t head, int64_t index) {
  return invalid(key_label(a, tail, head, index) +
                 " has a negative commodity capacity, which Mnetgen files read as unbounded");
}

Error too_large(std::size_t e, uint64_t n, uint64_t k) {
  return invalid("a problem of " + std::to_string(e) + " arcs and " + std::to_string(n) +
                 " nodes with " + std::to_string(k) + " commodities is too large");
}

// The arc's own upper bound as its bundle where it can bind: below the sum of
// the commodities' capacities (all non-negative here, so a sum past int64_t's
// range is above any bound).
double bundle_of(int64_t up, const int64_t* capacities, std::size_t k) {
  int64_t sum = 0;
  for (std::size_t c = 0; c < k; ++c) {
    if (__builtin_add_overflow(sum, capacities[c], &sum)) return static_cast<double>(up);
  }
  return up < sum ? static_cast<double>(up) : kUnbounded;
}

std::vector<int64_t> keys_of(const Partition& partition) {
  std::vector<int64_t> keys;
  keys.reserve(partition.size());
  for (const auto& entry : partition) keys.push_back(entry.first);
  return keys;
}

Result<void> check_columns(const NetworkInstance& network) {
  const std::size_t e = network.num_edges();
  if (network.heads.size() != e || network.lows.size() != e || network.ups.size() != e ||
      network.costs.size() != e || network.parallel_index.size() != e) {
    return internal("the network's arc columns differ in length");
  }
  return {};
}

}  // namespace detail

namespace {

// The parts every conversion shares: nodes numbered by ascending id, arcs
// renamed 1..E with their endpoints as numbers, tables sized.
Result<MulticommodityProblem> start_problem(std::span<const int64_t> listed_nodes,
                                            std::span<const int64_t> supply_nodes,
                                            std::span<const int64_t> tails,
                                            std::span<const int64_t> heads, uint64_t k) {
  MulticommodityProblem p;
  p.source = ProblemSource::kConverted;
  p.num_commodities = k;
  // Endpoints are listed nodes in every reader's record; taking them too keeps
  // a hand-built record whose list misses one from losing an arc.
  p.node_ids = detail::sorted_ids({listed_nodes, supply_nodes, tails, heads});
  p.num_nodes = p.node_ids.size();
  const std::size_t e = tails.size();
  uint64_t ek = 0;
  uint64_t nk = 0;
  if (__builtin_mul_overflow(uint64_t{e}, k, &ek) ||
      __builtin_mul_overflow(p.num_nodes, k, &nk)) {
    return detail::too_large(e, p.num_nodes, k);
  }
  const detail::Ranker rank(p.node_ids);
  CancelCheck cancel;
  if (!resize_polled(p.arc_names, e, cancel) || !resize_polled(p.tails, e, cancel) ||
      !resize_polled(p.heads, e, cancel)) {
    return cancelled();
  }
  for (std::size_t a = 0; a < e; ++a) {
    if (cancel.requested()) return cancelled();
    p.arc_names[a] = static_cast<int64_t>(a + 1);
    p.tails[a] = rank(tails[a]) + 1;
    p.heads[a] = rank(heads[a]) + 1;
  }
  // The tables are as large as the record converted: cleared a piece at a time.
  if (!resize_polled(p.costs, ek, cancel) || !resize_polled(p.capacities, ek, cancel) ||
      !resize_polled(p.bundles, e, cancel) || !resize_polled(p.supplies, nk, cancel)) {
    return cancelled();
  }
  return p;
}

}  // namespace

Result<MulticommodityProblem> problem_from_network(const NetworkInstance& network,
                                                   const MultiCommodityData* data) {
  const std::size_t e = network.num_edges();
  KORVANE_TRY(detail::check_columns(network));
  const uint64_t k = data != nullptr ? data->num_commodities : 1;
  std::vector<int64_t> supply_nodes;
  if (data != nullptr) {
    if (data->num_edges() != e) {
      return invalid("the multi-commodity data has " + std::to_string(data->num_edges()) +
                     " arcs, the network " + std::to_string(e));
    }
    if (data->heads.size() != e) {
      return internal("the multi-commodity data's arc columns differ in length");
    }
    CancelCheck cancel;
    for (std::size_t a = 0; a < e; ++a) {
      if (cancel.requested()) return cancelled();
      if (data->tails[a] != network.tails[a] || data->heads[a] != network.heads[a]) {
        return invalid("arc " + std::to_string(a) + " of the network is (" +
                       std::to_string(network.tails[a]) + ", " +
                       std::to_string(network.heads[a]) +
                       "), not the multi-commodity data's: the data belongs to another network");
      }
    }
    uint64_t ek = 0;
    if (__builtin_mul_overflow(uint64_t{e}, k, &ek) || data->cost_table.size() != ek ||
        data->capacity_table.size() != ek) {
      return internal("the multi-commodity data's tables do not hold K values per arc");
    }
    for (const auto& [node, amounts] : data->supply_partition) {
      if (amounts.size() != k) {
        return wrong_length("node " + std::to_string(node), amounts.size(), k);
      }
    }
    supply_nodes = detail::keys_of(data->supply_partition);
  } else {
    supply_nodes.reserve(network.supplies.size());
    for (const auto& entry : network.supplies) supply_nodes.push_back(entry.first);
  }

  auto started = start_problem(network.nodes, supply_nodes, network.tails, network.heads, k);
  if (!started.ok()) return started;
  MulticommodityProblem& p = started.value();
  const std::size_t kk = static_cast<std::size_t>(k);
  CancelCheck cancel;
  for (std::size_t a = 0; a < e; ++a) {
    if (cancel.requested(k)) return cancelled();
    const int64_t tail = network.tails[a];
    const int64_t head = network.heads[a];
    const int64_t index = network.parallel_index[a];
    if (network.lows[a] != 0) {
      return detail::lower_bound_refused(a, tail, head, index, network.lows[a]);
    }
    const int64_t* caps = data != nullptr ? data->capacity_table.data() + a * kk : &network.ups[a];
    const int64_t* costs = data != nullptr ? data->cost_table.data() + a * kk : &network.costs[a];
    for (std::size_t c = 0; c < kk; ++c) {
      if (caps[c] < 0) return detail::negative_capacity_refused(a, tail, head, index);
      p.capacities[a * kk + c] = static_cast<double>(caps[c]);
      p.costs[a * kk + c] = static_cast<double>(costs[c]);
    }
    p.bundles[a] = data != nullptr ? detail::bundle_of(network.ups[a], caps, kk) : kUnbounded;
  }
  const detail::Ranker rank(p.node_ids);
  if (data != nullptr) {
    for (const auto& [node, amounts] : data->supply_partition) {
      const auto i = static_cast<std::size_t>(rank(node));
      for (std::size_t c = 0; c < kk; ++c) {
        p.supplies[i * kk + c] = static_cast<double>(amounts[c]);
      }
    }
  } else {
    for (const auto& [node, amount] : network.supplies) {
      p.supplies[static_cast<std::size_t>(rank(node))] = static_cast<double>(amount);
    }
  }
  return started;
}

namespace {

// Whether every segment's lists lie within the value arrays (a precondition:
// the reader builds them so).
bool segments_fit(const ParsedMulticommodityInstance& parsed) {
  const std::size_t e = parsed.num_edges();
  if (e == 0) return true;
  if (parsed.segments.empty() || parsed.segments.front().first_arc != 0) return false;
  for (std::size_t s = 0; s < parsed.segments.size(); ++s) {
    const ArcSegment& seg = parsed.segments[s];
    const uint64_t end = s + 1 < parsed.segments.size() ? parsed.segments[s + 1].first_arc : e;
    if (end < seg.first_arc || end > e) return false;
    const uint64_t arcs = end - seg.first_arc;
    auto fits = [&](bool expanded, uint64_t base, std::size_t size) {
      uint64_t need = 0;
      return !__builtin_mul_overflow(arcs, expanded ? seg.num_commodities : 1, &need) &&
             !__builtin_add_overflow(need, base, &need) && need <= size;
    };
    if (!fits(seg.capacities_expanded, seg.capacity_base, parsed.capacity_values.size()) ||
        !fits(seg.costs_expanded, seg.cost_base, parsed.cost_values.size())) {
      return false;
    }
  }
  return true;
}

}  // namespace

Result<MulticommodityProblem> problem_from_parsed(const ParsedMulticommodityInstance& parsed) {
  const std::size_t e = parsed.num_edges();
  if (parsed.heads.size() != e || parsed.ups.size() != e || parsed.parallel_index.size() != e ||
      parsed.amount_offsets.size() != parsed.supplies.size() + 1 || !segments_fit(parsed)) {
    return internal("the parsed instance's columns do not match its arc count");
  }
  const uint64_t k = parsed.num_commodities;
  const std::size_t kk = static_cast<std::size_t>(k);
  // A list of the wrong length: the capacities' smallest arc key first, then the
  // costs', then the nodes in ascending order.
  for (const bool capacities : {true, false}) {
    bool found = false;
    std::tuple<int64_t, int64_t, int64_t> worst;
    std::size_t length = 0;
    for (std::size_t a = 0; a < e; ++a) {
      const ListView list = capacities ? parsed.capacity_list(a) : parsed.cost_list(a);
      if (list.length == k) continue;
      const std::tuple key{parsed.tails[a], parsed.heads[a], parsed.parallel_index[a]};
      if (!found || key < worst) {
        found = true;
        worst = key;
        length = list.length;
      }
    }
    if (found) {
      const auto& [tail, head, index] = worst;
      return wrong_length("arc (" + std::to_string(tail) + ", " + std::to_string(head) + ", " +
                              std::to_string(index) + ")",
                          length, k);
    }
  }
  std::vector<int64_t> supply_nodes;
  supply_nodes.reserve(parsed.supplies.size());
  for (std::size_t i = 0; i < parsed.supplies.size(); ++i) {
    const int64_t node = parsed.supplies.entries[i].first;
    const std::size_t length = parsed.amounts(i).size();
    if (length != k) return wrong_length("node " + std::to_string(node), length, k);
    supply_nodes.push_back(node);
  }

  auto started = start_problem(parsed.nodes, supply_nodes, parsed.tails, parsed.heads, k);
  if (!started.ok()) return started;
  MulticommodityProblem& p = started.value();
  std::vector<int64_t> caps(kk);
  CancelCheck cancel;
  for (std::size_t a = 0; a < e; ++a) {
    if (cancel.requested(k)) return cancelled();
    const ListView capacity_list = parsed.capacity_list(a);
    const ListView cost_list = parsed.cost_list(a);
    for (std::size_t c = 0; c < kk; ++c) {
      caps[c] = capacity_list.at(c);
      if (caps[c] < 0) {
        return detail::negative_capacity_refused(a, parsed.tails[a], parsed.heads[a],
                                         parsed.parallel_index[a]);
      }
      p.capacities[a * kk + c] = static_cast<double>(caps[c]);
      p.costs[a * kk + c] = static_cast<double>(cost_list.at(c));
    }
    p.bundles[a] = detail::bundle_of(parsed.ups[a], caps.data(), kk);
  }
  const detail::Ranker rank(p.node_ids);
  for (std::size_t i = 0; i < parsed.supplies.size(); ++i) {
    const auto row = static_cast<std::size_t>(rank(parsed.supplies.entries[i].first));
    const std::span<const int64_t> amounts = parsed.amounts(i);
    for (std::size_t c = 0; c < kk; ++c) {
      p.supplies[row * kk + c] = static_cast<double>(amounts[c]);
    }
  }
  return started;
}

}  // namespace korvane
