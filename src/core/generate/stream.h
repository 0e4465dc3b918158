// Generation streamed into files: the multi-commodity data of a network drawn a
// window of arcs at a time and written as it is drawn, so that only the network,
// the supply partition and one window of rows are ever held.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/base/result.h"
#include "core/generate/generate.h"
#include "core/io/file_io.h"
#include "core/records/four_file_parts.h"
#include "core/records/network_instance.h"

namespace korvane {

// Arcs per window when the caller leaves it to the routine (0): about 2^17
// values per table, at least one arc.
std::size_t default_window_arcs(uint64_t num_commodities);

// Writes to `path` exactly the bytes export_to_dimacs(path, instance,
// generate_multi_commodity_data(instance, params)) writes, with the failures of
// the two calls in their order: the partition's and the refused draws (found
// before anything is opened), then the writer's checks, then the OS's. Rows are
// drawn `window_arcs` arcs at a time (0: default_window_arcs) on the available
// threads, each thread seeking to its own words. Throws std::bad_alloc where
// the generation would for an E x K count no vector can address. kCancelled
// when the cancellation poll asks; on any failure nothing is left at `path`
// but what stood there before. With `compression`, the file holds those bytes
// as one gzip member or zstd frame, compressed as they are written.
Result<void> generate_to_dimacs(std::string_view path, const NetworkInstance& instance,
                                const GenerationParams& params, std::size_t window_arcs = 0,
                                Compression compression = Compression::kNone);

// The same for the Mnetgen parts korvane.formats.write_mnetgen(base, instance,
// data) writes: write_mnetgen(parts, problem_from_network(instance, &data),
// compression), its checks first; the four parts are renamed into place together.
Result<void> generate_to_mnetgen(const FourFileParts& parts, const NetworkInstance& instance,
                                 const GenerationParams& params, Compression compression,
                                 std::size_t window_arcs = 0);

}  // namespace korvane
