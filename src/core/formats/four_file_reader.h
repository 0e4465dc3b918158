// Readers of the field's four-file multi-commodity formats into a
// MulticommodityProblem: the Mnetgen format and the JLF format (PSP, OSP and
// ODS problems), read as the canonical reader of those formats reads them.
#pragma once

#include <cstdint>

#include "core/base/result.h"
#include "core/records/four_file_parts.h"
#include "core/records/multicommodity_problem.h"

namespace korvane {

enum class JlfKind : uint8_t { kPsp, kOsp, kOds };

// Every part is a stream of white-space-separated numbers: a line break is
// white space, a record may span lines and several may share one. Integer
// fields (nodes, commodities, products, arc names, pointers, counts) take an
// integer or a real whose text denotes an integer exactly ("3.000000", "1e3";
// not "1e-400" nor "1.0000000000000001"); real fields take
// decimal or exponent notation, never NaN or an infinity. The .nod part is its
// first four numbers and .mut its first b records: what follows them is read
// to the end of the part, so that a damaged compressed stream still fails, but
// not interpreted. A negative capacity or bundle capacity means kUnbounded.
//
// Failures:
// - kReported: a part cannot be opened or read: "<path>: <OS error text>" (or
//   the corrupt or truncated compressed stream) — the caller raises OSError;
// - kInvalid: the data breaks a rule of the format, with the message
//   "<path> line <L>: <what>" (L: the line of the record's first number), the
//   field and its text named ("from node 0 is not in 1..20"); or, for the
//   declared counts, a message naming the counts — ValueError;
// - kCancelled: Ctrl-C, polled once per line and in the long loops after.
// Declared counts are checked before any table is allocated: a count that does
// not fit int64, cells = 2·K·m + K·n + m + n that overflow, and more than
// kMaxCellsPerInputByte cells per byte of the four parts' combined size on disk
// are refused (kInvalid) naming them, as are tables no address space holds. A
// part that is not a regular file (a FIFO, a device) counts the bytes taken
// from it, read ahead only as far as the tables need: the same decision as
// for its bytes in a regular file, with memory that follows what was read.
// Neither reader ever keeps a partial record, and the work grows with the
// input and the tables only: wildcards and repeated records are resolved so
// that each cell is written a bounded number of times.
inline constexpr uint64_t kMaxCellsPerInputByte = 1000;

// Mnetgen: .nod K, n, m, b (refused: K <= 0, n <= 1, m <= 0, b < 0, b > m);
// .arc records (name 1..m, from, to 1..n, commodity 1..K or -1 for every one,
// cost, capacity, pointer 0..b); .sup records (node, commodity or -1, amount);
// .mut b records (label, ignored; bundle capacity), the i-th for pointer i.
// Refused besides: a self-loop; two records of one name that disagree on from,
// to or pointer (both lines named); fewer than b .mut records. A later record
// for the same (name, commodity) or (node, commodity) replaces the earlier.
// The arcs are the names with a record, ascending (arc_names keeps them);
// declared_arcs is m; a commodity without a record on an arc has cost and
// capacity 0; bundles[a] is its pointer's capacity (kUnbounded for 0).
Result<MulticommodityProblem> read_mnetgen(const FourFileParts& parts);

// JLF: .nod P, n, m, b (checked as for Mnetgen); .sup (or .od) records of
// origin, destination, product (-1: every product), amount; .arc records of
// from, to, product, cost, capacity, origin, destination, pointer 0..b; .mut as
// for Mnetgen. Commodities, numbered by product and within a product by first
// appearance in .sup:
// - PSP: one per product. Exactly one of origin and destination is -1 (else
//   refused): the amount is a supply at the origin, or a demand at the
//   destination.
// - OSP: one per (product, origin); the origin may not be -1. No destination:
//   the supply at the origin; a destination: a demand there.
// - ODS: one per record (per product for product -1); both nodes required.
//   The amount leaves the origin and reaches the destination (nothing when
//   they are one node).
// OSP and ODS without any supply record (no commodity) are refused.
// PSP and OSP: a later record for the same node and commodity replaces the
// earlier. An arc record selects the commodities with its product, origin
// (OSP, ODS) and destination (ODS), each -1 for any; fields the kind does not
// use are only range-checked. Pointer p > 0: the record belongs to arc p
// (arcs 1..b; all records of one pointer name the same nodes, a later record
// for a commodity replaces; a pointer without a record is refused). Pointer 0:
// each selected commodity joins the first arc between (from, to) that does not
// have it yet, a new arc when all have it; a record selecting nothing makes no
// arc. Unbundled arcs come after the bundled ones in the order they were made;
// more than m arcs in all are refused. arc_names are 1..E; unbundled arcs have
// bundle kUnbounded.
Result<MulticommodityProblem> read_jlf(const FourFileParts& parts, JlfKind kind);

}  // namespace korvane
