/// @file korvane/generators.hpp
/// @brief The NETGEN and Mnetgen generators: their parameters, the records they
/// make and the files they write, byte for byte as the original programs.
///
/// Each generator is a pure function of its parameters: the same parameters give
/// the same network or problem, and the same bytes, on every machine. Both run
/// on one thread (RunOptions::threads changes nothing) and answer a stop request
/// within about 50 ms. Parameters the original refuses, or on which it would
/// crash or never end, are refused with value_error naming the parameter, in
/// the words korvane.generators uses. Nothing here throws.
#pragma once

#include <cstdint>
#include <string_view>

#include "korvane/errors.hpp"
#include "korvane/export.hpp"
#include "korvane/records.hpp"
#include "korvane/writers.hpp"

namespace korvane {
inline namespace v0 {

/// The 15 inputs of NETGEN, in the order the original reads them, named as
/// korvane.generators.netgen's keyword arguments (the original's name in
/// parentheses). Fields with a default have Python's; Python has none for the
/// others (0 here). Build it with designated initialisers.
struct NetgenParams {
  int64_t seed = 0;                   ///< seed of the random source, at least 1 (seed)
  int64_t problem = 1;                ///< problem number, only printed in the header (problem)
  int64_t nodes = 0;                  ///< number of nodes (N)
  int64_t sources = 0;                ///< sources, transshipment sources included (NS)
  int64_t sinks = 0;                  ///< sinks, transshipment sinks included (NT)
  int64_t arcs = 0;                   ///< requested number of arcs (DENS)
  int64_t min_cost = 0;               ///< lowest arc cost (MINCST)
  int64_t max_cost = 0;               ///< highest arc cost (MAXCST)
  int64_t supply = 0;                 ///< total supply (SUPPLY)
  int64_t transshipment_sources = 0;  ///< sources that also receive (TSORC)
  int64_t transshipment_sinks = 0;    ///< sinks that also send (TSINK)
  int64_t max_cost_percent = 0;       ///< percent of skeleton arcs given the highest cost (HICOST)
  int64_t capacitated_percent = 0;    ///< percent of arcs with a finite capacity (CAPCT)
  int64_t min_capacity = 0;           ///< lowest capacity (MINCAP)
  int64_t max_capacity = 0;           ///< highest capacity (MAXCAP)
};

/// The sizes NETGEN refuses to go past: the defaults are Python's MAX_NODES and
/// MAX_ARCS; each may be raised up to 2^31 - 1 (same algorithm, so output
/// within the defaults is unchanged).
struct NetgenLimits {
  int64_t max_nodes = 10'000'000;  ///< most nodes, 1 to 2^31 - 1
  int64_t max_arcs = 40'000'000;   ///< most requested arcs, 1 to 2^31 - 1
};

/// The NETGEN network of `params` as the NetworkInstance read_min() gives on
/// the file write_netgen() writes: a max-flow problem (min_cost = max_cost = 1)
/// comes with its unit costs and balances, an assignment with unit capacities
/// and balances 1 / -1.
///
/// Errors: value_error naming the parameter the generator refuses (or a limit
/// outside 1..2^31 - 1, "max_nodes: must be between 1 and 2147483647, got 0"),
/// and for inputs on which it would never end; memory_error; cancelled.
KORVANE_API Result<NetworkInstance> netgen_instance(const NetgenParams& params,
                                                    const RunOptions& options = {},
                                                    const NetgenLimits& limits = {});

/// Writes the original's output for `params` to `path`, comment header
/// included: the bytes korvane.generators.write_netgen writes. `compression`
/// is explicit here (Python's default follows the file name). Above 2^22
/// requested arcs the generator runs twice and streams the arcs, so memory
/// does not grow with their number. The file is whole or absent: any failure
/// leaves the path as it was.
///
/// Errors: those of netgen_instance(), checked before anything is written;
/// value_error for an unknown compression; os_error with the OS error text for
/// open, write and rename failures.
KORVANE_API Result<void> write_netgen(std::string_view path, const NetgenParams& params,
                                      Compression compression = Compression::none,
                                      const RunOptions& options = {},
                                      const NetgenLimits& limits = {});

/// The 21 parameters of Mnetgen in the order of its parameter file (18
/// integers, then 3 percentages), named as korvane.generators.mnetgen's keyword
/// arguments (the original's name in parentheses). problem_number has Python's
/// default; Python has none for the others (0 here).
struct MnetgenParams {
  int64_t seed = 0;                       ///< seed of the random source, its low 32 bits (iseed)
  int64_t problem_number = 1;             ///< read and ignored (nprob)
  int64_t num_nodes = 0;                  ///< number of nodes (nodes)
  int64_t min_lines = 0;                  ///< least number of arc-commodity lines (dens)
  int64_t num_sources = 0;                ///< sources, transshipment ones included (nsorc)
  int64_t num_sinks = 0;                  ///< sinks, transshipment ones included (nsink)
  int64_t num_commodities = 0;            ///< K (ncomm)
  int64_t num_transshipment_sources = 0;  ///< transshipment sources among the sources (ntsorc)
  int64_t num_transshipment_sinks = 0;    ///< transshipment sinks among the sinks (ntsink)
  int64_t max_chain_length = 0;           ///< bound on a source's drawn chain length (lchain)
  int64_t min_cost = 0;                   ///< lowest cost (mincst)
  int64_t max_cost = 0;                   ///< highest cost, that of high-cost lines (maxcst)
  int64_t min_supply = 0;                 ///< lowest total supply of a commodity (minsup)
  int64_t max_supply = 0;                 ///< highest total supply of a commodity (maxsup)
  int64_t min_bound = 0;                  ///< lowest individual bound (minbnd)
  int64_t max_bound = 0;                  ///< highest individual bound (maxbnd)
  int64_t min_bundle_capacity = 0;        ///< lowest bundle capacity (mincap)
  int64_t max_bundle_capacity = 0;        ///< highest bundle capacity (maxcap)
  double high_cost_percent = 0;           ///< percent of skeleton lines with the high cost (bhicst)
  double bounded_percent = 0;             ///< percent of lines with an individual bound (bbnd)
  double bundled_percent = 0;             ///< percent of arc names with a bundle capacity (bcap)
};

/// The problem Mnetgen makes from `params`, as read_mnetgen() gives it on the
/// four files write_mnetgen_instance() writes: costs and bounds are the values
/// of their 4-digit text.
///
/// Errors: value_error naming the parameters the generator refuses with its
/// own message ("num_sources (nsorc) 12 + num_sinks (nsink) 10 > num_nodes
/// (nodes) 20: INPUT ERROR - SOURCES  +  SINKS .GT. NODES"), those on which it
/// would crash or never end, and those whose files read_mnetgen() would refuse;
/// memory_error; cancelled.
KORVANE_API Result<MulticommodityProblem> mnetgen_problem(const MnetgenParams& params,
                                                          const RunOptions& options = {});

/// Writes BASE.nod, BASE.arc, BASE.sup and BASE.mut byte for byte as Mnetgen
/// writes them for `params` (with gzip BASE.part.gz, with zstd BASE.part.zst),
/// the bytes korvane.generators.write_mnetgen_instance writes. The four parts
/// are renamed into place together once all are complete: any failure leaves
/// the old ones as they were.
///
/// Errors: those of mnetgen_problem() but read_mnetgen()'s; value_error for an
/// unknown compression; os_error "<part>: <OS error text>".
KORVANE_API Result<void> write_mnetgen_instance(std::string_view base,
                                                const MnetgenParams& params,
                                                Compression compression = Compression::none,
                                                const RunOptions& options = {});

}  // namespace v0
}  // namespace korvane
