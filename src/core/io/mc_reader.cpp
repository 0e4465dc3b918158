// Multi-commodity file reader: one pass over the lines (several ranges of a
// large file in parallel, merged in file order), tokens parsed in place into
// flat columns; parallel indices and pair order computed once at the end.
#include "core/io/mc_reader.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/base/huge_pages.h"
#include "core/io/file_io.h"
#include "core/graph/arc_order.h"
#include "core/graph/node_index.h"
#include "core/text/tokens.h"

namespace korvane {
namespace {

// What a declared arc count may reserve is bounded by what the file can hold:
// an arc line with at least one value per list, "a 1 2 0 1 1 1", takes 13 bytes
// (lines with two empty expanded lists are shorter, but then the bound only
// reserves less than they need), and each value a digit and a separator.
constexpr std::size_t kMinArcLineBytes = 13;
constexpr std::size_t kMinValueBytes = 2;

// Decimal text of a range end that may need 65 bits (start + count with both
// 64-bit), so the message states the true end even when it exceeds 2^64 - 1.
std::string range_end_message(uint64_t start, uint64_t count, std::size_t length) {
  uint64_t end = 0;
  if (!__builtin_add_overflow(start, count, &end)) return range_out_of_range_message(end, length);
  __extension__ using Wide = unsigned __int128;
  Wide wide = static_cast<Wide>(start) + count;
  std::string digits;
  while (wide != 0) {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(wide % 10)));
    wide /= 10;
  }
  return "range end index " + digits + " out of range for slice of length " +
         std::to_string(length);
}

// Grows `v` to hold `target` entries without reallocating, at least doubling
// (up to `limit`) so that many small hints cost amortised linear time.
template <class T>
void reserve_hint(std::vector<T>& v, std::size_t target, std::size_t limit) {
  if (target <= v.capacity()) return;
  v.reserve(std::max(target, std::min(v.capacity() * 2, limit)));
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}

// A node line as read, its amounts at raw_amounts[offset, offset + length).
struct NodeLine {
  int64_t node;
  int64_t total;
  uint64_t offset;
  uint64_t length;
};

// Node and arc lines are read with the K and list forms of the latest problem
// line. A range of a large file starts from those of the file's head (its lines
// before the first node or arc line) and holds when no problem line after the
// head changed them.
class MultiMinReader {
 public:
  MultiMinReader(std::size_t byte_count, const MultiMinReader* head)
      : size_known_(byte_count != 0),
        arc_limit_(byte_count / kMinArcLineBytes + 1),
        value_limit_(byte_count / kMinValueBytes + 1) {
    if (head == nullptr) return;
    record_.num_commodities = head->record_.num_commodities;
    capacities_expanded_ = head->capacities_expanded_;
    costs_expanded_ = head->costs_expanded_;
    reserve_for(head->record_.num_arcs);
  }

  bool continues(const MultiMinReader& before) const {
    return !saw_problem_line_ && before.record_.num_commodities == record_.num_commodities &&
           before.capacities_expanded_ == capacities_expanded_ &&
           before.costs_expanded_ == costs_expanded_;
  }

  // The lines of the range after this one, which continues() accepted: columns,
  // segments, node lines and node ids appended in file order.
  void append(MultiMinReader&& later) {
    auto& r = record_;
    auto& l = later.record_;
    for (const ArcSegment& s : l.segments) {
      if (!r.segments.empty() && r.segments.back().num_commodities == s.num_commodities &&
          r.segments.back().capacities_expanded == s.capacities_expanded &&
          r.segments.back().costs_expanded == s.costs_expanded) {
        continue;
      }
      r.segments.push_back(ArcSegment{s.first_arc + r.tails.size(), s.num_commodities,
                                      s.capacities_expanded, s.costs_expanded,
                                      s.capacity_base + r.capacity_values.size(),
                                      s.cost_base + r.cost_values.size()});
    }
    for (auto [to, from] : {std::pair{&r.tails, &l.tails}, std::pair{&r.heads, &l.heads},
                            std::pair{&r.ups, &l.ups},
                            std::pair{&r.capacity_values, &l.capacity_values},
                            std::pair{&r.cost_values, &l.cost_values}}) {
      to->insert(to->end(), from->begin(), from->end());
      std::vector<int64_t>().swap(*from);
    }
    const uint64_t shift = raw_amounts_.size();
    for (NodeLine line : later.node_lines_) {
      line.offset += shift;
      node_lines_.push_back(line);
    }
    raw_amounts_.insert(raw_amounts_.end(), later.raw_amounts_.begin(), later.raw_amounts_.end());
    for (const int64_t id : l.nodes) nodes_.place(id, r.nodes);
  }

