// The DIMACS .min reader: one pass over the lines (several ranges of a large
// file in parallel, merged in file order), values appended to flat columns,
// node ids placed through NodeIndex; parallel indices and arc_indices are
// computed once at the end (arc_order.h).
#include "core/formats/min_reader.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/huge_pages.h"
#include "core/base/parallel.h"
#include "core/io/file_io.h"
#include "core/graph/arc_order.h"
#include "core/graph/node_index.h"
#include "core/text/tokens.h"

namespace korvane {
namespace {

// The shortest arc line ("a 1 2 0 0 0" and its line feed) bounds how many arcs a
// file can hold, whatever its problem line declares.
constexpr std::size_t kMinArcLineBytes = 12;
// "n 1 0" and its line feed; an arc line names at most two new ids in 12 bytes.
constexpr std::size_t kMinNodeLineBytes = 6;

// What follows the last line: the arrangements computed once from the columns,
// and the supplies sorted, a later entry for an id replacing an earlier one.
Result<NetworkInstance> finish_network(NetworkInstance&& inst) {
  Result<ArcOrder> ordered = order_arcs(inst.tails, inst.heads, inst.nodes);
  if (!ordered.ok()) return ordered.take_error();
  ArcOrder& order = ordered.value();
  inst.parallel_index = std::move(order.parallel_index);
  inst.pair_order = std::move(order.pair_order);
  inst.num_parallel_arc_pairs = order.num_parallel_pairs;
  inst.supplies.sort_last_wins();
  return std::move(inst);
}

// No line's meaning depends on the lines before it, so a range of a large file
// is read on its own; the problem line's declarations only size the columns.
class MinReader {
 public:
  MinReader(std::size_t byte_count, const MinReader* head) : file_size_(byte_count) {
    if (head != nullptr && head->has_problem_) {
      reserve_declared(head->inst_.num_nodes, head->inst_.num_arcs);
    }
  }

  bool continues(const MinReader&) const { return true; }

  // The lines of the range after this one: columns, supplies and node ids
  // appended in file order, the later problem line winning. The pages the
  // columns grow into are first touched on all threads (see touch_pages).
  bool append(MinReader&& later, CancelCheck& cancel) {
    const std::size_t threads = thread_count();
    for (auto [to, from] : {std::pair{&inst_.tails, &later.inst_.tails},
                            std::pair{&inst_.heads, &later.inst_.heads},
                            std::pair{&inst_.lows, &later.inst_.lows},
                            std::pair{&inst_.ups, &later.inst_.ups},
                            std::pair{&inst_.costs, &later.inst_.costs}}) {
      to->reserve(to->size() + from->size());
      touch_pages(to->data() + to->size(), from->size() * sizeof(int64_t),
                  chunk_count(from->size(), threads, std::size_t{1} << 16));
      if (!append_polled(*to, std::span<const int64_t>(*from), cancel)) return false;
      std::vector<int64_t>().swap(*from);
    }
    auto& entries = inst_.supplies.entries;
    entries.insert(entries.end(), later.inst_.supplies.entries.begin(),
                   later.inst_.supplies.entries.end());
    const auto& ids = later.inst_.nodes;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      nodes_.place(ids[i], inst_.nodes);
      if (cancel.requested()) return false;
    }
    if (later.has_problem_) {
      has_problem_ = true;
      inst_.num_nodes = later.inst_.num_nodes;
      inst_.num_arcs = later.inst_.num_arcs;
    }
    return true;
  }

