#include "core/flow/network_simplex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/base/cancel.h"
#include "core/base/numeric.h"

namespace korvane {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max();
// Bound on the big M: potentials stay within 2 M and reduced costs within 5 M,
// far from int64's limit.
constexpr double kBigM = 0x1p59;
// Supplies and capacities beyond this are out of range (flows and residuals
// stay exact sums of them).
constexpr int64_t kMaxAmount = int64_t{1} << 61;

int64_t residual_up(int64_t cap, int64_t flow) {
  return cap == kUnbounded ? kUnbounded : cap - flow;
}

}  // namespace

Result<NetworkSimplex> NetworkSimplex::create(int64_t num_nodes, std::span<const int64_t> tails,
                                              std::span<const int64_t> heads,
                                              std::span<const int64_t> capacity,
                                              std::span<const int64_t> supply) {
  const auto arcs = tails.size();
  if (num_nodes < 0 || heads.size() != arcs || capacity.size() != arcs ||
      supply.size() != static_cast<std::size_t>(num_nodes)) {
    return invalid("the min-cost flow needs one head and capacity per arc and one supply per node");
  }
  NetworkSimplex ns;
  const auto n = static_cast<std::size_t>(num_nodes);
  ns.num_nodes_ = n;
  ns.root_ = n;
  ns.arc_flow_.assign(arcs, 0);
  for (std::size_t a = 0; a < arcs; ++a) {
    if (tails[a] < 0 || tails[a] >= num_nodes || heads[a] < 0 || heads[a] >= num_nodes) {
      return invalid("arc " + std::to_string(a) + " has a node rank outside [0, " +
                     std::to_string(num_nodes) + ")");
    }
    if (capacity[a] > kMaxAmount) {
      return invalid("arc " + std::to_string(a) + " has a capacity above 2^61");
    }
    if (tails[a] == heads[a]) {
      ns.loops_.push_back(a);
      ns.loop_cap_.push_back(capacity[a] < 0 ? kUnbounded : capacity[a]);
    } else {
      ns.real_arc_.push_back(a);
    }
  }
  const auto m = ns.real_arc_.size();
  const auto total = m + n;
  ns.source_.resize(total);
  ns.target_.resize(total);
  ns.cap_.resize(total);
  ns.flow_.assign(total, 0);
  ns.cost_.assign(total, 0);
  ns.state_.assign(total, 1);
  for (std::size_t i = 0; i < m; ++i) {
    const auto a = ns.real_arc_[i];
    ns.source_[i] = static_cast<std::size_t>(tails[a]);
    ns.target_[i] = static_cast<std::size_t>(heads[a]);
    ns.cap_[i] = capacity[a] < 0 ? kUnbounded : capacity[a];
    if (ns.cap_[i] == 0) ns.state_[i] = 0;  // never carries flow: never enters
  }
  ns.parent_.assign(n + 1, kNone);
  ns.pred_.assign(n + 1, kNone);
  ns.depth_.assign(n + 1, 0);
  ns.first_child_.assign(n + 1, kNone);
  ns.next_sibling_.assign(n + 1, kNone);
  ns.prev_sibling_.assign(n + 1, kNone);
  ns.pi_.assign(n + 1, 0);
  ns.stack_.reserve(n + 1);
  // The first tree: every node hangs from the root by its artificial arc, which
  // carries the node's supply. A node that sends (or is balanced) points its arc
  // at the root, one that receives gets it from the root: zero-flow arcs point
  // up, so the tree is strongly feasible.
  int64_t sum = 0;
  for (std::size_t v = 0; v < n; ++v) {
    const int64_t b = supply[v];
    if (b > kMaxAmount || b < -kMaxAmount) {
      return invalid("node " + std::to_string(v) + " has a supply beyond 2^61 in size");
    }
    sum += b;
    if (sum > kMaxAmount || sum < -kMaxAmount) return invalid("the supplies add up beyond 2^61");
    const auto art = m + v;
    ns.source_[art] = b >= 0 ? v : ns.root_;
    ns.target_[art] = b >= 0 ? ns.root_ : v;
    ns.cap_[art] = kUnbounded;
    ns.flow_[art] = b >= 0 ? b : -b;
    ns.state_[art] = 0;
    ns.parent_[v] = ns.root_;
    ns.pred_[v] = art;
    ns.depth_[v] = 1;
    ns.attach(v, ns.root_);
  }
  ns.balanced_ = sum == 0;
  ns.block_ = std::max<std::size_t>(
      16, static_cast<std::size_t>(std::sqrt(static_cast<double>(total))));
  return ns;
}

