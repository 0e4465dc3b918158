// Ranks nodes once (a direct table when ids are dense, else a sorted id array
// searched per arc), then fills each side with a stable counting sort by row.
#include "core/graph/csr.h"

#include "core/graph/node_rank.h"

namespace korvane {
namespace {

using detail::Ranker;
using detail::sorted_ids;

// Ranks of both endpoints of every arc; false when one is not in `ids`.
bool rank_arcs(const std::vector<int64_t>& ids, std::span<const int64_t> tails,
               std::span<const int64_t> heads, std::vector<int64_t>& tail_rank,
               std::vector<int64_t>& head_rank) {
  const Ranker rank(ids);
  for (std::size_t a = 0; a < tails.size(); ++a) {
    tail_rank[a] = rank(tails[a]);
    head_rank[a] = rank(heads[a]);
    if (tail_rank[a] < 0 || head_rank[a] < 0) return false;
  }
  return true;
}

// One side: arcs bucketed by row_rank[a], scanned in position order so that each
// row keeps its arcs ascending.
CsrSide fill_side(std::size_t rows, const std::vector<int64_t>& row_rank,
                  const std::vector<int64_t>& other_rank) {
  CsrSide side;
  side.indptr.assign(rows + 1, 0);
  for (const int64_t r : row_rank) ++side.indptr[static_cast<std::size_t>(r) + 1];
  for (std::size_t r = 0; r < rows; ++r) side.indptr[r + 1] += side.indptr[r];
  std::vector<int64_t> next(side.indptr.begin(), side.indptr.end() - 1);
  side.indices.resize(row_rank.size());
  side.arc.resize(row_rank.size());
  for (std::size_t a = 0; a < row_rank.size(); ++a) {
    const auto slot = static_cast<std::size_t>(next[static_cast<std::size_t>(row_rank[a])]++);
    side.indices[slot] = other_rank[a];
    side.arc[slot] = static_cast<int64_t>(a);
  }
  return side;
}

}  // namespace

Csr build_csr(std::span<const int64_t> nodes, std::span<const int64_t> tails,
              std::span<const int64_t> heads) {
  Csr csr;
  std::vector<int64_t> tail_rank(tails.size());
  std::vector<int64_t> head_rank(heads.size());
  // The readers list every endpoint among the nodes; other callers may not.
  csr.node = sorted_ids({nodes});
  if (!rank_arcs(csr.node, tails, heads, tail_rank, head_rank)) {
    csr.node = sorted_ids({nodes, tails, heads});
    rank_arcs(csr.node, tails, heads, tail_rank, head_rank);
  }
  csr.out = fill_side(csr.node.size(), tail_rank, head_rank);
  csr.in = fill_side(csr.node.size(), head_rank, tail_rank);
  return csr;
}

}  // namespace korvane
