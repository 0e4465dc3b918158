// Dense row-major tables built from records whose memory does not hold them in
// that form: a supply partition's amounts, and a parsed instance's per-commodity
// lists when its arcs were read in more than one layout.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/records/multi_commodity_data.h"
#include "core/records/parsed_instance.h"

namespace korvane {

// N x K, row i the amounts of the i-th node in ascending id order; nothing when
// an amount list does not hold exactly K values.
std::optional<std::vector<int64_t>> partition_table(const Partition& partition, uint64_t k);

// E x K, row a the first K values of arc a's capacity (or cost) list. Every
// list holds at least K values; the caller checks that E * K values fit in memory.
std::vector<int64_t> parsed_arc_table(const ParsedMulticommodityInstance& parsed, bool capacities);

}  // namespace korvane
