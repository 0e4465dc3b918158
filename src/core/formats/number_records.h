// The parts of the four-file formats as streams of numbers grouped into
// fixed-width records, whatever the line breaks; the checks on the declared
// counts shared by the Mnetgen and JLF readers.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/result.h"
#include "core/formats/four_file_reader.h"
#include "core/io/file_io.h"
#include "core/text/tokens.h"

namespace korvane::detail {

enum class FieldKind : uint8_t {
  kInteger,  // an integer token, or a real token denoting an integer exactly ("3.000000")
  kReal,     // a finite real number
  kAny,      // any number, read and ignored (the .mut labels)
};

struct FieldSpec {
  std::string_view name;  // names the field in messages: "from node"
  FieldKind kind = FieldKind::kReal;
  // Integer fields: the accepted range, and whether -1 ("every") is accepted
  // besides. The full int64 range accepts every integer that fits.
  int64_t lo = std::numeric_limits<int64_t>::min();
  int64_t hi = std::numeric_limits<int64_t>::max();
  bool wildcard = false;
};

// One field of a record: `i` for integer fields, `r` for the others.
struct FieldValue {
  int64_t i;
  double r;
};

// Upper bound of the fields of one record (the JLF .arc has 8).
inline constexpr std::size_t kMaxFields = 8;

// The longest piece of a token quoted in a message.
inline constexpr std::size_t kMaxQuotedToken = 40;

class RecordStream {
 public:
  // Opens the part; an OS failure is kReported "<path>: <OS error text>".
  static Result<RecordStream> open(const std::string& path);

  const std::string& path() const { return path_; }

  // kInvalid "<path> line <line>: <what>".
  Error at(uint64_t line, std::string_view what) const;

  // Reads records of fields.size() (<= kMaxFields) numbers, handing each to
  // on_record(const FieldValue*, uint64_t line) -> Result<void>, where `line`
  // is the line of the record's first number, until the part ends or `limit`
  // records were read; the rest is left for drain(). Returns
  // the number of records read. Fails on the first token that breaks its
  // field's rule, on a part that ends inside a record, on a read error
  // (kReported, prefixed with the path), on a callback error, or kCancelled.
  template <class OnRecord>
  Result<uint64_t> read(std::span<const FieldSpec> fields, uint64_t limit, OnRecord&& on_record);

  // LineReader::read_ahead: how many bytes the part holds, as far as `bytes`.
  Result<uint64_t> read_ahead(uint64_t bytes) {
    auto read = lines_.read_ahead(bytes);
    if (!read.ok()) return failed(read.take_error());
    return read;
  }

  // Reads what is left of the part to its end without looking at it, so that a
  // compressed part whose stream is cut short or damaged after the records the
  // reader needs still fails (kReported, prefixed with the path).
  Result<void> drain();

 private:
  RecordStream(std::string path, LineReader lines)
      : path_(std::move(path)), lines_(std::move(lines)) {}

  // A failure as reported: a damaged compressed stream is blamed first (the
  // rest of the stream is read to find out), and OS errors name the part.
  Error failed(Error error) {
    error = lines_.blame_stream(std::move(error));
    if (error.kind == ErrorKind::kReported) error.message = path_ + ": " + error.message;
    return error;
  }

  // The general route for a token of the current field: every accepted form,
  // and the messages.
  Result<void> take(std::string_view token);
  Error bad_token(std::string_view token, std::string_view what) const;
  Error out_of_range(std::string_view token) const;

  std::string path_;
  LineReader lines_;
  uint64_t line_ = 0;         // lines read so far
  uint64_t record_line_ = 0;  // line of the current record's first number
  std::span<const FieldSpec> fields_;
  std::size_t field_ = 0;  // next field of the current record
  FieldValue values_[kMaxFields] = {};
  std::vector<std::string_view> tokens_;  // lines with non-ASCII bytes
};

// White space between numbers on an ASCII line.
inline constexpr auto kAsciiSpace = [] {
  std::array<bool, 256> table{};
  for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    table[static_cast<unsigned char>(c)] = true;
  return table;
}();

// The common token forms, read as the token is found, without the general
// grammar: an integer of an optional '-' and 1 to 18 digits, and a decimal of
// an optional '-' and at most 15 digits around an optional '.'. Such a decimal
// is its digits as an exact integer (below 2^53) divided by an exact power of
// ten (10^15 at most), so the one correctly rounded division gives the
// correctly rounded value, the one parse_f64_to gives. Each reads from the
// first byte of a token (not white space) and returns the end of the token
// when it has such a form and ends at `end` or at ASCII white space; nullptr
// otherwise, and the token takes the general route.
inline const unsigned char* scan_integer(const unsigned char* p, const unsigned char* end,
                                         int64_t& out) {
  const bool negative = *p == '-';
  p += negative ? 1 : 0;
  const unsigned char* const first = p;
  uint64_t value = 0;  // wraps only past 19 digits, which are refused
  for (; p < end; ++p) {
    const auto digit = static_cast<unsigned>(*p - '0');
    if (digit > 9) break;
    value = value * 10 + digit;
  }
  const auto count = p - first;
  if (count == 0 || count > 18 || (p < end && !kAsciiSpace[*p])) return nullptr;
  const auto magnitude = static_cast<int64_t>(value);
  out = negative ? -magnitude : magnitude;
  return p;
}

inline const unsigned char* scan_decimal(const unsigned char* p, const unsigned char* end,
                                         double& out) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = *p == '-';
  p += negative ? 1 : 0;
  uint64_t digits = 0;  // wraps only past 19 digits, which are refused
  int count = 0;
  int fraction = -1;  // digits after the '.', -1 before one
  for (; p < end; ++p) {
    const auto digit = static_cast<unsigned>(*p - '0');
    if (digit <= 9) {
      digits = digits * 10 + digit;
      ++count;
      fraction += fraction >= 0 ? 1 : 0;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      break;
    }
  }
  if (count == 0 || count > 15 || (p < end && !kAsciiSpace[*p])) return nullptr;
  const double value = static_cast<double>(digits) / kPowers[fraction > 0 ? fraction : 0];
  out = negative ? -value : value;
  return p;
}

