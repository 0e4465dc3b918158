// Heterogeneity measure: the documented values to the last bit, and which nodes
// count as active.
#include <gtest/gtest.h>

#include "logic/generator/heterogeneity.h"
#include "partition_builders.h"

namespace korvane {
namespace {

using testing::partition_of;
using testing::supplies_of;

double measure(const Partition& partition, const Supplies& original) {
  return compute_commodity_demand_heterogeneity(partition, original);
}

TEST(Heterogeneity, DegenerateInputsGiveZero) {
  const Supplies amounts = supplies_of({{1, 4}, {2, -4}});
  EXPECT_EQ(measure(Partition{}, amounts), 0.0);
  EXPECT_EQ(measure(partition_of({{1, {4, 0}}}), Supplies{}), 0.0);
  EXPECT_EQ(measure(partition_of({{1, {}}, {2, {}}}), amounts), 0.0);
  // K = 1 comes from the first non-empty list, whatever the others hold.
  EXPECT_EQ(measure(partition_of({{1, {4}}, {2, {0, -4}}}), amounts), 0.0);
  // No active node: zero amounts and unlisted nodes do not count.
  EXPECT_EQ(measure(partition_of({{1, {4, 0}}}), supplies_of({{1, 0}, {2, -4}})), 0.0);
}

TEST(Heterogeneity, DocumentedValues) {
  EXPECT_EQ(measure(partition_of({{1, {3, 1}}, {2, {-2, -2}}}), supplies_of({{1, 4}, {2, -4}})),
            0.25);
  // Parts that do not add up to the amount are not clamped.
  EXPECT_EQ(measure(partition_of({{1, {5, 0}}}), supplies_of({{1, 4}})), 1.25);
  // K from inactive node 0; node 1 active with an empty list; node 3 unlisted.
  EXPECT_EQ(measure(partition_of({{0, {1, 1}}, {1, {}}, {2, {2, 0}}}),
                    supplies_of({{1, 3}, {2, 2}, {3, 5}})),
            0.5);
}

TEST(Heterogeneity, WholeAmountInCommodityZero) {
  const struct {
    uint64_t num_commodities;
    double expected;
  } cases[] = {{2, 1.0}, {3, 1.0}, {4, 1.0}, {5, 0.9999999999999999}, {6, 1.0000000000000002},
               {8, 1.0}};
  for (const auto& c : cases) {
    std::vector<int64_t> supply(c.num_commodities, 0);
    std::vector<int64_t> demand(c.num_commodities, 0);
    supply[0] = 7;
    demand[0] = -7;
    Partition partition;
    partition.entries = {{1, supply}, {2, demand}};
    EXPECT_EQ(measure(partition, supplies_of({{1, 7}, {2, -7}})), c.expected)
        << "K = " << c.num_commodities;
  }
}

TEST(Heterogeneity, EvenSplitsGiveExactlyZero) {
  for (uint64_t k = 2; k <= 9; ++k) {
    Partition partition;
    partition.entries = {{1, std::vector<int64_t>(k, 3)}, {5, std::vector<int64_t>(k, -2)}};
    const auto three_k = static_cast<int64_t>(3 * k);
    const auto two_k = static_cast<int64_t>(2 * k);
    EXPECT_EQ(measure(partition, supplies_of({{1, three_k}, {5, -two_k}})), 0.0) << "K = " << k;
  }
}

TEST(Heterogeneity, MostNegativeValuesHaveTheirMagnitude) {
  // |-2^63| = 2^63 exactly: all of it in one commodity scores 1.
  EXPECT_EQ(measure(partition_of({{1, {INT64_MIN, 0}}}), supplies_of({{1, INT64_MIN}})), 1.0);
}

}  // namespace
}  // namespace korvane
