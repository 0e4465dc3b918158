// Copies into dense row-major tables, one pass each, no allocation per row.
#include "core/records/dense_tables.h"

#include <algorithm>

namespace korvane {

std::optional<std::vector<int64_t>> partition_table(const Partition& partition, uint64_t k) {
  std::vector<int64_t> table;
  table.reserve(partition.size() * k);
  for (const auto& [node, amounts] : partition) {
    if (amounts.size() != k) return std::nullopt;
    table.insert(table.end(), amounts.begin(), amounts.end());
  }
  return table;
}

std::optional<std::vector<int64_t>> parsed_amount_table(const ParsedMulticommodityInstance& parsed) {
  const uint64_t k = parsed.num_commodities;
  std::vector<int64_t> table;
  table.reserve(parsed.supplies.size() * k);
  for (std::size_t i = 0; i < parsed.supplies.size(); ++i) {
    const auto amounts = parsed.amounts(i);
    if (amounts.size() != k) return std::nullopt;
    table.insert(table.end(), amounts.begin(), amounts.end());
  }
  return table;
}

std::vector<int64_t> parsed_arc_table(const ParsedMulticommodityInstance& parsed, bool capacities) {
  const uint64_t k = parsed.num_commodities;
  std::vector<int64_t> table(parsed.num_edges() * k);
  const auto& values = capacities ? parsed.capacity_values : parsed.cost_values;
  for (std::size_t s = 0; s < parsed.segments.size(); ++s) {
    const ArcSegment& seg = parsed.segments[s];
    const std::size_t stop =
        s + 1 < parsed.segments.size() ? parsed.segments[s + 1].first_arc : parsed.num_edges();
    const bool expanded = capacities ? seg.capacities_expanded : seg.costs_expanded;
    const uint64_t base = capacities ? seg.capacity_base : seg.cost_base;
    for (std::size_t a = seg.first_arc; a < stop; ++a) {
      const uint64_t rank = a - seg.first_arc;
      int64_t* row = table.data() + a * k;
      if (expanded) {
        const int64_t* list = values.data() + base + rank * seg.num_commodities;
        std::copy(list, list + k, row);
      } else {
        std::fill(row, row + k, values[base + rank]);
      }
    }
  }
  return table;
}

}  // namespace korvane
