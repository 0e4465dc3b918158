// Commodity-demand heterogeneity, in double arithmetic evaluated in a fixed order
// so that the result is reproducible to the last bit.
#include "core/generate/heterogeneity.h"

#include <cmath>
#include <cstdint>

namespace korvane {
namespace {

// |value| as a double; -2^63 becomes 2^63 instead of overflowing.
double magnitude(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  return static_cast<double>(value < 0 ? 0 - bits : bits);
}

}  // namespace

double compute_commodity_demand_heterogeneity(const Partition& partition,
                                              const Supplies& original) {
  if (partition.empty() || original.empty()) return 0.0;
  uint64_t num_commodities = 0;
  for (const auto& entry : partition) {
    if (!entry.second.empty()) {
      num_commodities = entry.second.size();
      break;
    }
  }
  if (num_commodities <= 1) return 0.0;

  const double k = static_cast<double>(num_commodities);
  const double k_minus_one = static_cast<double>(num_commodities - 1);
  const double u = 1.0 / k;
  const double scale = k / (k_minus_one + k_minus_one);
  double sum = 0.0;
  uint64_t count = 0;
  // Both maps ascend by node id: one merge walk finds each node's list.
  auto listed = partition.begin();
  for (const auto& [node, amount] : original) {
    while (listed != partition.end() && listed->first < node) ++listed;
    if (amount == 0 || listed == partition.end() || listed->first != node) continue;
    const double total = magnitude(amount);
    double tv = 0.0;
    for (const int64_t part : listed->second) tv += std::fabs(magnitude(part) / total - u);
    sum += scale * tv;
    ++count;
  }
  return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

}  // namespace korvane
