// Commodity balancing on hand-made partitions the partitioners never produce: the
// worked example without a generator, no draw when there is nothing to do, and the
// inputs it refuses instead of wrapping, reading past a list or looping.
#include <gtest/gtest.h>

#include "core/generate/balance.h"

#include <algorithm>
#include <random>

namespace korvane {
namespace {

Result<void> balance(Partition& partition, const Supplies& supplies, uint64_t k,
                     RandomSource* generator = nullptr) {
  return balance_commodities(partition, supplies, k, generator);
}

// The unit-by-unit algorithm, one unit per node visit, as the model of the bulk one.
Result<void> balance_by_unit(Partition& partition, const Supplies& supplies, uint64_t k_count,
                             RandomSource* generator) {
  std::vector<int64_t> totals(k_count, 0);
  for (const auto& entry : partition) {
    for (uint64_t k = 0; k < k_count; ++k) totals[k] += entry.second[k];
  }
  const std::size_t n = partition.size();
  std::size_t h = 0, q = 0;
  for (;;) {
    std::vector<uint64_t> pos, neg;
    for (uint64_t k = 0; k < k_count; ++k) {
      if (totals[k] > 0) pos.push_back(k);
      if (totals[k] < 0) neg.push_back(k);
    }
    if (pos.empty() || neg.empty()) return {};
    uint64_t d = pos[0];
    if (generator != nullptr) d = pos[generator->uniform_index(pos.size()).value()];
    if (q >= neg.size()) q = 0;
    uint64_t moved = 0;
    for (std::size_t visits = 0; visits < n; ++visits) {
      auto& [node, s] = partition.entries[h];
      const int64_t o = std::lower_bound(supplies.begin(), supplies.end(), node,
                                         [](const auto& e, int64_t id) { return e.first < id; })
                            ->second;
      uint64_t r = k_count;
      if (o >= 1 && s[d] > 0) {
        r = neg[q];
        q = (q + 1) % neg.size();
      } else if (o < 0) {
        for (std::size_t tries = 0; tries < neg.size() && r == k_count; ++tries) {
          if (s[neg[q]] < 0) r = neg[q];
          q = (q + 1) % neg.size();
        }
      }
      if (r != k_count) {
        --s[d], ++s[r], --totals[d], ++totals[r], ++moved;
      }
      h = (h + 1) % n;
      if (totals[d] == 0) break;
    }
    if (moved == 0 && pos.size() == 1) return internal("stuck");
  }
}

// Random partitions whose shares carry their node's sign, with amounts large enough
// that whole cycles are applied in bulk and small enough for the model.
TEST(Balance, SameResultAndStreamPositionAsUnitByUnit) {
  std::mt19937_64 rng(20261206);
  for (int round = 0; round < 3000; ++round) {
    const uint64_t k_count = 1 + rng() % 5;
    const std::size_t nodes = 1 + rng() % 7;
    const int64_t scale = int64_t{1} << (rng() % 17);
    Supplies supplies;
    Partition partition;
    for (std::size_t v = 0; v < nodes; ++v) {
      const int sign = static_cast<int>(rng() % 3) - 1;  // demand, transit, supply
      std::vector<int64_t> shares(k_count, 0);
      int64_t total = 0;
      for (auto& share : shares) {
        if (sign != 0 && rng() % 3 != 0) share = sign * static_cast<int64_t>(rng() % static_cast<uint64_t>(scale + 1));
        total += share;
      }
      supplies.entries.push_back({static_cast<int64_t>(v) * 3 - 5, total});
      partition.entries.push_back({static_cast<int64_t>(v) * 3 - 5, shares});
    }
    const bool drawn = round % 2 == 0;
    RandomSource bulk_source = RandomSource::from_seed(static_cast<uint64_t>(round));
    RandomSource unit_source = bulk_source;
    Partition expected = partition;
    const Result<void> model = balance_by_unit(expected, supplies, k_count,
                                               drawn ? &unit_source : nullptr);
    ASSERT_TRUE(model.ok()) << round;
    ASSERT_TRUE(balance(partition, supplies, k_count, drawn ? &bulk_source : nullptr).ok());
    ASSERT_EQ(partition.entries, expected.entries) << "round " << round;
    EXPECT_EQ(bulk_source.next_u64(), unit_source.next_u64()) << "round " << round;
  }
}

TEST(Balance, TwoCommoditiesInTimeIndependentOfTheAmounts) {
  // 2 * 10^15 units between two nodes: one unit per visit would take days.
  constexpr int64_t kAmount = 1'000'000'000'000'000;
  Partition partition{{{1, {kAmount, kAmount}}, {2, {-2 * kAmount, 0}}, {3, {0, 0}}}};
  const Supplies supplies{{{1, 2 * kAmount}, {2, -2 * kAmount}, {3, 0}}};
  RandomSource generator = RandomSource::from_seed(1);
  ASSERT_TRUE(balance(partition, supplies, 2, &generator).ok());
  // Commodity 1 donates one unit at each of nodes 1 and 2 per pass until its total is 0.
  constexpr int64_t kHalf = kAmount / 2;
  EXPECT_EQ(partition.entries, (Partition{{{1, {kAmount + kHalf, kHalf}},
                                           {2, {-kAmount - kHalf, -kHalf}},
                                           {3, {0, 0}}}}.entries));
  // One word per pass of two units: the stream moved on by kAmount / 2 words, as
  // many as the unit-by-unit run would have drawn.
  RandomSource reference = RandomSource::from_seed(1);
  reference.discard_u32(kAmount / 2);
  EXPECT_EQ(generator.next_u64(), reference.next_u64());
}

void expect_refused(Partition partition, const Supplies& supplies, const std::string& message) {
  const Result<void> result = balance(partition, supplies, 2);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kInternal);
  EXPECT_EQ(result.error().message, message);
}

TEST(Balance, WorkedExampleWithoutGenerator) {
  Partition partition{{{1, {3, 1}}, {2, {-1, -3}}}};
  ASSERT_TRUE(balance(partition, Supplies{{{1, 4}, {2, -4}}}, 2).ok());
  EXPECT_EQ(partition.entries, (Partition{{{1, {2, 2}}, {2, {-2, -2}}}}.entries));
}

TEST(Balance, NothingToDoDrawsNothing) {
  const Supplies supplies{{{1, 4}, {2, -4}}};
  RandomSource generator = RandomSource::from_seed(5);
  Partition balanced{{{1, {2, 2}}, {2, {-2, -2}}}};
  Partition no_commodities{{{1, {4, 0}}, {2, {0, -4}}}};
  Partition empty;
  ASSERT_TRUE(balance(balanced, supplies, 2, &generator).ok());
  ASSERT_TRUE(balance(no_commodities, supplies, 0, &generator).ok());
  ASSERT_TRUE(balance(empty, supplies, 3, &generator).ok());
  EXPECT_EQ(no_commodities.entries, (Partition{{{1, {4, 0}}, {2, {0, -4}}}}.entries));
  EXPECT_EQ(generator.index(), 64);
  EXPECT_EQ(generator.counter(), 0u);
}

TEST(Balance, OverflowingSharesAreRefused) {
  // Shares against their nodes' signs, so that the first transfer overflows: the
  // receiver's share at a supply node, then the donor's share at a demand node.
  expect_refused(Partition{{{1, {1, INT64_MAX}}, {2, {0, INT64_MIN}}}},
                 Supplies{{{0, 0}, {1, 1}, {2, -1}}},
                 "share of commodity 1 at node 1 overflows a signed 64-bit integer");
  expect_refused(Partition{{{0, {INT64_MAX, 0}}, {1, {2, 0}}, {2, {INT64_MIN, -1}}}},
                 Supplies{{{0, 0}, {1, 0}, {2, -1}}},
                 "share of commodity 0 at node 2 overflows a signed 64-bit integer");
}

TEST(Balance, RefusedPreconditions) {
  const Supplies supplies{{{1, 2}, {3, -2}}};
  expect_refused(Partition{{{1, {2, 0}}, {2, {0, 0}}, {3, {0, -2}}}}, supplies,
                 "no entry found for key");
  expect_refused(Partition{{{1, {2, 0}}, {3, {-2}}}}, supplies,
                 "index out of bounds: the len is 1 but the index is 1");
  // Shares against their nodes' signs: no pass can move a unit.
  expect_refused(Partition{{{1, {1, 0}}, {2, {0, -1}}}}, Supplies{{{1, 0}, {2, 0}}},
                 "balancing cannot move any unit: no commodity with a surplus has a positive "
                 "share at a supply node");
}

}  // namespace
}  // namespace korvane
