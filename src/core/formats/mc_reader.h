// Reader of the multi-commodity file into a ParsedMulticommodityInstance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/records/parsed_instance.h"
#include "core/base/result.h"
#include "core/io/parallel_read.h"

namespace korvane {

// What a range of the file adds, counted before it is read so that each range
// can write its arcs straight into their final place: the arc lines (first token
// exactly "a"), and whether a problem line (first token exactly "p") follows a
// line starting with 'a' or 'n' (and may change the list forms of later arcs).
struct MultiMinTally {
  uint64_t arcs = 0;
  bool data_seen = false;
  bool problem_after_data = false;
};

// Counts one line into `tally`, classifying it exactly as parse_multi_min does
// (white space trimmed, the first token ending at any white space). Never fails.
void tally_multi_min_line(std::string_view line, MultiMinTally& tally);

// Reads the multi-commodity file at `path` in one pass through an 8192-byte
// buffer. Lines are trimmed of Unicode white space and split at its runs;
// comments ("c..."), empty lines and lines whose first token is not exactly
// "p", "n" or "a" are skipped. Node and arc lines use the K and list forms of
// the latest problem line before them (K = 0, compressed, before any).
//
// Failures: open/read errors, invalid UTF-8 and malformed numbers are kReported
// ("invalid digit found in string", "number too large to fit in target type",
// "number too small to fit in target type", "invalid float literal"). A missing
// token is kInternal: the index message (I, token count) for a single token, the
// range message (end of the needed range, token count) for an expanded list,
// whose end is computed exactly even beyond 64 bits. At the end, an arc whose
// lists are shorter than the final K fails with kInternal, the index message
// (k, list length) of the first failing (k, arc) in commodity-major order.
//
// Never allocates K values for a compressed list, never loops over K, and
// clamps the reservations a declared arc count asks for by the file's size.
// A regular file of at least twice `min_range_bytes` is read in ranges of that
// size or more, one per thread (thread_count()): a counting pass over the
// ranges (MultiMinTally) first, then each range writes its arcs into their
// place in the final columns; the record and any error are those of one pass.
Result<ParsedMulticommodityInstance> parse_multi_min(std::string_view path,
                                                     std::size_t min_range_bytes = kMinRangeBytes);

}  // namespace korvane
