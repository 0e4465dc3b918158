// Writer of the multi-commodity file: a network's arcs with the per-commodity
// capacities and costs of its generated data, in compressed or expanded lists.
#pragma once

#include <string_view>

#include "core/records/multi_commodity_data.h"
#include "core/records/network_instance.h"
#include "core/base/result.h"

namespace korvane {

// Writes `instance` and `data` to `path` (created with mode 0666 less the umask,
// or truncated): the comment line, the problem line, one node line per partition
// entry in ascending node order, and one arc line per arc of `instance`, whose
// values are taken by arc position from `data`.
//
// Before the file is opened, the data must cover every arc position of the
// instance and no compressed list may be empty (K = 0 with at least one arc);
// otherwise the result is kInternal ("no entry found for key", or the range
// message for a range ending at 1 in a list of length 0). Data generated for
// another network (more arcs, other endpoints, partition nodes the instance
// lacks) is kInvalid naming what differs. Either way nothing at `path` is
// created or changed. Open, write and flush failures are kReported with the
// OS error text; lines that reached the file before such a failure stay there.
Result<void> export_to_dimacs(std::string_view path, const NetworkInstance& instance,
                              const MultiCommodityData& data);

}  // namespace korvane
