// generate_multi_commodity_data: partition, per-(arc, commodity) draws written
// straight into the arc-major tables, capacity zeroing, record assembly.
#include "core/generate/generate.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/generate/partition.h"
#include "core/random/random_source.h"
#include "core/base/big_vector.h"
#include "core/base/numeric.h"
#include "core/base/parallel.h"
#include "core/base/table_size.h"

namespace korvane {
namespace {

// ceil(v) as int64, saturating at both ends; NaN gives 0.
int64_t ceil_saturated(double v) { return saturating_cast<int64_t>(std::ceil(v)); }

Result<Partition> partition_supplies(const Supplies& supplies, const GenerationParams& params) {
  switch (params.method) {
    case 0:
      return split_supply_and_demand_spread(supplies, params.num_commodities, params.seed);
    case 1:
      return split_supply_and_demand_uniform(supplies, params.num_commodities);
    case 2:
      return split_supply_and_demand_beta_binomial(supplies, params.num_commodities, params.seed,
                                                   params.concentration_param);
    default:
      return internal(unknown_method_message(params.method));
  }
}

// Per-arc draw set-up: bounds, the value used when no draw is made, and whether
// a draw is made at all (flag set and hi > lo).
struct DrawRange {
  double lo = 0.0;
  double hi = 0.0;
  double scale = 0.0;
  bool draw = false;
  int64_t fixed = 0;
  int64_t least = 0;   // smallest result: cost_min for costs, 1 for capacities
  bool small = false;  // both bounds within +-2^62, so no draw needs saturation

  DrawRange(bool randomize, double a, double b, int64_t value, int64_t minimum) : least(minimum) {
    const double as_double = static_cast<double>(value);
    lo = a * as_double;
    hi = b * as_double;
    draw = randomize && hi > lo;
    scale = hi - lo;
    small = lo >= -0x1p62 && hi <= 0x1p62;
    fixed = randomize ? std::max(ceil_saturated(lo), minimum) : value;
  }

  // A draw over a range of non-finite width fails; uniform_real reports it, with
  // its own message, before any word is consumed.
  Result<void> check(RandomSource& generator) const {
    if (!draw || std::isfinite(scale)) return {};
    Result<double> refused = generator.uniform_real(lo, hi);
    if (refused.ok()) return {};
    return refused.take_error();
  }

