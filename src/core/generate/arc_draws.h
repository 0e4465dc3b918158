// The per-arc part of generation: each arc's row of K costs and K capacities,
// drawn and zeroed one row at a time, for any run of arcs on any thread. Shared
// by the whole-table generation and the streaming writers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/base/result.h"
#include "core/generate/generate.h"
#include "core/records/network_instance.h"

namespace korvane::detail {

// The supply partition of generate_multi_commodity_data, with its failures.
Result<Partition> partition_supplies(const Supplies& supplies, const GenerationParams& params);

// The record generate_multi_commodity_data returns, but for the per-arc columns
// and the tables: the partition and the generation's settings.
MultiCommodityData data_without_tables(const NetworkInstance& instance,
                                       const GenerationParams& params, Partition partition);

// The failure the draws would meet first in arc order: an arc whose cost or
// capacity range has non-finite width (internal, "invalid uniform range:
// NonFinite", cost before capacity). Refusal does not depend on the generator's
// state, so the arcs are searched on several threads without drawing anything.
// kCancelled when a thread's poll asks.
Result<void> check_draws(const NetworkInstance& instance, const GenerationParams& params);

// 32-bit words the draws of arcs [begin, end) take (none may be refused).
uint64_t words_of(const NetworkInstance& instance, const GenerationParams& params,
                  std::size_t begin, std::size_t end);

// Whether capacity zeroing of `params` selects every commodity of arc `a` (for
// checks made before anything is drawn). False without zeroing or commodities.
bool row_fully_zeroed(const GenerationParams& params, std::size_t num_edges, std::size_t a);

// Rows [begin, end) of the cost and capacity tables, final (drawn, zeroed and
// restored), arc-major with K values per row: row 0 is arc `begin`. The run is
// split over `chunks` threads (1: this thread only); the source of arc `begin`
// starts `first_word` words into the seeded stream, and each chunk seeks to its
// own start, so every value is the one the single-threaded order gives. No arc
// of the run may be refused. kCancelled when a thread's poll asks.
Result<void> draw_rows(const NetworkInstance& instance, const GenerationParams& params,
                       std::size_t begin, std::size_t end, uint64_t first_word,
                       std::size_t chunks, int64_t* cost_rows, int64_t* capacity_rows);

// Threads for a run of `arcs` arcs: each takes at least 2^14 table entries.
std::size_t draw_chunks(std::size_t arcs, uint64_t num_commodities);

}  // namespace korvane::detail
