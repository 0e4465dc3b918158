// NETGEN's text, formatted with to_chars into one buffer handed to the
// BufferedWriter, and the NetworkInstance of the same network.
#include "core/netgen/netgen_writer.h"

#include <charconv>
#include <cstring>
#include <memory>
#include <algorithm>
#include <utility>
#include <vector>

#include "core/graph/arc_order.h"
#include "core/graph/node_index.h"

namespace korvane::netgen {
namespace {

// Appends text to a 64 KiB buffer and hands it to the writer when nearly full.
class TextOut {
 public:
  explicit TextOut(BufferedWriter& writer)
      : writer_(writer), buffer_(std::make_unique<char[]>(kSize)) {}

  // Room for one line of at most kLineRoom bytes.
  static constexpr std::size_t kLineRoom = 128;
  Result<void> room() {
    if (kSize - used_ < kLineRoom) return flush();
    return {};
  }
  // Any length: the header is longer than one line.
  Result<void> text_long(std::string_view s) {
    while (!s.empty()) {
      if (used_ == kSize) KORVANE_TRY(flush());
      const std::size_t n = std::min(s.size(), kSize - used_);
      std::memcpy(buffer_.get() + used_, s.data(), n);
      used_ += n;
      s.remove_prefix(n);
    }
    return {};
  }
  void text(std::string_view s) {
    std::memcpy(buffer_.get() + used_, s.data(), s.size());
    used_ += s.size();
  }
  void number(int64_t v) {
    char* base = buffer_.get();
    used_ = static_cast<std::size_t>(std::to_chars(base + used_, base + kSize, v).ptr - base);
  }
  void put(char c) { buffer_[used_++] = c; }
  Result<void> flush() {
    if (used_ == 0) return {};
    const std::size_t n = std::exchange(used_, 0);
    return writer_.write(std::string_view(buffer_.get(), n));
  }

