// Ordering arcs by (tail, head, position). The arcs become items (a key and a
// position) in groups of equal tails: as the file lists them when it lists them
// by tail, otherwise by an LSD radix sort of node keys. Each group is then
// ordered by key and its runs of equal keys numbered. Every stretch of the work
// is split over threads in chunks whose results do not depend on the split.
#include "core/graph/arc_order.h"

#include "core/base/huge_pages.h"
#include "core/base/parallel.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

namespace korvane {
namespace {

// Within a group of equal tails, equal keys mean equal pairs.
struct Item {
  uint64_t key;
  uint64_t position;
  friend bool operator<(const Item& a, const Item& b) {
    return a.key != b.key ? a.key < b.key : a.position < b.position;
  }
};

// n value-initialised elements, on huge pages where the kernel offers them:
// the pages are advised before anything touches them.
template <class T>
void fresh(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
  v.resize(n);
}

// The key of a head inside its tail's group: order-preserving for all int64.
uint64_t head_key(int64_t head) { return static_cast<uint64_t>(head) ^ (uint64_t{1} << 63); }

// Stable sort of items by bits [low, high) of their keys, in passes of equal
// digits of at most 11 bits, each pass's histograms and scatter split over
// `chunks` contiguous chunks.
void radix_sort(std::vector<Item>& items, int low, int high, std::size_t chunks) {
  constexpr int kMaxDigit = 11;
  const std::size_t n = items.size();
  const int passes = (high - low + kMaxDigit - 1) / kMaxDigit;
  if (passes == 0) return;
  const int digit = (high - low + passes - 1) / passes;
  const uint64_t mask = (uint64_t{1} << digit) - 1;
  std::vector<Item> other;
  fresh(other, n);
  std::vector<std::array<uint64_t, std::size_t{1} << kMaxDigit>> cursor(chunks);
  for (int shift = low; shift < high; shift += digit) {
    for_each_chunk(n, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
      cursor[c].fill(0);
      for (std::size_t i = begin; i < end; ++i) ++cursor[c][(items[i].key >> shift) & mask];
    });
    uint64_t sum = 0;
    bool one_value = false;  // every item has the same digit: nothing moves
    for (uint64_t d = 0; d <= mask; ++d) {
      const uint64_t before = sum;
      for (auto& counts : cursor) sum += std::exchange(counts[d], sum);
      one_value = one_value || sum - before == n;
    }
    if (one_value) continue;
    for_each_chunk(n, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
      auto& next = cursor[c];
      for (std::size_t i = begin; i < end; ++i) other[next[(items[i].key >> shift) & mask]++] = items[i];
    });
    items.swap(other);
  }
}

// Arcs listed by tail: items in place, keyed by head; a group per run of
// equal tails.
void items_as_listed(std::span<const int64_t> heads, std::size_t chunks, std::vector<Item>& items) {
  for_each_chunk(heads.size(), chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t a = begin; a < end; ++a) items[a] = Item{head_key(heads[a]), a};
  });
}

// Any other arc order: order-preserving node keys below 2^32 (the offset from
// the smallest id when the ids are dense enough, otherwise the rank among the
// sorted ids), packed as (tail key, head key) and radix-sorted by the tail key
// alone; a group per tail key. Returns the bits of a head key.
int items_by_tail_keys(std::span<const int64_t> tails,
                                          std::span<const int64_t> heads,
                                          std::span<const int64_t> node_ids, std::size_t chunks,
                                          std::vector<Item>& items) {
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
  for_each_chunk(e, chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t a = begin; a < end; ++a) {
      items[a] = Item{(key(tails[a]) << key_bits) | key(heads[a]), a};
    }
  });
  radix_sort(items, key_bits, 2 * key_bits, chunks);
  return key_bits;
}

// Orders each group of items by (key, position), then numbers each run of
// equal keys: the k-th arc of a run has parallel index k. in_group(i) tells
// whether item i (i > 0) belongs to the group of item i - 1. The items are split
// into `chunks` stretches of whole groups; returns the runs longer than one.
template <class InGroup>
uint64_t order_groups(std::vector<Item>& items, InGroup in_group, std::size_t chunks,
                      ArcOrder& out) {
  const std::size_t n = items.size();
  std::vector<std::size_t> start(chunks + 1, n);
  for (std::size_t c = 0; c < chunks; ++c) {
    std::size_t b = std::max(chunk_begin(n, chunks, c), c == 0 ? 0 : start[c - 1]);
    while (b > 0 && b < n && in_group(b)) ++b;
    start[c] = b;
  }
  std::vector<uint64_t> pairs(chunks, 0);
  for_each_chunk(chunks, chunks, [&](std::size_t c, std::size_t, std::size_t) {
    Item* item = items.data();
    for (std::size_t begin = start[c], end; begin < start[c + 1]; begin = end) {
      end = begin + 1;
      while (end < start[c + 1] && in_group(end)) ++end;
      if (!std::is_sorted(item + begin, item + end)) std::sort(item + begin, item + end);
      int64_t run = 0;
      for (std::size_t i = begin; i < end; ++i) {
        run = i > begin && item[i].key == item[i - 1].key ? run + 1 : 0;
        if (run == 1) ++pairs[c];
        out.pair_order[i] = item[i].position;
        out.parallel_index[item[i].position] = run;
      }
    }
  });
  uint64_t total = 0;
  for (const uint64_t p : pairs) total += p;
  return total;
}

}  // namespace

ArcOrder order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                    std::span<const int64_t> node_ids, std::size_t min_chunk) {
  const std::size_t e = tails.size();
  ArcOrder out;
  fresh(out.parallel_index, e);
  fresh(out.pair_order, e);
  if (e == 0) return out;
  const std::size_t chunks = chunk_count(e, thread_count(), min_chunk);

  std::vector<Item> items;
  fresh(items, e);
  if (std::is_sorted(tails.begin(), tails.end())) {
    items_as_listed(heads, chunks, items);
    out.num_parallel_pairs =
        order_groups(items, [&](std::size_t i) { return tails[i] == tails[i - 1]; }, chunks, out);
  } else {
    const int head_bits = items_by_tail_keys(tails, heads, node_ids, chunks, items);
    out.num_parallel_pairs = order_groups(
        items, [&](std::size_t i) { return (items[i].key ^ items[i - 1].key) >> head_bits == 0; },
        chunks, out);
  }
  return out;
}

}  // namespace korvane
