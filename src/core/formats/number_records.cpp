// Fields of the four-file parts: token rules and their messages, the .nod
// counts, the .mut capacities and the size check on declared counts.
#include "core/formats/number_records.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

namespace korvane::detail {
namespace {

std::string quoted(std::string_view token) {
  if (token.size() <= kMaxQuotedToken) return std::string(token);
  return std::string(token.substr(0, kMaxQuotedToken)) + "...";
}

}  // namespace

Result<RecordStream> RecordStream::open(const std::string& path) {
  auto lines = LineReader::open(path);
  if (!lines.ok()) {
    Error error = lines.take_error();
    error.message = path + ": " + error.message;
    return error;
  }
  return RecordStream(path, std::move(lines.value()));
}

Result<OpenedParts> open_parts(const FourFileParts& parts) {
  auto nod = RecordStream::open(parts.nod);
  if (!nod.ok()) return nod.take_error();
  auto arc = RecordStream::open(parts.arc);
  if (!arc.ok()) return arc.take_error();
  auto sup = RecordStream::open(parts.sup);
  if (!sup.ok()) return sup.take_error();
  auto mut = RecordStream::open(parts.mut);
  if (!mut.ok()) return mut.take_error();
  return OpenedParts{std::move(nod.value()), std::move(arc.value()), std::move(sup.value()),
                     std::move(mut.value())};
}

Error RecordStream::at(uint64_t line, std::string_view what) const {
  return invalid(path_ + " line " + std::to_string(line) + ": " + std::string(what));
}

Error RecordStream::bad_token(std::string_view token, std::string_view what) const {
  return at(record_line_,
            std::string(fields_[field_].name) + " " + quoted(token) + " " + std::string(what));
}

Error RecordStream::out_of_range(std::string_view token) const {
  const FieldSpec& f = fields_[field_];
  if (f.lo == std::numeric_limits<int64_t>::min() && f.hi == std::numeric_limits<int64_t>::max()) {
    return bad_token(token, token.starts_with('-') ? "is too small" : "is too large");
  }
  const std::string range = std::to_string(f.lo) + ".." + std::to_string(f.hi);
  return bad_token(token, f.wildcard ? "is neither -1 nor in " + range : "is not in " + range);
}

Result<void> RecordStream::take(std::string_view token) {
  const FieldSpec& f = fields_[field_];
  FieldValue& v = values_[field_];
  if (f.kind != FieldKind::kInteger) {
    if (!parse_f64_to(token, v.r)) return bad_token(token, "is not a number");
    if (f.kind == FieldKind::kReal && !std::isfinite(v.r)) {
      return bad_token(token, "is not finite");
    }
    return {};
  }
  IntStatus status = parse_i64_to(token, v.i);
  // Generators that print every number with "%f" write "3.000000": a real
  // whose text denotes an integer exactly is one.
  if (status == IntStatus::kInvalidDigit) status = parse_integral_decimal_to(token, v.i);
  if (status == IntStatus::kInvalidDigit) return bad_token(token, "is not an integer");
  if (status != IntStatus::kOk) return out_of_range(token);
  if ((v.i < f.lo || v.i > f.hi) && !(f.wildcard && v.i == -1)) return out_of_range(token);
  return {};
}

Result<void> RecordStream::drain() {
  std::string_view line;
  CancelCheck cancel;
  for (;;) {
    auto more = lines_.next(line);
    if (!more.ok()) return failed(more.take_error());
    if (!more.value()) return {};
    if (cancel.requested(line.size() + 1)) return cancelled();
  }
}

Result<DeclaredCounts> read_counts(RecordStream& nod, std::string_view first_name) {
  const FieldSpec fields[] = {{first_name, FieldKind::kInteger},
                              {"node count", FieldKind::kInteger},
                              {"arc count", FieldKind::kInteger},
                              {"bundle count", FieldKind::kInteger}};
  DeclaredCounts c;
  auto read = nod.read(fields, 1, [&](const FieldValue* v, uint64_t line) -> Result<void> {
    c = DeclaredCounts{v[0].i, v[1].i, v[2].i, v[3].i};
    auto refuse = [&](std::string_view name, int64_t value, std::string_view what) {
      return nod.at(line,
                    std::string(name) + " " + std::to_string(value) + " " + std::string(what));
    };
    if (c.first <= 0) return refuse(first_name, c.first, "is not positive");
    if (c.nodes <= 1) return refuse("node count", c.nodes, "is less than 2");
    if (c.arcs <= 0) return refuse("arc count", c.arcs, "is not positive");
    if (c.bundles < 0) return refuse("bundle count", c.bundles, "is negative");
    if (c.bundles > c.arcs) {
      return refuse("bundle count", c.bundles,
                    "is more than the arc count " + std::to_string(c.arcs));
    }
    return {};
  });
  if (!read.ok()) return read.take_error();
  if (read.value() == 0) return invalid(nod.path() + ": holds no counts");
  KORVANE_TRY(nod.drain());
  return c;
}

Result<std::vector<double>> read_bundle_capacities(RecordStream& mut, int64_t bundles,
                                                   const std::string& nod_path) {
  const FieldSpec fields[] = {{"bundle label", FieldKind::kAny},
                              {"bundle capacity", FieldKind::kReal}};
  const auto count = static_cast<uint64_t>(bundles);
  std::vector<double> capacities;
  // At least 4 bytes a record ("1 2\n"); the declared count is only a hint.
  const std::size_t hint = std::min<uint64_t>(count, regular_file_size(mut.path()) / 4);
  capacities.reserve(hint + 1);
  capacities.push_back(0.0);
  auto read = mut.read(fields, count, [&](const FieldValue* v, uint64_t) -> Result<void> {
    capacities.push_back(v[1].r < 0 ? kUnbounded : v[1].r);
    return {};
  });
  if (!read.ok()) return read.take_error();
  if (read.value() < count) {
    return invalid(mut.path() + ": holds " + std::to_string(read.value()) +
                   " bundle records, fewer than the " + std::to_string(count) + " that " +
                   nod_path + " declares");
  }
  KORVANE_TRY(mut.drain());
  return capacities;
}

Result<void> check_table_cells(OpenedParts& parts, const std::string& where, uint64_t commodities,
                               uint64_t arcs, uint64_t nodes) {
  // cells = 2*K*m + K*n + m + n
  uint64_t km = 0, kn = 0, cells = 0;
  const bool overflow =
      __builtin_mul_overflow(commodities, arcs, &km) ||
      __builtin_mul_overflow(km, uint64_t{2}, &km) ||
      __builtin_mul_overflow(commodities, nodes, &kn) || __builtin_add_overflow(km, kn, &cells) ||
      __builtin_add_overflow(cells, arcs, &cells) || __builtin_add_overflow(cells, nodes, &cells);
  const std::string counts = where + ": " + std::to_string(commodities) + " commodities, " +
                             std::to_string(arcs) + " arcs and " + std::to_string(nodes) +
                             " nodes need ";
  if (overflow) return invalid(counts + "more table cells than 64 bits can count");
  // Each cell is 8 bytes, and no table can be larger than the address space.
  constexpr uint64_t kMaxCells = uint64_t{std::numeric_limits<std::ptrdiff_t>::max()} / 8;
  if (cells > kMaxCells) return invalid(counts + "more table cells than memory can address");
  const uint64_t needed =
      cells / kMaxCellsPerInputByte + (cells % kMaxCellsPerInputByte != 0 ? 1 : 0);
  uint64_t bytes = 0;
  for (RecordStream* part : {&parts.nod, &parts.arc, &parts.sup, &parts.mut}) {
    // What a part gave so far: a regular part's size (read_ahead reads nothing).
    auto taken = part->read_ahead(0);
    if (!taken.ok()) return taken.take_error();
    bytes += taken.value();
  }
  for (RecordStream* part : {&parts.nod, &parts.arc, &parts.sup, &parts.mut}) {
    if (bytes >= needed) break;
    auto before = part->read_ahead(0);
    if (!before.ok()) return before.take_error();
    auto after = part->read_ahead(before.value() + (needed - bytes));
    if (!after.ok()) return after.take_error();
    bytes += after.value() - before.value();
  }
  if (bytes < needed) {
    return invalid(counts + std::to_string(cells) + " table cells, more than " +
                   std::to_string(kMaxCellsPerInputByte) + " per byte of the " +
                   std::to_string(bytes) + " bytes of input");
  }
  return {};
}

}  // namespace korvane::detail
