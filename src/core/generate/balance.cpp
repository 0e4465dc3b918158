// Commodity balancing by single-unit transfers at individual nodes, driven by two
// cursors (node and receiver) that persist from pass to pass. While one commodity
// holds the only surplus, passes repeat a fixed cycle until a share or a total
// reaches zero; such cycles are found by a dry run and applied in bulk.
#include "core/generate/balance.h"

#include <algorithm>
#include <vector>

#include "core/base/cancel.h"

namespace korvane {
namespace {

__extension__ typedef __int128 WideSum;  // no node count can overflow it

enum class NodeKind : signed char { kDemand, kTransit, kSupply, kMissing };

constexpr uint64_t kNoReceiver = UINT64_MAX;
// Largest dry run kept in memory (transfers of one cycle); longer cycles run pass by pass.
constexpr std::size_t kMaxCycleTransfers = std::size_t{1} << 22;

// Kinds in partition order, read off both ascending maps in one merge walk. A node
// missing from the supplies is only an error once the scan reaches it.
std::vector<NodeKind> node_kinds(const Partition& partition, const Supplies& supplies) {
  std::vector<NodeKind> kinds;
  kinds.reserve(partition.size());
  auto supply = supplies.begin();
  for (const auto& entry : partition) {
    while (supply != supplies.end() && supply->first < entry.first) ++supply;
    if (supply == supplies.end() || supply->first != entry.first) {
      kinds.push_back(NodeKind::kMissing);
    } else if (supply->second >= 1) {
      kinds.push_back(NodeKind::kSupply);
    } else {
      kinds.push_back(supply->second < 0 ? NodeKind::kDemand : NodeKind::kTransit);
    }
  }
  return kinds;
}

// Commodity totals, summed wide so that only a total that itself leaves int64 is refused.
Result<std::vector<int64_t>> commodity_totals(const Partition& partition, uint64_t k_count) {
  std::vector<WideSum> wide(k_count, 0);
  for (const auto& entry : partition) {
    for (uint64_t k = 0; k < k_count; ++k) wide[k] += entry.second[k];
  }
  std::vector<int64_t> totals(k_count);
  for (uint64_t k = 0; k < k_count; ++k) {
    if (wide[k] > INT64_MAX || wide[k] < INT64_MIN) {
      return internal(commodity_total_overflow_message(k));
    }
    totals[k] = static_cast<int64_t>(wide[k]);
  }
  return totals;
}

std::string share_overflow_message(uint64_t commodity, int64_t node) {
  return "share of commodity " + std::to_string(commodity) + " at node " + std::to_string(node) +
         " overflows a signed 64-bit integer";
}

// The whole state of a run; the node order is the partition's, fixed throughout.
struct Balancer {
  Partition& partition;
  std::vector<NodeKind> kinds;
  std::vector<int64_t> totals;
  std::vector<uint64_t> pos;  // commodities with a surplus, ascending
  std::vector<uint64_t> neg;  // commodities with a deficit, ascending
  std::size_t h = 0;          // node cursor, into partition order
  std::size_t q = 0;          // receiver cursor, into neg
  // Totals move by single units, so a commodity changes side only through zero:
  // pos and neg are updated only for the commodities whose total reached zero.
  std::vector<uint64_t> zeroed;
};

// The receiver of one unit from `d` at a node of kind `kind`, advancing the
// receiver cursor as a visit does; kNoReceiver when the node passes no unit.
uint64_t pick_receiver(NodeKind kind, const std::vector<int64_t>& shares, uint64_t d,
                       const std::vector<uint64_t>& neg, std::size_t& q) {
  if (kind == NodeKind::kSupply) {
    if (shares[d] <= 0) return kNoReceiver;
    const uint64_t r = neg[q];
    q = (q + 1) % neg.size();
    return r;
  }
  if (kind == NodeKind::kDemand) {
    // At most one round of the receiver list; a failed round leaves q where it was.
    for (std::size_t tries = 0; tries < neg.size(); ++tries) {
      const uint64_t candidate = neg[q];
      q = (q + 1) % neg.size();
      if (shares[candidate] < 0) return candidate;
    }
  }
  return kNoReceiver;
}

// One pass with donor `d`, unit by unit: at most one visit per node, ending when
// the donor's total reaches zero. Returns the number of units moved.
Result<uint64_t> run_pass(Balancer& b, uint64_t d) {
  const std::size_t num_nodes = b.kinds.size();
  uint64_t moved = 0;
  for (std::size_t visits = 0; visits < num_nodes; ++visits) {
    auto& [node, shares] = b.partition.entries[b.h];
    if (b.kinds[b.h] == NodeKind::kMissing) return internal("no entry found for key");
    const uint64_t r = pick_receiver(b.kinds[b.h], shares, d, b.neg, b.q);
    if (r != kNoReceiver) {
      if (shares[d] == INT64_MIN) return internal(share_overflow_message(d, node));
      if (shares[r] == INT64_MAX) return internal(share_overflow_message(r, node));
      // Totals cannot leave range: t_d > 0 falls and t_r < 0 rises.
      --shares[d];
      ++shares[r];
      --b.totals[d];
      ++b.totals[r];
      ++moved;
      if (b.totals[r] == 0) b.zeroed.push_back(r);
      if (b.totals[d] == 0) b.zeroed.push_back(d);
    }
    b.h = b.h + 1 == num_nodes ? 0 : b.h + 1;
    if (b.totals[d] == 0) break;
  }
  return moved;
}

// After a pass that moved nothing the state is unchanged, so only another donor
// can move a unit; it can when it holds a positive share at some supply node.
bool some_donor_can_move(const Balancer& b) {
  for (std::size_t v = 0; v < b.kinds.size(); ++v) {
    if (b.kinds[v] != NodeKind::kSupply) continue;
    for (const uint64_t d : b.pos) {
      if (b.partition.entries[v].second[d] > 0) return true;
    }
  }
  return false;
}

// A change of one share per repetition of a cycle: node position, commodity, units.
struct ShareStep {
  std::size_t node;
  uint64_t commodity;
  int64_t delta;
};

// A cycle of whole passes that ends with both cursors where it started.
struct Cycle {
  uint64_t passes = 0;
  uint64_t donor_units = 0;      // units the donor gives per cycle
  std::vector<ShareStep> steps;  // per (node, commodity), summed; sorted
};

// Dry run of passes with donor `d` from the current cursors, assuming every share
// keeps its sign. Succeeds when the receiver cursor comes back to its start within
// |neg| full passes, each moving a unit; `scratch` holds the transfers.
bool find_cycle(const Balancer& b, uint64_t d, std::vector<ShareStep>& scratch, Cycle& cycle) {
  scratch.clear();
  std::size_t q = b.q;
  const std::size_t num_nodes = b.kinds.size();
  for (uint64_t pass = 1; pass <= b.neg.size(); ++pass) {
    const std::size_t before = scratch.size();
    for (std::size_t i = 0, v = b.h; i < num_nodes; ++i, v = v + 1 == num_nodes ? 0 : v + 1) {
      if (b.kinds[v] == NodeKind::kMissing) return false;
      const uint64_t r = pick_receiver(b.kinds[v], b.partition.entries[v].second, d, b.neg, q);
      if (r == kNoReceiver) continue;
      if (scratch.size() + 2 > 2 * kMaxCycleTransfers) return false;
      scratch.push_back({v, d, -1});
      scratch.push_back({v, r, 1});
    }
    if (scratch.size() == before) return false;
    if (q == b.q) {
      cycle.passes = pass;
      cycle.donor_units = scratch.size() / 2;
      return true;
    }
  }
  return false;
}

// Sums the scratch transfers per (node, commodity) into the cycle's steps.
void summarise_cycle(std::vector<ShareStep>& scratch, Cycle& cycle) {
  std::sort(scratch.begin(), scratch.end(), [](const ShareStep& x, const ShareStep& y) {
    return x.node != y.node ? x.node < y.node : x.commodity < y.commodity;
  });
  cycle.steps.clear();
  for (const ShareStep& step : scratch) {
    if (!cycle.steps.empty() && cycle.steps.back().node == step.node &&
        cycle.steps.back().commodity == step.commodity) {
      cycle.steps.back().delta += step.delta;
    } else {
      cycle.steps.push_back(step);
    }
  }
}

// How many times `value` can move by `delta` (non-zero) and stay strictly inside
// (lowest, highest): the exclusive bounds keep every sign, so every pass repeats.
uint64_t repeats_within(int64_t value, int64_t delta, int64_t lowest, int64_t highest) {
  const uint64_t room = delta > 0 ? static_cast<uint64_t>(highest) - static_cast<uint64_t>(value)
                                  : static_cast<uint64_t>(value) - static_cast<uint64_t>(lowest);
  const uint64_t step = delta > 0 ? static_cast<uint64_t>(delta) : 0 - static_cast<uint64_t>(delta);
  return room == 0 ? 0 : (room - 1) / step;
}

// Repetitions of `cycle` that keep every share that decides a visit (donor shares
// at supply nodes, receiver shares at demand nodes) and every moved total on its
// side of zero, and every other share inside the signed 64-bit range.
uint64_t safe_repeats(const Balancer& b, uint64_t d, const Cycle& cycle) {
  uint64_t m = repeats_within(b.totals[d], -static_cast<int64_t>(cycle.donor_units), 0, INT64_MAX);
  std::vector<int64_t> received(b.totals.size(), 0);
  for (const ShareStep& step : cycle.steps) {
    const int64_t share = b.partition.entries[step.node].second[step.commodity];
    const NodeKind kind = b.kinds[step.node];
    if (step.commodity != d) received[step.commodity] += step.delta;
    const bool decides = step.commodity == d ? kind == NodeKind::kSupply : kind == NodeKind::kDemand;
    if (decides) {
      m = std::min(m, repeats_within(share, step.delta, step.delta < 0 ? 0 : INT64_MIN,
                                     step.delta < 0 ? INT64_MAX : 0));
    } else {
      m = std::min(m, repeats_within(share, step.delta, INT64_MIN, INT64_MAX));
    }
  }
  for (const uint64_t r : b.neg) {
    if (received[r] != 0) m = std::min(m, repeats_within(b.totals[r], received[r], INT64_MIN, 0));
  }
  return m;
}

void apply_repeats(Balancer& b, uint64_t d, const Cycle& cycle, uint64_t m) {
  const auto times = static_cast<int64_t>(m);
  for (const ShareStep& step : cycle.steps) {
    b.partition.entries[step.node].second[step.commodity] += step.delta * times;
    if (step.commodity != d) b.totals[step.commodity] += step.delta * times;
  }
  b.totals[d] -= static_cast<int64_t>(cycle.donor_units) * times;
}

// Tries to apply whole cycles of passes with the single surplus commodity as donor.
// Returns the dry-run passes spent when nothing could be applied, 0 otherwise.
uint64_t bulk_step(Balancer& b, RandomSource* generator, std::vector<ShareStep>& scratch,
                   Cycle& cycle) {
  const uint64_t d = b.pos[0];
  if (!find_cycle(b, d, scratch, cycle)) return std::max<uint64_t>(b.neg.size(), 1);
  summarise_cycle(scratch, cycle);
  const uint64_t m = safe_repeats(b, d, cycle);
  if (m == 0) return cycle.passes;
  apply_repeats(b, d, cycle, m);
  // Each skipped pass would have drawn uniform_index(1): exactly one 32-bit word.
  if (generator != nullptr) generator->discard_u32(m * cycle.passes);
  return 0;
}

void build_sides(Balancer& b) {
  for (uint64_t k = 0; k < b.totals.size(); ++k) {
    if (b.totals[k] > 0) b.pos.push_back(k);
    if (b.totals[k] < 0) b.neg.push_back(k);
  }
}

// Moves each commodity whose total reached zero to the side its total is on now,
// keeping both lists ascending.
void update_sides(Balancer& b) {
  for (const uint64_t k : b.zeroed) {
    for (std::vector<uint64_t>* side : {&b.pos, &b.neg}) {
      const auto at = std::lower_bound(side->begin(), side->end(), k);
      const bool listed = at != side->end() && *at == k;
      const bool belongs = side == &b.pos ? b.totals[k] > 0 : b.totals[k] < 0;
      if (listed && !belongs) side->erase(at);
      if (!listed && belongs) side->insert(at, k);
    }
  }
  b.zeroed.clear();
}

Result<void> run_passes(Balancer& b, RandomSource* generator) {
  std::vector<ShareStep> scratch;
  Cycle cycle;
  CancelCheck cancel;
  uint64_t exact_passes_due = 0;  // exact passes before the next dry run
  for (;;) {
    if (cancel.requested(b.kinds.size())) return cancelled();
    update_sides(b);
    if (b.pos.empty() || b.neg.empty()) return {};
    if (b.q >= b.neg.size()) b.q = 0;
    if (b.pos.size() == 1 && exact_passes_due == 0) {
      // A failed dry run is paid back by as many exact passes, so it at most doubles the work.
      exact_passes_due = bulk_step(b, generator, scratch, cycle);
      if (exact_passes_due == 0) continue;
    }
    if (exact_passes_due > 0) --exact_passes_due;
    uint64_t d = b.pos[0];
    if (generator != nullptr) {
      const Result<uint64_t> pick = generator->uniform_index(b.pos.size());
      if (!pick.ok()) return pick.error();
      d = b.pos[pick.value()];
    }
    const Result<uint64_t> moved = run_pass(b, d);
    if (!moved.ok()) return moved.error();
    if (moved.value() == 0 && (generator == nullptr || !some_donor_can_move(b))) {
      return internal(
          "balancing cannot move any unit: no commodity with a surplus has a positive share at "
          "a supply node");
    }
  }
}

}  // namespace

Result<void> balance_commodities(Partition& partition, const Supplies& supplies,
                                 uint64_t num_commodities, RandomSource* generator) {
  if (num_commodities == 0 || partition.empty()) return {};
  // Lists are checked before anything of length K is allocated, so a K larger
  // than every list is refused here rather than by the allocator.
  for (const auto& entry : partition) {
    if (entry.second.size() < num_commodities) {
      return internal(index_out_of_range_message(entry.second.size(), entry.second.size()));
    }
  }
  auto totals = commodity_totals(partition, num_commodities);
  if (!totals.ok()) return totals.take_error();
  Balancer b{partition, node_kinds(partition, supplies), std::move(totals).value(), {}, {}, 0, 0, {}};
  b.pos.reserve(num_commodities);
  b.neg.reserve(num_commodities);
  build_sides(b);
  return run_passes(b, generator);
}

}  // namespace korvane
