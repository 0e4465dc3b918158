// Per-arc rows of generated costs and capacities: the draw ranges, the draw
// order within a row, capacity zeroing folded into each row, and the split of a
// run of arcs over threads with one seek per thread.
#include "core/generate/arc_draws.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/numeric.h"
#include "core/base/parallel.h"
#include "core/random/random_source.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace korvane::detail {
namespace {

// The instructions a run of rows is drawn with: the baseline, SSE4.1's rounding,
// or AVX2 lanes (which include it). Every kind gives the same values.
enum class Lanes { kBaseline, kRound, kAvx2 };

// ceil(v) as int64, saturating at both ends; NaN gives 0.
int64_t ceil_saturated(double v) { return saturating_cast<int64_t>(std::ceil(v)); }

// Per-arc draw set-up: bounds, the value used when no draw is made, and whether
// a draw is made at all (flag set and hi > lo).
struct DrawRange {
  double lo = 0.0;
  double hi = 0.0;
  double scale = 0.0;
  bool draw = false;
  int64_t fixed = 0;
  int64_t least = 0;   // smallest result: cost_min for costs, 1 for capacities
  bool small = false;  // both bounds within +-2^62, so no draw needs saturation
  bool tiny = false;   // within +-2^50: every ceiling is exact as a double below 2^51

  DrawRange(bool randomize, double a, double b, int64_t value, int64_t minimum) : least(minimum) {
    const double as_double = static_cast<double>(value);
    lo = a * as_double;
    hi = b * as_double;
    draw = randomize && hi > lo;
    scale = hi - lo;
    small = lo >= -0x1p62 && hi <= 0x1p62;
    tiny = lo >= -0x1p50 && hi <= 0x1p50;
    fixed = randomize ? std::max(ceil_saturated(lo), minimum) : value;
  }

  bool refused() const { return draw && !std::isfinite(scale); }

  // A draw over a range of non-finite width fails; uniform_real reports it, with
  // its own message, before any word is consumed.
  Result<void> check(RandomSource& generator) const {
    if (!refused()) return {};
    Result<double> refusal = generator.uniform_real(lo, hi);
    if (refusal.ok()) return {};
    return refusal.take_error();
  }

  // The value for one word: the double uniform_real(lo, hi) returns for it
  // (unit_real52's conversion, multiply, then add), drawn inline because the
  // range is known to be non-empty and finite, then its ceiling. kRound: the
  // caller is compiled for SSE4.1, whose rounding instruction gives the ceiling.
  template <bool kRound>
  int64_t from_word(uint64_t word) const {
    const double unit = std::bit_cast<double>(0x3FF0000000000000ULL | (word >> 12)) - 1.0;
    const double v = unit * scale + lo;
    if (!small) return std::max(ceil_saturated(v), least);
    // |v| stays near or below 2^62, so its ceiling converts exactly.
    if constexpr (kRound) return std::max(static_cast<int64_t>(std::ceil(v)), least);
    // Truncation is exact in range, and one step up when it fell below v gives
    // the ceiling.
    const auto truncated = static_cast<int64_t>(v);
    return std::max(truncated + (static_cast<double>(truncated) < v ? 1 : 0), least);
  }
};

// The two draw ranges of arc a.
struct ArcRanges {
  DrawRange cost;
  DrawRange cap;
  ArcRanges(const NetworkInstance& instance, const GenerationParams& params, std::size_t a)
      // With K = 0 no draw is made, so no range can be refused.
      : cost(params.randomize_costs && params.num_commodities > 0, params.cost_a, params.cost_b,
             instance.costs[a], instance.costs[a] != 0 ? 1 : 0),
        cap(params.randomize_caps && params.num_commodities > 0, params.cap_a, params.cap_b,
            instance.ups[a], 1) {}
  bool refused() const { return cost.refused() || cap.refused(); }
  // 32-bit words the arc's draws take: one 64-bit word per drawn value.
  uint64_t words(uint64_t num_commodities) const {
    return 2 * num_commodities * ((cost.draw ? 1u : 0u) + (cap.draw ? 1u : 0u));
  }
};

// Value i of a run of next_u64() values as take_u64_runs hands them out.
inline uint64_t value_at(const uint32_t* words, std::size_t i) {
  return uint64_t{words[2 * i]} | (uint64_t{words[2 * i + 1]} << 32);
}

#if defined(__x86_64__)
// from_word on four words at once, lane l with the bounds of lane l: the same
// conversion, multiply, add (never fused: FMA is not enabled here) and
// ceiling, then the maximum with `least` taken as doubles and the integral
// double turned into its int64 by the 1.5 * 2^52 shift, both exact for tiny
// ranges (|value| < 2^51).
__attribute__((target("avx2"))) inline __m256i values_of(__m256i words, __m256d scale,
                                                        __m256d lo, __m256d least) {
  const __m256i one = _mm256_set1_epi64x(0x3FF0000000000000LL);
  const __m256d unit =
      _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(words, 12), one)),
                    _mm256_set1_pd(1.0));
  const __m256d v = _mm256_add_pd(_mm256_mul_pd(unit, scale), lo);
  const __m256d ceiling =
      _mm256_max_pd(_mm256_round_pd(v, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC), least);
  const __m256d shift = _mm256_set1_pd(0x1.8p52);
  return _mm256_sub_epi64(_mm256_castpd_si256(_mm256_add_pd(ceiling, shift)),
                          _mm256_castpd_si256(shift));
}

