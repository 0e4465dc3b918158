// Partitioners: the documented worked examples before and after balancing, the
// words each draw step consumes, refused inputs, and the split invariants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <random>

#include "logic/generator/partition.h"
#include "partition_builders.h"

namespace korvane {
namespace {

using testing::expect_balanced_split;
using testing::partition_of;
using testing::supplies_of;

// True when both sources hand out the same next words (same stream position).
bool same_position(RandomSource a, RandomSource b) {
  for (int i = 0; i < 3; ++i) {
    if (a.next_u64() != b.next_u64()) return false;
  }
  return true;
}

RandomSource after_words(uint64_t seed, int words) {
  RandomSource source = RandomSource::from_seed(seed);
  for (int i = 0; i < words; ++i) source.next_u64();
  return source;
}

TEST(SpreadPartition, WorkedExampleCutPointsAndBalancing) {
  const Supplies supplies = supplies_of({{1, 10}, {2, -10}});
  RandomSource generator = RandomSource::from_seed(42);
  const Result<Partition> drawn = detail::draw_spread(supplies, 3, generator);
  ASSERT_TRUE(drawn.ok());
  // Node 1 cuts at 5 and 5, node 2 at 7 and 4: two words per cut point.
  EXPECT_EQ(drawn.value().entries, partition_of({{1, {5, 0, 5}}, {2, {-4, -3, -3}}}).entries);
  EXPECT_TRUE(same_position(generator, after_words(42, 4)));
  // Balancing goes on from there: donor index 1 of two, then index 0 of one.
  RandomSource balancing = generator;
  EXPECT_EQ(balancing.uniform_index(2).value(), 1u);
  EXPECT_EQ(balancing.uniform_index(1).value(), 0u);

  const Result<Partition> split = split_supply_and_demand_spread(supplies, 3, 42);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split.value().entries, partition_of({{1, {4, 2, 4}}, {2, {-4, -2, -4}}}).entries);
}

TEST(SpreadPartition, UnitAmountHasOneNonZeroPartAndDrawsEveryCut) {
  for (const int64_t amount : {int64_t{1}, int64_t{-1}}) {
    RandomSource generator = RandomSource::from_seed(7);
    const Result<Partition> drawn = detail::draw_spread(supplies_of({{3, amount}}), 5, generator);
    ASSERT_TRUE(drawn.ok());
    const std::vector<int64_t>& parts = drawn.value().entries.at(0).second;
    EXPECT_EQ(std::count(parts.begin(), parts.end(), amount), 1);
    EXPECT_EQ(std::count(parts.begin(), parts.end(), 0), 4);
    // K - 1 = 4 cut points even for a total of 1, one 64-bit word each.
    EXPECT_TRUE(same_position(generator, after_words(7, 4)));
  }
}

TEST(UniformPartition, WorkedExamples) {
  struct Case {
    Supplies supplies;
    uint64_t num_commodities;
    Partition drawn;
    Partition balanced;
  };
  const Case cases[] = {
      // The cursor stands at commodity 1 when node 2's remainder is placed.
      {supplies_of({{1, 5}, {2, -5}}), 2, partition_of({{1, {3, 2}}, {2, {-2, -3}}}),
       partition_of({{1, {2, 3}}, {2, {-2, -3}}})},
      {supplies_of({{1, 2}, {2, -2}}), 3, partition_of({{1, {1, 1, 0}}, {2, {-1, 0, -1}}}),
       partition_of({{1, {1, 0, 1}}, {2, {-1, 0, -1}}})},
      {supplies_of({{1, 6}, {2, 0}, {3, -6}}), 3,
       partition_of({{1, {2, 2, 2}}, {2, {0, 0, 0}}, {3, {-2, -2, -2}}}),
       partition_of({{1, {2, 2, 2}}, {2, {0, 0, 0}}, {3, {-2, -2, -2}}})},
  };
  for (const Case& c : cases) {
    const Result<Partition> drawn = detail::draw_uniform(c.supplies, c.num_commodities);
    ASSERT_TRUE(drawn.ok());
    EXPECT_EQ(drawn.value().entries, c.drawn.entries);
    const Result<Partition> split = split_supply_and_demand_uniform(c.supplies, c.num_commodities);
    ASSERT_TRUE(split.ok());
    EXPECT_EQ(split.value().entries, c.balanced.entries);
  }
}

TEST(BetaBinomialPartition, TwoCommodityExample) {
  const Supplies supplies = supplies_of({{1, 10}, {2, -10}});
  RandomSource generator = RandomSource::from_seed(42);
  const Result<Partition> drawn = detail::draw_beta_binomial(supplies, 2, 3.0, generator);
  ASSERT_TRUE(drawn.ok());
  // Node 1: Beta(3, 3) gives p ~ 0.4847, Binomial(10, p) 5; node 2: p ~ 0.5548, 6.
  EXPECT_EQ(drawn.value().entries, partition_of({{1, {5, 5}}, {2, {-6, -4}}}).entries);

  const Result<Partition> split = split_supply_and_demand_beta_binomial(supplies, 2, 42, 3.0);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split.value().entries, partition_of({{1, {6, 4}}, {2, {-6, -4}}}).entries);
}

