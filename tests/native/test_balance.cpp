// Commodity balancing on hand-made partitions the partitioners never produce: the
// worked example without a generator, no draw when there is nothing to do, and the
// inputs it refuses instead of wrapping, reading past a list or looping.
#include <gtest/gtest.h>

#include "core/generate/balance.h"

namespace korvane {
namespace {

constexpr int64_t kTwo62 = int64_t{1} << 62;

Result<void> balance(Partition& partition, const Supplies& supplies, uint64_t k,
                     RandomSource* generator = nullptr) {
  return balance_commodities(partition, supplies, k, generator);
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

TEST(Balance, OverflowingTotalsAndSharesAreRefused) {
  // Both supplies of 2^62 in commodity 0: its total is 2^63.
  const Supplies big{{{1, kTwo62}, {2, kTwo62}, {3, -kTwo62}, {4, -kTwo62}}};
  expect_refused(Partition{{{1, {kTwo62, 0}}, {2, {kTwo62, 0}}, {3, {0, -kTwo62}}, {4, {0, -kTwo62}}}},
                 big, "total of commodity 0 overflows a signed 64-bit integer");
  Partition even{{{1, {kTwo62, 0}}, {2, {0, kTwo62}}, {3, {-kTwo62, 0}}, {4, {0, -kTwo62}}}};
  EXPECT_TRUE(balance(even, big, 2).ok());
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
