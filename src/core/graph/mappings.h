// Incoming and outgoing adjacency (node ids) and incidence (arc keys) per node.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/flat_map.h"

namespace korvane {

template <class Item>
struct NodeMapping {
  FlatMap<int64_t, std::vector<Item>> incoming;  // head -> what arrives at it
  FlatMap<int64_t, std::vector<Item>> outgoing;  // tail -> what leaves it
};

using Pair = std::array<int64_t, 2>;
using ArcKey = std::array<int64_t, 3>;

// Every listed node is a key of both maps; an unlisted endpoint only of the map
// where it received an item. Items keep the order of `edges`; nothing is
// deduplicated. Never fails.
NodeMapping<int64_t> get_adjacency_mapping(std::span<const int64_t> nodes,
                                           std::span<const Pair> edges);
NodeMapping<ArcKey> get_incidence_mapping(std::span<const int64_t> nodes,
                                          std::span<const ArcKey> edges);

}  // namespace korvane