TEST(BetaBinomialPartition, ThreeCommodityExample) {
  const Supplies supplies = supplies_of({{1, 100}, {2, -60}, {3, -40}});
  RandomSource generator = RandomSource::from_seed(42);
  const Result<Partition> drawn = detail::draw_beta_binomial(supplies, 3, 3.0, generator);
  ASSERT_TRUE(drawn.ok());
  EXPECT_EQ(drawn.value().entries,
            partition_of({{1, {32, 26, 42}}, {2, {-43, -4, -13}}, {3, {-14, -13, -13}}}).entries);
  const Result<Partition> split = split_supply_and_demand_beta_binomial(supplies, 3, 42, 3.0);
  ASSERT_TRUE(split.ok());
  EXPECT_EQ(split.value().entries,
            partition_of({{1, {41, 23, 36}}, {2, {-35, -7, -18}}, {3, {-6, -16, -18}}}).entries);
}

TEST(BetaBinomialPartition, ParameterFailures) {
  const Supplies supplies = supplies_of({{1, 0}, {2, 5}, {3, -5}});
  for (const double c : {0.0, -1.0, std::nan("")}) {
    const Result<Partition> split = split_supply_and_demand_beta_binomial(supplies, 2, 42, c);
    ASSERT_FALSE(split.ok());
    EXPECT_EQ(split.error().kind, ErrorKind::kInternal);
    EXPECT_EQ(split.error().message, "invalid Beta parameters: AlphaTooSmall");
    // One commodity takes no Beta share, so nothing can fail.
    EXPECT_TRUE(split_supply_and_demand_beta_binomial(supplies, 1, 42, c).ok());
    // Nothing to split, nothing drawn.
    const Result<Partition> zeros =
        split_supply_and_demand_beta_binomial(supplies_of({{1, 0}}), 3, 42, c);
    ASSERT_TRUE(zeros.ok());
    EXPECT_TRUE(zeros.value().empty());
  }
  const Result<Partition> infinite = split_supply_and_demand_beta_binomial(
      supplies, 2, 42, std::numeric_limits<double>::infinity());
  ASSERT_FALSE(infinite.ok());
  EXPECT_EQ(infinite.error().message, "invalid Binomial parameters: ProbabilityTooSmall");
}

TEST(AllPartitions, OneCommodityCopiesAmountsWithoutDrawing) {
  const Supplies supplies = supplies_of({{-4, 7}, {0, 0}, {9, -7}});
  const Partition non_zero = partition_of({{-4, {7}}, {9, {-7}}});
  RandomSource generator = RandomSource::from_seed(1);
  EXPECT_EQ(detail::draw_spread(supplies, 1, generator).value().entries, non_zero.entries);
  EXPECT_EQ(detail::draw_beta_binomial(supplies, 1, 3.0, generator).value().entries,
            non_zero.entries);
  EXPECT_TRUE(same_position(generator, RandomSource::from_seed(1)));
  EXPECT_EQ(split_supply_and_demand_uniform(supplies, 1).value().entries,
            partition_of({{-4, {7}}, {0, {0}}, {9, {-7}}}).entries);
}

TEST(AllPartitions, ZeroCommoditiesFailOnlyWithSomethingToSplit) {
  const Supplies zeros = supplies_of({{1, 0}, {2, 0}});
  const Supplies amounts = supplies_of({{1, 0}, {2, 3}, {3, -3}});
  EXPECT_TRUE(split_supply_and_demand_spread(zeros, 0, 42).value().empty());
  EXPECT_TRUE(split_supply_and_demand_beta_binomial(zeros, 0, 42, 3.0).value().empty());
  EXPECT_TRUE(split_supply_and_demand_uniform(Supplies{}, 0).value().empty());

  const Result<Partition> failures[] = {
      split_supply_and_demand_spread(amounts, 0, 42),
      split_supply_and_demand_beta_binomial(amounts, 0, 42, 3.0),
      split_supply_and_demand_uniform(zeros, 0),
  };
  for (const Result<Partition>& failure : failures) {
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(failure.error().kind, ErrorKind::kInternal);
    EXPECT_EQ(failure.error().message, "num_commodities must be at least 1");
  }
}