  // The same double uniform_real(lo, hi) returns for this word, drawn inline
  // because the range is known to be non-empty and finite.
  int64_t sample(RandomSource& generator) const {
    const double v = generator.unit_real52() * scale + lo;
    if (!small) return std::max(ceil_saturated(v), least);
    // |v| stays near or below 2^62: truncation is exact in range, and one step up
    // when it fell below v gives the ceiling.
    const auto truncated = static_cast<int64_t>(v);
    return std::max(truncated + (static_cast<double>(truncated) < v ? 1 : 0), least);
  }
};

// The two draw ranges of arc a.
struct ArcRanges {
  DrawRange cost;
  DrawRange cap;
  ArcRanges(const NetworkInstance& instance, const GenerationParams& params, std::size_t a)
      // With K = 0 no draw is made, so no range can be refused.
      : cost(params.randomize_costs && params.num_commodities > 0, params.cost_a, params.cost_b,
             instance.costs[a], instance.costs[a] != 0 ? 1 : 0),
        cap(params.randomize_caps && params.num_commodities > 0, params.cap_a, params.cap_b,
            instance.ups[a], 1) {}
  // The arc's first refusal, cost before capacity.
  Result<void> check(RandomSource& generator) const {
    KORVANE_TRY(cost.check(generator));
    return cap.check(generator);
  }
  bool refused() const {
    return (cost.draw && !std::isfinite(cost.scale)) || (cap.draw && !std::isfinite(cap.scale));
  }
  // 32-bit words the arc's draws take: one 64-bit word per drawn value.
  uint64_t words(uint64_t num_commodities) const {
    return 2 * num_commodities * ((cost.draw ? 1u : 0u) + (cap.draw ? 1u : 0u));
  }
};

// Writes one arc's whole row of each table, every entry once: drawn values, or
// the fixed ones.
void fill_row(const ArcRanges& r, RandomSource& generator, uint64_t num_commodities,
              int64_t* cost_row, int64_t* cap_row) {
  if (r.cost.draw && r.cap.draw) {
    // Commodities ascending, cost draw before capacity draw.
    for (uint64_t k = 0; k < num_commodities; ++k) {
      cost_row[k] = r.cost.sample(generator);
      cap_row[k] = r.cap.sample(generator);
    }
    return;
  }
  // Commodities ascending in the table that draws, if any; the other keeps its fixed value.
  if (r.cost.draw) {
    for (uint64_t k = 0; k < num_commodities; ++k) cost_row[k] = r.cost.sample(generator);
  } else {
    std::fill(cost_row, cost_row + num_commodities, r.cost.fixed);
  }
  if (r.cap.draw) {
    for (uint64_t k = 0; k < num_commodities; ++k) cap_row[k] = r.cap.sample(generator);
  } else {
    std::fill(cap_row, cap_row + num_commodities, r.cap.fixed);
  }
}

// Fills the E x K cost and capacity tables in draw order: arcs ascending,
// commodities ascending, cost draw before capacity draw. Each arc's row is
// appended uninitialised (reserved storage, so no reallocation) and then
// written in place.
Result<void> draw_arc_values(const NetworkInstance& instance, const GenerationParams& params,
                             RandomSource& generator, BigVector<int64_t>& cost_table,
                             BigVector<int64_t>& capacity_table) {
  const uint64_t num_commodities = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  CancelCheck cancel;
  for (std::size_t a = 0; a < num_edges; ++a) {
    const ArcRanges ranges(instance, params, a);
    KORVANE_TRY(ranges.check(generator));
    if (cancel.requested(num_commodities + 1)) return cancelled();
    const std::size_t row = a * num_commodities;
    cost_table.resize(row + num_commodities);
    capacity_table.resize(row + num_commodities);
    fill_row(ranges, generator, num_commodities, cost_table.data() + row,
             capacity_table.data() + row);
  }
  return {};
}

// The same tables from `chunks` threads, each over a contiguous run of arcs. A
// first pass counts the words each run's draws take (and finds refused arcs); a
// run then starts its own source at the prefix sum of the runs before it, so
// every value is the one the single-threaded draw order gives it, and the first
// refused arc in arc order is the one reported.
Result<void> draw_arc_values_parallel(const NetworkInstance& instance,
                                      const GenerationParams& params, std::size_t chunks,
                                      BigVector<int64_t>& cost_table,
                                      BigVector<int64_t>& capacity_table) {
  const uint64_t num_commodities = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  std::vector<uint64_t> words(chunks + 1, 0);
  std::vector<std::size_t> refused(chunks, num_edges);
  // Every thread polls (the workers read the caller's stop flag, parallel.h).
  std::vector<char> stopped(chunks, 0);
  for_each_chunk(num_edges, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    uint64_t n = 0;
    CancelCheck cancel;
    for (std::size_t a = begin; a < end; ++a) {
      if (cancel.requested()) {
        stopped[c] = 1;
        return;
      }
      const ArcRanges ranges(instance, params, a);
      if (ranges.refused()) {
        refused[c] = a;
        return;
      }
      n += ranges.words(num_commodities);
    }
    words[c + 1] = n;
  });
  if (std::find(stopped.begin(), stopped.end(), 1) != stopped.end()) return cancelled();
  for (std::size_t c = 0; c < chunks; ++c) {
    if (refused[c] == num_edges) continue;
    RandomSource scratch = RandomSource::from_seed(params.seed);
    return ArcRanges(instance, params, refused[c]).check(scratch);
  }
  for (std::size_t c = 0; c < chunks; ++c) words[c + 1] += words[c];

  cost_table.resize(num_edges * num_commodities);
  capacity_table.resize(num_edges * num_commodities);
  for_each_chunk(num_edges, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    RandomSource generator = RandomSource::from_seed(params.seed);
    generator.seek(words[c]);
    CancelCheck cancel;
    for (std::size_t a = begin; a < end; ++a) {
      if (cancel.requested(num_commodities + 1)) {
        stopped[c] = 1;
        return;
      }
      const ArcRanges ranges(instance, params, a);
      fill_row(ranges, generator, num_commodities, cost_table.data() + a * num_commodities,
               capacity_table.data() + a * num_commodities);
    }
  });
  if (std::find(stopped.begin(), stopped.end(), 1) != stopped.end()) return cancelled();
  return {};
}