// n (cost, capacity) value pairs into the two rows; both ranges tiny.
__attribute__((target("avx2"))) inline void pairs_avx2(const uint32_t* words, std::size_t n,
                                                      const DrawRange& cost,
                                                      const DrawRange& cap, int64_t* cost_row,
                                                      int64_t* cap_row) {
  const __m256d scale = _mm256_set_pd(cap.scale, cost.scale, cap.scale, cost.scale);
  const __m256d lo = _mm256_set_pd(cap.lo, cost.lo, cap.lo, cost.lo);
  const __m256d least = _mm256_set_pd(static_cast<double>(cap.least),
                                      static_cast<double>(cost.least),
                                      static_cast<double>(cap.least),
                                      static_cast<double>(cost.least));
  std::size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    // Little-endian, as take_u64_runs guarantees: the value pairs as they lie.
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 4 * j));
    // Lanes (cost j, cap j, cost j+1, cap j+1) regrouped as (costs, caps).
    const __m256i v = _mm256_permute4x64_epi64(values_of(w, scale, lo, least),
                                               _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cost_row + j), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cap_row + j), _mm256_extracti128_si256(v, 1));
  }
  for (; j < n; ++j) {
    cost_row[j] = cost.from_word<true>(value_at(words, 2 * j));
    cap_row[j] = cap.from_word<true>(value_at(words, 2 * j + 1));
  }
}

// n values of one tiny range into its row.
__attribute__((target("avx2"))) inline void singles_avx2(const uint32_t* words, std::size_t n,
                                                        const DrawRange& range, int64_t* row) {
  const __m256d scale = _mm256_set1_pd(range.scale);
  const __m256d lo = _mm256_set1_pd(range.lo);
  const __m256d least = _mm256_set1_pd(static_cast<double>(range.least));
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 2 * j));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j), values_of(w, scale, lo, least));
  }
  for (; j < n; ++j) row[j] = range.from_word<true>(value_at(words, j));
}
#endif