TEST(AllPartitions, MostNegativeAmountIsRefused) {
  const Supplies supplies = supplies_of({{1, 5}, {2, INT64_MIN}});
  for (const uint64_t k : {uint64_t{1}, uint64_t{2}}) {
    const Result<Partition> failures[] = {
        split_supply_and_demand_spread(supplies, k, 42),
        split_supply_and_demand_uniform(supplies, k),
        split_supply_and_demand_beta_binomial(supplies, k, 42, 3.0),
    };
    for (const Result<Partition>& failure : failures) {
      ASSERT_FALSE(failure.ok());
      EXPECT_EQ(failure.error().kind, ErrorKind::kInternal);
      EXPECT_EQ(failure.error().message,
                "supply amount -9223372036854775808 has no representable magnitude");
    }
  }
}

TEST(AllPartitions, UnaddressableListsThrowBadAlloc) {
  const Supplies supplies = supplies_of({{1, 5}, {2, -5}});
  for (const uint64_t k : {uint64_t{1} << 62, UINT64_MAX}) {
    EXPECT_THROW((void)split_supply_and_demand_spread(supplies, k, 42), std::bad_alloc);
    EXPECT_THROW((void)split_supply_and_demand_uniform(supplies, k), std::bad_alloc);
    EXPECT_THROW((void)split_supply_and_demand_beta_binomial(supplies, k, 42, 3.0), std::bad_alloc);
  }
}

TEST(AllPartitions, RandomInputsKeepTotalsSignsAndBalance) {
  std::mt19937_64 inputs(20240611);
  for (int round = 0; round < 300; ++round) {
    const uint64_t k = 1 + inputs() % 6;
    const uint64_t seed = inputs() % 1000;
    Supplies supplies;
    int64_t sum = 0;
    const uint64_t num_nodes = 1 + inputs() % 8;
    for (uint64_t v = 0; v < num_nodes; ++v) {
      const auto amount = static_cast<int64_t>(inputs() % 61) - 30;
      supplies.entries.emplace_back(static_cast<int64_t>(v) * 3 - 5, amount);
      sum += amount;
    }
    // Two rounds in three are networks whose supplies equal their demands.
    if (round % 3 != 0) supplies.entries.emplace_back(100, -sum);
    const uint64_t non_zero = static_cast<uint64_t>(std::count_if(
        supplies.begin(), supplies.end(), [](const auto& e) { return e.second != 0; }));

    const Result<Partition> spread = split_supply_and_demand_spread(supplies, k, seed);
    const Result<Partition> uniform = split_supply_and_demand_uniform(supplies, k);
    const Result<Partition> beta = split_supply_and_demand_beta_binomial(supplies, k, seed, 0.7);
    ASSERT_TRUE(spread.ok() && uniform.ok() && beta.ok());
    SCOPED_TRACE(round);
    expect_balanced_split(spread.value(), supplies, k);
    expect_balanced_split(uniform.value(), supplies, k);
    expect_balanced_split(beta.value(), supplies, k);
    EXPECT_EQ(spread.value().size(), non_zero);
    EXPECT_EQ(beta.value().size(), non_zero);
    EXPECT_EQ(uniform.value().size(), supplies.size());
    EXPECT_EQ(split_supply_and_demand_spread(supplies, k, seed).value().entries,
              spread.value().entries);
    EXPECT_EQ(split_supply_and_demand_beta_binomial(supplies, k, seed, 0.7).value().entries,
              beta.value().entries);
  }
}

TEST(AllPartitions, SeedChangesTheDraws) {
  const Supplies supplies = supplies_of({{1, 1000}, {2, -1000}});
  EXPECT_NE(split_supply_and_demand_spread(supplies, 4, 1).value().entries,
            split_supply_and_demand_spread(supplies, 4, 2).value().entries);
  EXPECT_NE(split_supply_and_demand_beta_binomial(supplies, 4, 1, 3.0).value().entries,
            split_supply_and_demand_beta_binomial(supplies, 4, 2, 3.0).value().entries);
}

}  // namespace
}  // namespace korvane