// Zeroes entry k of n arcs per commodity, evenly strided from arc k mod E, then
// gives every arc left all-zero its own upper capacity back in commodity a mod K.
// Runs only for p in (0, 1) or NaN (which zeroes nothing). Without arcs or
// commodities there is nothing to zero or restore.
void zero_capacities(BigVector<int64_t>& capacity_table, std::span<const int64_t> ups,
                     uint64_t num_commodities, double p) {
  if (p <= 0.0 || p >= 1.0) return;
  const uint64_t num_edges = ups.size();
  if (num_edges == 0 || num_commodities == 0) return;
  // A NaN p selects no arc.
  const double share = std::floor(p * static_cast<double>(num_edges));
  const uint64_t n = p > 0.0 ? std::max<uint64_t>(saturating_cast<uint64_t>(share), 1) : 0;
  if (n > 0) {
    const uint64_t stride = num_edges / n + (num_edges % n != 0 ? 1 : 0);
    // Commodity k zeroes arcs (k mod E + j * stride) mod E for j < n. Every write
    // stores 0, so the order is free: j outermost sweeps the table once, front to
    // back, instead of once per commodity. j * stride < n * stride < E + n <= 2E,
    // so an arc number below 3E needs at most two subtractions of E.
    for (uint64_t j = 0; j < n; ++j) {
      const uint64_t base = j * stride;
      uint64_t first = 0;  // k mod E, kept without dividing
      for (uint64_t k = 0; k < num_commodities; ++k) {
        uint64_t arc = base + first;
        while (arc >= num_edges) arc -= num_edges;
        capacity_table[arc * num_commodities + k] = 0;
        if (++first == num_edges) first = 0;
      }
    }
  }
  for (uint64_t a = 0; a < num_edges; ++a) {
    const int64_t* row = capacity_table.data() + a * num_commodities;
    if (std::all_of(row, row + num_commodities, [](int64_t c) { return c == 0; })) {
      capacity_table[a * num_commodities + a % num_commodities] = ups[a];
    }
  }
}

}  // namespace

Result<MultiCommodityData> generate_multi_commodity_data(const NetworkInstance& instance,
                                                         const GenerationParams& params) {
  RandomSource generator = RandomSource::from_seed(params.seed);
  Result<Partition> partition = partition_supplies(instance.supplies, params);
  if (!partition.ok()) return partition.take_error();

  const uint64_t num_commodities = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  check_table_size(num_edges, num_commodities);
  BigVector<int64_t> cost_table;
  BigVector<int64_t> capacity_table;
  cost_table.reserve(num_edges * num_commodities);
  capacity_table.reserve(num_edges * num_commodities);
  // Each thread takes at least kMinValuesPerChunk table entries.
  constexpr std::size_t kMinValuesPerChunk = std::size_t{1} << 14;
  const std::size_t chunks = chunk_count(
      num_edges, thread_count(), kMinValuesPerChunk / std::max<uint64_t>(num_commodities, 1));
  if (chunks > 1) {
    KORVANE_TRY(
        draw_arc_values_parallel(instance, params, chunks, cost_table, capacity_table));
  } else {
    KORVANE_TRY(draw_arc_values(instance, params, generator, cost_table, capacity_table));
  }
  if (params.cap_zero) {
    zero_capacities(capacity_table, instance.ups, num_commodities, params.cap_zero_param);
  }

  MultiCommodityData data;
  data.supply_partition = std::move(partition).value();
  data.method = params.method;
  data.num_commodities = num_commodities;
  data.randomized_capacities = params.randomize_caps;
  data.randomized_weights = params.randomize_costs;
  data.cap_zero = params.cap_zero;
  data.cap_zero_param = params.cap_zero_param;
  data.seed = params.seed;
  data.parallel = instance.parallel();
  data.tails = instance.tails;
  data.heads = instance.heads;
  data.indices = instance.parallel_index;
  data.ups = instance.ups;
  data.pair_order = instance.pair_order;
  data.cost_table = std::move(cost_table);
  data.capacity_table = std::move(capacity_table);
  return data;
}

}  // namespace korvane
