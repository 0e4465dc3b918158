// Small builders shared by the generator tests: supplies and partitions written
// as literals, and the balance invariants every partitioner must leave behind.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "models/multi_commodity_data.h"

namespace korvane::testing {

inline Supplies supplies_of(std::initializer_list<std::pair<int64_t, int64_t>> entries) {
  Supplies supplies;
  supplies.entries.assign(entries);
  return supplies;
}

inline Partition partition_of(
    std::initializer_list<std::pair<int64_t, std::vector<int64_t>>> entries) {
  Partition partition;
  partition.entries.assign(entries);
  return partition;
}

// Node totals kept, every share carrying its node's sign, and no commodity with a
// surplus beside one with a deficit.
inline void expect_balanced_split(const Partition& partition, const Supplies& supplies,
                                  uint64_t num_commodities) {
  std::vector<int64_t> totals(num_commodities, 0);
  for (const auto& [node, shares] : partition) {
    const int64_t* amount = supplies.find(node);
    ASSERT_NE(amount, nullptr) << "node " << node;
    ASSERT_EQ(shares.size(), num_commodities) << "node " << node;
    int64_t sum = 0;
    for (uint64_t k = 0; k < num_commodities; ++k) {
      sum += shares[k];
      totals[k] += shares[k];
      const int64_t sign = (*amount > 0) - (*amount < 0);
      EXPECT_NE(((shares[k] > 0) - (shares[k] < 0)) * sign, -1)
          << "node " << node << " commodity " << k;
      if (sign == 0) {
        EXPECT_EQ(shares[k], 0) << "node " << node << " commodity " << k;
      }
    }
    EXPECT_EQ(sum, *amount) << "node " << node;
  }
  bool surplus = false;
  bool deficit = false;
  for (const int64_t total : totals) {
    surplus = surplus || total > 0;
    deficit = deficit || total < 0;
  }
  EXPECT_FALSE(surplus && deficit);
}

}  // namespace korvane::testing
