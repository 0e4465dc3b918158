// Whether two reads of one file agree: the same error, or records equal field by
// field (floats compared by their bits, so that a NaN read twice agrees).
#pragma once

#include <bit>
#include <cstdint>

#include "core/base/result.h"
#include "core/records/network_instance.h"
#include "core/records/parsed_instance.h"

namespace korvane::fuzz {

inline bool same(const NetworkInstance& a, const NetworkInstance& b) {
  return a.num_nodes == b.num_nodes && a.num_arcs == b.num_arcs && a.nodes == b.nodes &&
         a.supplies.entries == b.supplies.entries && a.tails == b.tails && a.heads == b.heads &&
         a.lows == b.lows && a.ups == b.ups && a.costs == b.costs &&
         a.parallel_index == b.parallel_index && a.pair_order == b.pair_order &&
         a.num_parallel_arc_pairs == b.num_parallel_arc_pairs;
}

inline bool same(const ArcSegment& a, const ArcSegment& b) {
  return a.first_arc == b.first_arc && a.num_commodities == b.num_commodities &&
         a.capacities_expanded == b.capacities_expanded && a.costs_expanded == b.costs_expanded &&
         a.capacity_base == b.capacity_base && a.cost_base == b.cost_base;
}

inline bool same(const ParsedMulticommodityInstance& a, const ParsedMulticommodityInstance& b) {
  if (a.segments.size() != b.segments.size()) return false;
  for (std::size_t i = 0; i < a.segments.size(); ++i) {
    if (!same(a.segments[i], b.segments[i])) return false;
  }
  return a.num_nodes == b.num_nodes && a.num_arcs == b.num_arcs &&
         a.num_commodities == b.num_commodities &&
         a.randomized_capacities == b.randomized_capacities &&
         a.randomized_weights == b.randomized_weights && a.method == b.method &&
         a.cap_zero == b.cap_zero &&
         std::bit_cast<uint64_t>(a.cap_zero_param) == std::bit_cast<uint64_t>(b.cap_zero_param) &&
         a.seed == b.seed && a.nodes == b.nodes && a.supplies.entries == b.supplies.entries &&
         a.amount_offsets == b.amount_offsets && a.amount_values == b.amount_values &&
         a.tails == b.tails && a.heads == b.heads && a.parallel_index == b.parallel_index &&
         a.ups == b.ups && a.pair_order == b.pair_order && a.parallel == b.parallel &&
         a.capacity_values == b.capacity_values && a.cost_values == b.cost_values;
}

template <class T>
bool same(const Result<T>& a, const Result<T>& b) {
  if (a.ok() != b.ok()) return false;
  if (a.ok()) return same(a.value(), b.value());
  return a.error().kind == b.error().kind && a.error().message == b.error().message;
}

}  // namespace korvane::fuzz
