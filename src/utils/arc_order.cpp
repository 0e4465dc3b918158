// Pair keys and an LSD radix sort with 11-bit digits.
#include "utils/arc_order.h"

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

// Stable sort of items by key, looking only at the low `bits` bits.
void radix_sort(std::vector<Item>& items, int bits) {
  constexpr int kDigit = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kDigit;
  std::vector<Item> other(items.size());
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

}  // namespace

ArcOrder order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                    std::span<const int64_t> node_ids) {
  const std::size_t e = tails.size();
  ArcOrder out;
  out.parallel_index.assign(e, 0);
  out.pair_order.resize(e);
  if (e == 0) return out;

  // Order-preserving node keys below 2^32: the offset from the smallest id when
  // the ids are dense enough, otherwise the rank among the sorted ids.
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

  std::vector<Item> items(e);
  for (std::size_t a = 0; a < e; ++a) {
    items[a] = Item{(key(tails[a]) << key_bits) | key(heads[a]), a};
  }
  radix_sort(items, 2 * key_bits);

  // Runs of equal keys are the pairs; the k-th arc of a run has parallel index k.
  std::size_t run = 0;
  for (std::size_t i = 0; i < e; ++i) {
    run = (i > 0 && items[i].key == items[i - 1].key) ? run + 1 : 0;
    if (run == 1) ++out.num_parallel_pairs;
    out.pair_order[i] = items[i].position;
    out.parallel_index[items[i].position] = static_cast<int64_t>(run);
  }
  return out;
}

}  // namespace korvane