// Writes one arc's whole row of each table, every entry once: drawn values, or
// the fixed ones. The values are converted where the source's buffer holds
// them, a buffer at a time; only a run cut by a refill goes through next_u64().
template <Lanes kLanes>
[[gnu::always_inline]] inline void fill_row(const ArcRanges& r, RandomSource& generator,
                                            uint64_t num_commodities, int64_t* cost_row,
                                            int64_t* cap_row) {
  constexpr bool kRound = kLanes != Lanes::kBaseline;
  const auto k = static_cast<std::size_t>(num_commodities);
  if (r.cost.draw && r.cap.draw) {
    // Commodities ascending, cost draw before capacity draw.
    for (std::size_t first = 0; first < k;) {
      const uint32_t* words = nullptr;
      const std::size_t n = generator.take_u64_runs(k - first, 2, words);
      if (n == 0) {
        cost_row[first] = r.cost.from_word<kRound>(generator.next_u64());
        cap_row[first] = r.cap.from_word<kRound>(generator.next_u64());
        ++first;
        continue;
      }
#if defined(__x86_64__)
      if constexpr (kLanes == Lanes::kAvx2) {
        if (r.cost.tiny && r.cap.tiny) {
          pairs_avx2(words, n, r.cost, r.cap, cost_row + first, cap_row + first);
          first += n;
          continue;
        }
      }
#endif
      for (std::size_t j = 0; j < n; ++j) {
        cost_row[first + j] = r.cost.from_word<kRound>(value_at(words, 2 * j));
        cap_row[first + j] = r.cap.from_word<kRound>(value_at(words, 2 * j + 1));
      }
      first += n;
    }
    return;
  }
  // Commodities ascending in the table that draws, if any; the other keeps its fixed value.
  auto draw_one = [&](const DrawRange& range, int64_t* row) {
    for (std::size_t first = 0; first < k;) {
      const uint32_t* words = nullptr;
      const std::size_t n = generator.take_u64_runs(k - first, 1, words);
      if (n == 0) {
        row[first++] = range.from_word<kRound>(generator.next_u64());
        continue;
      }
#if defined(__x86_64__)
      if constexpr (kLanes == Lanes::kAvx2) {
        if (range.tiny) {
          singles_avx2(words, n, range, row + first);
          first += n;
          continue;
        }
      }
#endif
      for (std::size_t j = 0; j < n; ++j) row[first + j] = range.from_word<kRound>(value_at(words, j));
      first += n;
    }
  };
  if (r.cost.draw) {
    draw_one(r.cost, cost_row);
  } else {
    std::fill(cost_row, cost_row + k, r.cost.fixed);
  }
  if (r.cap.draw) {
    draw_one(r.cap, cap_row);
  } else {
    std::fill(cap_row, cap_row + k, r.cap.fixed);
  }
}

// Capacity zeroing: commodity k zeroes the arcs (k mod E + j * stride) mod E for
// j < n; every arc then left with an all-zero row gets its own upper capacity
// back in commodity a mod K. Runs only for p in (0, 1) or NaN (which zeroes
// nothing but still restores). Without arcs or commodities there is nothing to do.
//
// Entry (a, k) is zeroed iff d = (a - k mod E) mod E is j * stride reduced mod E
// for some j < n. Since j * stride < n * stride < E + n <= 2E, that means d is a
// multiple of the stride below first_limit (j * stride = d), or d + E is one
// with j < n (d = j * stride - E), i.e. d % stride == second_residue and
// d < second_limit.
struct ZeroPattern {
  bool active = false;  // zeroing and restoring run at all
  uint64_t edges = 0;
  uint64_t n = 0;
  uint64_t stride = 1;
  uint64_t first_limit = 0;
  uint64_t second_limit = 0;
  uint64_t second_residue = 0;
  // For rows where d = a - k for every k: the first zeroed k at or above the
  // lowest k each condition allows lies this far above it.
  uint64_t first_shift = 0;
  uint64_t second_shift = 0;

  ZeroPattern(const GenerationParams& params, uint64_t num_edges) : edges(num_edges) {
    const double p = params.cap_zero_param;
    if (!params.cap_zero || p <= 0.0 || p >= 1.0) return;
    if (num_edges == 0 || params.num_commodities == 0) return;
    active = true;
    // A NaN p selects no arc.
    const double share = std::floor(p * static_cast<double>(num_edges));
    n = p > 0.0 ? std::max<uint64_t>(saturating_cast<uint64_t>(share), 1) : 0;
    if (n == 0) return;
    stride = num_edges / n + (num_edges % n != 0 ? 1 : 0);
    const uint64_t last = (n - 1) * stride;  // below 2E
    first_limit = std::min(num_edges, last + 1);
    second_limit = last >= num_edges ? last - num_edges + 1 : 0;
    second_residue = (stride - num_edges % stride) % stride;
    first_shift = (first_limit - 1) % stride;
    if (second_limit != 0) second_shift = (second_limit - 1 + stride - second_residue) % stride;
  }

