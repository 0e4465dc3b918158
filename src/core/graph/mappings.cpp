// Builds both maps by ranking their key sets once (a direct table when the ids
// are dense, else one sort and a binary search per arc), counting, then filling
// the lists in arc order, with one allocation per key.
#include "core/graph/mappings.h"

#include "core/graph/node_rank.h"

#include <algorithm>

namespace korvane {
namespace {

// Keys of one side: the listed nodes plus the endpoint each arc files under.
template <class Arc, class Endpoint, class ItemOf>
FlatMap<int64_t, std::vector<std::invoke_result_t<ItemOf, const Arc&>>> build_side(
    std::span<const int64_t> nodes, std::span<const Arc> edges, Endpoint endpoint, ItemOf item_of) {
  using Item = std::invoke_result_t<ItemOf, const Arc&>;
  std::vector<int64_t> endpoints(edges.size());
  for (std::size_t i = 0; i < edges.size(); ++i) endpoints[i] = endpoint(edges[i]);
  const std::vector<int64_t> keys = detail::sorted_ids({nodes, endpoints});
  const detail::Ranker rank(keys);

  std::vector<std::size_t> slot_of_arc(edges.size());
  std::vector<std::size_t> counts(keys.size(), 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    slot_of_arc[i] = static_cast<std::size_t>(rank(endpoints[i]));
    ++counts[slot_of_arc[i]];
  }
  FlatMap<int64_t, std::vector<Item>> map;
  map.entries.resize(keys.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    map.entries[k].first = keys[k];
    map.entries[k].second.reserve(counts[k]);
  }
  for (std::size_t i = 0; i < edges.size(); ++i) {
    map.entries[slot_of_arc[i]].second.push_back(item_of(edges[i]));
  }
  return map;
}

template <class Arc, class ItemOf>
auto build_mapping(std::span<const int64_t> nodes, std::span<const Arc> edges, ItemOf item_of) {
  using Item = std::invoke_result_t<ItemOf, const Arc&>;
  NodeMapping<Item> result;
  result.incoming = build_side(nodes, edges, [](const Arc& a) { return a[1]; }, item_of);
  result.outgoing = build_side(nodes, edges, [](const Arc& a) { return a[0]; },
                               [](const Arc& a) {
                                 if constexpr (std::is_same_v<Item, int64_t>) {
                                   return a[1];
                                 } else {
                                   return a;
                                 }
                               });
  return result;
}

}  // namespace

NodeMapping<int64_t> get_adjacency_mapping(std::span<const int64_t> nodes,
                                           std::span<const Pair> edges) {
  // Incoming lists hold tails, outgoing lists heads.
  return build_mapping(nodes, edges, [](const Pair& a) { return a[0]; });
}

NodeMapping<ArcKey> get_incidence_mapping(std::span<const int64_t> nodes,
                                          std::span<const ArcKey> edges) {
  return build_mapping(nodes, edges, [](const ArcKey& a) { return a; });
}

}  // namespace korvane
