/// @file korvane/generation_params.hpp
/// @brief The settings of one generation call, with their defaults.
///
/// This header is the one place the defaults are written: the C++ API, the Python
/// module (`generate_multi_commodity_data`, `split_supplies_beta_binomial`) and
/// its documentation all take them from here. It holds no code and no symbol.
#pragma once

#include <cstdint>

namespace korvane {
inline namespace v0 {

/// The partitioning methods `GenerationParams::method` takes.
struct PartitionMethod {
  static constexpr int64_t spread = 0;         ///< random cut points
  static constexpr int64_t uniform = 1;        ///< equal shares, no randomness
  static constexpr int64_t beta_binomial = 2;  ///< stick-breaking with Beta-Binomial draws
};

/// The settings of one generation of multi-commodity data from a network.
///
/// Every field has the default the Python function of the same parameter name
/// has. Build it with designated initialisers:
/// @code
/// korvane::GenerationParams params{.num_commodities = 4, .randomize_caps = true};
/// @endcode
struct GenerationParams {
  /// K, the number of commodities (no default in Python: 0 here is refused by
  /// the partitioners as soon as a node has a non-zero amount).
  uint64_t num_commodities = 0;
  /// How supplies are split: one of PartitionMethod's values.
  int64_t method = PartitionMethod::spread;
  /// Whether each commodity's capacity on an arc is drawn in [cap_a, cap_b] times the arc's.
  bool randomize_caps = false;
  double cap_a = 0.8;  ///< lower capacity multiplier
  double cap_b = 1.0;  ///< upper capacity multiplier
  /// Whether each commodity's cost on an arc is drawn in [cost_a, cost_b] times the arc's.
  bool randomize_costs = false;
  double cost_a = 0.8;  ///< lower cost multiplier
  double cost_b = 1.2;  ///< upper cost multiplier
  /// Concentration c of the Beta-Binomial partitioner (method beta_binomial).
  double concentration_param = 3.0;
  /// Whether a fraction of each commodity's capacities is set to zero.
  bool cap_zero = false;
  /// That fraction, in [0, 1]; with cap_zero and a value above 0 at least one
  /// arc per commodity is zeroed.
  double cap_zero_param = 0.0;
  /// The seed: the same seed and settings give the same data on every machine
  /// and for every thread count.
  uint64_t seed = 42;
};

}  // namespace v0
}  // namespace korvane
