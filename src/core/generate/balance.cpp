// Commodity balancing by single-unit transfers at individual nodes, driven by two
// cursors (node and receiver) that persist from pass to pass.
#include "core/generate/balance.h"

#include <vector>

namespace korvane {
namespace {

__extension__ typedef __int128 WideSum;  // no node count can overflow it

enum class NodeKind : signed char { kDemand, kTransit, kSupply, kMissing };

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

std::string share_overflow_message(uint64_t commodity, int64_t node) {
  return "share of commodity " + std::to_string(commodity) + " at node " + std::to_string(node) +
         " overflows a signed 64-bit integer";
}

// After a pass that moved nothing the state is unchanged, so only another donor
// can move a unit; it can when it holds a positive share at some supply node.
bool some_donor_can_move(const Partition& partition, const std::vector<NodeKind>& kinds,
                         const std::vector<uint64_t>& donors) {
  for (std::size_t v = 0; v < kinds.size(); ++v) {
    if (kinds[v] != NodeKind::kSupply) continue;
    for (const uint64_t d : donors) {
      if (partition.entries[v].second[d] > 0) return true;
    }
  }
  return false;
}

}  // namespace

Result<void> balance_commodities(Partition& partition, const Supplies& supplies,
                                 uint64_t num_commodities, RandomSource* generator) {
  if (num_commodities == 0 || partition.empty()) return {};
  const std::size_t num_nodes = partition.size();

  // Lists are checked before anything of length K is allocated, so a K larger
  // than every list is refused here rather than by the allocator.
  for (const auto& entry : partition) {
    if (entry.second.size() < num_commodities) {
      return internal(index_out_of_range_message(entry.second.size(), entry.second.size()));
    }
  }
  // Totals summed wide, so only a total that itself leaves int64 is refused.
  std::vector<WideSum> wide(num_commodities, 0);
  for (const auto& entry : partition) {
    for (uint64_t k = 0; k < num_commodities; ++k) wide[k] += entry.second[k];
  }
  std::vector<int64_t> totals(num_commodities);
  for (uint64_t k = 0; k < num_commodities; ++k) {
    if (wide[k] > INT64_MAX || wide[k] < INT64_MIN) {
      return internal(commodity_total_overflow_message(k));
    }
    totals[k] = static_cast<int64_t>(wide[k]);
  }
  wide = {};

  const std::vector<NodeKind> kinds = node_kinds(partition, supplies);
  std::vector<uint64_t> pos;
  std::vector<uint64_t> neg;
  pos.reserve(num_commodities);
  neg.reserve(num_commodities);

  std::size_t h = 0;  // node cursor, into partition order
  std::size_t q = 0;  // receiver cursor, into neg
  for (;;) {
    pos.clear();
    neg.clear();
    for (uint64_t k = 0; k < num_commodities; ++k) {
      if (totals[k] > 0) pos.push_back(k);
      if (totals[k] < 0) neg.push_back(k);
    }
    if (pos.empty() || neg.empty()) return {};

    uint64_t d = pos[0];
    if (generator != nullptr) {
      const Result<uint64_t> pick = generator->uniform_index(pos.size());
      if (!pick.ok()) return pick.error();
      d = pos[pick.value()];
    }
    if (q >= neg.size()) q = 0;

    uint64_t moved = 0;
    for (std::size_t visits = 0; visits < num_nodes;) {
      auto& [node, shares] = partition.entries[h];
      ++visits;
      uint64_t r = num_commodities;  // no receiver yet
      switch (kinds[h]) {
        case NodeKind::kSupply:
          if (shares[d] > 0) {
            r = neg[q];
            q = (q + 1) % neg.size();
          }
          break;
        case NodeKind::kDemand:
          // At most one round of the receiver list; a failed round leaves q where it was.
          for (std::size_t tries = 0; tries < neg.size(); ++tries) {
            const uint64_t candidate = neg[q];
            q = (q + 1) % neg.size();
            if (shares[candidate] < 0) {
              r = candidate;
              break;
            }
          }
          break;
        case NodeKind::kTransit:
          break;
        case NodeKind::kMissing:
          return internal("no entry found for key");
      }
      if (r != num_commodities) {
        if (shares[d] == INT64_MIN) return internal(share_overflow_message(d, node));
        if (shares[r] == INT64_MAX) return internal(share_overflow_message(r, node));
        // Totals cannot leave range: t_d > 0 falls and t_r < 0 rises.
        --shares[d];
        ++shares[r];
        --totals[d];
        ++totals[r];
        ++moved;
      }
      h = h + 1 == num_nodes ? 0 : h + 1;
      if (totals[d] == 0) break;
    }

    if (moved == 0 && (generator == nullptr || !some_donor_can_move(partition, kinds, pos))) {
      return internal(
          "balancing cannot move any unit: no commodity with a surplus has a positive share at "
          "a supply node");
    }
  }
}

}  // namespace korvane
