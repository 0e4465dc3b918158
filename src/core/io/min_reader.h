// The DIMACS minimum-cost-flow (.min) reader.
#pragma once

#include <cstddef>
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

}  // namespace korvane
