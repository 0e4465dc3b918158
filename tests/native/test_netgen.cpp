// NETGEN's random source (the facts its draws rest on) and the ordered pool
// against a plain sorted list under long random sequences of operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/netgen/ordered_pool.h"
#include "core/netgen/park_miller.h"

namespace korvane::netgen {
namespace {

std::vector<int64_t> states(int64_t seed, int count) {
  std::vector<int64_t> out;
  for (int64_t s = seed; count-- > 0;) out.push_back(s = park_miller_step(s));
  return out;
}

TEST(ParkMiller, KnownStates) {
  EXPECT_EQ(states(13502460, 5),
            (std::vector<int64_t>{1450062285, 1552397839, 1371652670, 129474145, 671020604}));
  EXPECT_EQ(states(1, 5),
            (std::vector<int64_t>{16807, 282475249, 1622650073, 984943658, 1144108930}));
  // Above ~2^48 the split arithmetic leaves a value >= 2^31 - 1 that the next step reduces.
  EXPECT_EQ(states(3721239006910421299, 2), (std::vector<int64_t>{29122475995887, 1916780059}));
}

TEST(ParkMiller, EqualsTheModularProductBelowTwoToThe48) {
  std::mt19937_64 pick(7);
  constexpr int64_t kBound = 274390790520610;  // floor(P * 2^31 / 16807)
  for (int i = 0; i < 100000; ++i) {
    const auto s = static_cast<int64_t>(pick() % static_cast<uint64_t>(kBound - 1)) + 1;
    // s < 2^48 and 16807 < 2^15: the product fits 64 bits.
    const int64_t expected = s * 16807 % kParkMillerModulus;
    ASSERT_EQ(park_miller_step(s), expected) << s;
  }
}

TEST(ParkMiller, MultiplesOfTheModulusFreezeAtZero) {
  for (const int64_t seed : {kParkMillerModulus, 5 * kParkMillerModulus}) {
    ParkMiller rng(seed);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rng.draw(3, 9), 3);
    EXPECT_EQ(rng.state(), 0);
  }
}

TEST(ParkMiller, ForcedDrawsReturnTheUpperBoundAndStillAdvance) {
  ParkMiller rng(1);
  EXPECT_EQ(rng.draw(1, 0), 0);
  EXPECT_EQ(rng.state(), 16807);
  EXPECT_EQ(rng.draw(1, -1), -1);
  EXPECT_EQ(rng.draw(5, 5), 5);
  EXPECT_EQ(rng.state(), 1622650073);
  ParkMiller negative(1);
  EXPECT_EQ(negative.draw(-10, -1), -10 + 16807 % 10);
}

// The pool as the generator describes it, on a plain sorted vector.
struct Model {
  std::vector<int64_t> members;
  int64_t pseudo = 0;
  bool valid = false;
  void make(int64_t lo, int64_t hi) {
    members.clear();
    valid = lo <= hi && lo > 0;
    for (int64_t x = lo; valid && x <= hi; ++x) members.push_back(x);
    pseudo = static_cast<int64_t>(members.size());
  }
  int64_t take(int64_t k) {
    if (k < 1 || k > static_cast<int64_t>(members.size())) return 0;
    const int64_t x = members[static_cast<std::size_t>(k - 1)];
    members.erase(members.begin() + (k - 1));
    --pseudo;
    return x;
  }
  void discard(int64_t x) {
    if (!valid) return;
    --pseudo;
    auto it = std::lower_bound(members.begin(), members.end(), x);
    if (it != members.end() && *it == x) members.erase(it);
  }
};

TEST(OrderedPool, MatchesTheModelAcrossMakesAndBothRepresentations) {
  std::mt19937_64 pick(11);
  OrderedPool pool;
  Model model;
  // Bounds repeat (the undo path) and change (fresh storage); some are invalid.
  const int64_t bounds[][2] = {{5, 300}, {5, 300}, {1, 1}, {5, 300}, {7, 6}, {0, 9}, {40, 2000}};
  for (int round = 0; round < 60; ++round) {
    const auto& b = bounds[pick() % std::size(bounds)];
    pool.make(b[0], b[1]);
    model.make(b[0], b[1]);
    // Few operations keep the sorted list, many move into the tree.
    const int ops = round % 3 == 0 ? 20 : 400;
    for (int op = 0; op < ops; ++op) {
      const int64_t span = b[1] - b[0] + 3;
      if (pick() % 3 == 0) {
        const int64_t x = b[0] - 1 + static_cast<int64_t>(pick() % static_cast<uint64_t>(span > 0 ? span : 1));
        pool.discard(x);
        model.discard(x);
      } else {
        const int64_t k = static_cast<int64_t>(pick() % static_cast<uint64_t>(model.members.size() + 3)) - 1;
        ASSERT_EQ(pool.take(k), model.take(k)) << "round " << round << " op " << op;
      }
      ASSERT_EQ(pool.size(), static_cast<int64_t>(model.members.size()));
      ASSERT_EQ(pool.pseudo_size(), model.pseudo);
    }
  }
}

TEST(OrderedPool, EmptiedPoolYieldsZeroAndPseudoSizeGoesNegative) {
  OrderedPool pool;
  pool.make(3, 4);
  pool.discard(1);  // not a member: only the pseudo size drops
  EXPECT_EQ(pool.size(), 2);
  EXPECT_EQ(pool.pseudo_size(), 1);
  EXPECT_EQ(pool.take(2), 4);
  EXPECT_EQ(pool.take(1), 3);
  EXPECT_EQ(pool.take(1), 0);
  EXPECT_EQ(pool.pseudo_size(), -1);
  pool.make(3, 4);
  EXPECT_EQ(pool.take(2), 4);
}

}  // namespace
}  // namespace korvane::netgen
