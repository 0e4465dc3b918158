// The public records: views into the core record each handle shares.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {
namespace {

template <class T, class Container>
std::span<const T> view(const Container& c) noexcept {
  return std::span<const T>(c.data(), c.size());
}

}  // namespace

// ------------------------------------------------------------ NetworkInstance

NetworkInstance::NetworkInstance(std::shared_ptr<const Impl> impl) noexcept
    : impl_(std::move(impl)) {}
int64_t NetworkInstance::declared_nodes() const noexcept { return impl_->record.num_nodes; }
int64_t NetworkInstance::declared_arcs() const noexcept { return impl_->record.num_arcs; }
std::size_t NetworkInstance::num_arcs() const noexcept { return impl_->record.num_edges(); }
std::span<const int64_t> NetworkInstance::nodes() const noexcept {
  return view<int64_t>(impl_->record.nodes);
}
std::span<const NodeAmount> NetworkInstance::supplies() const noexcept {
  return view<NodeAmount>(impl_->record.supplies.entries);
}
std::span<const int64_t> NetworkInstance::tails() const noexcept {
  return view<int64_t>(impl_->record.tails);
}
std::span<const int64_t> NetworkInstance::heads() const noexcept {
  return view<int64_t>(impl_->record.heads);
}
std::span<const int64_t> NetworkInstance::lows() const noexcept {
  return view<int64_t>(impl_->record.lows);
}
std::span<const int64_t> NetworkInstance::ups() const noexcept {
  return view<int64_t>(impl_->record.ups);
}
std::span<const int64_t> NetworkInstance::costs() const noexcept {
  return view<int64_t>(impl_->record.costs);
}
std::span<const int64_t> NetworkInstance::parallel_index() const noexcept {
  return view<int64_t>(impl_->record.parallel_index);
}
bool NetworkInstance::has_parallel_arcs() const noexcept { return impl_->record.parallel(); }

// --------------------------------------------------------- MultiCommodityData

MultiCommodityData::MultiCommodityData(std::shared_ptr<const Impl> impl) noexcept
    : impl_(std::move(impl)) {}
uint64_t MultiCommodityData::num_commodities() const noexcept {
  return impl_->record.num_commodities;
}
std::size_t MultiCommodityData::num_arcs() const noexcept { return impl_->record.num_edges(); }
int64_t MultiCommodityData::method() const noexcept { return impl_->record.method; }
uint64_t MultiCommodityData::seed() const noexcept { return impl_->record.seed; }
bool MultiCommodityData::randomized_capacities() const noexcept {
  return impl_->record.randomized_capacities;
}
bool MultiCommodityData::randomized_costs() const noexcept {
  return impl_->record.randomized_weights;
}
bool MultiCommodityData::cap_zero() const noexcept { return impl_->record.cap_zero; }
double MultiCommodityData::cap_zero_param() const noexcept { return impl_->record.cap_zero_param; }
std::span<const NodeAmounts> MultiCommodityData::supply_partition() const noexcept {
  return view<NodeAmounts>(impl_->record.supply_partition.entries);
}
std::span<const int64_t> MultiCommodityData::tails() const noexcept {
  return view<int64_t>(impl_->record.tails);
}
std::span<const int64_t> MultiCommodityData::heads() const noexcept {
  return view<int64_t>(impl_->record.heads);
}
std::span<const int64_t> MultiCommodityData::ups() const noexcept {
  return view<int64_t>(impl_->record.ups);
}
std::span<const int64_t> MultiCommodityData::cost_table() const noexcept {
  return view<int64_t>(impl_->record.cost_table);
}
std::span<const int64_t> MultiCommodityData::capacity_table() const noexcept {
  return view<int64_t>(impl_->record.capacity_table);
}

// ----------------------------------------------- ParsedMulticommodityInstance

ParsedMulticommodityInstance::ParsedMulticommodityInstance(
    std::shared_ptr<const Impl> impl) noexcept
    : impl_(std::move(impl)) {}