void NetworkSimplex::attach(std::size_t node, std::size_t parent) {
  const auto first = first_child_[parent];
  next_sibling_[node] = first;
  prev_sibling_[node] = kNone;
  if (first != kNone) prev_sibling_[first] = node;
  first_child_[parent] = node;
}

void NetworkSimplex::detach(std::size_t node) {
  const auto prev = prev_sibling_[node];
  const auto next = next_sibling_[node];
  if (prev != kNone) {
    next_sibling_[prev] = next;
  } else {
    first_child_[parent_[node]] = next;
  }
  if (next != kNone) prev_sibling_[next] = prev;
}

// Scales the costs of the tree-able arcs into integers of at most kBigM / (n + 1)
// in size, and prices the artificial arcs above the cost of any simple path of
// real arcs, which makes artificial flow worth removing whenever a routing exists.
void NetworkSimplex::scale_costs(std::span<const double> cost) {
  const auto m = real_arc_.size();
  double largest = 0.0;
  for (std::size_t i = 0; i < m; ++i) largest = std::max(largest, std::abs(cost[real_arc_[i]]));
  const double limit = kBigM / static_cast<double>(num_nodes_ + 1) - 1.0;
  const double scale = largest > 0.0 ? limit / largest : 1.0;
  int64_t biggest = 0;
  for (std::size_t i = 0; i < m; ++i) {
    cost_[i] = saturating_cast<int64_t>(std::nearbyint(cost[real_arc_[i]] * scale));
    biggest = std::max(biggest, cost_[i] < 0 ? -cost_[i] : cost_[i]);
  }
  const auto big_m = static_cast<int64_t>(num_nodes_ + 1) * (biggest + 1);
  for (std::size_t v = 0; v < num_nodes_; ++v) cost_[m + v] = big_m;
}

// Potentials from the root down the tree, each tree arc's reduced cost zero.
void NetworkSimplex::compute_potentials() {
  pi_[root_] = 0;
  stack_.clear();
  stack_.push_back(root_);
  while (!stack_.empty()) {
    const auto p = stack_.back();
    stack_.pop_back();
    for (auto c = first_child_[p]; c != kNone; c = next_sibling_[c]) {
      const auto a = pred_[c];
      pi_[c] = source_[a] == c ? pi_[p] + cost_[a] : pi_[p] - cost_[a];
      depth_[c] = depth_[p] + 1;
      stack_.push_back(c);
    }
  }
}

int64_t NetworkSimplex::reduced_cost(std::size_t arc) const {
  return cost_[arc] - pi_[source_[arc]] + pi_[target_[arc]];
}

// Block search: the arcs in blocks of about sqrt(arcs), from where the last
// search stopped; the most violating arc of the first block that has one.
std::size_t NetworkSimplex::find_entering() {
  const auto total = source_.size();
  if (total == 0) return kNone;
  std::size_t best = kNone;
  int64_t best_violation = 0;
  std::size_t a = next_arc_ < total ? next_arc_ : 0;
  std::size_t in_block = 0;
  for (std::size_t count = 0; count < total; ++count) {
    if (state_[a] != 0) {
      const int64_t violation = state_[a] * reduced_cost(a);
      if (violation < best_violation) {
        best_violation = violation;
        best = a;
      }
    }
    a = a + 1 == total ? 0 : a + 1;
    if (++in_block == block_) {
      if (best != kNone) break;
      in_block = 0;
    }
  }
  next_arc_ = a;
  return best;
}

