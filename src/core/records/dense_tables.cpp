// Copies into dense row-major tables, one pass each, no allocation per row.
#include "core/records/dense_tables.h"

#include <algorithm>

namespace korvane {

std::optional<std::vector<int64_t>> partition_table(const Partition& partition, uint64_t k) {
  for (const auto& entry : partition) {
    if (entry.second.size() != k) return std::nullopt;
  }
  // Every list holds K values, so N * K values already exist in memory.
  std::vector<int64_t> table;
  table.reserve(partition.size() * k);
  for (const auto& entry : partition) {
    table.insert(table.end(), entry.second.begin(), entry.second.end());
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
