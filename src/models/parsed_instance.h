// ParsedMulticommodityInstance: what the multi-commodity reader rebuilds from a file.
// Per-commodity lists are held once: a compressed list is one stored value standing
// for K copies, and arcs read under the same problem line share one list layout
// (a segment), so no per-arc bookkeeping is stored. The keyed maps, the
// commodity-major lists and expanded copies are produced when read.
#pragma once

#include <cstdint>
#include <vector>

#include "utils/flat_map.h"

namespace korvane {

// One per-arc, per-commodity list as stored: `length` values, either all equal
// to data[0] (repeated) or data[0..length).
struct ListView {
  const int64_t* data = nullptr;
  uint64_t length = 0;
  bool repeated = false;
  int64_t at(uint64_t k) const { return repeated ? data[0] : data[k]; }
};

// Arcs [first_arc, next segment's first_arc) were read under one problem line.
struct ArcSegment {
  uint64_t first_arc = 0;
  uint64_t num_commodities = 0;  // K in force for these arcs
  bool capacities_expanded = false;
  bool costs_expanded = false;
  uint64_t capacity_base = 0;  // offset of the segment's first value in capacity_values
  uint64_t cost_base = 0;      // offset of the segment's first value in cost_values
};

struct ParsedMulticommodityInstance {
  int64_t num_nodes = 0;
  int64_t num_arcs = 0;
  uint64_t num_commodities = 0;
  bool randomized_capacities = false;
  bool randomized_weights = false;
  int64_t method = 0;
  bool cap_zero = false;
  double cap_zero_param = 0.0;
  uint64_t seed = 0;

  std::vector<int64_t> nodes;
  FlatMap<int64_t, int64_t> supplies;
  FlatMap<int64_t, std::vector<int64_t>> commodity_supply_demand_data;

  // Per arc, in file order.
  std::vector<int64_t> tails;
  std::vector<int64_t> heads;
  std::vector<int64_t> parallel_index;
  std::vector<int64_t> ups;
  std::vector<uint64_t> pair_order;  // positions sorted by (tail, head, position)
  bool parallel = false;

  std::vector<ArcSegment> segments;  // ascending first_arc
  std::vector<int64_t> capacity_values;
  std::vector<int64_t> cost_values;

  std::size_t num_edges() const { return tails.size(); }
  ListView capacity_list(std::size_t arc) const;
  ListView cost_list(std::size_t arc) const;
};

}  // namespace korvane