  // Handles one line.
  Result<void> line(std::string_view text) {
    const std::string_view trimmed = trim_white_space(text);
    if (trimmed.empty() || trimmed[0] == 'c') return {};
    // Node and arc lines of plain integers (all that a written file holds) are
    // read in one scan; anything else, errors included, takes the general route.
    if (trimmed.size() > 1 && (trimmed[0] == 'a' || trimmed[0] == 'n') &&
        trimmed[1] == ' ') {
      const std::size_t count = scanner_.scan(trimmed.substr(1));
      if (count != kNotShortIntegers &&
          (trimmed[0] == 'a' ? short_arc_line(count) : short_node_line(count))) {
        return {};
      }
    }
    split_fields(trimmed, tokens_);
    const std::string_view kind = tokens_[0];
    if (kind.size() != 1) return {};
    switch (kind[0]) {
      case 'p':
        return problem_line();
      case 'n':
        return node_line();
      case 'a':
        return arc_line();
      default:
        return {};
    }
  }

  // Completes the record after the last line; fails when an arc's lists are
  // shorter than the final K.
  Result<void> finish() {
    KORVANE_TRY(check_list_lengths());
    order_pairs();
    collect_node_lines();
    return {};
  }

  ParsedMulticommodityInstance& record() { return record_; }

 private:
  Error missing(std::size_t index) const {
    return internal(index_out_of_range_message(index, tokens_.size()));
  }
  static Error bad_integer(IntStatus status) {
    return reported(std::string(int_status_message(status)));
  }

  // "Take token i": the token must exist, then parse as the field's type.
  Result<void> take_i64(std::size_t i, int64_t& out) const {
    if (i >= tokens_.size()) return missing(i);
    const IntStatus status = parse_i64_to(tokens_[i], out);
    if (status != IntStatus::kOk) return bad_integer(status);
    return {};
  }
  Result<void> take_u64(std::size_t i, uint64_t& out) const {
    if (i >= tokens_.size()) return missing(i);
    const IntStatus status = parse_u64_to(tokens_[i], out);
    if (status != IntStatus::kOk) return bad_integer(status);
    return {};
  }
  Result<void> take_f64(std::size_t i, double& out) const {
    if (i >= tokens_.size()) return missing(i);
    if (!parse_f64_to(tokens_[i], out)) return reported(std::string(kInvalidFloatMessage));
    return {};
  }
  // Tokens [start, start + count) as signed, appended to `out`; the whole range
  // must exist before any of it is parsed. `start` never exceeds the token count.
  Result<void> take_range(std::size_t start, uint64_t count, std::vector<int64_t>& out) const {
    const std::size_t length = tokens_.size();
    if (count > length - start) return internal(range_end_message(start, count, length));
    const std::size_t base = out.size();
    out.resize(base + count);
    int64_t* dest = out.data() + base;
    for (std::size_t i = 0; i < count; ++i) {
      const IntStatus status = parse_i64_to(tokens_[start + i], dest[i]);
      if (status != IntStatus::kOk) return bad_integer(status);
    }
    return {};
  }

  Result<void> problem_line() {
    int64_t num_nodes = 0, num_arcs = 0, rc = 0, rw = 0, method = 0, cz = 0;
    uint64_t k = 0, seed = 0;
    double cap_zero_param = 0.0;
    // Token order: 2, 3, 4, the presence of 10, then 10, 5, 6, 7, 8, 9.
    KORVANE_TRY(take_i64(2, num_nodes));
    KORVANE_TRY(take_i64(3, num_arcs));
    KORVANE_TRY(take_u64(4, k));
    if (tokens_.size() < 11) return missing(10);
    KORVANE_TRY(take_u64(10, seed));
    KORVANE_TRY(take_i64(5, rc));
    KORVANE_TRY(take_i64(6, rw));
    KORVANE_TRY(take_i64(7, method));
    KORVANE_TRY(take_i64(8, cz));
    KORVANE_TRY(take_f64(9, cap_zero_param));
    record_.num_nodes = num_nodes;
    record_.num_arcs = num_arcs;
    record_.num_commodities = k;
    record_.randomized_capacities = rc != 0;
    record_.randomized_weights = rw != 0;
    record_.method = method;
    record_.cap_zero = cz != 0;
    record_.cap_zero_param = cap_zero_param;
    record_.seed = seed;
    saw_problem_line_ = true;
    capacities_expanded_ = rc != 0 || cz != 0;
    costs_expanded_ = rw != 0;
    layout_changed_ = true;
    reserve_for(num_arcs);
    return {};
  }

