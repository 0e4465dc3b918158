// Ranking node ids: every id of some columns in ascending order, and the rank of
// an id among them, by a direct table when the ids are dense, else by binary
// search. Shared by the adjacency builders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace korvane::detail {

// Whether ids spanning [lo, hi] are dense enough, at most four slots per id,
// for a direct table: one load per lookup instead of a binary search over
// cache-missing lines.
inline bool dense(int64_t lo, int64_t hi, std::size_t count) {
  return (static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo)) / 4 < count;
}

// Every id of the given columns, ascending and once: a presence table when the
// ids are dense, else one sort.
inline std::vector<int64_t> sorted_ids(std::initializer_list<std::span<const int64_t>> columns) {
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

}  // namespace korvane::detail
