// The node set and arc ordering against ordered-container models, over id patterns that
// take every path (bitmap, hash set, growth over hashed ids, grouped tails), on 1 and 7 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/base/parallel.h"
#include "core/graph/arc_order.h"
#include "core/graph/node_index.h"

namespace korvane {
namespace {

int64_t draw_id(std::mt19937_64& rng, int pattern) {
  switch (pattern) {
    case 0:  // dense
      return static_cast<int64_t>(rng() % 50);
    case 1:  // sparse, both signs, extremes included
      if (rng() % 4 == 0) return rng() % 2 ? INT64_MIN : INT64_MAX;
      return static_cast<int64_t>(rng());
    default:  // a growing dense range mixed with large ids
      return static_cast<int64_t>(rng() % 3 == 0 ? rng() % (uint64_t{1} << 40) : rng() % 3000000);
  }
}

// order_arcs on 1 thread, then on up to 7 in chunks as small as one arc, against
// an ordered map from pairs to the positions of their arcs.
void expect_ordered_map_model(const std::vector<int64_t>& tails, const std::vector<int64_t>& heads,
                              const std::vector<int64_t>& nodes, const std::string& label) {
  std::map<std::pair<int64_t, int64_t>, std::vector<uint64_t>> positions;
  std::vector<int64_t> expected_index;
  for (std::size_t a = 0; a < tails.size(); ++a) {
    auto& list = positions[{tails[a], heads[a]}];
    expected_index.push_back(static_cast<int64_t>(list.size()));
    list.push_back(a);
  }
  std::vector<uint64_t> expected_order;
  uint64_t expected_pairs = 0;
  for (const auto& [pair, list] : positions) {
    expected_order.insert(expected_order.end(), list.begin(), list.end());
    expected_pairs += list.size() > 1 ? 1u : 0u;
  }
  for (const auto& [threads, min_chunk] : {std::pair{std::size_t{1}, kMinOrderChunk}, std::pair{std::size_t{7}, std::size_t{1}}}) {
    const ThreadCountScope setting(threads);
    const ArcOrder order = order_arcs(tails, heads, nodes, min_chunk).value();
    EXPECT_EQ(order.parallel_index, expected_index) << label << ", " << threads;
    EXPECT_EQ(order.pair_order, expected_order) << label << ", " << threads;
    EXPECT_EQ(order.num_parallel_pairs, expected_pairs) << label << ", " << threads;
  }
}

TEST(ArcOrder, MatchesOrderedMapModel) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 60; ++round) {
    const int pattern = round % 3;
    const bool grouped = round % 4 < 2;
    std::vector<int64_t> tails, heads, nodes;
    // Some rounds are large enough for the bitmap to outgrow ids first hashed.
    const int num_arcs = static_cast<int>(round % 10 == 2 ? 40000 : rng() % 400);
    for (int a = 0; a < num_arcs; ++a) {
      tails.push_back(draw_id(rng, pattern));
      heads.push_back(rng() % 3 == 0 && !tails.empty() ? tails[rng() % tails.size()]
                                                       : draw_id(rng, pattern));
    }
    if (grouped) {
      std::vector<std::pair<int64_t, int64_t>> arcs;
      for (std::size_t a = 0; a < tails.size(); ++a) arcs.emplace_back(tails[a], heads[a]);
      std::stable_sort(arcs.begin(), arcs.end(),
                       [](auto& x, auto& y) { return x.first < y.first; });
      for (std::size_t a = 0; a < arcs.size(); ++a) std::tie(tails[a], heads[a]) = arcs[a];
    }
    NodeIndex index;
    std::vector<int64_t> expected_nodes;
    std::set<int64_t> placed;
    for (std::size_t a = 0; a < tails.size(); ++a) {
      for (const int64_t id : {tails[a], heads[a]}) {
        index.place(id, nodes);
        if (placed.insert(id).second) expected_nodes.push_back(id);
      }
    }
    ASSERT_EQ(nodes, expected_nodes) << "round " << round;

    expect_ordered_map_model(tails, heads, nodes, "round " + std::to_string(round));
  }
}

// Groups of every size from 1 to 40 arcs per tail (the sizes sorted by a network,
// by insertion and by std::sort), with repeated heads, listed by tail or not.
TEST(ArcOrder, EveryGroupSize) {
  std::mt19937_64 rng(31);
  std::vector<int64_t> tails, heads, nodes;
  for (int64_t size = 1; size <= 40; ++size) {
    for (int64_t k = 0; k < size; ++k) {
      tails.push_back(size);
      heads.push_back(static_cast<int64_t>(rng() % (1 + static_cast<uint64_t>(size) / 2)));
    }
  }
  for (int64_t id = 0; id <= 40; ++id) nodes.push_back(id);
  expect_ordered_map_model(tails, heads, nodes, "listed");
  std::shuffle(tails.begin(), tails.end(), rng);
  expect_ordered_map_model(tails, heads, nodes, "shuffled");
}

// Ids spread over 2^25 values among 2^20 arcs: keys and positions need more than
// one 64-bit word between them, so the items are held wide.
TEST(ArcOrder, WideKeysMatchSortedModel) {
  std::mt19937_64 rng(7);
  const std::size_t e = std::size_t{1} << 20;
  std::vector<int64_t> tails(e), heads(e), nodes;
  std::vector<std::tuple<int64_t, int64_t, uint64_t>> model(e);
  for (std::size_t a = 0; a < e; ++a) {
    tails[a] = static_cast<int64_t>(rng() % (uint64_t{1} << 25));
    heads[a] = a % 5 == 0 && a > 0 ? heads[a - 1] : static_cast<int64_t>(rng() % (uint64_t{1} << 25));
    if (a % 5 == 0 && a > 0) tails[a] = tails[a - 1];
    model[a] = {tails[a], heads[a], a};
  }
  NodeIndex index;
  for (std::size_t a = 0; a < e; ++a) index.place(tails[a], nodes), index.place(heads[a], nodes);
  std::sort(model.begin(), model.end());
  std::vector<uint64_t> expected_order(e);
  std::vector<int64_t> expected_index(e);
  for (std::size_t i = 0, run = 0; i < e; ++i) {
    const auto& [tail, head, position] = model[i];
    run = i > 0 && std::get<0>(model[i - 1]) == tail && std::get<1>(model[i - 1]) == head ? run + 1 : 0;
    expected_order[i] = position;
    expected_index[position] = static_cast<int64_t>(run);
  }
  for (const std::size_t threads : {1u, 2u}) {
    const ThreadCountScope setting(threads);
    const ArcOrder order = order_arcs(tails, heads, nodes).value();
    EXPECT_EQ(order.pair_order, expected_order) << threads;
    EXPECT_EQ(order.parallel_index, expected_index) << threads;
  }
}

}  // namespace
}  // namespace korvane