  // The declared arc count only pre-sizes the columns, clamped by what the file
  // can hold, so a wrong or hostile declaration changes nothing that is read.
  void reserve_for(int64_t declared_arcs) {
    if (declared_arcs <= 0 || !size_known_) return;
    const std::size_t have = record_.tails.size();
    const std::size_t arcs =
        std::min(have + std::min(static_cast<uint64_t>(declared_arcs), uint64_t{arc_limit_}),
                 arc_limit_);
    if (arcs <= have) return;
    reserve_hint(record_.tails, arcs, arc_limit_);
    reserve_hint(record_.heads, arcs, arc_limit_);
    reserve_hint(record_.ups, arcs, arc_limit_);
    const uint64_t k = record_.num_commodities;
    auto values_for = [&](const std::vector<int64_t>& values, bool expanded) {
      const uint64_t stride = expanded ? k : 1;
      uint64_t more = 0;
      if (__builtin_mul_overflow(uint64_t{arcs - have}, stride, &more)) more = value_limit_;
      return std::min(values.size() + std::min(more, uint64_t{value_limit_}), value_limit_);
    };
    reserve_hint(record_.capacity_values,
                 values_for(record_.capacity_values, capacities_expanded_), value_limit_);
    reserve_hint(record_.cost_values, values_for(record_.cost_values, costs_expanded_),
                 value_limit_);
  }

  Result<void> node_line() {
    int64_t node = 0, total = 0;
    KORVANE_TRY(take_i64(1, node));
    KORVANE_TRY(take_i64(2, total));
    const std::size_t count = tokens_.size() - 3;
    const uint64_t offset = raw_amounts_.size();
    KORVANE_TRY(take_range(3, count, raw_amounts_));
    node_lines_.push_back(NodeLine{node, total, offset, count});
    nodes_.place(node, record_.nodes);
    return {};
  }

  // A node line of `count` plain integers (tokens 1..count) in the scanner.
  // Returns false, changing nothing, when a token is missing.
  bool short_node_line(std::size_t count) {
    if (count < 2) return false;
    const int64_t* v = scanner_.values();
    const uint64_t offset = raw_amounts_.size();
    raw_amounts_.insert(raw_amounts_.end(), v + 2, v + count);
    node_lines_.push_back(NodeLine{v[0], v[1], offset, count - 2});
    nodes_.place(v[0], record_.nodes);
    return true;
  }

  // An arc line of `count` plain integers (tokens 1..count, token i at
  // values()[i - 1] of the scanner). Returns false, changing nothing, when a
  // token is missing.
  bool short_arc_line(std::size_t count) {
    const uint64_t k = record_.num_commodities;
    if (count < 4) return false;
    const std::size_t after_up = count - 4;  // tokens from 5 on
    const uint64_t capacity_count = capacities_expanded_ ? k : 1;
    if (capacity_count > after_up) return false;
    const uint64_t cost_count = costs_expanded_ ? k : 1;
    if (cost_count > after_up - capacity_count) return false;
    if (layout_changed_) start_segment();
    const int64_t* v = scanner_.values();
    const int64_t* capacities = v + 4;
    const int64_t* costs = capacities + capacity_count;
    record_.capacity_values.insert(record_.capacity_values.end(), capacities, costs);
    record_.cost_values.insert(record_.cost_values.end(), costs, costs + cost_count);
    add_arc(v[0], v[1], v[3]);
    return true;
  }

  void add_arc(int64_t tail, int64_t head, int64_t up) {
    record_.tails.push_back(tail);
    record_.heads.push_back(head);
    record_.ups.push_back(up);
    nodes_.place(tail, record_.nodes);
    nodes_.place(head, record_.nodes);
  }

  Result<void> arc_line() {
    int64_t tail = 0, head = 0, up = 0;
    KORVANE_TRY(take_i64(1, tail));
    KORVANE_TRY(take_i64(2, head));
    KORVANE_TRY(take_i64(4, up));
    if (layout_changed_) start_segment();
    const uint64_t k = record_.num_commodities;
    std::size_t next = 6;
    if (capacities_expanded_) {
      KORVANE_TRY(take_range(5, k, record_.capacity_values));
      next = 5 + static_cast<std::size_t>(k);  // the range check bounds k by the token count
    } else {
      int64_t value = 0;
      KORVANE_TRY(take_i64(5, value));
      record_.capacity_values.push_back(value);
    }
    if (costs_expanded_) {
      KORVANE_TRY(take_range(next, k, record_.cost_values));
    } else {
      int64_t value = 0;
      KORVANE_TRY(take_i64(next, value));
      record_.cost_values.push_back(value);
    }
    add_arc(tail, head, up);
    return {};
  }