  // d for arc a and commodity k; one division per call.
  uint64_t offset(uint64_t a, uint64_t k) const {
    const uint64_t m = k % edges;
    return a >= m ? a - m : a + edges - m;
  }
  bool zeroes(uint64_t d) const {
    if (n == 0) return false;
    const uint64_t r = d % stride;
    return (r == 0 && d < first_limit) || (r == second_residue && d < second_limit);
  }
};

// The zeroing and restoring of a run of rows, advanced one arc per row
// without dividing.
//
// From row K - 1 on (when K <= E), d = a - k for every commodity, so the zeroed
// entries of a row are two strided runs of k: k = a mod stride (mod stride)
// from the lowest k with a - k < first_limit, and k = a - second_residue (mod
// stride) from the lowest k with a - k < second_limit. Rows before that (and
// every row when K > E, where k mod E wraps) keep one commodity's
// (d, d mod stride) per column instead, advanced by one per row.
class RowZeroing {
 public:
  RowZeroing(const ZeroPattern& pattern, uint64_t num_commodities, uint64_t begin,
             const std::vector<int64_t>& ups)
      : z_(pattern), k_(num_commodities), ups_(ups) {
    if (!z_.active) return;
    column_ = begin % k_;
    if (z_.n == 0) return;
    strided_from_ = k_ <= z_.edges ? k_ - 1 : UINT64_MAX;
    residue_ = begin % z_.stride;
    if (begin >= strided_from_) return;
    d_.resize(k_);
    r_.resize(k_);
    for (uint64_t k = 0; k < k_; ++k) {
      d_[k] = z_.offset(begin, k);
      r_[k] = d_[k] % z_.stride;
    }
  }

  // Zeroes and restores the capacity row of arc a (the next arc of the run).
  //
  // Before zeroing, a row holds only values of at least 1 (randomised) or only
  // the arc's own upper bound, so a row can end all zero, and need its bound
  // back, only when zeroing took every entry, or when it held zeros alone; the
  // restore then writes 0 over 0. Rows that fewer than K zeroings reached are
  // therefore left as they are without being read; a NaN p zeroes nothing and
  // so has nothing to restore.
  void apply(uint64_t a, int64_t* cap_row) {
    if (!z_.active || z_.n == 0) return;
    uint64_t zeroed = k_;
    if (a >= strided_from_) {
      zeroed = zero_strided(a, cap_row);
    } else {
      zero_by_columns(cap_row);
    }
    if (++residue_ == z_.stride) residue_ = 0;
    if (zeroed >= k_) {
      int64_t any = 0;
      for (uint64_t k = 0; k < k_; ++k) any |= cap_row[k];
      if (any == 0) cap_row[column_] = ups_[a];
    }
    if (++column_ == k_) column_ = 0;
  }

 private:
  // Returns the number of zeroings made (an entry both runs reach counts twice).
  uint64_t zero_strided(uint64_t a, int64_t* cap_row) const {
    const uint64_t stride = z_.stride;
    const uint64_t r = residue_;  // a mod stride
    uint64_t zeroed = 0;
    uint64_t k = a + 1 > z_.first_limit ? a + 1 - z_.first_limit + z_.first_shift : r;
    for (; k < k_; k += stride, ++zeroed) cap_row[k] = 0;
    if (z_.second_limit == 0) return zeroed;
    const uint64_t second = r >= z_.second_residue ? r - z_.second_residue
                                                   : r + stride - z_.second_residue;
    k = a + 1 > z_.second_limit ? a + 1 - z_.second_limit + z_.second_shift : second;
    for (; k < k_; k += stride, ++zeroed) cap_row[k] = 0;
    return zeroed;
  }

