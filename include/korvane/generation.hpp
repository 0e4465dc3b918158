/// @file korvane/generation.hpp
/// @brief Supply partitioning (with commodity balancing), the generation of
/// multi-commodity data from a network, and the heterogeneity measure.
///
/// Every routine here is a pure function of its arguments and the seed: the
/// same arguments give the same result on every machine and for every thread
/// count. Each returns a value or an Error and never throws.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "korvane/errors.hpp"
#include "korvane/export.hpp"
#include "korvane/generation_params.hpp"
#include "korvane/records.hpp"

namespace korvane {
inline namespace v0 {

/// A supply partition: (node, K amounts), ascending by node.
using Partition = std::vector<NodeAmounts>;

/// Splits each node's amount into K random parts (cut points), then balances
/// the commodities so that no commodity keeps a surplus while another keeps a
/// deficit. `supplies` may come in any order; for a node given twice the later
/// entry wins. Lists only non-zero nodes. Errors: internal_error for K = 0 with a
/// non-zero node ("num_commodities must be at least 1") and for an amount of
/// -2^63; memory_error; cancelled.
KORVANE_API Result<Partition> split_supplies_spread(std::span<const NodeAmount> supplies,
                                                    uint64_t num_commodities, uint64_t seed,
                                                    const RunOptions& options = {});

/// Equal shares, the remainder placed by one commodity cursor across nodes;
/// lists every node. Errors as split_supplies_spread().
KORVANE_API Result<Partition> split_supplies_uniform(std::span<const NodeAmount> supplies,
                                                     uint64_t num_commodities,
                                                     const RunOptions& options = {});

/// Stick-breaking with Beta(c, c (K - 1 - k)) shares and Binomial draws, then
/// balancing. Errors as split_supplies_spread(), and internal_error for a
/// concentration c <= 0 or NaN with K >= 2. The defaults of `concentration_param`
/// and `seed` are GenerationParams's.
KORVANE_API Result<Partition> split_supplies_beta_binomial(
    std::span<const NodeAmount> supplies, uint64_t num_commodities,
    double concentration_param = GenerationParams{}.concentration_param,
    uint64_t seed = GenerationParams{}.seed, const RunOptions& options = {});

/// The commodity-demand heterogeneity of a partition: the mean total variation
/// distance between each active node's commodity shares and the uniform
/// distribution, in [0, 1].
KORVANE_API Result<double> demand_heterogeneity(std::span<const NodeAmounts> partition,
                                                std::span<const NodeAmount> original);

/// Generates the multi-commodity data of `network` (the partition of its
/// supplies, then every arc's K costs and capacities) as `params` say.
///
/// Errors: internal_error for an unknown method ("Unknown partitioning method: 7"), K = 0 with a
/// supply node, a draw range of non-finite width; memory_error when the E x K
/// tables cannot be allocated; cancelled.
KORVANE_API Result<MultiCommodityData> generate_multi_commodity_data(
    const NetworkInstance& network, const GenerationParams& params,
    const RunOptions& options = {});

}  // namespace v0
}  // namespace korvane
