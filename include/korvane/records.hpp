/// @file korvane/records.hpp
/// @brief The records the readers and generators return: a network, its
/// multi-commodity data, a multi-commodity file read back, and a problem in the
/// four-file formats' terms.
///
/// A record is an immutable handle: copying it shares the data (nothing is
/// copied), and every accessor returns a view into the one copy the routine that
/// made the record built. Views stay valid while any handle to the record lives.
/// Records may be read from any number of threads at once.
///
/// Counts are named for what they count: `declared_*` is what the file's problem
/// line said, `num_*` is what the record holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "korvane/export.hpp"

namespace korvane {
inline namespace v0 {

/// A node id and its amount: positive at a supply node, negative at a demand node.
using NodeAmount = std::pair<int64_t, int64_t>;
/// A node id and its K per-commodity amounts.
using NodeAmounts = std::pair<int64_t, std::vector<int64_t>>;

/// A single-commodity min-cost-flow network (a DIMACS .min file), in flat
/// per-arc columns in file order.
class KORVANE_API NetworkInstance {
 public:
  /// The library's record behind the handle (defined inside the library only).
  struct Impl;
  /// Made by the library's readers and generators; users copy handles.
  explicit NetworkInstance(std::shared_ptr<const Impl> impl) noexcept;

  int64_t declared_nodes() const noexcept;  ///< node count of the problem line
  int64_t declared_arcs() const noexcept;   ///< arc count of the problem line
  std::size_t num_arcs() const noexcept;    ///< arc lines read (E)
  /// Every node id met (problem-line nodes are not invented), once, in order of first appearance.
  std::span<const int64_t> nodes() const noexcept;
  /// Node lines: (id, amount), ascending by id, the last line of a node winning.
  std::span<const NodeAmount> supplies() const noexcept;
  std::span<const int64_t> tails() const noexcept;  ///< E tail ids
  std::span<const int64_t> heads() const noexcept;  ///< E head ids
  std::span<const int64_t> lows() const noexcept;   ///< E lower bounds
  std::span<const int64_t> ups() const noexcept;    ///< E upper bounds (capacities)
  std::span<const int64_t> costs() const noexcept;  ///< E unit costs
  /// E parallel indices: how many earlier arcs have the same (tail, head).
  std::span<const int64_t> parallel_index() const noexcept;
  /// Whether two arcs share a (tail, head) pair.
  bool has_parallel_arcs() const noexcept;

  /// The record behind the handle, for the library's own routines.
  const Impl& impl() const noexcept { return *impl_; }

 private:
  std::shared_ptr<const Impl> impl_;
};

/// A network's generated multi-commodity data: the supply partition, and each
/// arc's per-commodity costs and capacities in arc-major E x K tables (entry
/// a * K + k is arc a, commodity k).
class KORVANE_API MultiCommodityData {
 public:
  /// The library's record behind the handle (defined inside the library only).
  struct Impl;
  /// Made by the library's readers and generators; users copy handles.
  explicit MultiCommodityData(std::shared_ptr<const Impl> impl) noexcept;

  uint64_t num_commodities() const noexcept;  ///< K
  std::size_t num_arcs() const noexcept;      ///< E, the arcs of the source network
  int64_t method() const noexcept;            ///< the partitioning method used
  uint64_t seed() const noexcept;             ///< the seed used
  /// Whether capacities were drawn per commodity (GenerationParams::randomize_caps).
  bool randomized_capacities() const noexcept;
  /// Whether costs were drawn per commodity (GenerationParams::randomize_costs).
  bool randomized_costs() const noexcept;
  /// Whether capacities were zeroed (GenerationParams::cap_zero).
  bool cap_zero() const noexcept;
  /// The zeroed fraction (GenerationParams::cap_zero_param).
  double cap_zero_param() const noexcept;
  /// (node, K amounts), ascending by node: the nodes the partitioner lists.
  std::span<const NodeAmounts> supply_partition() const noexcept;
  std::span<const int64_t> tails() const noexcept;  ///< E, copied from the network
  std::span<const int64_t> heads() const noexcept;  ///< E, copied from the network
  std::span<const int64_t> ups() const noexcept;    ///< E, the network's upper bounds
  std::span<const int64_t> cost_table() const noexcept;      ///< E x K unit costs
  std::span<const int64_t> capacity_table() const noexcept;  ///< E x K capacities (after zeroing)

  /// The record behind the handle, for the library's own routines.
  const Impl& impl() const noexcept { return *impl_; }

 private:
  std::shared_ptr<const Impl> impl_;
};

/// A multi-commodity file read back (read_multi_commodity). Lists written in
/// compressed form (one value for all K commodities) are held once and read
/// through capacity() and cost() like expanded ones.
class KORVANE_API ParsedMulticommodityInstance {
 public:
  /// The library's record behind the handle (defined inside the library only).
  struct Impl;
  /// Made by the library's readers and generators; users copy handles.
  explicit ParsedMulticommodityInstance(std::shared_ptr<const Impl> impl) noexcept;

  int64_t declared_nodes() const noexcept;    ///< node count of the last problem line
  int64_t declared_arcs() const noexcept;     ///< arc count of the last problem line
  uint64_t num_commodities() const noexcept;  ///< K of the last problem line
  std::size_t num_arcs() const noexcept;      ///< arc lines read (E)
  int64_t method() const noexcept;  ///< the partitioning method of the problem line
  uint64_t seed() const noexcept;   ///< the seed of the problem line
  /// Whether capacities were drawn per commodity (GenerationParams::randomize_caps).
  bool randomized_capacities() const noexcept;
  /// Whether costs were drawn per commodity (GenerationParams::randomize_costs).
  bool randomized_costs() const noexcept;
  /// Whether capacities were zeroed (GenerationParams::cap_zero).
  bool cap_zero() const noexcept;
  /// The zeroed fraction (GenerationParams::cap_zero_param).
  double cap_zero_param() const noexcept;
  std::span<const int64_t> nodes() const noexcept;  ///< every id met, in order of first appearance
  /// (node, total amount), ascending by node; amounts(i) are entry i's K amounts.
  std::span<const NodeAmount> supplies() const noexcept;
  /// The per-commodity amounts of supplies()[i] (i < supplies().size()).
  std::span<const int64_t> amounts(std::size_t i) const noexcept;
  std::span<const int64_t> tails() const noexcept;           ///< E tail ids
  std::span<const int64_t> heads() const noexcept;           ///< E head ids
  std::span<const int64_t> ups() const noexcept;             ///< E bundle capacities
  std::span<const int64_t> parallel_index() const noexcept;  ///< E parallel indices
  /// Commodity k's capacity on arc `arc` (arc < num_arcs(), k < num_commodities()).
  int64_t capacity(std::size_t arc, uint64_t k) const noexcept;
  /// Commodity k's unit cost on arc `arc` (arc < num_arcs(), k < num_commodities()).
  int64_t cost(std::size_t arc, uint64_t k) const noexcept;

  /// The record behind the handle, for the library's own routines.
  const Impl& impl() const noexcept { return *impl_; }

 private:
  std::shared_ptr<const Impl> impl_;
};

/// Which reader made a MulticommodityProblem, or `converted` for one made by to_problem().
enum class ProblemSource : uint8_t {
  mnetgen,    ///< read_mnetgen()
  jlf_psp,    ///< read_jlf() with JlfKind::psp
  jlf_osp,    ///< read_jlf() with JlfKind::osp
  jlf_ods,    ///< read_jlf() with JlfKind::ods
  converted,  ///< to_problem()
};

/// A linear multi-commodity min-cost-flow problem as the four-file formats
/// (Mnetgen, JLF) describe it, in real numbers: minimise the sum of cost(a,k) x(a,k)
/// subject to 0 <= x(a,k) <= capacity(a,k), flow conservation per node and
/// commodity, and sum over k of x(a,k) <= bundle(a). Nodes are numbered 1..N,
/// commodities 1..K (index k - 1 in every table); arc tables are E x K and the
/// supply table N x K, row-major. An infinite value (HUGE_VAL) is no bound.
class KORVANE_API MulticommodityProblem {
 public:
  /// The library's record behind the handle (defined inside the library only).
  struct Impl;
  /// Made by the library's readers and generators; users copy handles.
  explicit MulticommodityProblem(std::shared_ptr<const Impl> impl) noexcept;

  /// Which reader made the problem.
  ProblemSource source() const noexcept;
  uint64_t num_nodes() const noexcept;        ///< N
  uint64_t num_commodities() const noexcept;  ///< K
  std::size_t num_arcs() const noexcept;      ///< E, the arcs the problem has
  /// The arc count the file declared (for JLF an upper bound); 0 when converted.
  uint64_t declared_arcs() const noexcept;
  /// The original id of node i + 1 at index i for a converted record; empty for
  /// a file (the ids are the numbers 1..N).
  std::span<const int64_t> node_ids() const noexcept;
  std::span<const int64_t> arc_names() const noexcept;  ///< E names, ascending
  std::span<const int64_t> tails() const noexcept;      ///< E tails, 1..N
  std::span<const int64_t> heads() const noexcept;      ///< E heads, 1..N
  std::span<const double> costs() const noexcept;       ///< E x K unit costs
  /// E x K capacities: infinite for no bound, 0 where the commodity may not use the arc.
  std::span<const double> capacities() const noexcept;
  std::span<const double> bundles() const noexcept;   ///< E bundle capacities, infinite for none
  std::span<const double> supplies() const noexcept;  ///< N x K, positive at a source

  /// The record behind the handle, for the library's own routines.
  const Impl& impl() const noexcept { return *impl_; }

 private:
  std::shared_ptr<const Impl> impl_;
};

}  // namespace v0
}  // namespace korvane
