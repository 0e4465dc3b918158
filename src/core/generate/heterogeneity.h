// Commodity-demand heterogeneity: how unevenly a partition spreads each active
// node's amount over the commodities (0 even, 1 all in one commodity).
#pragma once

#include "core/records/multi_commodity_data.h"

namespace korvane {

// Average over active nodes (non-zero in `original` and listed in `partition`) of
// K / (2(K - 1)) * sum_k | |x_k| / |d| - 1/K |, with K the length of the first
// non-empty list in ascending node order. 0.0 when either map is empty, every list
// is empty, K = 1 or no node is active. Not clamped; never fails; draws nothing.
double compute_commodity_demand_heterogeneity(const Partition& partition, const Supplies& original);

}  // namespace korvane
