// ChaCha keystream generation, word hand-out and the derived draws of the seeded
// random source. Every draw consumes a fixed, documented number of words.
#include "core/random/random_source.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "core/random/chacha.h"
#include "core/random/fdlibm.h"
#include "core/base/numeric.h"

namespace korvane {
namespace {

__extension__ using Uint128 = unsigned __int128;

constexpr uint64_t kPcgMultiplier = 6364136223846793005ULL;
constexpr uint64_t kPcgIncrement = 11634580027462260723ULL;
constexpr double kLn4 = 1.3862943611198906;
constexpr double kLn5 = 1.6094379124341003;

uint32_t pcg32_output(uint64_t state) {
  const uint32_t xorshifted = static_cast<uint32_t>(((state >> 18) ^ state) >> 27);
  const int rotation = static_cast<int>(state >> 59);
  return std::rotr(xorshifted, rotation);
}

// Top and bottom halves of the 128-bit product x * n.
std::pair<uint64_t, uint64_t> wide_multiply(uint64_t x, uint64_t n) {
  const Uint128 product = Uint128{x} * n;
  return {static_cast<uint64_t>(product >> 64), static_cast<uint64_t>(product)};
}

double unit_from_mantissa(uint64_t x) {
  // 1.0 with the top 52 bits of x as mantissa: a double in [1, 2) with step 2^-52.
  return std::bit_cast<double>(0x3FF0000000000000ULL | (x >> 12));
}

// t * (1 + t/2), the exponential-tail slope of BTPE.
double btpe_lambda(double t) { return t * (1.0 + 0.5 * t); }

// Stirling-series correction term of ln(a!) used by BTPE's final test.
double stirling_correction(double a) {
  const double a2 = a * a;
  return (13860.0 - (462.0 - (132.0 - (99.0 - 140.0 / a2) / a2) / a2) / a2) / a / 166320.0;
}

// Wrapping signed arithmetic: done in uint64_t, converted back (defined modulo 2^64).
int64_t wrapping_add(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t wrapping_sub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// The regions of BTPE for n trials at p <= 0.5 (q = 1 - p): a triangle, two
// parallelograms and two exponential tails under the pmf, cut at p1..p4.
struct BtpeShape {
  double n_real, npq, x_m, x_l, x_r, c, lambda_l, lambda_r, p1, p2, p3, p4;
  int64_t m;  // the mode
};

BtpeShape btpe_shape(uint64_t n, double p, double q) {
  BtpeShape s{};
  s.n_real = static_cast<double>(n);
  const double np = s.n_real * p;
  s.npq = np * q;
  const double f_mode = np + p;
  s.p1 = std::floor(2.195 * std::sqrt(s.npq) - 4.6 * q) + 0.5;
  s.m = saturating_cast<int64_t>(f_mode);
  const double m_real = static_cast<double>(s.m);
  s.x_m = m_real + 0.5;
  s.x_l = s.x_m - s.p1;
  s.x_r = s.x_m + s.p1;
  s.c = 0.134 + 20.5 / (15.3 + m_real);
  s.p2 = s.p1 * (1.0 + 2.0 * s.c);
  s.lambda_l = btpe_lambda((f_mode - s.x_l) / (f_mode - s.x_l * p));
  s.lambda_r = btpe_lambda((s.x_r - f_mode) / (s.x_r * q));
  s.p3 = s.p2 + s.c / s.lambda_l;
  s.p4 = s.p3 + s.c / s.lambda_r;
  return s;
}

// The explicit pmf ratio f(y)/f(m), built up from the mode one factor at a time.
// y and m are non-negative.
double btpe_pmf_ratio(const BtpeShape& s, double p, double q, int64_t y) {
  const double ratio_step = p / q;
  const double a = ratio_step * (s.n_real + 1.0);
  double ratio = 1.0;
  const auto y_index = static_cast<uint64_t>(y);
  const auto m_index = static_cast<uint64_t>(s.m);
  if (m_index < y_index) {
    for (uint64_t i = m_index + 1; i <= y_index; ++i) ratio *= a / static_cast<double>(i) - ratio_step;
  } else if (m_index > y_index) {
    for (uint64_t i = y_index + 1; i <= m_index; ++i) ratio /= a / static_cast<double>(i) - ratio_step;
  }
  return ratio;
}

// ln f(y)/f(m) by Stirling's formula with correction terms (BTPE's final test).
double btpe_stirling_bound(const BtpeShape& s, uint64_t n, double p, double q, int64_t y) {
  const int64_t big_n = saturating_cast<int64_t>(s.n_real);
  const double x1 = static_cast<double>(wrapping_add(y, 1));
  const double f1 = static_cast<double>(wrapping_add(s.m, 1));
  const double z = static_cast<double>(wrapping_sub(wrapping_add(big_n, 1), s.m));
  const double w = static_cast<double>(wrapping_add(wrapping_sub(big_n, y), 1));
  const double n_minus_m = static_cast<double>(n - static_cast<uint64_t>(s.m));
  const double y_minus_m = static_cast<double>(wrapping_sub(y, s.m));
  return s.x_m * std::log(f1 / x1) + (n_minus_m + 0.5) * std::log(z / w) +
         y_minus_m * std::log(w * p / (x1 * q)) + stirling_correction(f1) +
         stirling_correction(z) - stirling_correction(x1) - stirling_correction(w);
}

// Whether candidate y (outside the triangle, 0 <= y <= n) with test value v is
// accepted: exactly near the mode or far out, else by squeeze, else by Stirling.
bool btpe_accepts(const BtpeShape& s, uint64_t n, double p, double q, int64_t y, double v) {
  const uint64_t k = s.m < y ? static_cast<uint64_t>(wrapping_sub(y, s.m))
                             : static_cast<uint64_t>(wrapping_sub(s.m, y));
  const double k_real = static_cast<double>(k);
  if (k <= 20 || k_real >= s.npq / 2.0 - 1.0) return v <= btpe_pmf_ratio(s, p, q, y);
  // Squeeze on ln f(y)/f(m) around the normal approximation.
  const double rho =
      (k_real / s.npq) * ((k_real * (k_real / 3.0 + 0.625) + 1.0 / 6.0) / s.npq + 0.5);
  const double t = -0.5 * k_real * k_real / s.npq;
  const double alpha = std::log(v);
  if (alpha < t - rho) return true;
  if (alpha > t + rho) return false;
  return !(alpha > btpe_stirling_bound(s, n, p, q, y));
}

// The Beta variate from Cheng's w for shapes (a, b) as the algorithm left them.
double beta_from_w(double w, double b, bool switched) {
  if (switched) return b / (b + w);
  return w == std::numeric_limits<double>::infinity() ? 1.0 : w / (b + w);
}

}  // namespace

template <int Rounds>
ChaChaSource<Rounds> ChaChaSource<Rounds>::from_seed(uint64_t seed) {
  std::array<uint32_t, 8> key{};
  uint64_t state = seed;
  // Key words k0..k7 in order; the state advances before each output.
  for (uint32_t& word : key) {
    state = state * kPcgMultiplier + kPcgIncrement;
    word = pcg32_output(state);
  }
  return from_key(key);
}

template <int Rounds>
ChaChaSource<Rounds> ChaChaSource<Rounds>::from_key(const std::array<uint32_t, 8>& key) {
  ChaChaSource source;
  source.key_ = key;
  return source;
}

template <int Rounds>
std::array<uint32_t, 16> ChaChaSource<Rounds>::block(uint64_t counter) const {
  // Goes through the same lane code as refill, so tests of block() cover it.
  std::array<uint32_t, kBufferWords> blocks{};
  std::array<uint32_t, kBufferWords> unused{};
  if (detail::chacha_eight_lanes()) {
    detail::chacha_eight_blocks<Rounds>(key_, counter, stream_, blocks, unused);
  } else {
    detail::chacha_four_blocks<Rounds>(key_, counter, stream_, blocks);
  }
  std::array<uint32_t, 16> first{};
  for (std::size_t w = 0; w < first.size(); ++w) {
    first[w] = blocks[w];
  }
  return first;
}

template <int Rounds>
void ChaChaSource<Rounds>::refill() {
  if (ahead_ready_) {
    buffer_ = ahead_;
    ahead_ready_ = false;
  } else if (detail::chacha_eight_lanes()) {
    // Eight blocks in AVX2 lanes cost about what four do in 128-bit lanes; the
    // second four wait for the next refill.
    detail::chacha_eight_blocks<Rounds>(key_, counter_, stream_, buffer_, ahead_);
    ahead_ready_ = true;
  } else {
    detail::chacha_four_blocks<Rounds>(key_, counter_, stream_, buffer_);
  }
  counter_ += kBlocksPerRefill;
}

template <int Rounds>
void ChaChaSource<Rounds>::seek(uint64_t words) {
  // A refill covers kBlocksPerRefill blocks, kBufferWords words.
  counter_ = words / static_cast<uint64_t>(kBufferWords) * kBlocksPerRefill;
  ahead_ready_ = false;
  refill();
  index_ = static_cast<int>(words % static_cast<uint64_t>(kBufferWords));
}

template <int Rounds>
uint32_t ChaChaSource<Rounds>::next_u32() {
  if (index_ >= kBufferWords) {
    refill();
    index_ = 0;
  }
  return buffer_[static_cast<std::size_t>(index_++)];
}

template <int Rounds>
uint64_t ChaChaSource<Rounds>::next_u64_refilling() {
  if (index_ == kBufferWords - 1) {
    const uint64_t low = buffer_[kBufferWords - 1];
    refill();
    index_ = 1;
    return low | (uint64_t{buffer_[0]} << 32);
  }
  refill();
  index_ = 2;
  return uint64_t{buffer_[0]} | (uint64_t{buffer_[1]} << 32);
}

template <int Rounds>
Result<uint64_t> ChaChaSource<Rounds>::uniform_index(uint64_t n) {
  if (n == 0) {
    return internal("cannot sample empty range");
  }
  if (n > 0xFFFFFFFFULL) {
    return index_below_64(n);
  }
  // The 32-bit form of index_below_64, one word per draw.
  const auto n32 = static_cast<uint32_t>(n);
  const uint64_t product = uint64_t{next_u32()} * n32;
  uint64_t hi = product >> 32;
  const auto lo = static_cast<uint32_t>(product);
  if (lo > 0u - n32) {  // lo > 2^32 - n
    const uint64_t hi2 = (uint64_t{next_u32()} * n32) >> 32;
    if (uint64_t{lo} + hi2 > 0xFFFFFFFFULL) {
      ++hi;
    }
  }
  return hi;
}

template <int Rounds>
Result<int64_t> ChaChaSource<Rounds>::uniform_int_inclusive(int64_t lo, int64_t hi) {
  if (hi < lo) {
    return internal("cannot sample empty range");
  }
  const uint64_t range = static_cast<uint64_t>(wrapping_sub(hi, lo)) + 1;
  if (range == 0) {  // the full 64-bit span
    return static_cast<int64_t>(next_u64());
  }
  // Always the 64-bit path, even for ranges that fit in 32 bits.
  return wrapping_add(lo, static_cast<int64_t>(index_below_64(range)));
}

template <int Rounds>
uint64_t ChaChaSource<Rounds>::index_below_64(uint64_t n) {
  // Widening multiply: hi is the sample, lo the fraction it was rounded down from.
  // When lo is close enough to the top that a second word could carry into hi, one
  // more word decides the carry (no rejection loop, so the word count is bounded).
  auto [hi, lo] = wide_multiply(next_u64(), n);
  if (lo > 0 - n) {  // lo > 2^64 - n
    const uint64_t hi2 = wide_multiply(next_u64(), n).first;
    if (lo + hi2 < lo) {  // the sum overflows 64 bits
      ++hi;
    }
  }
  return hi;
}

template <int Rounds>
Result<double> ChaChaSource<Rounds>::uniform_real(double lo, double hi) {
  if (!(lo < hi)) {
    return internal("cannot sample empty range");
  }
  const double scale = hi - lo;
  if (!std::isfinite(scale)) {
    return internal("invalid uniform range: NonFinite");
  }
  // Multiply first, then add; rounding can give exactly hi.
  return unit_real52() * scale + lo;
}

template <int Rounds>
double ChaChaSource<Rounds>::open_unit_real52() {
  // Subtracting 1 - 2^-53 is exact (Sterbenz) and moves the grid to odd multiples of 2^-53.
  return unit_from_mantissa(next_u64()) - 0x1.fffffffffffffp-1;
}

template <int Rounds>
double ChaChaSource<Rounds>::unit_real53() {
  return static_cast<double>(next_u64() >> 11) * 0x1.0p-53;
}

template <int Rounds>
Result<double> ChaChaSource<Rounds>::sample_beta(double alpha, double beta) {
  // Cheng (1978): algorithm BB when both shapes exceed 1, BC otherwise.
  // The comparisons are written so that NaN fails them.
  if (!(alpha > 0.0)) {
    return internal("invalid Beta parameters: AlphaTooSmall");
  }
  if (!(beta > 0.0)) {
    return internal("invalid Beta parameters: BetaTooSmall");
  }
  // a is the smaller shape.
  double a = alpha;
  double b = beta;
  bool switched = false;
  if (!(alpha < beta)) {
    std::swap(a, b);
    switched = true;
  }
  if (a > 1.0) return beta_from_w(beta_cheng_bb(a, b), b, switched);
  // BC takes a as the larger shape.
  return beta_from_w(beta_cheng_bc(b, a), a, !switched);
}

template <int Rounds>
double ChaChaSource<Rounds>::beta_cheng_bb(double a, double b) {
  // a is the smaller shape, both exceed 1.
  const double sum = a + b;
  const double scale = std::sqrt((sum - 2.0) / (2.0 * a * b - sum));
  const double gamma = a + 1.0 / scale;
  // Each attempt draws u1 then u2.
  for (;;) {
    const double u1 = open_unit_real52();
    const double u2 = open_unit_real52();
    const double v = scale * fdlibm_log(u1 / (1.0 - u1));
    const double w = a * fdlibm_exp(v);
    const double z = u1 * u1 * u2;
    const double r = gamma * v - kLn4;
    const double s = a + r - w;
    if (s + 1.0 + kLn5 >= 5.0 * z) return w;
    const double t = fdlibm_log(z);
    if (s >= t) return w;
    if (!(r + sum * fdlibm_log(sum / (b + w)) < t)) return w;
  }
}

template <int Rounds>
double ChaChaSource<Rounds>::beta_cheng_bc(double a, double b) {
  // a is the larger shape, the smaller is at most 1.
  const double sum = a + b;
  const double scale = 1.0 / b;
  const double delta = 1.0 + a - b;
  // 1/24, 1/72 and 7/9 rounded to doubles.
  const double k1 = delta * (b * 0.041666666666666664 + 0.013888888888888888) /
                    (a * scale - 0.7777777777777778);
  const double k2 = b * (0.25 / delta + 0.5) + 0.25;
  // Each attempt draws u1 then u2.
  for (;;) {
    const double u1 = open_unit_real52();
    const double u2 = open_unit_real52();
    double z = 0.0;
    if (u1 < 0.5) {
      const double y = u1 * u2;
      z = u1 * y;
      if (0.25 * u2 + z - y >= k1) continue;
    } else {
      z = u1 * u1 * u2;
      if (z <= 0.25) return a * fdlibm_exp(scale * fdlibm_log(u1 / (1.0 - u1)));
      if (z >= k2) continue;
    }
    const double v = scale * fdlibm_log(u1 / (1.0 - u1));
    const double w = a * fdlibm_exp(v);
    if (!(sum * (fdlibm_log(sum / (b + w)) + v) - kLn4 < fdlibm_log(z))) return w;
  }
}

template <int Rounds>
Result<uint64_t> ChaChaSource<Rounds>::sample_binomial(uint64_t n, double p) {
  if (!(p >= 0.0)) {
    return internal("invalid Binomial parameters: ProbabilityTooSmall");
  }
  if (p > 1.0) {
    return internal("invalid Binomial parameters: ProbabilityTooLarge");
  }
  if (p == 0.0) {
    return uint64_t{0};
  }
  if (p == 1.0) {
    return n;
  }
  // Sample the smaller of p and 1 - p and mirror the result.
  const bool flipped = p > 0.5;
  const double pp = flipped ? 1.0 - p : p;
  const double q = 1.0 - pp;
  const double n_real = static_cast<double>(n);
  const double np = n_real * pp;

  uint64_t y = 0;
  if (np < 10.0) {
    if (q == 1.0) {
      // Poisson limit, Knuth's product method; p is tiny, so there is nothing to mirror.
      const double limit = fdlibm_exp(-np);
      double product = unit_real53();
      uint64_t k = 0;
      while (product > limit) {
        product *= unit_real53();
        ++k;
      }
      return k;
    }
    y = binomial_inversion(n_real, pp, q);
  } else {
    y = binomial_btpe(n, pp, q);
  }
  return flipped ? n - y : y;
}

template <int Rounds>
uint64_t ChaChaSource<Rounds>::binomial_inversion(double n_real, double p, double q) {
  // Sequential search of the CDF from 0, with the pmf ratio
  // f(x)/f(x-1) = (n+1)p/(q x) - p/q. An attempt that passes x = 110 restarts.
  constexpr uint64_t kMaxResult = 110;
  const double r0 = std::pow(q, n_real);
  const double s = p / q;
  const double a = (n_real + 1.0) * s;
  for (;;) {
    double u = unit_real53();
    double r = r0;
    uint64_t x = 0;
    bool abandoned = false;
    while (u > r) {
      ++x;
      if (x > kMaxResult) {
        abandoned = true;
        break;
      }
      u -= r;
      r *= a / static_cast<double>(x) - s;
    }
    if (!abandoned) {
      return x;
    }
  }
}

template <int Rounds>
uint64_t ChaChaSource<Rounds>::binomial_btpe(uint64_t n, double p, double q) {
  // BTPE (Kachitvichyanukul and Schmeiser 1988): a triangle, two parallelograms and
  // two exponential tails dominate the pmf; accept by squeeze or by the exact
  // Stirling-based test. Integers are taken by truncation toward zero, saturating
  // (a uniform draw of exactly 0 sends ln(v) to -infinity).
  const BtpeShape s = btpe_shape(n, p, q);
  // Each attempt draws u then v.
  for (;;) {
    const double u = s.p4 * unit_real52();
    double v = unit_real52();
    int64_t y = 0;
    if (u <= s.p1) {
      // Triangular centre: accepted outright.
      return static_cast<uint64_t>(saturating_cast<int64_t>(s.x_m - s.p1 * v + u));
    }
    if (u <= s.p2) {
      // Parallelograms.
      const double x = s.x_l + (u - s.p1) / s.c;
      v = v * s.c + 1.0 - std::fabs(x - s.x_m) / s.p1;
      if (v > 1.0) continue;
      y = saturating_cast<int64_t>(x);
    } else if (u <= s.p3) {
      // Left exponential tail.
      y = saturating_cast<int64_t>(s.x_l + std::log(v) / s.lambda_l);
      if (y < 0) continue;
      v = v * ((u - s.p2) * s.lambda_l);
    } else {
      // Right exponential tail.
      y = saturating_cast<int64_t>(s.x_r - std::log(v) / s.lambda_r);
      if (y < 0 || static_cast<uint64_t>(y) > n) continue;
      v = v * ((u - s.p3) * s.lambda_r);
    }
    if (btpe_accepts(s, n, p, q, y, v)) return static_cast<uint64_t>(y);
  }
}

template class ChaChaSource<12>;
template class ChaChaSource<20>;

}  // namespace korvane
