// Ordering arcs by (tail, head, position). The arcs become items (a key and a
// position) in groups of equal tails: as the file lists them when it lists them
// by tail, otherwise by an LSD radix sort of node keys. Each group is then
// ordered by key and its runs of equal keys numbered. Every stretch of the work
// is split over threads in chunks whose results do not depend on the split.
#include "core/graph/arc_order.h"

#include "core/base/cancel.h"
#include "core/base/huge_pages.h"
#include "core/base/parallel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <utility>

namespace korvane {
namespace {

// The cancellation of one ordering: every chunk asks its own CancelCheck once
// per kStopStride items (a worker's reads the caller's flag), and once one has
// said stop, every chunk of every later pass returns at its next ask.
constexpr std::size_t kStopStride = std::size_t{1} << 16;

struct Stop {
  std::atomic<bool> raised{false};
  // For item i of a chunk's loop: whether to return now.
  bool at(std::size_t i, CancelCheck& cancel) {
    if ((i & (kStopStride - 1)) != 0) return false;
    if (raised.load(std::memory_order_relaxed)) return true;
    if (!cancel.requested(kStopStride)) return false;
    raised.store(true, std::memory_order_relaxed);
    return true;
  }
};

// Items order by (key, position); within a group of equal tails, equal keys
// mean equal pairs. Wide items hold any key; packed ones hold key and position
// in one word (half the memory to move) when their bits fit.
struct WideItem {
  uint64_t key;
  uint64_t position;
  friend bool operator<(const WideItem& a, const WideItem& b) {
    return a.key != b.key ? a.key < b.key : a.position < b.position;
  }
};

struct Wide {
  using Item = WideItem;
  Item make(uint64_t key, uint64_t position) const { return Item{key, position}; }
  Item largest() const { return Item{UINT64_MAX, UINT64_MAX}; }
  uint64_t key(const Item& item) const { return item.key; }
  uint64_t position(const Item& item) const { return item.position; }
};

struct Packed {
  using Item = uint64_t;
  int position_bits;
  Item make(uint64_t key, uint64_t position) const { return key << position_bits | position; }
  Item largest() const { return UINT64_MAX; }
  uint64_t key(Item item) const { return item >> position_bits; }
  uint64_t position(Item item) const { return item & ((uint64_t{1} << position_bits) - 1); }
};

// n value-initialised elements, on huge pages where the kernel offers them:
// the pages are advised before anything touches them, and first touched on
// `chunks` threads, as clearing fresh pages costs more than what is written.
template <class T>
void fresh(std::vector<T>& v, std::size_t n, std::size_t chunks) {
  v.reserve(n);
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
  if (chunks > 1) touch_pages(v.data(), n * sizeof(T), chunks);
  v.resize(n);
}

// Stable sort of items by bits [low, high) of their keys, in passes of equal
// digits of at most 11 bits, each pass's histograms and scatter split over
// `chunks` contiguous chunks. `other` is scratch of the same size; the sorted
// items end up in `items`.
template <class Codec>
void radix_sort(std::span<typename Codec::Item> items, std::span<typename Codec::Item> other,
                const Codec& codec, int low, int high, std::size_t chunks, Stop& stop) {
  constexpr int kMaxDigit = 11;
  const std::size_t n = items.size();
  const int passes = (high - low + kMaxDigit - 1) / kMaxDigit;
  if (passes == 0) return;
  const int digit = (high - low + passes - 1) / passes;
  const uint64_t mask = (uint64_t{1} << digit) - 1;
  std::vector<std::array<uint64_t, std::size_t{1} << kMaxDigit>> cursor(chunks);
  auto from = items, to = other;
  for (int shift = low; shift < high; shift += digit) {
    for_each_chunk(n, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
      CancelCheck cancel;
      cursor[c].fill(0);
      for (std::size_t i = begin; i < end; ++i) {
        if (stop.at(i - begin, cancel)) return;
        ++cursor[c][(codec.key(from[i]) >> shift) & mask];
      }
    });
    if (stop.raised.load(std::memory_order_relaxed)) return;
    uint64_t sum = 0;
    bool one_value = false;  // every item has the same digit: nothing moves
    for (uint64_t d = 0; d <= mask; ++d) {
      const uint64_t before = sum;
      for (auto& counts : cursor) sum += std::exchange(counts[d], sum);
      one_value = one_value || sum - before == n;
    }
    if (one_value) continue;
    for_each_chunk(n, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
      CancelCheck cancel;
      auto& next = cursor[c];
      for (std::size_t i = begin; i < end; ++i) {
        if (stop.at(i - begin, cancel)) return;
        to[next[(codec.key(from[i]) >> shift) & mask]++] = from[i];
      }
    });
    if (stop.raised.load(std::memory_order_relaxed)) return;
    std::swap(from, to);
  }
  if (from.data() != items.data()) std::copy(from.begin(), from.end(), items.begin());
}

