// ParsedMulticommodityInstance: what the multi-commodity reader rebuilds from a file.
// Every value read is held once. A compressed per-commodity list is one stored
// value standing for K copies, and consecutive arcs read with the same K and list
// forms share one layout (a segment), so no per-arc list bookkeeping is stored.
// The keyed maps, the commodity-major lists and expanded copies are produced when read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/base/big_vector.h"
#include "core/base/flat_map.h"

namespace korvane {

// One per-arc, per-commodity list as stored: `length` values, either all equal
// to data[0] (repeated) or data[0..length). data[0] exists for a repeated list
// even when `length` is 0.
struct ListView {
  const int64_t* data = nullptr;
  uint64_t length = 0;
  bool repeated = false;
  int64_t at(uint64_t k) const { return repeated ? data[0] : data[k]; }
};

// Arcs [first_arc, next segment's first_arc or the arc count) were read with
// the same K and list forms. Their lists are laid out back to back from the base
// offsets: an expanded list takes K values, a compressed one a single value.
struct ArcSegment {
  uint64_t first_arc = 0;
  uint64_t num_commodities = 0;  // K in force for these arcs: each list's length
  bool capacities_expanded = false;
  bool costs_expanded = false;
  uint64_t capacity_base = 0;  // offset of the segment's first value in capacity_values
  uint64_t cost_base = 0;      // offset of the segment's first value in cost_values
};

struct ParsedMulticommodityInstance {
  // Values of the last problem line (or these initial values without one).
  int64_t num_nodes = 0;
  int64_t num_arcs = 0;
  uint64_t num_commodities = 0;  // K
  bool randomized_capacities = false;
  bool randomized_weights = false;
  int64_t method = 0;
  bool cap_zero = false;
  double cap_zero_param = 0.0;
  uint64_t seed = 0;

  std::vector<int64_t> nodes;  // every id met, once, in order of first appearance

  // Node lines, one entry per node in ascending order, the last line of a node
  // winning: `supplies` holds the totals, and the amount list of entry i
  // (supplies.entries[i].first) is amount_values[amount_offsets[i] ..
  // amount_offsets[i + 1]). amount_offsets has supplies.size() + 1 entries.
  FlatMap<int64_t, int64_t> supplies;
  std::vector<uint64_t> amount_offsets{0};
  std::vector<int64_t> amount_values;

  // Per arc, in file order (E entries each). The columns the reader fills in
  // place are huge-page backed (see BigVector).
  BigVector<int64_t> tails;
  BigVector<int64_t> heads;
  std::vector<int64_t> parallel_index;  // earlier arcs with the same (tail, head)
  BigVector<int64_t> ups;
  // Arc positions sorted by (tail, head, position): consecutive runs with equal
  // pairs are the ascending-key entries of arc_indices, and this is also the
  // ascending arc-key order of the per-commodity maps.
  std::vector<uint64_t> pair_order;
  bool parallel = false;

  std::vector<ArcSegment> segments;  // ascending first_arc, the first at 0 when E > 0
  BigVector<int64_t> capacity_values;
  BigVector<int64_t> cost_values;

  std::size_t num_edges() const { return tails.size(); }

  // Amount list of node entry i (0 <= i < supplies.size()).
  std::span<const int64_t> amounts(std::size_t i) const {
    return std::span<const int64_t>(amount_values)
        .subspan(amount_offsets[i], amount_offsets[i + 1] - amount_offsets[i]);
  }

  // Index of the segment holding `arc` (0 <= arc < num_edges()).
  std::size_t segment_index(std::size_t arc) const {
    if (segments.size() == 1) return 0;
    const auto it = std::upper_bound(
        segments.begin(), segments.end(), uint64_t{arc},
        [](uint64_t a, const ArcSegment& s) { return a < s.first_arc; });
    return static_cast<std::size_t>(it - segments.begin()) - 1;
  }

  // Per-commodity capacities and costs of `arc` (0 <= arc < num_edges()); each
  // holds at least num_commodities values (exactly that many when one problem
  // line precedes all arc lines).
  ListView capacity_list(std::size_t arc) const {
    const ArcSegment& s = segments[segment_index(arc)];
    return list_in(capacity_values, s.capacity_base, s.capacities_expanded, s, arc);
  }
  ListView cost_list(std::size_t arc) const {
    const ArcSegment& s = segments[segment_index(arc)];
    return list_in(cost_values, s.cost_base, s.costs_expanded, s, arc);
  }

  // Entry k*E + arc of commodity_bundle_capacities (0 <= k < num_commodities).
  int64_t bundle_capacity(uint64_t k, std::size_t arc) const { return capacity_list(arc).at(k); }

  // K*E, the length of commodity_edges and commodity_bundle_capacities, or
  // nothing when it exceeds size_t (such a list cannot be built).
  std::optional<std::size_t> commodity_major_size() const {
    std::size_t n = 0;
    if (__builtin_mul_overflow(std::size_t{num_commodities}, num_edges(), &n)) return std::nullopt;
    return n;
  }

 private:
  static ListView list_in(const BigVector<int64_t>& values, uint64_t base, bool expanded,
                          const ArcSegment& s, std::size_t arc) {
    const uint64_t rank = arc - s.first_arc;
    if (expanded) {
      return ListView{values.data() + base + rank * s.num_commodities, s.num_commodities, false};
    }
    return ListView{values.data() + base + rank, s.num_commodities, true};
  }
};

}  // namespace korvane
