// Ranks nodes once (a direct table when ids are dense, else a sorted id array
// searched per arc), then fills each side with a stable counting sort by row.
#include "core/graph/csr.h"

#include <algorithm>
#include <initializer_list>

namespace korvane {
namespace {

// Whether ids spanning [lo, hi] are dense enough, at most four slots per id,
// for a direct table: one load per lookup instead of a binary search over
// cache-missing lines.
bool dense(int64_t lo, int64_t hi, std::size_t count) {
  return (static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo)) / 4 < count;
}

// Every id of the given columns, ascending and once: a presence table when the
// ids are dense, else one sort.
std::vector<int64_t> sorted_ids(std::initializer_list<std::span<const int64_t>> columns) {
  std::size_t count = 0;
  int64_t lo = INT64_MAX;
  int64_t hi = INT64_MIN;
  for (const auto column : columns) {
    count += column.size();
    for (const int64_t id : column) {
      lo = std::min(lo, id);
      hi = std::max(hi, id);
    }
  }
  std::vector<int64_t> ids;
  if (count == 0) return ids;
  if (dense(lo, hi, count)) {
    std::vector<uint8_t> seen(static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo) + 1, 0);
    for (const auto column : columns) {
      for (const int64_t id : column) seen[static_cast<uint64_t>(id) - static_cast<uint64_t>(lo)] = 1;
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
      if (seen[i] != 0) ids.push_back(static_cast<int64_t>(static_cast<uint64_t>(lo) + i));
    }
    return ids;
  }
  ids.reserve(count);
  for (const auto column : columns) ids.insert(ids.end(), column.begin(), column.end());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

// Rank of an id in `ids` (sorted, unique), or -1 when it is not there.
class Ranker {
 public:
  explicit Ranker(const std::vector<int64_t>& ids) : ids_(ids) {
    if (ids.empty() || !dense(ids.front(), ids.back(), ids.size())) return;
    base_ = ids.front();
    table_.assign(static_cast<uint64_t>(ids.back()) - static_cast<uint64_t>(base_) + 1, -1);
    for (std::size_t r = 0; r < ids.size(); ++r) {
      table_[offset(ids[r])] = static_cast<int64_t>(r);
    }
  }
  int64_t operator()(int64_t id) const {
    if (ids_.empty() || id < ids_.front() || id > ids_.back()) return -1;
    if (!table_.empty()) return table_[offset(id)];
    const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    return *it == id ? it - ids_.begin() : -1;
  }

 private:
  std::size_t offset(int64_t id) const {
    return static_cast<std::size_t>(static_cast<uint64_t>(id) - static_cast<uint64_t>(base_));
  }
  const std::vector<int64_t>& ids_;
  int64_t base_ = 0;
  std::vector<int64_t> table_;
};

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