// scan_integer for integer fields, scan_decimal for the others (a decimal is
// a finite number of any field).
inline const unsigned char* scan_field(FieldKind kind, const unsigned char* p,
                                       const unsigned char* end, FieldValue& v) {
  return kind == FieldKind::kInteger ? scan_integer(p, end, v.i) : scan_decimal(p, end, v.r);
}

template <class OnRecord>
Result<uint64_t> RecordStream::read(std::span<const FieldSpec> fields, uint64_t limit,
                                    OnRecord&& on_record) {
  fields_ = fields;
  field_ = 0;
  uint64_t records = 0;
  if (limit == 0) return records;
  CancelCheck cancel;
  std::optional<Error> failure;
  // Hands one token to the current record; true when reading stops: `limit`
  // records read, or `failure` set.
  auto token = [&](std::string_view text, bool scanned) -> bool {
    if (field_ == 0) record_line_ = line_;
    const FieldSpec& f = fields_[field_];
    const FieldValue& v = values_[field_];
    const bool fast = scanned && (f.kind != FieldKind::kInteger || (v.i >= f.lo && v.i <= f.hi) ||
                                  (f.wildcard && v.i == -1));
    if (!fast) {
      auto taken = take(text);
      if (!taken.ok()) {
        failure = taken.take_error();
        return true;
      }
    }
    if (++field_ < fields_.size()) return false;
    field_ = 0;
    auto handled = on_record(static_cast<const FieldValue*>(values_), record_line_);
    if (!handled.ok()) {
      failure = handled.take_error();
      return true;
    }
    return ++records == limit;
  };
  std::string_view line;
  for (;;) {
    auto more = lines_.next(line);
    if (!more.ok()) return failed(more.take_error());
    if (!more.value()) break;
    ++line_;
    if (cancel.requested()) return cancelled();
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const auto* const end = p + line.size();
    unsigned char high = 0;
    for (const auto* q = p; q < end; ++q) high |= *q;
    bool stop = false;
    if (high >= 0x80) {
      // Only ASCII is written by the generators; other text may separate
      // numbers by any Unicode white space, which split_fields knows.
      split_fields(line, tokens_);
      for (const std::string_view text : tokens_) {
        const auto* first = reinterpret_cast<const unsigned char*>(text.data());
        const bool scanned =
            scan_field(fields_[field_].kind, first, first + text.size(), values_[field_]) !=
            nullptr;
        if ((stop = token(text, scanned))) break;
      }
    } else {
      for (;;) {
        while (p < end && kAsciiSpace[*p]) ++p;
        if (p == end) break;
        const auto* start = p;
        const auto* after = scan_field(fields_[field_].kind, p, end, values_[field_]);
        if (after != nullptr) {
          p = after;
        } else {
          while (p < end && !kAsciiSpace[*p]) ++p;
        }
        if ((stop = token(std::string_view(reinterpret_cast<const char*>(start),
                                           static_cast<std::size_t>(p - start)),
                          after != nullptr)))
          break;
      }
    }
    if (stop) {
      if (failure) return failed(std::move(*failure));
      return records;
    }
  }
  if (field_ != 0) {
    return at(record_line_, "ends inside a record: " + std::to_string(field_) + " of its " +
                                std::to_string(fields_.size()) + " numbers");
  }
  return records;
}

// An instance's four parts, all opened before any is read, so that a missing
// part is reported first.
struct OpenedParts {
  RecordStream nod;
  RecordStream arc;
  RecordStream sup;
  RecordStream mut;
};
Result<OpenedParts> open_parts(const FourFileParts& parts);

// The four counts of a .nod part, checked: first >= 1, nodes >= 2, arcs >= 1,
// 0 <= bundles <= arcs.
struct DeclaredCounts {
  int64_t first = 0;  // commodities (Mnetgen) or products (JLF)
  int64_t nodes = 0;
  int64_t arcs = 0;
  int64_t bundles = 0;
};

// Reads the .nod part: its first four numbers (what follows is drained, not
// interpreted). `first_name` names the first count ("commodity count").
Result<DeclaredCounts> read_counts(RecordStream& nod, std::string_view first_name);

// Reads `bundles` records of .mut by position: entry i (1-based; entry 0
// unused) is the bundle capacity of pointer i, kUnbounded for a negative one.
// Records after the b-th are drained, not interpreted; fewer than b are refused.
Result<std::vector<double>> read_bundle_capacities(RecordStream& mut, int64_t bundles,
                                                   const std::string& nod_path);

// Refuses (kInvalid, naming the counts) tables for `commodities` x `arcs` costs
// and capacities, `commodities` x `nodes` supplies and per-arc and per-node
// columns that overflow 64 bits, that no address space holds, or that exceed
// kMaxCellsPerInputByte cells per byte of the parts' combined size. A regular
// part counts its size; a part that is not one (a FIFO, a device) counts what
// was taken from it, read ahead as far as the tables need and no further: so
// the decision is the one its bytes would get in a regular file, and memory
// follows what was read. A part that fails to read fails the check
// (kReported, naming it), before anything is allocated.
Result<void> check_table_cells(OpenedParts& parts, const std::string& where, uint64_t commodities,
                               uint64_t arcs, uint64_t nodes);

}  // namespace korvane::detail
