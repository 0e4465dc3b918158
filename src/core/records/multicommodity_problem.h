// MulticommodityProblem: a linear multi-commodity min-cost flow problem as the
// field's four-file formats (Mnetgen, JLF) describe it, in real numbers.
//
// Minimise the sum over arcs a and commodities k of cost(a,k)·x(a,k), subject to
// 0 <= x(a,k) <= capacity(a,k), flow conservation for every node and commodity
// (outflow − inflow = supply), and, for every arc with a finite bundle capacity,
// the sum over k of x(a,k) <= bundle(a). There are no lower bounds.
//
// Every table is flat and row-major: arc tables are E×K (entry a*K + k), the
// supply table is N×K (entry i*K + k). Each value is held once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace korvane {

// Where a problem came from: which reader made it (and for JLF, which kind of
// commodity the reader was told), or a korvane record converted to it.
enum class ProblemSource : uint8_t { kMnetgen, kJlfPsp, kJlfOsp, kJlfOds, kConverted };

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

struct MulticommodityProblem {
  ProblemSource source = ProblemSource::kMnetgen;
  uint64_t num_nodes = 0;        // N; nodes are numbered 1..N
  uint64_t num_commodities = 0;  // K; commodities are numbered 1..K
  // The arc count the file declared (m of the .nod part; for JLF an upper
  // bound); 0 for a converted record. Arc names the file declared but never
  // used carry no record: they are not arcs of the problem.
  uint64_t declared_arcs = 0;

  // Node i (0-based) is node number i + 1. `node_ids`, when not empty (a
  // converted korvane record), gives the id node i had there (N entries,
  // ascending); empty means the ids are the numbers 1..N themselves.
  std::vector<int64_t> node_ids;

  // Per arc, E entries, in ascending name order: the arc's name in the file
  // (Mnetgen: its .arc name; JLF and converted records: 1..E), and its
  // endpoints as node numbers 1..N.
  std::vector<int64_t> arc_names;
  std::vector<int64_t> tails;
  std::vector<int64_t> heads;

  // E×K: commodity k's unit cost on arc a, and its capacity there: kUnbounded
  // for no bound, 0 for a commodity that may not use the arc (its cost is then 0
  // unless the file gave one).
  std::vector<double> costs;
  std::vector<double> capacities;
  // E: the bound on the sum of all commodities' flows on the arc; kUnbounded
  // for an arc without one.
  std::vector<double> bundles;
  // N×K: commodity k's supply at node i (positive at a source, negative at a sink).
  std::vector<double> supplies;

  std::size_t num_arcs() const { return tails.size(); }
};

}  // namespace korvane
