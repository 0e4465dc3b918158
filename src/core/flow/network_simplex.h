// Minimum-cost flow of one commodity by the primal network simplex method, kept
// between solves so that a run of solves with changing costs (the pricing of a
// decomposition) starts each from the last optimal tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/base/result.h"

namespace korvane {

enum class FlowStatus : int8_t { kOptimal = 0, kInfeasible = 1, kUnbounded = 2 };

// One commodity on a network of num_nodes nodes (ranks 0 .. num_nodes - 1):
// arc a runs tails[a] -> heads[a] with capacity[a] (a negative value is no bound)
// and flows are integers in [0, capacity]; supply[v] is what node v sends
// (negative: receives). Costs are given per solve.
//
// The tree is a spanning tree over the nodes and an extra root, joined to every
// node by an artificial arc whose cost (a big M, larger than the cost of any
// simple path) drives its flow out whenever the commodity can be routed. Costs
// are scaled into int64 so that every reduced cost is exact: no tolerance, and
// Cunningham's strongly feasible trees (with the leaving-arc rule that keeps
// them) rule out cycling on degenerate pivots. Loops never enter the tree: each
// is full when its cost is negative, else empty.
class NetworkSimplex {
 public:
  // An invalid error for sizes that disagree, a rank out of range, or supplies
  // whose total is out of range; never anything else.
  static Result<NetworkSimplex> create(int64_t num_nodes, std::span<const int64_t> tails,
                                       std::span<const int64_t> heads,
                                       std::span<const int64_t> capacity,
                                       std::span<const int64_t> supply);

  // Optimises the flow for `cost` (one finite value per arc), starting from the
  // tree of the previous solve. kInfeasible when the supplies cannot be routed
  // (flows() is then meaningless), kUnbounded when a cycle of unbounded capacity
  // has a negative cost. Invalid for a wrong number of costs or a cost that is not
  // finite; cancelled when the poll asks.
  Result<FlowStatus> solve(std::span<const double> cost);

  // Each arc's flow after an optimal solve, in the order of the arcs given.
  std::span<const int64_t> flows() const { return arc_flow_; }

  // Pivots made by all solves so far.
  uint64_t pivots() const { return pivots_; }

 private:
  NetworkSimplex() = default;
  void scale_costs(std::span<const double> cost);
  void compute_potentials();
  int64_t reduced_cost(std::size_t arc) const;
  std::size_t find_entering();
  bool pivot(std::size_t entering);
  void detach(std::size_t node);
  void attach(std::size_t node, std::size_t parent);

  std::size_t num_nodes_ = 0;
  std::size_t root_ = 0;
  std::vector<std::size_t> real_arc_;  // the given arc of each tree-able arc (loops left out)
  std::vector<std::size_t> loops_;     // the given loops
  std::vector<int64_t> loop_cap_;      // their capacities, kUnbounded for no bound
  bool balanced_ = false;              // whether the supplies add up to zero
  // Per arc: the network's arcs first, then node v's artificial arc at size() - n + v.
  std::vector<std::size_t> source_;
  std::vector<std::size_t> target_;
  std::vector<int64_t> cap_;  // kUnbounded for no bound
  std::vector<int64_t> flow_;
  std::vector<int64_t> cost_;
  std::vector<int8_t> state_;  // +1 at its lower bound, -1 at its upper, 0 in the tree or fixed
  // Per node, the root included: parent and the tree arc to it, depth, children
  // (a doubly linked list of siblings), potential.
  std::vector<std::size_t> parent_;
  std::vector<std::size_t> pred_;
  std::vector<std::size_t> depth_;
  std::vector<std::size_t> first_child_;
  std::vector<std::size_t> next_sibling_;
  std::vector<std::size_t> prev_sibling_;
  std::vector<int64_t> pi_;
  std::vector<std::size_t> stack_;
  std::vector<std::size_t> path_;
  std::vector<std::size_t> path_arcs_;
  std::vector<int64_t> arc_flow_;
  std::size_t next_arc_ = 0;
  std::size_t block_ = 1;
  uint64_t pivots_ = 0;
};

}  // namespace korvane
