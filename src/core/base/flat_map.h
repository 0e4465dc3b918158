// FlatMap: an ordered map stored as one sorted vector of (key, value) pairs.
// Built once (collect, then sort) and read many times; iteration is ascending.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

namespace korvane {

template <class K, class V>
struct FlatMap {
  using value_type = std::pair<K, V>;
  std::vector<value_type> entries;  // ascending by key, keys unique

  std::size_t size() const { return entries.size(); }
  bool empty() const { return entries.empty(); }
  auto begin() const { return entries.begin(); }
  auto end() const { return entries.end(); }
  auto begin() { return entries.begin(); }
  auto end() { return entries.end(); }

  // Sorts collected entries by key; for equal keys the one collected last wins,
  // as repeated insertion into an ordered map would leave it.
  void sort_last_wins() {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const value_type& a, const value_type& b) { return a.first < b.first; });
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
      if (out != i) entries[out] = std::move(entries[i]);
      ++out;
    }
    entries.resize(out);
  }
};

}  // namespace korvane
