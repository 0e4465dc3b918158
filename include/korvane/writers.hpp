/// @file korvane/writers.hpp
/// @brief The writers of korvane's multi-commodity file and of the Mnetgen
/// format, the conversion of records into a MulticommodityProblem, and
/// generation streamed straight into files.
///
/// A writer either puts a complete file in place or leaves what stood at the
/// path before (files are written under a temporary name and renamed). Each
/// returns an Error and never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "korvane/errors.hpp"
#include "korvane/export.hpp"
#include "korvane/generation_params.hpp"
#include "korvane/readers.hpp"
#include "korvane/records.hpp"

namespace korvane {
inline namespace v0 {

/// How the parts of a Mnetgen instance are compressed.
enum class Compression : uint8_t {
  none,  ///< plain text
  gzip,  ///< gzip (needs a build with zlib)
  zstd,  ///< zstd (needs a build with libzstd)
};

/// Writes `network` with its multi-commodity data to `path` as a multi-commodity
/// file: the same bytes Python's `save_multi_commodity_instance` writes.
///
/// Errors: os_error with the OS error text for open, write and rename failures;
/// value_error for data generated for another network, naming what differs;
/// internal_error for data that does not cover every arc ("no entry found for
/// key"); cancelled.
KORVANE_API Result<void> write_multi_commodity(std::string_view path,
                                               const NetworkInstance& network,
                                               const MultiCommodityData& data,
                                               const RunOptions& options = {});

/// Writes `problem` as the four parts of a Mnetgen instance. The parts are
/// written under temporary names and renamed into place once all four are
/// complete.
///
/// Errors: value_error naming the arc for what the format cannot hold (an
/// endpoint outside 1..N, a self-loop, a negative or NaN capacity, an infinite
/// cost), for no commodity, fewer than 2 nodes or no arc; os_error
/// "<part>: <OS error text>"; cancelled.
KORVANE_API Result<void> write_mnetgen(const FourFileParts& parts,
                                       const MulticommodityProblem& problem,
                                       Compression compression = Compression::none,
                                       const RunOptions& options = {});

/// A network with its multi-commodity data as a problem; with `data` null, the
/// network as one commodity. Nodes are the ids, ascending, numbered 1..N; an
/// arc's own upper bound becomes its bundle where it can bind.
/// Errors: value_error naming the arc for a non-zero lower bound or a negative
/// capacity, or naming the sizes for data of another network; memory_error.
KORVANE_API Result<MulticommodityProblem> to_problem(const NetworkInstance& network,
                                                     const MultiCommodityData* data = nullptr);

/// A multi-commodity file read back, as a problem (value_error for lists that do
/// not hold K values).
KORVANE_API Result<MulticommodityProblem> to_problem(const ParsedMulticommodityInstance& parsed);

/// Generates the data of `network` and writes it to `path` a window of arcs at
/// a time, holding only one window of the E x K tables: the bytes of
/// generate_multi_commodity_data() followed by write_multi_commodity(). `window_arcs`
/// 0 picks about 2^17 values a window. Errors: those of the two calls, the
/// generation's first (as internal_error), then the writer's (os_error).
KORVANE_API Result<void> generate_to_file(std::string_view path, const NetworkInstance& network,
                                          const GenerationParams& params,
                                          const RunOptions& options = {},
                                          std::size_t window_arcs = 0);

/// The same into Mnetgen parts: the bytes write_mnetgen(parts,
/// to_problem(network, &data), compression) writes for the generated data.
KORVANE_API Result<void> generate_to_mnetgen(const FourFileParts& parts,
                                             const NetworkInstance& network,
                                             const GenerationParams& params,
                                             Compression compression = Compression::none,
                                             const RunOptions& options = {},
                                             std::size_t window_arcs = 0);

}  // namespace v0
}  // namespace korvane