// Compare-exchange: a and b in order, with selects rather than a branch.
template <class Item>
void order_two(Item& a, Item& b) {
  const bool swap = b < a;
  const Item low = swap ? b : a;
  const Item high = swap ? a : b;
  a = low;
  b = high;
}

// A group's items sorted into v[0, n) for n <= 8, by the 19-comparator network
// for eight inputs (Knuth, TAOCP vol. 3, 5.3.4), the missing inputs being the
// largest item: one pass of selects with no branch to mispredict, where an
// insertion sort mispredicts about once per item. `group` may be read up to
// `readable` items (at least n, all of this thread's chunk); nothing past n is
// ever written.
template <class Item>
void sort_eight(const Item* group, std::size_t n, std::size_t readable, const Item largest,
                Item (&v)[8]) {
  if (readable >= 8) {
    for (std::size_t i = 0; i < 8; ++i) {
      const Item item = group[i];  // read unconditionally: a select, not a branch
      v[i] = i < n ? item : largest;
    }
  } else {
    for (std::size_t i = 0; i < 8; ++i) v[i] = i < n ? group[i] : largest;
  }
  constexpr std::array<std::pair<int, int>, 19> kNetwork{{{0, 2}, {1, 3}, {4, 6}, {5, 7},
                                                          {0, 4}, {1, 5}, {2, 6}, {3, 7},
                                                          {0, 1}, {2, 3}, {4, 5}, {6, 7},
                                                          {2, 4}, {3, 5}, {1, 4}, {3, 6},
                                                          {1, 2}, {3, 4}, {5, 6}}};
  for (const auto& [a, b] : kNetwork) order_two(v[a], v[b]);
}

// Sorts a group of more than eight items in place: insertion sort up to a few
// dozen (std::sort's own one moves with memmove calls), std::sort beyond.
template <class Item>
void sort_group(Item* first, Item* last) {
  if (last - first > 32) {
    std::sort(first, last);
    return;
  }
  for (Item* i = first + 1; i < last; ++i) {
    const Item item = *i;
    Item* j = i;
    for (; j > first && item < j[-1]; --j) *j = j[-1];
    *j = item;
  }
}

