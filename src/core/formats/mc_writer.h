// Writer of the multi-commodity file: a network's arcs with the per-commodity
// capacities and costs of its generated data, in compressed or expanded lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "core/io/file_io.h"
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

// The same file written a window of arcs at a time, for data whose tables
// are produced as they are written (the streaming generation): `header` is
// the data without its per-arc columns and tables (partition, K, settings).
// open() makes the checks export_to_dimacs would make of data covering every
// arc of `instance` with K values each, with the same failures (K = 0 with arcs
// and a compressed list; partition nodes the instance lacks), before creating
// anything; then writes the comment, problem and node lines. write_arcs() takes
// consecutive runs of arcs from 0 on, as arc-major rows of K values; commit()
// puts the file in place once every arc was written. The bytes are those
// export_to_dimacs writes for the whole data, or those bytes compressed as
// `compression` says (one gzip member or zstd frame). Destroyed uncommitted, it
// removes its temporary file (as BufferedWriter does). `instance` must outlive it.
class MultiCommodityFileStream {
 public:
  static Result<MultiCommodityFileStream> open(std::string_view path,
                                               const NetworkInstance& instance,
                                               const MultiCommodityData& header,
                                               Compression compression = Compression::kNone);
  Result<void> write_arcs(std::size_t first, std::size_t count, const int64_t* capacity_rows,
                          const int64_t* cost_rows);
  Result<void> commit();

 private:
  MultiCommodityFileStream(BufferedWriter out, const NetworkInstance& instance, uint64_t k,
                           bool capacities_expanded, bool costs_expanded)
      : out_(std::move(out)),
        instance_(&instance),
        num_commodities_(k),
        capacities_expanded_(capacities_expanded),
        costs_expanded_(costs_expanded) {}

  BufferedWriter out_;
  const NetworkInstance* instance_;
  uint64_t num_commodities_;
  bool capacities_expanded_;
  bool costs_expanded_;
};

}  // namespace korvane
