// NetworkInstance: a single-commodity min-cost-flow network held in flat columns.
// Every value is stored once; the arrangements Python sees (edges, arcs,
// capacities, weights, arc_indices) are produced from these columns when read.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/records/edge.h"
#include "core/base/flat_map.h"

namespace korvane {

struct NetworkInstance {
  int64_t num_nodes = 0;  // as declared on the problem line
  int64_t num_arcs = 0;   // as declared on the problem line
  std::vector<int64_t> nodes;  // every id met, once, in order of first appearance
  FlatMap<int64_t, int64_t> supplies;

  // Per-arc columns, entry i for the arc at position i (file order).
  std::vector<int64_t> tails;
  std::vector<int64_t> heads;
  std::vector<int64_t> lows;
  std::vector<int64_t> ups;
  std::vector<int64_t> costs;
  std::vector<int64_t> parallel_index;

  // Arc positions ordered by (tail, head, position): consecutive runs with equal
  // pairs are the ascending-key entries of arc_indices.
  std::vector<uint64_t> pair_order;
  uint64_t num_parallel_arc_pairs = 0;

  std::size_t num_edges() const { return tails.size(); }
  bool parallel() const { return num_parallel_arc_pairs != 0; }
  Edge edge(std::size_t i) const {
    return Edge{tails[i], heads[i], lows[i], ups[i], costs[i], parallel_index[i]};
  }
};

}  // namespace korvane
