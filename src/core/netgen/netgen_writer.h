// NETGEN's output: the DIMACS text of a run (the 19 header lines, then the
// min-cost, max-flow or assignment body) written to a file, and the
// NetworkInstance the .min reader makes of it. Python-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/result.h"
#include "core/io/file_io.h"
#include "core/netgen/netgen.h"
#include "core/records/network_instance.h"

namespace korvane::netgen {

// How write_netgen holds the arcs: all in memory, then written (one run of
// the generator); or streamed: a first run counts the arcs and settles the
// balances, which the text lists before the arcs, and a second run writes each
// arc as it is made, so memory does not grow with the arc count. kAuto streams
// when more than kStreamAboveArcs arcs are asked for.
enum class Holding : uint8_t { kAuto, kInMemory, kStreamed };
inline constexpr int64_t kStreamAboveArcs = int64_t{1} << 22;

// The 19 comment lines the generator prints before anything else.
std::string header_text(const Params& params);

// Validates, generates and writes the generator's exact text to `path`
// (compressed as asked), whole or not at all: a refusal (kInvalid), a run
// that would never end (kInvalid), Ctrl-C (kCancelled) or a write failure
// (kReported) leaves no file and the target as it was. Returns the number of
// arcs written.
Result<uint64_t> write_netgen(std::string_view path, const Params& params, const Limits& limits,
                              Compression compression = Compression::kNone,
                              Holding holding = Holding::kAuto);

// The NetworkInstance parse_min gives on the text of the network in min-cost
// form: for a min-cost problem, exactly the written file; for a max-flow
// problem the same arcs with their unit costs and the nodes' balances; for an
// assignment, unit capacities and balances +1 / -1. Failures as write_netgen's.
Result<NetworkInstance> netgen_instance(const Params& params, const Limits& limits);

}  // namespace korvane::netgen
