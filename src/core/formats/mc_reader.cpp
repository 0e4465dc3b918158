// Multi-commodity file reader: one pass over the lines (several ranges of a
// large file in parallel, each writing its arcs into their final place), tokens
// parsed in place into flat columns; parallel indices and pair order computed
// once at the end.
#include "core/formats/mc_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/base/big_vector.h"
#include "core/base/cancel.h"
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

// One column of the record as a reader fills it, through a cursor: either into
// a table of its own, which grows as values come, or into a window of the final
// table that the counting pass sized for the reader's range, which never grows.
class Column {
 public:
  Column() = default;
  Column(Column&&) noexcept = default;
  Column& operator=(Column&&) noexcept = default;

  // Values written so far.
  std::size_t size() const { return static_cast<std::size_t>(at_ - first_); }

  // Sets `out` to where `n` more values go; false when a window has no room
  // left. No values always fit, even in a column that holds no table yet (an
  // expanded list of K = 0), whose `out` is then null and never written.
  bool extend(std::size_t n, int64_t*& out) {
    if (static_cast<std::size_t>(end_ - at_) < n && !grow(n)) return false;
    out = at_;
    at_ += n;
    return true;
  }
  bool push(int64_t value) {
    int64_t* out = nullptr;
    if (!extend(1, out)) return false;
    *out = value;
    return true;
  }

  // Lets an own table hold `target` values without moving, at least doubling
  // (up to `limit`) so that many small hints cost amortised linear time.
  void reserve(std::size_t target, std::size_t limit) {
    if (table_ != nullptr || target <= own_.size()) return;
    move_to_own(std::max(target, std::min(own_.size() * 2, limit)));
  }

  // Writes go to table[begin, begin + count) from now on. The column is empty.
  void place(BigVector<int64_t>& table, std::size_t begin, std::size_t count) {
    table_ = &table;
    first_ = at_ = table.data() + begin;
    end_ = first_ + count;
  }

  // Appends the values of `later`, which it gives up: nothing is copied when
  // later's window starts where this one's values end.
  void append(Column&& later) {
    const std::size_t n = later.size();
    if (table_ != nullptr && later.table_ == table_ && later.first_ == at_) {
      at_ = later.at_;
      end_ = later.end_;
    } else if (n != 0) {
      // Windows that do not join (a range added less than counted) are copied.
      if (table_ != nullptr) move_to_own(size() + n);
      int64_t* out = nullptr;
      extend(n, out);  // an own table grows
      std::memcpy(out, later.first_, n * sizeof(int64_t));
    }
    later = Column();
  }

  // The values written, as a table of exactly that size.
  BigVector<int64_t> take() {
    if (table_ != nullptr && (first_ != table_->data() || size() != table_->size())) {
      move_to_own(size());
    }
    BigVector<int64_t> out = table_ != nullptr ? std::move(*table_) : std::move(own_);
    out.resize(size());
    *this = Column();
    return out;
  }

 private:
  // An own table is always sized to its capacity: BigVector leaves new
  // entries unwritten, and entries at and past the cursor are never read.
  bool grow(std::size_t n) {
    if (table_ != nullptr) return false;
    move_to_own(std::max({size() + n, own_.size() * 2, std::size_t{256}}));
    return true;
  }
  void move_to_own(std::size_t capacity) {
    const std::size_t used = size();
    BigVector<int64_t> table;
    table.resize(capacity);
    if (used != 0) std::memcpy(table.data(), first_, used * sizeof(int64_t));
    own_.swap(table);
    table_ = nullptr;
    first_ = own_.data();
    at_ = first_ + used;
    end_ = first_ + capacity;
  }