 private:
  static constexpr std::size_t kSize = std::size_t{1} << 16;
  BufferedWriter& writer_;
  std::size_t used_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// C's "%<width>ld": right-aligned, a longer number printed whole.
void padded(std::string& out, int64_t value, std::size_t width) {
  char digits[24];
  const auto* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<std::size_t>(end - digits);
  if (length < width) out.append(width - length, ' ');
  out.append(digits, length);
}

void labelled(std::string& out, std::string_view label, int64_t value, bool percent = false) {
  out += label;
  out.append(26 - label.size(), ' ');
  padded(out, value, 10);
  if (percent) out += '%';
  out += '\n';
}

const char* body_title(ProblemType type) {
  switch (type) {
    case ProblemType::kMinCost: return "c\nc  *** Minimum cost flow ***\nc\np min ";
    case ProblemType::kMaxFlow: return "c\nc  *** Maximum flow ***\nc\np max ";
    case ProblemType::kAssignment: return "c\nc  *** Assignment ***\nc\np asn ";
  }
  return "";
}

// Everything before the arcs: header, title, problem line, node lines.
Result<void> write_front(TextOut& out, const Params& params, ProblemType type,
                         std::span<const int64_t> balance, uint64_t arc_count) {
  KORVANE_TRY(out.text_long(header_text(params)));
  KORVANE_TRY(out.text_long(body_title(type)));
  out.number(params.nodes);
  out.put(' ');
  out.number(static_cast<int64_t>(arc_count));
  out.put('\n');
  CancelCheck cancel;
  for (std::size_t id = 1; id < balance.size(); ++id) {
    const int64_t b = balance[id];
    if (b == 0 || (type == ProblemType::kAssignment && b < 0)) continue;
    KORVANE_TRY(out.room());
    out.text("n ");
    out.number(static_cast<int64_t>(id));
    if (type == ProblemType::kMinCost) {
      out.put(' ');
      out.number(b);
    } else if (type == ProblemType::kMaxFlow) {
      out.text(b > 0 ? " s" : " t");
    }
    out.put('\n');
    if (cancel.requested()) return cancelled();
  }
  return {};
}

Result<void> write_arcs(TextOut& out, ProblemType type, std::span<const Arc> arcs) {
  for (const Arc& arc : arcs) {
    KORVANE_TRY(out.room());
    out.text("a ");
    out.number(arc.tail);
    out.put(' ');
    out.number(arc.head);
    out.put(' ');
    if (type == ProblemType::kMinCost) {
      out.text("0 ");
      out.number(arc.capacity);
      out.put(' ');
      out.number(arc.cost);
    } else if (type == ProblemType::kMaxFlow) {
      out.number(arc.capacity);
    } else {
      out.number(arc.cost);
    }
    out.put('\n');
  }
  return {};
}

bool streams(const Params& params, Holding holding) {
  return holding == Holding::kStreamed ||
         (holding == Holding::kAuto && params.arcs > kStreamAboveArcs);
}

// An arc count to reserve for: the request, which the result is usually close to.
std::size_t expected_arcs(const Params& params) {
  return static_cast<std::size_t>(std::max<int64_t>(params.arcs, 0));
}

Result<uint64_t> finish(TextOut& out, BufferedWriter& writer, uint64_t arc_count) {
  KORVANE_TRY(out.flush());
  KORVANE_TRY(writer.commit());
  return arc_count;
}

}  // namespace

Result<uint64_t> write_netgen(std::string_view path, const Params& params, const Limits& limits,
                              Compression compression, Holding holding) {
  KORVANE_TRY(validate(params, limits));
  const ProblemType type = problem_type(params);
  // About 24 bytes per arc line: enough to tell the writer it is worth a thread.
  const uint64_t expected_bytes = 24 * static_cast<uint64_t>(expected_arcs(params));
  if (!streams(params, holding)) {
    // One run into memory; the file is created only once it succeeded.
    Generator generator(params);
    std::vector<Arc> arcs;
    arcs.reserve(expected_arcs(params));
    const ArcSink keep = [&](std::span<const Arc> chunk) -> Result<void> {
      arcs.insert(arcs.end(), chunk.begin(), chunk.end());
      return {};
    };
    KORVANE_TRY(generator.generate(keep));
    auto created = BufferedWriter::create(path, compression);
    if (!created.ok()) return created.take_error();
    BufferedWriter& writer = created.value();
    writer.write_behind(expected_bytes);
    TextOut out(writer);
    KORVANE_TRY(write_front(out, params, type, generator.balances(), generator.arc_count()));
    CancelCheck cancel;
    constexpr std::size_t kStep = std::size_t{1} << 14;
    for (std::size_t i = 0; i < arcs.size(); i += kStep) {
      const std::size_t n = std::min(kStep, arcs.size() - i);
      KORVANE_TRY(write_arcs(out, type, std::span<const Arc>(arcs).subspan(i, n)));
      if (cancel.requested(n)) return cancelled();
    }
    return finish(out, writer, generator.arc_count());
  }
  // Streamed: the first run settles what comes before the arcs (and meets any
  // refusal before a file is created); the second writes each arc as made.
  Generator counting(params);
  const ArcSink drop = [](std::span<const Arc>) -> Result<void> { return {}; };
  KORVANE_TRY(counting.generate(drop));
  auto created = BufferedWriter::create(path, compression);
  if (!created.ok()) return created.take_error();
  BufferedWriter& writer = created.value();
  writer.write_behind(expected_bytes);
  TextOut out(writer);
  KORVANE_TRY(write_front(out, params, type, counting.balances(), counting.arc_count()));
  Generator writing(params);
  const ArcSink write = [&](std::span<const Arc> chunk) { return write_arcs(out, type, chunk); };
  KORVANE_TRY(writing.generate(write));
  if (writing.arc_count() != counting.arc_count()) {
    return internal("NETGEN's second run made another number of arcs");
  }
  return finish(out, writer, writing.arc_count());
}

Result<NetworkInstance> netgen_instance(const Params& params, const Limits& limits) {
  KORVANE_TRY(validate(params, limits));
  const bool unit_capacities = problem_type(params) == ProblemType::kAssignment;
  NetworkInstance inst;
  for (auto* column : {&inst.tails, &inst.heads, &inst.ups, &inst.costs}) {
    column->reserve(expected_arcs(params));
  }
  const ArcSink keep = [&](std::span<const Arc> chunk) -> Result<void> {
    for (const Arc& arc : chunk) {
      inst.tails.push_back(arc.tail);
      inst.heads.push_back(arc.head);
      inst.ups.push_back(unit_capacities ? 1 : arc.capacity);
      inst.costs.push_back(arc.cost);
    }
    return {};
  };
  Generator generator(params);
  KORVANE_TRY(generator.generate(keep));
  inst.num_nodes = params.nodes;
  inst.num_arcs = static_cast<int64_t>(generator.arc_count());
  inst.lows.assign(inst.tails.size(), 0);
  // The reader's order of first appearance: node lines (ascending ids with a
  // balance), then the ids the arcs name.
  NodeIndex placed;
  placed.reserve_dense(static_cast<uint64_t>(params.nodes) + 1);
  const std::vector<int64_t>& balance = generator.balances();
  for (std::size_t id = 1; id < balance.size(); ++id) {
    if (balance[id] == 0) continue;
    inst.supplies.entries.emplace_back(static_cast<int64_t>(id), balance[id]);
    placed.place(static_cast<int64_t>(id), inst.nodes);
  }
  for (std::size_t i = 0; i < inst.tails.size(); ++i) {
    placed.place(inst.tails[i], inst.nodes);
    placed.place(inst.heads[i], inst.nodes);
  }
  Result<ArcOrder> order = order_arcs(inst.tails, inst.heads, inst.nodes);
  if (!order.ok()) return order.take_error();
  inst.parallel_index = std::move(order.value().parallel_index);
  inst.pair_order = std::move(order.value().pair_order);
  inst.num_parallel_arc_pairs = order.value().num_parallel_pairs;
  return inst;
}

std::string header_text(const Params& p) {
  std::string out = "c NETGEN flow network generator (C version)\nc  Problem ";
  padded(out, p.problem, 2);
  out += " input parameters\nc  ---------------------------\n";
  labelled(out, "c   Random seed:", p.seed);
  labelled(out, "c   Number of nodes:", p.nodes);
  labelled(out, "c   Source nodes:", p.sources);
  labelled(out, "c   Sink nodes:", p.sinks);
  labelled(out, "c   Number of arcs:", p.arcs);
  labelled(out, "c   Minimum arc cost:", p.min_cost);
  labelled(out, "c   Maximum arc cost:", p.max_cost);
  labelled(out, "c   Total supply:", p.supply);
  out += "c   Transshipment -\n";
  labelled(out, "c     Sources:", p.transshipment_sources);
  labelled(out, "c     Sinks:", p.transshipment_sinks);
  out += "c   Skeleton arcs -\n";
  labelled(out, "c     With max cost:", p.max_cost_percent, true);
  labelled(out, "c     Capacitated:", p.capacitated_percent, true);
  labelled(out, "c   Minimum arc capacity:", p.min_capacity);
  labelled(out, "c   Maximum arc capacity:", p.max_capacity);
  return out;
}

}  // namespace korvane::netgen
