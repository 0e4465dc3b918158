// The Mnetgen writer: a MulticommodityProblem written whole, or a network's
// parts written while its rows are drawn.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "core/base/result.h"
#include "core/io/file_io.h"
#include "core/records/four_file_parts.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/multicommodity_problem.h"
#include "core/records/network_instance.h"

namespace korvane {

// Compression (kNone, kGzip, kZstd) is declared with BufferedWriter in file_io.h.

// Writes `problem` as the generator writes an instance: .nod with K, N, the
// number of arc names (the declared count, or the largest name when larger;
// E for a converted record) and the number of bundles, one per line; .arc
// records grouped by arc name (arc_names, or 1..E when there are none), in arc
// order, one per commodity that may use the arc (capacity not
// 0; an arc no commodity may use keeps one record for commodity 1 with capacity
// 0, so that it survives a round trip), capacity kUnbounded written -1; .mut
// records in pointer order (label i on the i-th), one per arc with a finite
// bundle; .sup records only where the amount is not 0. Fields are separated by
// one tab; real numbers are written in the shortest form that reads back
// exactly, integral ones without a decimal point.
//
// Refused before any file is opened (kInvalid, naming the arc by name and
// endpoints, the endpoints by their node_ids when there are any): an endpoint
// outside 1..N, a self-loop; a negative or NaN value where the format cannot
// hold it (a capacity or bundle below 0 would read back as unbounded; NaN
// anywhere, an infinite cost or supply); arc names that do not ascend from 1;
// no commodity at all; fewer than 2 nodes or no arc name to declare (the
// format's reader refuses both). A problem read from files and written back
// reads back equal but for the costs of commodities on arcs they may not use
// (capacity 0), which have no record and read back 0. kInternal when
// the tables do not have the sizes the counts give. The four parts are written
// under temporary names and put in place only when all four are complete: a
// failure before that leaves every old part as it was. Then, with SIGINT,
// SIGTERM and SIGHUP held, the old .nod is removed (in every variant: plain,
// .gz, .zst), the new .arc, .sup and .mut are renamed into place, each
// removing the other variants of its name, and the new .nod comes last, so
// that an interruption at any point (a kill, a crash) leaves the old instance,
// the new one, or parts without a .nod that no reader takes. kReported for OS
// errors, as "<path>: <OS error text>"; a failure once the old .nod was
// removed ends "; the old instance was taken away first (its .nod removed), so
// none is left". kCancelled when the cancellation poll asks.
Result<void> write_mnetgen(const FourFileParts& parts, const MulticommodityProblem& problem,
                           Compression compression);

// The four parts given as their bytes (an instance written elsewhere, by
// write_mnetgen), written and put in place as write_mnetgen puts its own, with
// its OS failures (kReported "<path>: <OS error text>", kCancelled).
Result<void> write_mnetgen_bytes(const FourFileParts& parts,
                                 const std::array<std::string_view, 4>& contents);

// Mnetgen parts written from a network while the rows of its multi-commodity
// data are produced, a window of arcs at a time (the streaming generation):
// the bytes are those write_mnetgen(parts, problem_from_network(network, &data),
// compression) writes for the data whose partition is `partition`, whose K is
// `k` and whose rows are what write_arcs() is given.
//
// open() makes the checks of problem_from_network and then of write_mnetgen,
// with their messages and in their order, before any file is created:
// `negative_capacity(a)` tells whether arc a's row will hold a negative
// capacity (the caller knows it from how the rows are made). Then it creates
// the four temporary parts. write_arcs() takes consecutive runs of arcs from 0
// on as arc-major rows of K values, none negative, and writes their .arc and
// .mut records; commit() writes .sup and .nod, finishes the four parts and
// renames them into place as write_mnetgen does, with its failures (kReported
// "<part's path>: <OS error text>", kCancelled). Destroyed uncommitted, every
// temporary part is removed. `network` and `partition` must outlive it.
namespace detail {
// For the writers of Mnetgen parts: `error` with the part's path before an OS
// error's text; and the publishing of four finished parts (.nod, .arc, .sup,
// .mut, the order of `paths`) into place, the failure naming the parts already
// replaced.
Error at_part(std::string_view path, Error error);
Result<void> publish_parts(std::span<BufferedWriter> finished,
                           const std::array<std::string_view, 4>& paths);
}  // namespace detail

class MnetgenStream {
 public:
  static Result<MnetgenStream> open(const FourFileParts& parts, const NetworkInstance& network,
                                    const Partition& partition, uint64_t k,
                                    Compression compression,
                                    const std::function<bool(std::size_t)>& negative_capacity);
  MnetgenStream(MnetgenStream&&) noexcept;
  MnetgenStream& operator=(MnetgenStream&&) = delete;
  ~MnetgenStream();

  Result<void> write_arcs(std::size_t first, std::size_t count, const int64_t* capacity_rows,
                          const int64_t* cost_rows);
  Result<void> commit();

 private:
  struct State;
  explicit MnetgenStream(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace korvane
