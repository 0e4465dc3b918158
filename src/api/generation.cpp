// The public partitioners and generation.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {
namespace {

// The caller's (node, amount) pairs as the core's sorted map: the later of two
// entries for one node wins, as in a Python dict built from them.
inner::CoreSupplies supplies_of(std::span<const NodeAmount> supplies) {
  inner::CoreSupplies map;
  map.entries.assign(supplies.begin(), supplies.end());
  map.sort_last_wins();
  return map;
}

Result<Partition> finish_partition(inner::CoreResult<inner::CorePartition>&& result) {
  if (!result.ok()) return from_core(result.error(), ErrorKind::runtime_error);
  return std::move(std::move(result).value().entries);
}

}  // namespace

Result<Partition> split_supplies_spread(std::span<const NodeAmount> supplies,
                                        uint64_t num_commodities, uint64_t seed,
                                        const RunOptions& options) {
  return run_call(options, [&] {
    return finish_partition(
        inner::split_supply_and_demand_spread(supplies_of(supplies), num_commodities, seed));
  });
}

Result<Partition> split_supplies_uniform(std::span<const NodeAmount> supplies,
                                         uint64_t num_commodities, const RunOptions& options) {
  return run_call(options, [&] {
    return finish_partition(
        inner::split_supply_and_demand_uniform(supplies_of(supplies), num_commodities));
  });
}

Result<Partition> split_supplies_beta_binomial(std::span<const NodeAmount> supplies,
                                               uint64_t num_commodities,
                                               double concentration_param, uint64_t seed,
                                               const RunOptions& options) {
  return run_call(options, [&] {
    return finish_partition(inner::split_supply_and_demand_beta_binomial(
        supplies_of(supplies), num_commodities, seed, concentration_param));
  });
}

Result<double> demand_heterogeneity(std::span<const NodeAmounts> partition,
                                    std::span<const NodeAmount> original) {
  return run_call(RunOptions{}, [&]() -> Result<double> {
    inner::CorePartition map;
    map.entries.assign(partition.begin(), partition.end());
    map.sort_last_wins();
    return inner::compute_commodity_demand_heterogeneity(map, supplies_of(original));
  });
}

Result<MultiCommodityData> generate_multi_commodity_data(const NetworkInstance& network,
                                                         const GenerationParams& params,
                                                         const RunOptions& options) {
  return run_call(options, [&]() -> Result<MultiCommodityData> {
    return finish_record<MultiCommodityData>(
        inner::generate_multi_commodity_data(network.impl().record, params),
        ErrorKind::runtime_error);
  });
}

}  // namespace v0
}  // namespace korvane
