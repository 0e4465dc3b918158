// Multi-commodity generation: draw order and skipped draws, value limits, the
// zeroing selection and restore rule, the record's copied fields, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <numeric>

#include "logic/generator/generate.h"
#include "logic/generator/partition.h"
#include "partition_builders.h"
#include "utils/numeric.h"

namespace korvane {
namespace {

using testing::supplies_of;

struct Arc {
  int64_t tail;
  int64_t head;
  int64_t up;
  int64_t cost;
};

// An instance as the reader would build it: parallel indices counted in file
// order, positions ordered by (tail, head, position).
NetworkInstance make_instance(const std::vector<Arc>& arcs, Supplies supplies = {}) {
  NetworkInstance instance;
  instance.supplies = std::move(supplies);
  for (const Arc& arc : arcs) {
    int64_t earlier = 0;
    for (std::size_t i = 0; i < instance.tails.size(); ++i) {
      earlier += instance.tails[i] == arc.tail && instance.heads[i] == arc.head ? 1 : 0;
    }
    instance.tails.push_back(arc.tail);
    instance.heads.push_back(arc.head);
    instance.lows.push_back(0);
    instance.ups.push_back(arc.up);
    instance.costs.push_back(arc.cost);
    instance.parallel_index.push_back(earlier);
    if (earlier == 1) ++instance.num_parallel_arc_pairs;
  }
  instance.pair_order.resize(arcs.size());
  std::iota(instance.pair_order.begin(), instance.pair_order.end(), uint64_t{0});
  std::stable_sort(instance.pair_order.begin(), instance.pair_order.end(),
                   [&](uint64_t a, uint64_t b) {
                     return std::pair(instance.tails[a], instance.heads[a]) <
                            std::pair(instance.tails[b], instance.heads[b]);
                   });
  return instance;
}

// A chain of `count` arcs with upper capacities 10, 11, 12, ...
NetworkInstance chain(std::size_t count) {
  std::vector<Arc> arcs;
  for (std::size_t i = 0; i < count; ++i) {
    const auto id = static_cast<int64_t>(i);
    arcs.push_back({id + 1, id + 2, 10 + id, 3});
  }
  return make_instance(arcs);
}

MultiCommodityData generate(const NetworkInstance& instance, const GenerationParams& params) {
  Result<MultiCommodityData> data = generate_multi_commodity_data(instance, params);
  EXPECT_TRUE(data.ok()) << (data.ok() ? "" : data.error().message);
  return data.ok() ? std::move(data).value() : MultiCommodityData{};
}

GenerationParams params_for(uint64_t num_commodities, int64_t method = 1) {
  GenerationParams params;
  params.num_commodities = num_commodities;
  params.method = method;
  return params;
}

// Arc positions whose capacity for commodity k is 0.
std::vector<uint64_t> zeroed(const MultiCommodityData& data, uint64_t k) {
  std::vector<uint64_t> arcs;
  for (uint64_t a = 0; a < data.num_edges(); ++a) {
    if (data.capacities[a * data.num_commodities + k] == 0) arcs.push_back(a);
  }
  return arcs;
}

TEST(Generate, FlagsOffCopyArcValuesAndRecordArguments) {
  const NetworkInstance instance =
      make_instance({{1, 2, 7, 4}, {1, 2, 9, -2}, {2, 3, 0, 0}}, supplies_of({{1, 5}, {3, -5}}));
  GenerationParams params = params_for(2, 0);
  params.cap_zero_param = 1.5;  // recorded though it zeroes nothing
  params.seed = 77;
  const MultiCommodityData data = generate(instance, params);
  EXPECT_EQ(data.costs, (std::vector<int64_t>{4, 4, -2, -2, 0, 0}));
  EXPECT_EQ(data.capacities, (std::vector<int64_t>{7, 7, 9, 9, 0, 0}));
  EXPECT_EQ(data.supply_partition.entries,
            split_supply_and_demand_spread(instance.supplies, 2, 77).value().entries);
  EXPECT_EQ(data.tails, instance.tails);
  EXPECT_EQ(data.heads, instance.heads);
  EXPECT_EQ(data.indices, (std::vector<int64_t>{0, 1, 0}));
  EXPECT_EQ(data.ups, instance.ups);
  EXPECT_EQ(data.pair_order, instance.pair_order);
  EXPECT_TRUE(data.parallel);
  EXPECT_EQ(data.method, 0);
  EXPECT_EQ(data.num_commodities, 2u);
  EXPECT_FALSE(data.randomized_capacities || data.randomized_weights || data.cap_zero);
  EXPECT_EQ(data.cap_zero_param, 1.5);
  EXPECT_EQ(data.seed, 77u);
}

TEST(Generate, DrawOrderArcsThenCommoditiesCostBeforeCapacity) {
  // Arcs 1 and 2 skip their cost draws (cost 0, negative cost), arc 2 its
  // capacity draw (up 0); the others draw, interleaved per commodity.
  const NetworkInstance instance =
      make_instance({{1, 2, 20, 10}, {2, 3, 5, 0}, {3, 4, 0, -3}, {4, 5, 9, 7}});
  GenerationParams params = params_for(3);
  params.randomize_caps = true;
  params.randomize_costs = true;
  params.seed = 2024;
  const MultiCommodityData data = generate(instance, params);

  RandomSource reference = RandomSource::from_seed(2024);
  auto draw = [&](double lo, double hi, int64_t least) {
    return std::max(static_cast<int64_t>(std::ceil(reference.uniform_real(lo, hi).value())), least);
  };
  std::vector<int64_t> costs;
  std::vector<int64_t> capacities;
  for (uint64_t k = 0; k < 3; ++k) {  // arc 0
    costs.push_back(draw(8.0, 12.0, 1));
    capacities.push_back(draw(16.0, 20.0, 1));
  }
  for (uint64_t k = 0; k < 3; ++k) {  // arc 1: cost 0 stays 0
    costs.push_back(0);
    capacities.push_back(draw(4.0, 5.0, 1));
  }
  costs.insert(costs.end(), 3, 1);            // arc 2: ceil(0.8 * -3) <= 0, raised to 1
  capacities.insert(capacities.end(), 3, 1);  // up 0: bounds 0 and 0, raised to 1
  for (uint64_t k = 0; k < 3; ++k) {          // arc 3
    costs.push_back(draw(0.8 * 7, 1.2 * 7, 1));
    capacities.push_back(draw(0.8 * 9, 9.0, 1));
  }
  EXPECT_EQ(data.costs, costs);
  EXPECT_EQ(data.capacities, capacities);
}

TEST(Generate, EqualOrUnusualMultipliersDrawNothing) {
  const NetworkInstance instance = make_instance({{1, 2, 10, 5}, {2, 3, 3, 8}});
  GenerationParams params = params_for(2);
  params.randomize_caps = true;
  params.randomize_costs = true;
  params.cap_a = params.cap_b = 0.25;
  params.cost_a = params.cost_b = 1.5;
  MultiCommodityData data = generate(instance, params);
  EXPECT_EQ(data.capacities, (std::vector<int64_t>{3, 3, 1, 1}));  // ceil(2.5), ceil(0.75)
  EXPECT_EQ(data.costs, (std::vector<int64_t>{8, 8, 12, 12}));     // ceil(7.5), 12

  // Out-of-range products saturate; NaN bounds give 0, then the floor of 1.
  params.cap_a = params.cap_b = 1e300;
  params.cost_a = params.cost_b = -1e300;
  data = generate(instance, params);
  EXPECT_EQ(data.capacities, std::vector<int64_t>(4, INT64_MAX));
  EXPECT_EQ(data.costs, std::vector<int64_t>(4, 1));
  params.cap_a = params.cap_b = params.cost_a = std::nan("");
  data = generate(instance, params);
  EXPECT_EQ(data.capacities, std::vector<int64_t>(4, 1));
  EXPECT_EQ(data.costs, std::vector<int64_t>(4, 1));
}

TEST(Generate, DrawsBeyondTheIntegerRangeSaturate) {
  // Cost bounds -1e19 and 1e19 straddle both int64 limits; capacities lie wholly above.
  const NetworkInstance instance = make_instance({{1, 2, 10, 1000000}});
  GenerationParams params = params_for(64);
  params.randomize_caps = params.randomize_costs = true;
  params.cost_a = -1e13;
  params.cost_b = 1e13;
  params.cap_a = 1e300;
  params.cap_b = 2e300;
  const MultiCommodityData data = generate(instance, params);
  RandomSource reference = RandomSource::from_seed(params.seed);
  for (uint64_t k = 0; k < 64; ++k) {
    const double cost = reference.uniform_real(-1e19, 1e19).value();
    EXPECT_EQ(data.costs[k], std::max<int64_t>(saturating_cast<int64_t>(std::ceil(cost)), 1));
    (void)reference.uniform_real(1e301, 2e301);
    EXPECT_EQ(data.capacities[k], INT64_MAX);
  }
  EXPECT_NE(std::count(data.costs.begin(), data.costs.end(), INT64_MAX), 0);
  EXPECT_NE(std::count(data.costs.begin(), data.costs.end(), 1), 0);
}

TEST(Generate, RangesOfInfiniteWidthFail) {
  const NetworkInstance instance = make_instance({{1, 2, 10, 5}});
  GenerationParams costs = params_for(2);
  costs.randomize_costs = true;
  costs.cost_b = std::numeric_limits<double>::infinity();
  GenerationParams caps = params_for(2);
  caps.randomize_caps = true;
  caps.cap_a = -1e308;
  caps.cap_b = 1e308;  // each bound finite, their difference is not
  for (const GenerationParams& params : {costs, caps}) {
    const Result<MultiCommodityData> data = generate_multi_commodity_data(instance, params);
    ASSERT_FALSE(data.ok());
    EXPECT_EQ(data.error().kind, ErrorKind::kInternal);
    EXPECT_EQ(data.error().message, "invalid uniform range: NonFinite");
  }
}

TEST(Generate, UnknownMethodFails) {
  const NetworkInstance instance = chain(2);
  for (const int64_t method : {int64_t{3}, int64_t{-1}}) {
    const Result<MultiCommodityData> data =
        generate_multi_commodity_data(instance, params_for(2, method));
    ASSERT_FALSE(data.ok());
    EXPECT_EQ(data.error().kind, ErrorKind::kInternal);
    EXPECT_EQ(data.error().message, "Unknown partitioning method: " + std::to_string(method));
  }
}

TEST(Generate, SameArgumentsSameRecord) {
  const NetworkInstance instance = make_instance({{1, 2, 10, 5}, {2, 3, 4, 9}, {1, 3, 7, 2}},
                                                 supplies_of({{1, 9}, {2, 1}, {3, -10}}));
  for (const int64_t method : {0, 1, 2}) {
    GenerationParams params = params_for(4, method);
    params.randomize_caps = params.randomize_costs = params.cap_zero = true;
    params.cap_zero_param = 0.4;
    const MultiCommodityData a = generate(instance, params);
    const MultiCommodityData b = generate(instance, params);
    EXPECT_EQ(a.supply_partition.entries, b.supply_partition.entries);
    EXPECT_EQ(a.costs, b.costs);
    EXPECT_EQ(a.capacities, b.capacities);
    testing::expect_balanced_split(a.supply_partition, instance.supplies, 4);
  }
}

TEST(CapacityZeroing, StridedSelectionPerCommodity) {
  GenerationParams params = params_for(2);
  params.cap_zero = true;

  params.cap_zero_param = 0.5;  // E = 4: n = 2, s = 2
  MultiCommodityData data = generate(chain(4), params);
  EXPECT_EQ(zeroed(data, 0), (std::vector<uint64_t>{0, 2}));
  EXPECT_EQ(zeroed(data, 1), (std::vector<uint64_t>{1, 3}));

  params.cap_zero_param = 0.6;  // E = 10: n = 6, s = 2; the sixth position wraps
  data = generate(chain(10), params);
  EXPECT_EQ(zeroed(data, 0), (std::vector<uint64_t>{0, 2, 4, 6, 8}));
  EXPECT_EQ(zeroed(data, 1), (std::vector<uint64_t>{1, 3, 5, 7, 9}));

  // E = 7: n = 5, s = 2. Commodity 0 selects 0, 2, 4, 6, 1 and commodity 1
  // selects 1, 3, 5, 0, 2; arcs 0, 1, 2 end all-zero and get up back in a mod 2.
  params.cap_zero_param = 0.75;
  data = generate(chain(7), params);
  EXPECT_EQ(zeroed(data, 0), (std::vector<uint64_t>{1, 4, 6}));
  EXPECT_EQ(zeroed(data, 1), (std::vector<uint64_t>{0, 2, 3, 5}));
  EXPECT_EQ(data.capacities[0 * 2 + 0], 10);
  EXPECT_EQ(data.capacities[1 * 2 + 1], 11);
  EXPECT_EQ(data.capacities[2 * 2 + 0], 12);

  // 0 < p * E < 2: one arc per commodity, arc k mod E.
  params = params_for(3);
  params.cap_zero = true;
  params.cap_zero_param = 0.1;
  data = generate(chain(5), params);
  for (uint64_t k = 0; k < 3; ++k) EXPECT_EQ(zeroed(data, k), (std::vector<uint64_t>{k}));
}

TEST(CapacityZeroing, AllZeroArcsGetTheirOwnUpperCapacityBack) {
  // K = 1: every zeroed arc is restored to Edge.up, replacing the drawn value,
  // and an arc with up 0 ends at 0 though randomisation had given it 1.
  const NetworkInstance instance =
      make_instance({{1, 2, 10, 1}, {2, 3, 5, 1}, {3, 4, 0, 1}, {4, 5, 5, 1}});
  GenerationParams params = params_for(1);
  params.randomize_caps = params.cap_zero = true;
  params.cap_zero_param = 0.5;
  MultiCommodityData data = generate(instance, params);
  EXPECT_EQ(data.capacities[0], 10);
  EXPECT_EQ(data.capacities[2], 0);
  EXPECT_TRUE(data.capacities[1] >= 4 && data.capacities[3] >= 4);

  // A single arc loses every commodity and is restored for commodity 0 only.
  params = params_for(3);
  params.cap_zero = true;
  params.cap_zero_param = 0.5;
  data = generate(chain(1), params);
  EXPECT_EQ(data.capacities, (std::vector<int64_t>{10, 0, 0}));
  EXPECT_EQ(data.costs, (std::vector<int64_t>{3, 3, 3}));
}

TEST(CapacityZeroing, ParametersOutsideTheOpenUnitIntervalChangeNothing) {
  const NetworkInstance instance = chain(6);
  GenerationParams params = params_for(3);
  params.randomize_caps = true;
  const std::vector<int64_t> untouched = generate(instance, params).capacities;
  params.cap_zero = true;
  for (const double p : {0.0, 1.0, 1.5, -0.5, std::nan("")}) {
    params.cap_zero_param = p;
    EXPECT_EQ(generate(instance, params).capacities, untouched) << "p = " << p;
  }
}

TEST(CapacityZeroing, NothingToZeroIsNotAFailure) {
  GenerationParams params = params_for(3);
  params.cap_zero = true;
  params.cap_zero_param = 0.5;
  const NetworkInstance no_arcs = make_instance({}, supplies_of({{1, 3}, {2, -3}}));
  MultiCommodityData data = generate(no_arcs, params);
  EXPECT_TRUE(data.capacities.empty() && data.costs.empty() && data.tails.empty());
  EXPECT_EQ(data.supply_partition.size(), 2u);

  params.num_commodities = 0;
  data = generate(chain(4), params);
  EXPECT_TRUE(data.capacities.empty() && data.costs.empty());
  EXPECT_EQ(data.tails.size(), 4u);
}

TEST(Generate, UnaddressableTablesThrowBadAlloc) {
  // No supplies, so the partition is empty and only the E x K tables are too big.
  for (const uint64_t k : {uint64_t{1} << 62, UINT64_MAX}) {
    EXPECT_THROW((void)generate_multi_commodity_data(chain(3), params_for(k)), std::bad_alloc);
  }
}

}  // namespace
}  // namespace korvane