  void zero_by_columns(int64_t* cap_row) {
    const uint64_t stride = z_.stride;
    uint64_t* const d = d_.data();
    uint64_t* const r = r_.data();
    for (uint64_t k = 0; k < k_; ++k) {
      const bool zero = (r[k] == 0 && d[k] < z_.first_limit) ||
                        (r[k] == z_.second_residue && d[k] < z_.second_limit);
      if (zero) cap_row[k] = 0;
      // The next arc: d + 1, wrapping to 0 at E (where the residue restarts too).
      const uint64_t next_d = d[k] + 1;
      const uint64_t next_r = r[k] + 1;
      const bool wrap = next_d == z_.edges;
      d[k] = wrap ? 0 : next_d;
      r[k] = wrap || next_r == stride ? 0 : next_r;
    }
  }

  const ZeroPattern& z_;
  uint64_t k_;
  const std::vector<int64_t>& ups_;
  uint64_t column_ = 0;                 // a mod K
  uint64_t strided_from_ = UINT64_MAX;  // first row zeroed by zero_strided
  uint64_t residue_ = 0;                // a mod stride
  std::vector<uint64_t> d_;
  std::vector<uint64_t> r_;
};

// One thread's run: rows [begin, end) from a source `first_word` words in.
template <Lanes kLanes>
[[gnu::always_inline]] inline bool draw_run_body(const NetworkInstance& instance,
                                                 const GenerationParams& params,
                                                 const ZeroPattern& pattern, std::size_t begin,
                                                 std::size_t end, uint64_t first_word,
                                                 int64_t* cost_rows, int64_t* capacity_rows) {
  const uint64_t k = params.num_commodities;
  RandomSource generator = RandomSource::from_seed(params.seed);
  if (first_word != 0) generator.seek(first_word);
  RowZeroing zeroing(pattern, k, begin, instance.ups);
  CancelCheck cancel;
  // Arcs ascending; each row in fill_row's order.
  for (std::size_t a = begin; a < end; ++a) {
    if (cancel.requested(k + 1)) return false;
    const ArcRanges ranges(instance, params, a);
    int64_t* const cap_row = capacity_rows + (a - begin) * k;
    fill_row<kLanes>(ranges, generator, k, cost_rows + (a - begin) * k, cap_row);
    zeroing.apply(a, cap_row);
  }
  return true;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool draw_run_avx2(
    const NetworkInstance& instance, const GenerationParams& params, const ZeroPattern& pattern,
    std::size_t begin, std::size_t end, uint64_t first_word, int64_t* cost_rows,
    int64_t* capacity_rows) {
  return draw_run_body<Lanes::kAvx2>(instance, params, pattern, begin, end, first_word,
                                     cost_rows, capacity_rows);
}

__attribute__((target("sse4.1"))) bool draw_run_rounding(
    const NetworkInstance& instance, const GenerationParams& params, const ZeroPattern& pattern,
    std::size_t begin, std::size_t end, uint64_t first_word, int64_t* cost_rows,
    int64_t* capacity_rows) {
  return draw_run_body<Lanes::kRound>(instance, params, pattern, begin, end, first_word,
                                      cost_rows, capacity_rows);
}
#endif

bool draw_run(const NetworkInstance& instance, const GenerationParams& params,
              const ZeroPattern& pattern, std::size_t begin, std::size_t end,
              uint64_t first_word, int64_t* cost_rows, int64_t* capacity_rows) {
#if defined(__x86_64__)
  static const Lanes lanes = __builtin_cpu_supports("avx2") != 0     ? Lanes::kAvx2
                             : __builtin_cpu_supports("sse4.1") != 0 ? Lanes::kRound
                                                                     : Lanes::kBaseline;
  if (lanes == Lanes::kAvx2) {
    return draw_run_avx2(instance, params, pattern, begin, end, first_word, cost_rows,
                         capacity_rows);
  }
  if (lanes == Lanes::kRound) {
    return draw_run_rounding(instance, params, pattern, begin, end, first_word, cost_rows,
                             capacity_rows);
  }
#endif
  return draw_run_body<Lanes::kBaseline>(instance, params, pattern, begin, end, first_word,
                                         cost_rows, capacity_rows);
}

}  // namespace

