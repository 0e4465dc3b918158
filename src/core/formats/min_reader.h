// The DIMACS minimum-cost-flow (.min) reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/records/network_instance.h"
#include "core/base/result.h"
#include "core/io/parallel_read.h"

namespace korvane {

// Reads the file at `path` into a NetworkInstance. Reported errors: OS failures,
// invalid UTF-8, malformed integers. Internal error: a line with too few fields.
// Never modifies anything but the returned record. A regular file of at least
// twice `min_range_bytes` is read in ranges of that size or more, one per
// thread (thread_count()); the record and any error are those of one pass.
Result<NetworkInstance> parse_min(std::string_view path,
                                  std::size_t min_range_bytes = kMinRangeBytes);

// What parse_min reads, and whether the file held a problem line (the record
// cannot tell "p min 0 0" from none; a command that wants a network refuses a
// file without one).
struct MinRead {
  NetworkInstance instance;
  bool has_problem_line = false;
};
Result<MinRead> read_min(std::string_view path, std::size_t min_range_bytes = kMinRangeBytes);

// A network given as columns, read as the .min file "p min N E", one node line
// per supply entry in the given order, then one arc line per arc would be read:
// entry i of each arc column is the arc at position i.
struct NetworkColumns {
  std::span<const int64_t> tails, heads, lows, ups, costs;
  std::span<const int64_t> supply_nodes, supplies;  // parallel: (node id, supply)
  std::optional<int64_t> num_nodes;  // N; absent: the number of distinct ids
};

// The NetworkInstance parse_min gives on that file, finished by the same code
// (parallel indices, arc_indices, supplies with the later entry winning).
// Reported error: arc or supply columns of unequal lengths. Copies the columns;
// never modifies them.
Result<NetworkInstance> network_from_columns(const NetworkColumns& columns);

}  // namespace korvane
