// Mnetgen, the multi-commodity generator of Ali and Kennington in its four-file
// form: its 21 parameters and their checks, the instance drawn in the
// generator's own order, and the four files it writes, byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/base/result.h"
#include "core/io/file_io.h"
#include "core/records/four_file_parts.h"
#include "core/records/multicommodity_problem.h"

namespace korvane {

// The parameters in the order of the generator's parameter file: 18 integers,
// then 3 percentages. Field names are the generator's own.
struct MnetgenParams {
  int64_t iseed = 0;   // seed of the random source (its low 32 bits)
  int64_t nprob = 0;   // problem number: read, changes nothing
  int64_t nodes = 0;   // n
  int64_t dens = 0;    // the minimum number of .arc lines (arc-commodity pairs)
  int64_t nsorc = 0;   // sources, pure and transshipment
  int64_t nsink = 0;   // sinks, pure and transshipment
  int64_t ncomm = 0;   // K
  int64_t ntsorc = 0;  // transshipment sources among the sources
  int64_t ntsink = 0;  // transshipment sinks among the sinks
  int64_t lchain = 0;  // bound on the drawn length of a source's chain
  int64_t mincst = 0;
  int64_t maxcst = 0;  // also the cost of the high-cost skeleton lines
  int64_t minsup = 0;  // bounds of a commodity's total supply
  int64_t maxsup = 0;
  int64_t minbnd = 0;  // bounds of the individual bounds of random lines
  int64_t maxbnd = 0;
  int64_t mincap = 0;  // bounds of the bundle capacities of random arcs
  int64_t maxcap = 0;
  double bhicst = 0;  // percent of skeleton lines with the high cost
  double bbnd = 0;    // percent of lines with an individual bound
  double bcap = 0;    // percent of arc names with a bundle capacity
};

inline constexpr std::size_t kMnetgenIntegerCount = 18;
inline constexpr std::size_t kMnetgenParamCount = 21;

// Each parameter's descriptive name (the one korvane's messages and keyword
// arguments use) and the generator's own, in file order.
struct MnetgenParamName {
  std::string_view name;
  std::string_view original;
};
extern const std::array<MnetgenParamName, kMnetgenParamCount> kMnetgenParamNames;

// The parameters from their values in file order.
MnetgenParams mnetgen_params(const std::array<int64_t, kMnetgenIntegerCount>& integers,
                             const std::array<double, 3>& percents);

// The generator's ten checks in its order, the first failure reported as
// kInvalid "<what, by name and value>: <the generator's message>"; then the
// inputs on which the generator divides by zero, reads outside its tables or
// overflows 64-bit integers, and sizes past what can be held (more than 2^40
// nodes or commodities), refused the same way with a message of korvane's.
// Never draws, never touches a file.
Result<void> check_mnetgen(const MnetgenParams& params);

// Generates the instance and writes BASE.nod, .arc, .sup and .mut (the paths
// of `parts`) exactly as the generator does, each plain or compressed, under
// temporary names published together as write_mnetgen publishes its parts.
// Failures: check_mnetgen's; kInvalid when a rejection loop of the generator
// has no admissible value left (the generator would never end), or a count
// passes 64 bits; kReported "<part's path>: <OS error text>"; kCancelled. On
// any failure every old part is left as it was and no new one appears.
Result<void> write_mnetgen_instance(const FourFileParts& parts, const MnetgenParams& params,
                                    Compression compression);

// The problem read_mnetgen gives on the four plain files write_mnetgen_instance
// writes, field for field, made without writing them: costs and bounds are the
// values of their 4-digit text. The failures of write_mnetgen_instance but the
// OS ones, and kInvalid where read_mnetgen would refuse those files (no
// commodity, fewer than 2 nodes, no arc name or a name outside 1..m, two lines
// of one name that disagree, more table cells than the files' bytes allow),
// saying why.
Result<MulticommodityProblem> generate_mnetgen(const MnetgenParams& params);

// printf's "%.4g" of `v` in the C locale, as the generator writes costs and
// bounds; `out` needs room for 16 bytes. Returns the end of the text.
char* format_g4(double v, char* out);

}  // namespace korvane