// Orders each group of items by (key, position), then numbers each run of
// equal keys: the k-th arc of a run has parallel index k. in_group(i) tells
// whether item i (i > 0) belongs to the group of item i - 1. The items are split
// into `chunks` stretches of whole groups; returns the runs longer than one.
// The items may live in out.pair_order: a group is read whole before its
// positions overwrite it. out.parallel_index must be all zeros: only the arcs
// that follow an equal pair are written, as they are few and land anywhere.
template <class Codec, class InGroup>
uint64_t order_groups(std::span<typename Codec::Item> items, const Codec& codec,
                      InGroup in_group, std::size_t chunks, ArcOrder& out, Stop& stop) {
  using Item = typename Codec::Item;
  const std::size_t n = items.size();
  std::vector<std::size_t> start(chunks + 1, n);
  for (std::size_t c = 0; c < chunks; ++c) {
    std::size_t b = std::max(chunk_begin(n, chunks, c), c == 0 ? 0 : start[c - 1]);
    while (b > 0 && b < n && in_group(b)) ++b;
    start[c] = b;
  }
  std::vector<uint64_t> pairs(chunks, 0);
  for_each_chunk(chunks, chunks, [&](std::size_t c, std::size_t, std::size_t) {
    Item* const item = items.data();
    uint64_t* const pair_order = out.pair_order.data();
    int64_t* const parallel_index = out.parallel_index.data();
    uint64_t chunk_pairs = 0;
    // Numbers the sorted group `sorted` that goes to [begin, begin + size).
    auto number = [&](const Item* sorted, std::size_t begin, std::size_t size) {
      int64_t run = 0;
      uint64_t previous = codec.key(sorted[0]);
      for (std::size_t i = 0; i < size; ++i) {
        const uint64_t key = codec.key(sorted[i]);
        const uint64_t position = codec.position(sorted[i]);
        run = i > 0 && key == previous ? run + 1 : 0;
        previous = key;
        chunk_pairs += run == 1 ? 1 : 0;
        pair_order[begin + i] = position;
        if (run != 0) parallel_index[position] = run;
      }
    };
    CancelCheck cancel;
    std::size_t asked = start[c];
    for (std::size_t begin = start[c], end; begin < start[c + 1]; begin = end) {
      if (begin - asked >= kStopStride) {
        asked = begin;
        if (stop.at(0, cancel)) return;
      }
      end = begin + 1;
      while (end < start[c + 1] && in_group(end)) ++end;
      const std::size_t size = end - begin;
      if (size == 1) {
        pair_order[begin] = codec.position(item[begin]);
      } else if (size <= 8) {
        Item v[8];
        sort_eight(item + begin, size, start[c + 1] - begin, codec.largest(), v);
        number(v, begin, size);
      } else {
        sort_group(item + begin, item + end);
        number(item + begin, begin, size);
      }
    }
    pairs[c] = chunk_pairs;
  });
  uint64_t total = 0;
  for (const uint64_t p : pairs) total += p;
  return total;
}

// Arcs listed by tail: items in place, keyed by head (order-preserving for all
// int64); a group per run of equal tails.
uint64_t order_as_listed(std::span<const int64_t> tails, std::span<const int64_t> heads,
                         std::size_t chunks, ArcOrder& out, Stop& stop) {
  const Wide codec;
  std::vector<WideItem> items;
  fresh(items, tails.size(), chunks);
  for_each_chunk(heads.size(), chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
    CancelCheck cancel;
    for (std::size_t a = begin; a < end; ++a) {
      if (stop.at(a - begin, cancel)) return;
      items[a] = codec.make(static_cast<uint64_t>(heads[a]) ^ (uint64_t{1} << 63), a);
    }
  });
  if (stop.raised.load(std::memory_order_relaxed)) return 0;
  return order_groups(std::span(items), codec,
                      [&](std::size_t i) { return tails[i] == tails[i - 1]; }, chunks, out, stop);
}

// Order-preserving node keys below 2^32: the offset from the smallest id when
// the ids are dense enough, otherwise the rank among the sorted ids.
class NodeKeys {
 public:
  NodeKeys(std::span<const int64_t> node_ids, std::size_t num_arcs) {
    const auto [lo, hi] = std::minmax_element(node_ids.begin(), node_ids.end());
    min_id_ = static_cast<uint64_t>(*lo);
    const uint64_t span = static_cast<uint64_t>(*hi) - min_id_;  // exact in modular arithmetic
    dense_ = span < (uint64_t{1} << 32) && span / 16 <= node_ids.size() + num_arcs;
    if (!dense_) {
      sorted_ids_.assign(node_ids.begin(), node_ids.end());
      std::sort(sorted_ids_.begin(), sorted_ids_.end());
      sorted_ids_.erase(std::unique(sorted_ids_.begin(), sorted_ids_.end()), sorted_ids_.end());
    }
    bits_ = std::max(1, static_cast<int>(std::bit_width(dense_ ? span : sorted_ids_.size() - 1)));
  }
  int bits() const { return bits_; }
  uint64_t operator()(int64_t id) const {
    if (dense_) return static_cast<uint64_t>(id) - min_id_;
    return static_cast<uint64_t>(std::lower_bound(sorted_ids_.begin(), sorted_ids_.end(), id) -
                                 sorted_ids_.begin());
  }