  BigVector<int64_t> own_;
  BigVector<int64_t>* table_ = nullptr;  // the shared final table of a window
  int64_t* first_ = nullptr;
  int64_t* at_ = nullptr;
  int64_t* end_ = nullptr;
};

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
  using Tally = MultiMinTally;

  // The final arc columns, which every range fills in its own part of.
  struct Plan {
    BigVector<int64_t> tails, heads, ups, capacities, costs;
    std::vector<uint64_t> first_arcs;  // of each range, and the arc count last
    uint64_t capacity_stride = 0;      // values per arc
    uint64_t cost_stride = 0;
  };

  static void tally(std::string_view text, Tally& tally) { tally_multi_min_line(text, tally); }

  // Columns for the arcs the tallies counted, when every arc is read with the
  // head's K and list forms (no problem line after a node or arc line) and the
  // values fit what a file of `byte_count` bytes can hold; else nullptr.
  static std::shared_ptr<Plan> plan(const MultiMinReader& head, std::span<const Tally> tallies,
                                    std::size_t byte_count) {
    auto plan = std::make_shared<Plan>();
    uint64_t arcs = 0;
    for (const Tally& t : tallies) {
      if (t.problem_after_data) return nullptr;
      plan->first_arcs.push_back(arcs);
      arcs += t.arcs;
    }
    plan->first_arcs.push_back(arcs);
    const uint64_t k = head.record_.num_commodities;
    plan->capacity_stride = head.capacities_expanded_ ? k : 1;
    plan->cost_stride = head.costs_expanded_ ? k : 1;
    // Each value, like each line, takes at least two bytes: larger counts come
    // from lines the reader rejects, and are not worth allocating for.
    const uint64_t value_limit = byte_count / kMinValueBytes + 1;
    uint64_t capacities = 0, costs = 0;
    if (arcs == 0 || arcs > value_limit ||
        __builtin_mul_overflow(arcs, plan->capacity_stride, &capacities) ||
        __builtin_mul_overflow(arcs, plan->cost_stride, &costs) || capacities > value_limit ||
        costs > value_limit) {
      return nullptr;
    }
    // Entries are left unwritten here: each range's thread touches its own part first.
    for (auto [table, n] : {std::pair{&plan->tails, arcs}, std::pair{&plan->heads, arcs},
                            std::pair{&plan->ups, arcs}, std::pair{&plan->capacities, capacities},
                            std::pair{&plan->costs, costs}}) {
      table->resize(n);
    }
    return plan;
  }

  MultiMinReader(std::size_t byte_count, const MultiMinReader* head)
      : MultiMinReader(byte_count, head, nullptr, 0) {}

  // With a plan, range `range` writes its arcs into their place in the plan's
  // columns, and reserves nothing.
  MultiMinReader(std::size_t byte_count, const MultiMinReader* head, std::shared_ptr<Plan> plan,
                 std::size_t range)
      : size_known_(byte_count != 0 && plan == nullptr),
        arc_limit_(byte_count / kMinArcLineBytes + 1),
        value_limit_(byte_count / kMinValueBytes + 1),
        plan_(std::move(plan)) {
    if (plan_ != nullptr) {
      const uint64_t first = plan_->first_arcs[range];
      const uint64_t count = plan_->first_arcs[range + 1] - first;
      tails_.place(plan_->tails, first, count);
      heads_.place(plan_->heads, first, count);
      ups_.place(plan_->ups, first, count);
      capacities_.place(plan_->capacities, first * plan_->capacity_stride,
                        count * plan_->capacity_stride);
      costs_.place(plan_->costs, first * plan_->cost_stride, count * plan_->cost_stride);
    }
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
  bool append(MultiMinReader&& later, CancelCheck& cancel) {
    auto& r = record_;
    auto& l = later.record_;
    for (const ArcSegment& s : l.segments) {
      if (!r.segments.empty() && r.segments.back().num_commodities == s.num_commodities &&
          r.segments.back().capacities_expanded == s.capacities_expanded &&
          r.segments.back().costs_expanded == s.costs_expanded) {
        continue;
      }
      r.segments.push_back(ArcSegment{s.first_arc + tails_.size(), s.num_commodities,
                                      s.capacities_expanded, s.costs_expanded,
                                      s.capacity_base + capacities_.size(),
                                      s.cost_base + costs_.size()});
    }
    // Placed ranges join without a copy.
    for (auto [to, from] : {std::pair{&tails_, &later.tails_}, std::pair{&heads_, &later.heads_},
                            std::pair{&ups_, &later.ups_},
                            std::pair{&capacities_, &later.capacities_},
                            std::pair{&costs_, &later.costs_}}) {
      to->append(std::move(*from));
    }
    const uint64_t shift = raw_amounts_.size();
    for (NodeLine line : later.node_lines_) {
      line.offset += shift;
      node_lines_.push_back(line);
    }
    raw_amounts_.insert(raw_amounts_.end(), later.raw_amounts_.begin(), later.raw_amounts_.end());
    for (const int64_t id : l.nodes) {
      nodes_.place(id, r.nodes);
      if (cancel.requested()) return false;
    }
    return true;
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
        if (window_full_) return window_full();
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
    record_.tails = tails_.take();
    record_.heads = heads_.take();
    record_.ups = ups_.take();
    record_.capacity_values = capacities_.take();
    record_.cost_values = costs_.take();
    plan_.reset();
    KORVANE_TRY(check_list_lengths());
    KORVANE_TRY(order_pairs());
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
  // A range holds more arcs than its tally counted (the file changed between
  // the passes): the file is then read in one pass.
  static Error window_full() { return internal("more arcs than counted in a range"); }

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
    return parse_range(start, count, out.data() + base);
  }
  Result<void> take_range(std::size_t start, uint64_t count, Column& out) const {
    const std::size_t length = tokens_.size();
    if (count > length - start) return internal(range_end_message(start, count, length));
    int64_t* dest = nullptr;
    if (!out.extend(count, dest)) return window_full();
    return parse_range(start, count, dest);
  }
  Result<void> parse_range(std::size_t start, uint64_t count, int64_t* dest) const {
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
    const std::size_t have = tails_.size();
    const std::size_t arcs =
        std::min(have + std::min(static_cast<uint64_t>(declared_arcs), uint64_t{arc_limit_}),
                 arc_limit_);
    if (arcs <= have) return;
    tails_.reserve(arcs, arc_limit_);
    heads_.reserve(arcs, arc_limit_);
    ups_.reserve(arcs, arc_limit_);
    const uint64_t k = record_.num_commodities;
    auto values_for = [&](const Column& values, bool expanded) {
      const uint64_t stride = expanded ? k : 1;
      uint64_t more = 0;
      if (__builtin_mul_overflow(uint64_t{arcs - have}, stride, &more)) more = value_limit_;
      return std::min(values.size() + std::min(more, uint64_t{value_limit_}), value_limit_);
    };
    capacities_.reserve(values_for(capacities_, capacities_expanded_), value_limit_);
    costs_.reserve(values_for(costs_, costs_expanded_), value_limit_);
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
  // token is missing; sets window_full_ when a window has no room for the arc.
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
    int64_t* capacities_to = nullptr;
    int64_t* costs_to = nullptr;
    if (!capacities_.extend(capacity_count, capacities_to) ||
        !costs_.extend(cost_count, costs_to)) {
      window_full_ = true;
      return true;
    }
    std::copy(capacities, costs, capacities_to);
    std::copy(costs, costs + cost_count, costs_to);
    if (!add_arc(v[0], v[1], v[3])) window_full_ = true;
    return true;
  }

  // False when a window has no room for the arc.
  bool add_arc(int64_t tail, int64_t head, int64_t up) {
    if (!tails_.push(tail) || !heads_.push(head) || !ups_.push(up)) return false;
    nodes_.place(tail, record_.nodes);
    nodes_.place(head, record_.nodes);
    return true;
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
      KORVANE_TRY(take_range(5, k, capacities_));
      next = 5 + static_cast<std::size_t>(k);  // the range check bounds k by the token count
    } else {
      int64_t value = 0;
      KORVANE_TRY(take_i64(5, value));
      if (!capacities_.push(value)) return window_full();
    }
    if (costs_expanded_) {
      KORVANE_TRY(take_range(next, k, costs_));
    } else {
      int64_t value = 0;
      KORVANE_TRY(take_i64(next, value));
      if (!costs_.push(value)) return window_full();
    }
    if (!add_arc(tail, head, up)) return window_full();
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
    segments.push_back(ArcSegment{tails_.size(), k, capacities_expanded_, costs_expanded_,
                                  capacities_.size(), costs_.size()});
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

  Result<void> order_pairs() {
    Result<ArcOrder> ordered = order_arcs(record_.tails, record_.heads, record_.nodes);
    if (!ordered.ok()) return ordered.take_error();
    ArcOrder& order = ordered.value();
    record_.parallel_index = std::move(order.parallel_index);
    record_.pair_order = std::move(order.pair_order);
    record_.parallel = order.num_parallel_pairs != 0;
    return {};
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
  // The arc columns, moved into record_ by finish().
  std::shared_ptr<Plan> plan_;  // keeps the tables of placed columns
  Column tails_, heads_, ups_, capacities_, costs_;
  bool window_full_ = false;
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

void tally_multi_min_line(std::string_view text, MultiMinTally& tally) {
  const std::string_view trimmed = trim_white_space(text);
  if (trimmed.empty()) return;
  const char first = trimmed[0];
  if (first != 'a' && first != 'n' && first != 'p') return;
  // Whether the first token is that character alone.
  bool one = trimmed.size() == 1 || trimmed[1] == ' ';
  if (!one) {
    const std::string_view rest = trimmed.substr(1);
    one = trim_white_space(rest).data() != rest.data();
  }
  if (first == 'p') {
    tally.problem_after_data = tally.problem_after_data || (one && tally.data_seen);
    return;
  }
  // Like the head of the file, the node and arc lines start at a line starting with 'a' or 'n'.
  tally.data_seen = true;
  if (first == 'a' && one) ++tally.arcs;
}

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
