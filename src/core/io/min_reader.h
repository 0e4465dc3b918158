// The DIMACS minimum-cost-flow (.min) reader.
#pragma once

#include <string_view>

#include "core/records/network_instance.h"
#include "core/base/result.h"

namespace korvane {

// Reads the file at `path` into a NetworkInstance. Reported errors: OS failures,
// invalid UTF-8, malformed integers. Internal error: a line with too few fields.
// Never modifies anything but the returned record.
Result<NetworkInstance> parse_min(std::string_view path);

}  // namespace korvane