Result<void> check_draws(const NetworkInstance& instance, const GenerationParams& params) {
  const std::size_t num_edges = instance.num_edges();
  if (params.num_commodities == 0 || (!params.randomize_caps && !params.randomize_costs)) {
    return {};
  }
  // Multipliers below 2^959 in magnitude keep both bounds of any int64 value
  // below 2^1022, and so their difference finite: no arc can be refused.
  auto bounded = [](double m) { return std::fabs(m) < 0x1p959; };
  if ((!params.randomize_caps || (bounded(params.cap_a) && bounded(params.cap_b))) &&
      (!params.randomize_costs || (bounded(params.cost_a) && bounded(params.cost_b)))) {
    return {};
  }
  const std::size_t chunks = draw_chunks(num_edges, params.num_commodities);
  std::vector<std::size_t> refused(chunks, num_edges);
  // Every thread polls (the workers read the caller's stop flag, parallel.h).
  std::vector<char> stopped(chunks, 0);
  for_each_chunk(num_edges, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    CancelCheck cancel;
    for (std::size_t a = begin; a < end; ++a) {
      if (cancel.requested()) {
        stopped[c] = 1;
        return;
      }
      if (ArcRanges(instance, params, a).refused()) {
        refused[c] = a;
        return;
      }
    }
  });
  if (std::find(stopped.begin(), stopped.end(), 1) != stopped.end()) return cancelled();
  for (const std::size_t a : refused) {
    if (a == num_edges) continue;
    // The arc's first refusal, cost before capacity, as its draw would report it.
    const ArcRanges ranges(instance, params, a);
    RandomSource scratch = RandomSource::from_seed(params.seed);
    KORVANE_TRY(ranges.cost.check(scratch));
    return ranges.cap.check(scratch);
  }
  return {};
}

uint64_t words_of(const NetworkInstance& instance, const GenerationParams& params,
                  std::size_t begin, std::size_t end) {
  const uint64_t k = params.num_commodities;
  if (k == 0 || (!params.randomize_caps && !params.randomize_costs)) return 0;
  uint64_t words = 0;
  for (std::size_t a = begin; a < end; ++a) words += ArcRanges(instance, params, a).words(k);
  return words;
}

bool row_fully_zeroed(const GenerationParams& params, std::size_t num_edges, std::size_t a) {
  const ZeroPattern pattern(params, num_edges);
  if (!pattern.active || pattern.n == 0) return false;
  for (uint64_t k = 0; k < params.num_commodities; ++k) {
    if (!pattern.zeroes(pattern.offset(a, k))) return false;
  }
  return true;
}

std::size_t draw_chunks(std::size_t arcs, uint64_t num_commodities) {
  constexpr std::size_t kMinValuesPerChunk = std::size_t{1} << 14;
  return chunk_count(arcs, thread_count(),
                     kMinValuesPerChunk / std::max<uint64_t>(num_commodities, 1));
}

Result<void> draw_rows(const NetworkInstance& instance, const GenerationParams& params,
                       std::size_t begin, std::size_t end, uint64_t first_word,
                       std::size_t chunks, int64_t* cost_rows, int64_t* capacity_rows) {
  const ZeroPattern pattern(params, instance.num_edges());
  const uint64_t k = params.num_commodities;
  const std::size_t arcs = end - begin;
  if (chunks <= 1) {
    if (!draw_run(instance, params, pattern, begin, end, first_word, cost_rows, capacity_rows)) {
      return cancelled();
    }
    return {};
  }
  // Each chunk's first word: the words of the chunks before it, counted first.
  std::vector<uint64_t> words(chunks + 1, 0);
  for_each_chunk(arcs, chunks, [&](std::size_t c, std::size_t b, std::size_t e) {
    words[c + 1] = words_of(instance, params, begin + b, begin + e);
  });
  words[0] = first_word;
  for (std::size_t c = 0; c < chunks; ++c) words[c + 1] += words[c];
  std::vector<char> stopped(chunks, 0);
  for_each_chunk(arcs, chunks, [&](std::size_t c, std::size_t b, std::size_t e) {
    if (!draw_run(instance, params, pattern, begin + b, begin + e, words[c], cost_rows + b * k,
                  capacity_rows + b * k)) {
      stopped[c] = 1;
    }
  });
  if (std::find(stopped.begin(), stopped.end(), 1) != stopped.end()) return cancelled();
  return {};
}

}  // namespace korvane::detail