  // Arcs after a problem line start a new segment unless K and both list forms
  // are those of the segment before.
  void start_segment() {
    layout_changed_ = false;
    auto& segments = record_.segments;
    const uint64_t k = record_.num_commodities;
    if (!segments.empty() && segments.back().num_commodities == k &&
        segments.back().capacities_expanded == capacities_expanded_ &&
        segments.back().costs_expanded == costs_expanded_) {
      return;
    }
    segments.push_back(ArcSegment{record_.tails.size(), k, capacities_expanded_, costs_expanded_,
                                  record_.capacity_values.size(), record_.cost_values.size()});
  }

  // commodity_bundle_capacities needs entry k of every arc's capacity list for
  // each k < K. Commodity-major, the first failure is at the smallest list
  // length below K, on the first arc with that length: found per segment.
  Result<void> check_list_lengths() const {
    const uint64_t k = record_.num_commodities;
    const ArcSegment* shortest = nullptr;
    for (const ArcSegment& s : record_.segments) {
      if (s.num_commodities >= k) continue;
      if (shortest == nullptr || s.num_commodities < shortest->num_commodities) shortest = &s;
    }
    if (shortest == nullptr) return {};
    const uint64_t length = shortest->num_commodities;
    Error error = internal(index_out_of_range_message(length, length));
    // Lines are not kept past the read; the arc (counted from 1) says where.
    error.note = "arc " + std::to_string(shortest->first_arc + 1) + " of ";
    return error;
  }

  void order_pairs() {
    ArcOrder order = order_arcs(record_.tails, record_.heads, record_.nodes);
    record_.parallel_index = std::move(order.parallel_index);
    record_.pair_order = std::move(order.pair_order);
    record_.parallel = order.num_parallel_pairs != 0;
  }

  // Supplies and amount lists in ascending node order, the last line per node winning.
  void collect_node_lines() {
    std::stable_sort(node_lines_.begin(), node_lines_.end(),
                     [](const NodeLine& a, const NodeLine& b) { return a.node < b.node; });
    auto& entries = record_.supplies.entries;
    std::size_t total_values = 0;
    for (std::size_t i = 0; i < node_lines_.size(); ++i) {
      if (i + 1 < node_lines_.size() && node_lines_[i + 1].node == node_lines_[i].node) continue;
      total_values += node_lines_[i].length;
    }
    record_.amount_values.reserve(total_values);
    for (std::size_t i = 0; i < node_lines_.size(); ++i) {
      const NodeLine& line = node_lines_[i];
      if (i + 1 < node_lines_.size() && node_lines_[i + 1].node == line.node) continue;
      entries.emplace_back(line.node, line.total);
      const auto first = raw_amounts_.begin() + static_cast<std::ptrdiff_t>(line.offset);
      record_.amount_values.insert(record_.amount_values.end(), first,
                                   first + static_cast<std::ptrdiff_t>(line.length));
      record_.amount_offsets.push_back(record_.amount_values.size());
    }
  }

  const bool size_known_;  // false for pipes and other streams: no reservations
  const std::size_t arc_limit_;
  const std::size_t value_limit_;
  ParsedMulticommodityInstance record_;
  std::vector<std::string_view> tokens_;
  bool capacities_expanded_ = false;
  bool costs_expanded_ = false;
  bool layout_changed_ = true;
  bool saw_problem_line_ = false;
  ShortIntegerScanner scanner_;
  NodeIndex nodes_;
  std::vector<NodeLine> node_lines_;
  std::vector<int64_t> raw_amounts_;
};

}  // namespace

Result<ParsedMulticommodityInstance> parse_multi_min(std::string_view path,
                                                     std::size_t min_range_bytes) {
  auto read = read_lines<MultiMinReader>(path, min_range_bytes);
  if (!read.ok()) return read.take_error();
  auto finished = read.value().finish();
  if (!finished.ok()) {
    Error error = finished.take_error();
    error.note.append(path);
    return error;
  }
  return std::move(read.value().record());
}

}  // namespace korvane
