// Commodity balancing: the worked example, when it draws and when it does not,
// its end states, and the inputs it refuses instead of wrapping or looping.
#include <gtest/gtest.h>

#include "logic/generator/balance.h"
#include "partition_builders.h"

namespace korvane {
namespace {

using testing::expect_balanced_split;
using testing::partition_of;
using testing::supplies_of;

constexpr int64_t kTwo62 = int64_t{1} << 62;

bool same_position(RandomSource a, RandomSource b) {
  return a.next_u64() == b.next_u64() && a.next_u64() == b.next_u64();
}

TEST(Balance, WorkedExampleWithoutGenerator) {
  const Supplies supplies = supplies_of({{1, 4}, {2, -4}});
  Partition partition = partition_of({{1, {3, 1}}, {2, {-1, -3}}});
  ASSERT_TRUE(balance_commodities(partition, supplies, 2, nullptr).ok());
  EXPECT_EQ(partition.entries, partition_of({{1, {2, 2}}, {2, {-2, -2}}}).entries);
}

TEST(Balance, NothingToDoDrawsNothing) {
  RandomSource generator = RandomSource::from_seed(5);
  const Supplies supplies = supplies_of({{1, 4}, {2, -4}});

  Partition balanced = partition_of({{1, {2, 2}}, {2, {-2, -2}}});
  ASSERT_TRUE(balance_commodities(balanced, supplies, 2, &generator).ok());
  EXPECT_EQ(balanced.entries, partition_of({{1, {2, 2}}, {2, {-2, -2}}}).entries);

  Partition unbalanced = partition_of({{1, {4, 0}}, {2, {0, -4}}});
  ASSERT_TRUE(balance_commodities(unbalanced, supplies, 0, &generator).ok());
  EXPECT_EQ(unbalanced.entries, partition_of({{1, {4, 0}}, {2, {0, -4}}}).entries);

  Partition empty;
  ASSERT_TRUE(balance_commodities(empty, supplies, 3, &generator).ok());
  EXPECT_TRUE(same_position(generator, RandomSource::from_seed(5)));
}

TEST(Balance, OneDonorDrawPerPass) {
  // Totals [4, 0, -4]: a single surplus commodity, yet each pass draws its donor.
  // Pass 1 moves a unit at both nodes and visits them all; pass 2 ends on t_d = 0.
  const Supplies supplies = supplies_of({{1, 4}, {2, -4}});
  Partition partition = partition_of({{1, {4, 0, 0}}, {2, {0, 0, -4}}});
  RandomSource generator = RandomSource::from_seed(9);
  ASSERT_TRUE(balance_commodities(partition, supplies, 3, &generator).ok());
  EXPECT_EQ(partition.entries, partition_of({{1, {2, 0, 2}}, {2, {-2, 0, -2}}}).entries);
  // uniform_index(1) takes one 32-bit word per pass.
  RandomSource expected = RandomSource::from_seed(9);
  expected.next_u32();
  expected.next_u32();
  EXPECT_TRUE(same_position(generator, expected));
}

TEST(Balance, TransitNodesAreCountedButNeverChanged) {
  // Pass 1 visits all three nodes (the transit node counts) and ends with totals
  // [1, -1]; pass 2 ends at node 1. Not counting node 2 would finish in one pass.
  const Supplies supplies = supplies_of({{1, 3}, {2, 0}, {3, -3}});
  Partition partition = partition_of({{1, {3, 0}}, {2, {0, 0}}, {3, {0, -3}}});
  RandomSource generator = RandomSource::from_seed(11);
  ASSERT_TRUE(balance_commodities(partition, supplies, 2, &generator).ok());
  EXPECT_EQ(partition.entries, partition_of({{1, {1, 2}}, {2, {0, 0}}, {3, {-1, -2}}}).entries);
  RandomSource expected = RandomSource::from_seed(11);
  expected.next_u32();
  expected.next_u32();
  EXPECT_TRUE(same_position(generator, expected));
}

TEST(Balance, UnevenNetworksStopWhenOneSideIsGone) {
  // Supplies exceed demands by 6: no negative total remains, positives add up to 6.
  const Supplies surplus = supplies_of({{1, 10}, {2, -4}});
  Partition more = partition_of({{1, {0, 10}}, {2, {-4, 0}}});
  ASSERT_TRUE(balance_commodities(more, surplus, 2, nullptr).ok());
  EXPECT_EQ(more.entries, partition_of({{1, {2, 8}}, {2, {-2, -2}}}).entries);
  // Demands exceed supplies by 6: no positive total remains.
  const Supplies deficit = supplies_of({{1, 4}, {2, -10}});
  Partition less = partition_of({{1, {4, 0}}, {2, {0, -10}}});
  ASSERT_TRUE(balance_commodities(less, deficit, 2, nullptr).ok());
  EXPECT_EQ(less.entries, partition_of({{1, {2, 2}}, {2, {-2, -8}}}).entries);
}

TEST(Balance, GeneratorStatesGiveDifferentBalancedResults) {
  // Two surplus commodities: which one donates first depends on the stream.
  const Supplies supplies = supplies_of({{1, 6}, {2, -6}});
  const Partition start = partition_of({{1, {3, 3, 0}}, {2, {0, 0, -6}}});
  std::vector<std::vector<int64_t>> node1_results;
  for (uint64_t seed = 0; seed < 40; ++seed) {
    Partition partition = start;
    RandomSource generator = RandomSource::from_seed(seed);
    ASSERT_TRUE(balance_commodities(partition, supplies, 3, &generator).ok());
    expect_balanced_split(partition, supplies, 3);
    node1_results.push_back(partition.entries.at(0).second);
  }
  std::sort(node1_results.begin(), node1_results.end());
  node1_results.erase(std::unique(node1_results.begin(), node1_results.end()), node1_results.end());
  EXPECT_GT(node1_results.size(), 1u);
}

TEST(Balance, OverflowingCommodityTotalIsRefused) {
  // Four nodes at +-2^62 with both supplies in commodity 0: its total is 2^63.
  const Supplies supplies = supplies_of({{1, kTwo62}, {2, kTwo62}, {3, -kTwo62}, {4, -kTwo62}});
  Partition partition =
      partition_of({{1, {kTwo62, 0}}, {2, {kTwo62, 0}}, {3, {0, -kTwo62}}, {4, {0, -kTwo62}}});
  const Result<void> result = balance_commodities(partition, supplies, 2, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kInternal);
  EXPECT_EQ(result.error().message, "total of commodity 0 overflows a signed 64-bit integer");
  // The same network split evenly balances: only totals that leave int64 fail.
  Partition even =
      partition_of({{1, {kTwo62, 0}}, {2, {0, kTwo62}}, {3, {-kTwo62, 0}}, {4, {0, -kTwo62}}});
  ASSERT_TRUE(balance_commodities(even, supplies, 2, nullptr).ok());
}

TEST(Balance, OverflowingShareIsRefused) {
  // Shares against their nodes' signs, set so that the first transfer overflows:
  // the receiver's share at a supply node, then the donor's share at a demand node.
  const Supplies supplies = supplies_of({{0, 0}, {1, 1}, {2, -1}});
  Partition raise = partition_of({{1, {1, INT64_MAX}}, {2, {0, INT64_MIN}}});
  Result<void> result = balance_commodities(raise, supplies, 2, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message,
            "share of commodity 1 at node 1 overflows a signed 64-bit integer");

  const Supplies transit_first = supplies_of({{0, 0}, {1, 0}, {2, -1}});
  Partition lower = partition_of({{0, {INT64_MAX, 0}}, {1, {2, 0}}, {2, {INT64_MIN, -1}}});
  result = balance_commodities(lower, transit_first, 2, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message,
            "share of commodity 0 at node 2 overflows a signed 64-bit integer");
}

TEST(Balance, RefusedPreconditions) {
  const Supplies supplies = supplies_of({{1, 2}, {3, -2}});
  Partition missing = partition_of({{1, {2, 0}}, {2, {0, 0}}, {3, {0, -2}}});
  Result<void> result = balance_commodities(missing, supplies, 2, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, "no entry found for key");

  Partition short_list = partition_of({{1, {2, 0}}, {3, {-2}}});
  result = balance_commodities(short_list, supplies, 2, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, "index out of bounds: the len is 1 but the index is 1");
  Partition two_wide = partition_of({{1, {2, 0}}, {3, {0, -2}}});
  result = balance_commodities(two_wide, supplies, uint64_t{1} << 62, nullptr);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message, "index out of bounds: the len is 2 but the index is 2");

  // Shares against their nodes' signs: no pass can move a unit.
  const Supplies transit = supplies_of({{1, 0}, {2, 0}});
  Partition stuck = partition_of({{1, {1, 0}}, {2, {0, -1}}});
  RandomSource generator = RandomSource::from_seed(3);
  for (RandomSource* g : {static_cast<RandomSource*>(nullptr), &generator}) {
    result = balance_commodities(stuck, transit, 2, g);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message,
              "balancing cannot move any unit: no commodity with a surplus has a positive share "
              "at a supply node");
  }
}

}  // namespace
}  // namespace korvane
