// Ordering arcs by (tail, head, position): per-tail sorts when the arcs come
// grouped by tail, otherwise pair keys and an LSD radix sort with 11-bit digits.
#include "core/graph/arc_order.h"

#include "core/base/huge_pages.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

namespace korvane {
namespace {

struct Item {
  uint64_t key;  // tail key in the high half, head key in the low half
  uint64_t position;
};

// n value-initialised elements, on huge pages where the kernel offers them:
// the pages are advised before anything touches them.
template <class T>
void fresh(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
  v.resize(n);
}

// Stable sort of items by key, looking only at the low `bits` bits.
void radix_sort(std::vector<Item>& items, int bits) {
  constexpr int kDigit = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kDigit;
  std::vector<Item> other;
  fresh(other, items.size());
  for (int shift = 0; shift < bits; shift += kDigit) {
    std::array<std::size_t, kBuckets> start{};
    for (const Item& it : items) ++start[(it.key >> shift) & (kBuckets - 1)];
    if (*std::max_element(start.begin(), start.end()) == items.size()) continue;  // one digit value
    std::size_t sum = 0;
    for (std::size_t& s : start) sum += std::exchange(s, sum);
    for (const Item& it : items) other[start[(it.key >> shift) & (kBuckets - 1)]++] = it;
    items.swap(other);
  }
}

// Arcs grouped by tail, as many files list them: each tail's run only needs
// ordering by (head, position), and it is short and contiguous.
void order_grouped_by_tail(std::span<const int64_t> tails, std::span<const int64_t> heads,
                           std::vector<uint64_t>& order) {
  const std::size_t n = tails.size();
  for (std::size_t i = 0; i < n; ++i) order[i] = i;
  for (std::size_t begin = 0, end = 0; begin < n; begin = end) {
    end = begin + 1;
    while (end < n && tails[end] == tails[begin]) ++end;
    const auto first = heads.begin() + static_cast<std::ptrdiff_t>(begin);
    const auto last = heads.begin() + static_cast<std::ptrdiff_t>(end);
    if (std::is_sorted(first, last)) continue;
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(begin),
              order.begin() + static_cast<std::ptrdiff_t>(end), [&](uint64_t x, uint64_t y) {
                return heads[x] != heads[y] ? heads[x] < heads[y] : x < y;
              });
  }
}

// Any other arc order: order-preserving node keys below 2^32 (the offset from
// the smallest id when the ids are dense enough, otherwise the rank among the
// sorted ids), packed as (tail key, head key), radix-sorted with positions.
void order_by_pair_keys(std::span<const int64_t> tails, std::span<const int64_t> heads,
                        std::span<const int64_t> node_ids, std::vector<uint64_t>& order) {
  const std::size_t e = tails.size();
  const auto [lo, hi] = std::minmax_element(node_ids.begin(), node_ids.end());
  const uint64_t min_id = static_cast<uint64_t>(*lo);
  const uint64_t span = static_cast<uint64_t>(*hi) - min_id;  // exact in modular arithmetic
  const bool dense = span < (uint64_t{1} << 32) && span / 16 <= node_ids.size() + e;
  std::vector<int64_t> sorted_ids;
  if (!dense) {
    sorted_ids.assign(node_ids.begin(), node_ids.end());
    std::sort(sorted_ids.begin(), sorted_ids.end());
    sorted_ids.erase(std::unique(sorted_ids.begin(), sorted_ids.end()), sorted_ids.end());
  }
  auto key = [&](int64_t id) -> uint64_t {
    if (dense) return static_cast<uint64_t>(id) - min_id;
    return static_cast<uint64_t>(std::lower_bound(sorted_ids.begin(), sorted_ids.end(), id) -
                                 sorted_ids.begin());
  };
  const uint64_t max_key = dense ? span : sorted_ids.size() - 1;
  const int key_bits = std::max(1, static_cast<int>(std::bit_width(max_key)));

  std::vector<Item> items;
  fresh(items, e);
  for (std::size_t a = 0; a < e; ++a) {
    items[a] = Item{(key(tails[a]) << key_bits) | key(heads[a]), a};
  }
  radix_sort(items, 2 * key_bits);
  for (std::size_t i = 0; i < e; ++i) order[i] = items[i].position;
}

}  // namespace

ArcOrder order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                    std::span<const int64_t> node_ids) {
  const std::size_t e = tails.size();
  ArcOrder out;
  fresh(out.parallel_index, e);
  fresh(out.pair_order, e);
  if (e == 0) return out;

  if (std::is_sorted(tails.begin(), tails.end())) {
    order_grouped_by_tail(tails, heads, out.pair_order);
  } else {
    order_by_pair_keys(tails, heads, node_ids, out.pair_order);
  }

  // Runs of equal pairs: the k-th arc of a run has parallel index k.
  std::size_t run = 0;
  for (std::size_t i = 0; i < e; ++i) {
    const uint64_t a = out.pair_order[i];
    const uint64_t b = i > 0 ? out.pair_order[i - 1] : a;
    run = (i > 0 && tails[a] == tails[b] && heads[a] == heads[b]) ? run + 1 : 0;
    if (run == 1) ++out.num_parallel_pairs;
    out.parallel_index[a] = static_cast<int64_t>(run);
  }
  return out;
}

}  // namespace korvane