 private:
  uint64_t min_id_ = 0;
  bool dense_ = true;
  std::vector<int64_t> sorted_ids_;
  int bits_ = 1;
};

// Any other arc order: items keyed (tail key, head key), radix-sorted by the
// tail key alone (into `items`, with `other` as scratch); a group per tail key.
template <class Codec>
uint64_t order_by_node_keys(std::span<const int64_t> tails, std::span<const int64_t> heads,
                            const NodeKeys& keys, const Codec& codec,
                            std::span<typename Codec::Item> items,
                            std::span<typename Codec::Item> other, std::size_t chunks,
                            ArcOrder& out, Stop& stop) {
  const int bits = keys.bits();
  for_each_chunk(tails.size(), chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
    CancelCheck cancel;
    for (std::size_t a = begin; a < end; ++a) {
      if (stop.at(a - begin, cancel)) return;
      items[a] = codec.make(keys(tails[a]) << bits | keys(heads[a]), a);
    }
  });
  if (stop.raised.load(std::memory_order_relaxed)) return 0;
  radix_sort(items, other, codec, bits, 2 * bits, chunks, stop);
  if (stop.raised.load(std::memory_order_relaxed)) return 0;
  if (other.data() == static_cast<void*>(out.parallel_index.data())) {
    // The scratch was the result's parallel_index: zeros again for order_groups.
    for_each_chunk(other.size(), chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
      std::fill(out.parallel_index.begin() + static_cast<std::ptrdiff_t>(begin),
                out.parallel_index.begin() + static_cast<std::ptrdiff_t>(end), 0);
    });
  }
  return order_groups(
      items, codec,
      [&](std::size_t i) { return (codec.key(items[i]) ^ codec.key(items[i - 1])) >> bits == 0; },
      chunks, out, stop);
}

}  // namespace

Result<ArcOrder> order_arcs(std::span<const int64_t> tails, std::span<const int64_t> heads,
                            std::span<const int64_t> node_ids, std::size_t min_chunk) {
  const std::size_t e = tails.size();
  ArcOrder out;
  Stop stop;
  const std::size_t chunks = chunk_count(e, thread_count(), min_chunk);
  fresh(out.parallel_index, e, chunks);
  fresh(out.pair_order, e, chunks);
  if (e == 0) return out;
  if (std::is_sorted(tails.begin(), tails.end())) {
    out.num_parallel_pairs = order_as_listed(tails, heads, chunks, out, stop);
    if (stop.raised.load(std::memory_order_relaxed)) return cancelled();
    return out;
  }
  const NodeKeys keys(node_ids, e);
  const int position_bits = static_cast<int>(std::bit_width(e - 1));
  if (2 * keys.bits() + position_bits <= 64) {
    // One-word items need no memory of their own: they are sorted in the
    // result's pair_order, with parallel_index as scratch, both written last.
    std::span<uint64_t> scratch(reinterpret_cast<uint64_t*>(out.parallel_index.data()), e);
    out.num_parallel_pairs = order_by_node_keys(tails, heads, keys, Packed{position_bits},
                                                std::span(out.pair_order), scratch, chunks, out,
                                                stop);
  } else {
    std::vector<WideItem> items, other;
    fresh(items, e, chunks);
    fresh(other, e, chunks);
    out.num_parallel_pairs = order_by_node_keys(tails, heads, keys, Wide{}, std::span(items),
                                                std::span(other), chunks, out, stop);
  }
  if (stop.raised.load(std::memory_order_relaxed)) return cancelled();
  return out;
}

}  // namespace korvane
