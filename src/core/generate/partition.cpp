// The three partitioners. Each is a draw step (draw_*) that builds the
// unbalanced partition node by node in ascending id order, followed by balancing.
#include "core/generate/partition.h"

#include "core/base/cancel.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/generate/balance.h"
#include "core/base/table_size.h"

namespace korvane {
namespace {

// |amount| as unsigned; -2^63 has no signed magnitude and is refused.
Result<uint64_t> magnitude(int64_t amount) {
  if (amount == INT64_MIN) return internal(no_magnitude_message(amount));
  return static_cast<uint64_t>(amount < 0 ? -amount : amount);
}

uint64_t count_non_zero(const Supplies& supplies) {
  uint64_t count = 0;
  for (const auto& entry : supplies) count += entry.second != 0 ? 1 : 0;
  return count;
}

// Builds a partition node by node in ascending id order: for every node (those
// with a zero amount only when `keep_zero`), `fill(magnitude, parts)` writes K
// non-negative parts adding up to |amount|; demands are then negated.
template <class Fill>
Result<Partition> split_each(const Supplies& supplies, uint64_t num_commodities, bool keep_zero,
                             Fill&& fill) {
  const uint64_t listed = keep_zero ? supplies.size() : count_non_zero(supplies);
  check_table_size(listed, num_commodities);
  Partition partition;
  partition.entries.reserve(listed);
  CancelCheck cancel;
  for (const auto& [node, amount] : supplies) {
    if (cancel.requested(num_commodities + 1)) return cancelled();
    if (amount == 0 && !keep_zero) continue;
    if (num_commodities == 0) return internal(no_commodities_message());
    const Result<uint64_t> total = magnitude(amount);
    if (!total.ok()) return total.error();
    std::vector<int64_t> parts(num_commodities, 0);
    KORVANE_TRY(fill(total.value(), parts));
    if (amount < 0) {
      for (int64_t& part : parts) part = -part;
    }
    partition.entries.emplace_back(node, std::move(parts));
  }
  return partition;
}



Result<Partition> draw_spread(const Supplies& supplies, uint64_t num_commodities,
                              RandomSource& generator) {
  return split_each(supplies, num_commodities, false,
                    [&](uint64_t magnitude, std::vector<int64_t>& parts) -> Result<void> {
    const auto total = static_cast<int64_t>(magnitude);
    // K - 1 cut points, drawn one after another into parts[0..K-2].
    const uint64_t num_cuts = num_commodities - 1;
    for (uint64_t i = 0; i < num_cuts; ++i) {
      const Result<int64_t> cut = generator.uniform_int_inclusive(0, total);
      if (!cut.ok()) return cut.error();
      parts[i] = cut.value();
    }
    std::sort(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(num_cuts));
    // Gaps between consecutive cut points, computed from the back so each cut
    // point is read before it is overwritten.
    parts[num_cuts] = total - (num_cuts == 0 ? 0 : parts[num_cuts - 1]);
    for (uint64_t i = num_cuts; i-- > 1;) parts[i] -= parts[i - 1];
    return {};
  });
}

Result<Partition> draw_uniform(const Supplies& supplies, uint64_t num_commodities) {
  // The remainder cursor runs on from node to node; it is never reset.
  uint64_t cursor = 0;
  return split_each(supplies, num_commodities, true,
                    [&](uint64_t magnitude, std::vector<int64_t>& parts) -> Result<void> {
    // Quotient and remainder in unsigned magnitudes: K need not fit int64, and
    // a quotient times K never exceeds |amount|.
    const uint64_t base = magnitude / num_commodities;
    std::fill(parts.begin(), parts.end(), static_cast<int64_t>(base));
    for (uint64_t remainder = magnitude - base * num_commodities; remainder > 0; --remainder) {
      parts[cursor] += 1;
      cursor = (cursor + 1) % num_commodities;
    }
    return {};
  });
}

Result<Partition> draw_beta_binomial(const Supplies& supplies, uint64_t num_commodities,
                                     double concentration_param, RandomSource& generator) {
  return split_each(supplies, num_commodities, false,
                    [&](uint64_t magnitude, std::vector<int64_t>& parts) -> Result<void> {
    uint64_t remaining = magnitude;
    // Commodities in increasing k: one Beta share, then one Binomial draw, each,
    // while something remains.
    for (uint64_t k = 0; k + 1 < num_commodities && remaining != 0; ++k) {
      const double later = static_cast<double>(num_commodities - 1 - k);
      const Result<double> share =
          generator.sample_beta(concentration_param, concentration_param * later);
      if (!share.ok()) return share.error();
      const Result<uint64_t> taken = generator.sample_binomial(remaining, share.value());
      if (!taken.ok()) return taken.error();
      parts[k] = static_cast<int64_t>(taken.value());
      remaining -= taken.value();
    }
    parts[num_commodities - 1] = static_cast<int64_t>(remaining);
    return {};
  });
}

}  // namespace

Result<Partition> split_supply_and_demand_spread(const Supplies& supplies, uint64_t num_commodities,
                                                 uint64_t seed) {
  RandomSource generator = RandomSource::from_seed(seed);
  Result<Partition> partition = draw_spread(supplies, num_commodities, generator);
  if (!partition.ok()) return partition;
  KORVANE_TRY(balance_commodities(partition.value(), supplies, num_commodities, &generator));
  return partition;
}

Result<Partition> split_supply_and_demand_uniform(const Supplies& supplies,
                                                  uint64_t num_commodities) {
  Result<Partition> partition = draw_uniform(supplies, num_commodities);
  if (!partition.ok()) return partition;
  KORVANE_TRY(balance_commodities(partition.value(), supplies, num_commodities, nullptr));
  return partition;
}

Result<Partition> split_supply_and_demand_beta_binomial(const Supplies& supplies,
                                                        uint64_t num_commodities, uint64_t seed,
                                                        double concentration_param) {
  RandomSource generator = RandomSource::from_seed(seed);
  Result<Partition> partition =
      draw_beta_binomial(supplies, num_commodities, concentration_param, generator);
  if (!partition.ok()) return partition;
  KORVANE_TRY(balance_commodities(partition.value(), supplies, num_commodities, &generator));
  return partition;
}

}  // namespace korvane
