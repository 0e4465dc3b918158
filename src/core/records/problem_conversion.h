// The conversion of korvane's own records (a network with its multi-commodity
// data, a parsed multi-commodity instance) into a MulticommodityProblem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/base/result.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/multicommodity_problem.h"
#include "core/records/network_instance.h"
#include "core/records/parsed_instance.h"

namespace korvane {

// A network with its multi-commodity data (or `data` null: one commodity with
// the network's own capacities, costs and supplies) as a problem: nodes are the
// network's node ids and the partition's, ascending, numbered 1..N (node_ids
// keeps the ids); each arc's own upper bound becomes its bundle where it can
// bind (below the sum of the commodities' capacities), else kUnbounded.
// kInvalid naming the arc: a non-zero lower bound, a negative commodity
// capacity; naming the sizes: data that does not belong to the network.
Result<MulticommodityProblem> problem_from_network(const NetworkInstance& network,
                                                   const MultiCommodityData* data);
// A parsed multi-commodity instance as a problem, the same way (kInvalid for
// per-commodity lists that do not hold K values).
Result<MulticommodityProblem> problem_from_parsed(const ParsedMulticommodityInstance& parsed);

// For the writers that convert a network while they write it (MnetgenStream):
// the conversion's checks and their messages, and its bundles.
namespace detail {
// "arc A (T, H, I) has lower bound L; ..." (kInvalid).
Error lower_bound_refused(std::size_t a, int64_t tail, int64_t head, int64_t index, int64_t low);
// "arc A (T, H, I) has a negative commodity capacity, ..." (kInvalid).
Error negative_capacity_refused(std::size_t a, int64_t tail, int64_t head, int64_t index);
// "a problem of E arcs and N nodes with K commodities is too large" (kInvalid).
Error too_large(std::size_t e, uint64_t n, uint64_t k);
// The bundle of an arc of upper bound `up` whose K commodity capacities (none
// negative) are `capacities`: `up` where it can bind, else kUnbounded.
double bundle_of(int64_t up, const int64_t* capacities, std::size_t k);
// The partition's nodes, ascending.
std::vector<int64_t> keys_of(const Partition& partition);
// kInternal when the network's arc columns differ in length.
Result<void> check_columns(const NetworkInstance& network);
}  // namespace detail

}  // namespace korvane
