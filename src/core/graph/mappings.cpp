// Builds both maps by sorting their key sets once, counting, then filling the
// lists in arc order: O((N + E) log N) with one allocation per key.
#include "core/graph/mappings.h"

#include <algorithm>

namespace korvane {
namespace {

// Keys of one side: the listed nodes plus the endpoint each arc files under.
template <class Arc, class Endpoint, class ItemOf>
FlatMap<int64_t, std::vector<std::invoke_result_t<ItemOf, const Arc&>>> build_side(
    std::span<const int64_t> nodes, std::span<const Arc> edges, Endpoint endpoint, ItemOf item_of) {
  using Item = std::invoke_result_t<ItemOf, const Arc&>;
  std::vector<int64_t> keys(nodes.begin(), nodes.end());
  keys.reserve(nodes.size() + edges.size());
  for (const Arc& arc : edges) keys.push_back(endpoint(arc));
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

  std::vector<std::size_t> slot_of_arc(edges.size());
  std::vector<std::size_t> counts(keys.size(), 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), endpoint(edges[i]));
    slot_of_arc[i] = static_cast<std::size_t>(it - keys.begin());
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