  Result<void> line(std::string_view text) {
    // Arc lines of plain integers (nearly every line of a large file) are read
    // in one scan, untrimmed: the scanner skips spaces and gives up on any other
    // white space. Anything else, errors included, takes the general route.
    if (text.size() > 1 && text[0] == 'a' && text[1] == ' ') {
      const std::size_t count = scanner_.scan(text.substr(1));
      if (count != kNotShortIntegers && count >= 5) {
        add_arc(scanner_.values());
        return {};
      }
    }
    const std::string_view trimmed = trim_white_space(text);
    if (trimmed.empty() || trimmed.front() == 'c') return {};
    split_fields(trimmed, fields_);
    if (fields_[0].size() != 1) return {};
    switch (fields_[0][0]) {
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

  Result<NetworkInstance> finish() && { return finish_network(std::move(inst_)); }
  bool has_problem() const { return has_problem_; }

 private:
  // Field `i` parsed as a signed integer; a missing field is an internal error
  // stated as an index past the end of the field list.
  Result<void> field(std::size_t i, int64_t& out) const {
    if (i >= fields_.size()) return internal(index_out_of_range_message(i, fields_.size()));
    const IntStatus status = parse_i64_to(fields_[i], out);
    if (status != IntStatus::kOk) return reported(std::string(int_status_message(status)));
    return {};
  }

  Result<void> problem_line() {
    // Field 1 (the problem name) is never read, so a short line misses field 2 first.
    KORVANE_TRY(field(2, inst_.num_nodes));
    int64_t arcs = 0;
    KORVANE_TRY(field(3, arcs));
    inst_.num_arcs = arcs;
    has_problem_ = true;
    reserve_declared(inst_.num_nodes, arcs);
    return {};
  }

  // The declarations are only sizing hints: never more than the bytes can hold.
  void reserve_declared(int64_t num_nodes, int64_t arcs) {
    // Node ids are usually 1..num_nodes; let them index the direct table at once.
    // The hint is capped by the ids the file can name (a line naming a new id
    // takes at least kMinNodeLineBytes), so a wild declaration costs nothing.
    if (num_nodes > 0) {
      nodes_.reserve_dense(
          std::min(static_cast<uint64_t>(num_nodes), file_size_ / kMinNodeLineBytes) + 1);
    }
    const std::size_t cap = file_size_ / kMinArcLineBytes + 1;
    const std::size_t more = arcs <= 0 ? 0 : std::min(static_cast<std::size_t>(arcs), cap);
    reserve(inst_.tails.size() + more);
  }

  Result<void> node_line() {
    int64_t id = 0, supply = 0;
    KORVANE_TRY(field(1, id));
    KORVANE_TRY(field(2, supply));
    inst_.supplies.entries.emplace_back(id, supply);
    nodes_.place(id, inst_.nodes);
    return {};
  }

  Result<void> arc_line() {
    int64_t v[5];
    for (std::size_t i = 0; i < 5; ++i) KORVANE_TRY(field(i + 1, v[i]));
    add_arc(v);
    return {};
  }

  // Appends the arc (tail, head, low, up, cost) = v[0..5).
  void add_arc(const int64_t* v) {
    inst_.tails.push_back(v[0]);
    inst_.heads.push_back(v[1]);
    inst_.lows.push_back(v[2]);
    inst_.ups.push_back(v[3]);
    inst_.costs.push_back(v[4]);
    nodes_.place(v[0], inst_.nodes);
    nodes_.place(v[1], inst_.nodes);
  }

  void reserve(std::size_t n) {
    for (auto* column : {&inst_.tails, &inst_.heads, &inst_.lows, &inst_.ups, &inst_.costs}) {
      column->reserve(n);
      advise_huge_pages(column->data(), column->capacity() * sizeof(int64_t));
    }
  }

  std::size_t file_size_;
  bool has_problem_ = false;
  NetworkInstance inst_;
  NodeIndex nodes_;
  std::vector<std::string_view> fields_;
  ShortIntegerScanner scanner_;
};

}  // namespace

Result<NetworkInstance> parse_min(std::string_view path, std::size_t min_range_bytes) {
  auto read = read_lines<MinReader>(path, min_range_bytes);
  if (!read.ok()) return read.take_error();
  return std::move(read.value()).finish();
}

Result<MinRead> read_min(std::string_view path, std::size_t min_range_bytes) {
  auto read = read_lines<MinReader>(path, min_range_bytes);
  if (!read.ok()) return read.take_error();
  const bool has_problem = read.value().has_problem();
  Result<NetworkInstance> finished = std::move(read.value()).finish();
  if (!finished.ok()) return finished.take_error();
  return MinRead{std::move(finished.value()), has_problem};
}

Result<NetworkInstance> network_from_columns(const NetworkColumns& columns) {
  const std::size_t e = columns.tails.size();
  if (columns.heads.size() != e || columns.lows.size() != e || columns.ups.size() != e ||
      columns.costs.size() != e) {
    return reported("tails, heads, lows, capacities and costs must have the same length, got " +
                    std::to_string(e) + ", " + std::to_string(columns.heads.size()) + ", " +
                    std::to_string(columns.lows.size()) + ", " +
                    std::to_string(columns.ups.size()) + " and " +
                    std::to_string(columns.costs.size()));
  }
  if (columns.supply_nodes.size() != columns.supplies.size()) {
    return reported("supply nodes and amounts must have the same length, got " +
                    std::to_string(columns.supply_nodes.size()) + " and " +
                    std::to_string(columns.supplies.size()));
  }
  NetworkInstance inst;
  NodeIndex placed;
  // Node lines come first in the equivalent file, then the arcs in position order.
  inst.supplies.entries.reserve(columns.supplies.size());
  for (std::size_t i = 0; i < columns.supplies.size(); ++i) {
    inst.supplies.entries.emplace_back(columns.supply_nodes[i], columns.supplies[i]);
    placed.place(columns.supply_nodes[i], inst.nodes);
  }
  for (std::size_t i = 0; i < e; ++i) {
    placed.place(columns.tails[i], inst.nodes);
    placed.place(columns.heads[i], inst.nodes);
  }
  inst.tails.assign(columns.tails.begin(), columns.tails.end());
  inst.heads.assign(columns.heads.begin(), columns.heads.end());
  inst.lows.assign(columns.lows.begin(), columns.lows.end());
  inst.ups.assign(columns.ups.begin(), columns.ups.end());
  inst.costs.assign(columns.costs.begin(), columns.costs.end());
  inst.num_nodes = columns.num_nodes.value_or(static_cast<int64_t>(inst.nodes.size()));
  inst.num_arcs = static_cast<int64_t>(e);
  return finish_network(std::move(inst));
}

}  // namespace korvane