int64_t ParsedMulticommodityInstance::declared_nodes() const noexcept {
  return impl_->record.num_nodes;
}
int64_t ParsedMulticommodityInstance::declared_arcs() const noexcept {
  return impl_->record.num_arcs;
}
uint64_t ParsedMulticommodityInstance::num_commodities() const noexcept {
  return impl_->record.num_commodities;
}
std::size_t ParsedMulticommodityInstance::num_arcs() const noexcept {
  return impl_->record.num_edges();
}
int64_t ParsedMulticommodityInstance::method() const noexcept { return impl_->record.method; }
uint64_t ParsedMulticommodityInstance::seed() const noexcept { return impl_->record.seed; }
bool ParsedMulticommodityInstance::randomized_capacities() const noexcept {
  return impl_->record.randomized_capacities;
}
bool ParsedMulticommodityInstance::randomized_costs() const noexcept {
  return impl_->record.randomized_weights;
}
bool ParsedMulticommodityInstance::cap_zero() const noexcept { return impl_->record.cap_zero; }
double ParsedMulticommodityInstance::cap_zero_param() const noexcept {
  return impl_->record.cap_zero_param;
}
std::span<const int64_t> ParsedMulticommodityInstance::nodes() const noexcept {
  return view<int64_t>(impl_->record.nodes);
}
std::span<const NodeAmount> ParsedMulticommodityInstance::supplies() const noexcept {
  return view<NodeAmount>(impl_->record.supplies.entries);
}
std::span<const int64_t> ParsedMulticommodityInstance::amounts(std::size_t i) const noexcept {
  return impl_->record.amounts(i);
}
std::span<const int64_t> ParsedMulticommodityInstance::tails() const noexcept {
  return view<int64_t>(impl_->record.tails);
}
std::span<const int64_t> ParsedMulticommodityInstance::heads() const noexcept {
  return view<int64_t>(impl_->record.heads);
}
std::span<const int64_t> ParsedMulticommodityInstance::ups() const noexcept {
  return view<int64_t>(impl_->record.ups);
}
std::span<const int64_t> ParsedMulticommodityInstance::parallel_index() const noexcept {
  return view<int64_t>(impl_->record.parallel_index);
}
int64_t ParsedMulticommodityInstance::capacity(std::size_t arc, uint64_t k) const noexcept {
  return impl_->record.capacity_list(arc).at(k);
}
int64_t ParsedMulticommodityInstance::cost(std::size_t arc, uint64_t k) const noexcept {
  return impl_->record.cost_list(arc).at(k);
}

// ------------------------------------------------------ MulticommodityProblem

MulticommodityProblem::MulticommodityProblem(std::shared_ptr<const Impl> impl) noexcept
    : impl_(std::move(impl)) {}
ProblemSource MulticommodityProblem::source() const noexcept {
  switch (impl_->record.source) {
    case inner::CoreSource::kMnetgen: return ProblemSource::mnetgen;
    case inner::CoreSource::kJlfPsp: return ProblemSource::jlf_psp;
    case inner::CoreSource::kJlfOsp: return ProblemSource::jlf_osp;
    case inner::CoreSource::kJlfOds: return ProblemSource::jlf_ods;
    case inner::CoreSource::kConverted: break;
  }
  return ProblemSource::converted;
}
uint64_t MulticommodityProblem::num_nodes() const noexcept { return impl_->record.num_nodes; }
uint64_t MulticommodityProblem::num_commodities() const noexcept {
  return impl_->record.num_commodities;
}
std::size_t MulticommodityProblem::num_arcs() const noexcept { return impl_->record.num_arcs(); }
uint64_t MulticommodityProblem::declared_arcs() const noexcept {
  return impl_->record.declared_arcs;
}
std::span<const int64_t> MulticommodityProblem::node_ids() const noexcept {
  return view<int64_t>(impl_->record.node_ids);
}
std::span<const int64_t> MulticommodityProblem::arc_names() const noexcept {
  return view<int64_t>(impl_->record.arc_names);
}
std::span<const int64_t> MulticommodityProblem::tails() const noexcept {
  return view<int64_t>(impl_->record.tails);
}
std::span<const int64_t> MulticommodityProblem::heads() const noexcept {
  return view<int64_t>(impl_->record.heads);
}
std::span<const double> MulticommodityProblem::costs() const noexcept {
  return view<double>(impl_->record.costs);
}
std::span<const double> MulticommodityProblem::capacities() const noexcept {
  return view<double>(impl_->record.capacities);
}
std::span<const double> MulticommodityProblem::bundles() const noexcept {
  return view<double>(impl_->record.bundles);
}
std::span<const double> MulticommodityProblem::supplies() const noexcept {
  return view<double>(impl_->record.supplies);
}

}  // namespace v0
}  // namespace korvane
