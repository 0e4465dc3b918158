/// @file korvane/readers.hpp
/// @brief The readers: DIMACS .min, korvane's multi-commodity file, and the
/// four-file Mnetgen and JLF formats.
///
/// Every reader takes plain, gzip or zstd files alike, recognised by their first
/// bytes (a build without zlib or libzstd says so with os_error on such a file),
/// reads large regular files in ranges on several threads (RunOptions::threads)
/// with the same record and the same error for every thread count, returns
/// either a whole record or an Error (never a partial record), and never throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korvane/errors.hpp"
#include "korvane/export.hpp"
#include "korvane/records.hpp"

namespace korvane {
inline namespace v0 {

/// Reads a DIMACS minimum-cost-flow file.
///
/// Errors: os_error for a file that cannot be opened or read, invalid UTF-8 or
/// a malformed integer ("line 3 of net.min" in the note); internal_error for a
/// line with too few fields; memory_error; cancelled.
KORVANE_API Result<NetworkInstance> read_min(std::string_view path, const RunOptions& options = {});

/// Reads a multi-commodity file as write_multi_commodity() writes it.
///
/// Errors: runtime_error for a file that cannot be opened or read, invalid
/// UTF-8 or a malformed number ("invalid digit found in string", "number too
/// large to fit in target type", ...); internal_error for a missing token or an
/// arc whose per-commodity lists are shorter than K (the index message);
/// memory_error; cancelled.
KORVANE_API Result<ParsedMulticommodityInstance> read_multi_commodity(
    std::string_view path, const RunOptions& options = {});

/// The paths of a four-file instance's parts (each plain, gzip or zstd).
struct FourFileParts {
  std::string nod;  ///< the counts
  std::string arc;  ///< the arc records
  std::string sup;  ///< the supply records (JLF ODS sets often name it BASE.od)
  std::string mut;  ///< the bundle capacities
};

/// The parts BASE.nod, BASE.arc, BASE.sup and BASE.mut.
KORVANE_API FourFileParts parts_of(std::string_view base);

/// The three problem kinds of the JLF format.
enum class JlfKind : uint8_t {
  psp,  ///< one commodity per product
  osp,  ///< one commodity per (product, origin)
  ods,  ///< one commodity per origin-destination record
};

/// Reads a Mnetgen instance.
///
/// Errors: os_error "<path>: <OS error text>" for a part that cannot be opened
/// or read; value_error "<path> line <L>: <what>" for data that breaks a rule of
/// the format, or naming the declared counts when they are too large for the
/// input; memory_error; cancelled.
KORVANE_API Result<MulticommodityProblem> read_mnetgen(const FourFileParts& parts,
                                                       const RunOptions& options = {});

/// Reads a JLF instance of the given kind, with the errors of read_mnetgen()
/// (and value_error "kind must be 0 (psp), 1 (osp) or 2 (ods)" for a kind
/// outside the enumeration).
KORVANE_API Result<MulticommodityProblem> read_jlf(const FourFileParts& parts, JlfKind kind,
                                                   const RunOptions& options = {});

}  // namespace v0
}  // namespace korvane
