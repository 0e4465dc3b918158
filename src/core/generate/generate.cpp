// generate_multi_commodity_data: partition, per-(arc, commodity) draws with
// capacity zeroing written straight into the arc-major tables, record assembly.
#include "core/generate/generate.h"

#include <utility>

#include "core/base/big_vector.h"
#include "core/base/cancel.h"
#include "core/base/table_size.h"
#include "core/generate/arc_draws.h"
#include "core/generate/partition.h"

namespace korvane {
namespace detail {

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

MultiCommodityData data_without_tables(const NetworkInstance& instance,
                                       const GenerationParams& params, Partition partition) {
  MultiCommodityData data;
  data.supply_partition = std::move(partition);
  data.method = params.method;
  data.num_commodities = params.num_commodities;
  data.randomized_capacities = params.randomize_caps;
  data.randomized_weights = params.randomize_costs;
  data.cap_zero = params.cap_zero;
  data.cap_zero_param = params.cap_zero_param;
  data.seed = params.seed;
  data.parallel = instance.parallel();
  return data;
}

}  // namespace detail

Result<MultiCommodityData> generate_multi_commodity_data(const NetworkInstance& instance,
                                                         const GenerationParams& params) {
  Result<Partition> partition = detail::partition_supplies(instance.supplies, params);
  if (!partition.ok()) return partition.take_error();

  const uint64_t num_commodities = params.num_commodities;
  const std::size_t num_edges = instance.num_edges();
  check_table_size(num_edges, num_commodities);
  BigVector<int64_t> cost_table(num_edges * num_commodities);
  BigVector<int64_t> capacity_table(num_edges * num_commodities);
  KORVANE_TRY(detail::check_draws(instance, params));
  // Rows are final as drawn: capacity zeroing is folded into each row.
  KORVANE_TRY(detail::draw_rows(instance, params, 0, num_edges, 0,
                                detail::draw_chunks(num_edges, num_commodities),
                                cost_table.data(), capacity_table.data()));

  MultiCommodityData data =
      detail::data_without_tables(instance, params, std::move(partition).value());
  // The copies of the arc columns are as large as the tables of a few
  // commodities: the cancellation poll is asked between their pieces.
  CancelCheck cancel;
  if (!append_polled(data.tails, std::span(instance.tails), cancel) ||
      !append_polled(data.heads, std::span(instance.heads), cancel) ||
      !append_polled(data.indices, std::span(instance.parallel_index), cancel) ||
      !append_polled(data.ups, std::span(instance.ups), cancel) ||
      !append_polled(data.pair_order, std::span(instance.pair_order), cancel)) {
    return cancelled();
  }
  data.cost_table = std::move(cost_table);
  data.capacity_table = std::move(capacity_table);
  return data;
}

}  // namespace korvane