// One pivot on `entering`; false, with nothing changed, when the cycle it closes
// has no bound (a negative cycle of unbounded capacity).
bool NetworkSimplex::pivot(std::size_t e) {
  // Flow moves round the cycle from `first` over the entering arc to `second`.
  const bool at_lower = state_[e] > 0;
  const auto first = at_lower ? source_[e] : target_[e];
  const auto second = at_lower ? target_[e] : source_[e];
  auto a = first;
  auto b = second;
  while (a != b) {
    if (depth_[a] > depth_[b]) {
      a = parent_[a];
    } else if (depth_[b] > depth_[a]) {
      b = parent_[b];
    } else {
      a = parent_[a];
      b = parent_[b];
    }
  }
  const auto join = a;
  // Cunningham's rule: of the arcs that block first, the last one met going
  // round the cycle from the join (down to `first`, over the entering arc, up
  // from `second`), which keeps the tree strongly feasible. Hence a strict
  // comparison on the first side and a loose one on the second.
  int64_t delta = cap_[e];
  std::size_t leave = kNone;  // the child end of the leaving arc; kNone: the entering arc
  int side = 0;
  for (auto x = first; x != join; x = parent_[x]) {
    const auto t = pred_[x];
    const int64_t r = target_[t] == x ? residual_up(cap_[t], flow_[t]) : flow_[t];
    if (r < delta) {
      delta = r;
      leave = x;
      side = 1;
    }
  }
  for (auto x = second; x != join; x = parent_[x]) {
    const auto t = pred_[x];
    const int64_t r = source_[t] == x ? residual_up(cap_[t], flow_[t]) : flow_[t];
    if (r <= delta) {
      delta = r;
      leave = x;
      side = 2;
    }
  }
  if (delta == kUnbounded) return false;
  const int64_t sigma = reduced_cost(e);
  if (delta > 0) {
    flow_[e] += at_lower ? delta : -delta;
    for (auto x = first; x != join; x = parent_[x]) {
      const auto t = pred_[x];
      flow_[t] += target_[t] == x ? delta : -delta;
    }
    for (auto x = second; x != join; x = parent_[x]) {
      const auto t = pred_[x];
      flow_[t] += source_[t] == x ? delta : -delta;
    }
  }
  if (side == 0) {
    state_[e] = static_cast<int8_t>(-state_[e]);
    return true;
  }
  // The subtree under the leaving arc hangs from the entering arc instead: the
  // path from the entering arc's end in it (x) up to the leaving arc turns round.
  const auto x = side == 1 ? first : second;
  const auto y = side == 1 ? second : first;
  const auto leaving = pred_[leave];
  path_.clear();
  path_arcs_.clear();
  for (auto z = x;; z = parent_[z]) {
    path_.push_back(z);
    path_arcs_.push_back(pred_[z]);
    if (z == leave) break;
  }
  for (const auto z : path_) detach(z);
  auto up = y;
  auto up_arc = e;
  for (std::size_t i = 0; i < path_.size(); ++i) {
    const auto z = path_[i];
    parent_[z] = up;
    pred_[z] = up_arc;
    attach(z, up);
    up = z;
    up_arc = path_arcs_[i];
  }
  state_[leaving] = cap_[leaving] == 0 ? int8_t{0} : flow_[leaving] == 0 ? int8_t{1} : int8_t{-1};
  state_[e] = 0;
  // The moved subtree's potentials shift together so that the entering arc's
  // reduced cost becomes zero; its depths follow its new parent.
  const int64_t shift = x == target_[e] ? -sigma : sigma;
  pi_[x] += shift;
  depth_[x] = depth_[y] + 1;
  stack_.clear();
  stack_.push_back(x);
  while (!stack_.empty()) {
    const auto p = stack_.back();
    stack_.pop_back();
    for (auto c = first_child_[p]; c != kNone; c = next_sibling_[c]) {
      pi_[c] += shift;
      depth_[c] = depth_[p] + 1;
      stack_.push_back(c);
    }
  }
  return true;
}

Result<FlowStatus> NetworkSimplex::solve(std::span<const double> cost) {
  if (cost.size() != arc_flow_.size()) {
    return invalid("the min-cost flow needs " + std::to_string(arc_flow_.size()) +
                   " costs, one per arc, not " + std::to_string(cost.size()));
  }
  for (std::size_t a = 0; a < cost.size(); ++a) {
    if (!std::isfinite(cost[a])) {
      return invalid("arc " + std::to_string(a) + " has a cost that is not finite");
    }
  }
  if (!balanced_) return FlowStatus::kInfeasible;
  for (std::size_t i = 0; i < loops_.size(); ++i) {
    if (cost[loops_[i]] < 0 && loop_cap_[i] == kUnbounded) return FlowStatus::kUnbounded;
  }
  scale_costs(cost);
  compute_potentials();
  CancelCheck check;
  while (true) {
    const auto e = find_entering();
    if (e == kNone) break;
    if (check.requested(block_)) return cancelled();
    if (!pivot(e)) return FlowStatus::kUnbounded;
    ++pivots_;
  }
  const auto m = real_arc_.size();
  for (std::size_t v = 0; v < num_nodes_; ++v) {
    if (flow_[m + v] != 0) return FlowStatus::kInfeasible;
  }
  for (std::size_t i = 0; i < m; ++i) arc_flow_[real_arc_[i]] = flow_[i];
  for (std::size_t i = 0; i < loops_.size(); ++i) {
    arc_flow_[loops_[i]] = cost[loops_[i]] < 0 ? loop_cap_[i] : 0;
  }
  return FlowStatus::kOptimal;
}

}  // namespace korvane
