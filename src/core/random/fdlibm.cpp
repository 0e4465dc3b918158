// fdlibm-style ln and exp: bit-exact reproductions of the classic algorithms on top
// of plain IEEE double arithmetic, independent of the platform's libm.
#include "core/random/fdlibm.h"

#include <bit>
#include <cstdint>
#include <limits>

#include "core/base/numeric.h"

namespace korvane {
namespace {

// The high and low 32-bit halves of a double, as the fdlibm algorithms inspect them.
int32_t high_word(double x) {
  return static_cast<int32_t>(static_cast<uint32_t>(std::bit_cast<uint64_t>(x) >> 32));
}
uint32_t low_word(double x) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(x)); }
double with_high_word(double x, uint32_t high) {
  const uint64_t bits = (std::bit_cast<uint64_t>(x) & 0xFFFFFFFFu) | (uint64_t{high} << 32);
  return std::bit_cast<double>(bits);
}

// ln 2 split so that k * kLn2Hi is exact for |k| < 2^11 (the low 32 bits of kLn2Hi are zero).
constexpr double kLn2Hi = 6.93147180369123816490e-01;  // 0x3FE62E42 FEE00000
constexpr double kLn2Lo = 1.90821492927058770002e-10;  // 0x3DEA39EF 35793C76
constexpr double kTwo54 = 1.80143985094819840000e+16;  // 0x43500000 00000000

// Minimax coefficients of R(z) ~ (ln((1+s)/(1-s)) - 2s)/s on [0, 0.1716^2].
constexpr double kLg1 = 6.666666666666735130e-01;  // 0x3FE55555 55555593
constexpr double kLg2 = 3.999999999940941908e-01;  // 0x3FD99999 9997FA04
constexpr double kLg3 = 2.857142874366239149e-01;  // 0x3FD24924 94229359
constexpr double kLg4 = 2.222219843214978396e-01;  // 0x3FCC71C5 1D8E78AF
constexpr double kLg5 = 1.818357216161805012e-01;  // 0x3FC74664 96CB03DE
constexpr double kLg6 = 1.531383769920937332e-01;  // 0x3FC39A09 D078C69F
constexpr double kLg7 = 1.479819860511658591e-01;  // 0x3FC2F112 DF3E5244

constexpr double kInvLn2 = 1.44269504088896338700e+00;               // 0x3FF71547 652B82FE
constexpr double kOverflowThreshold = 7.09782712893383973096e+02;    // 0x40862E42 FEFA39EF
constexpr double kUnderflowThreshold = -7.45133219101941108420e+02;  // 0xC0874910 D52D3051
constexpr double kTwoM1000 = 9.33263618503218878990e-302;            // 2^-1000
constexpr double kHuge = 1.0e+300;

// Minimax coefficients of the Remez polynomial for x*(exp(x)+1)/(exp(x)-1) on
// [-0.5 ln2, 0.5 ln2].
constexpr double kP1 = 1.66666666666666019037e-01;   // 0x3FC55555 5555553E
constexpr double kP2 = -2.77777777770155933842e-03;  // 0xBF66C16C 16BEBD93
constexpr double kP3 = 6.61375632143793436117e-05;   // 0x3F11566A AF25DE2C
constexpr double kP4 = -1.65339022054652515390e-06;  // 0xBEBBBD41 C5D26BF1
constexpr double kP5 = 4.13813679705723846039e-08;   // 0x3E663769 72BEA4D0

// Adds k to the binary exponent of y by integer arithmetic on its bits (y is in
// [0.5, 2] here, so the result stays normal for the k the callers pass).
double add_to_exponent(double y, int32_t k) {
  const uint64_t shift = static_cast<uint64_t>(static_cast<int64_t>(k)) << 52;
  return std::bit_cast<double>(std::bit_cast<uint64_t>(y) + shift);
}

}  // namespace

double fdlibm_log(double x) {
  // Reduce x = 2^k * (1 + f) with sqrt(2)/2 < 1 + f < sqrt(2), then
  // ln(1 + f) = 2s + s*R(s^2) with s = f/(2 + f), evaluated as f - (f^2/2 - s*(f^2/2 + R)).
  int32_t hx = high_word(x);
  const uint32_t lx = low_word(x);
  int32_t k = 0;
  if (hx < 0x00100000) {  // x < 2^-1022: zero, negative or subnormal
    if (((hx & 0x7FFFFFFF) | static_cast<int32_t>(lx)) == 0) {
      return -std::numeric_limits<double>::infinity();  // ln(+-0) = -inf
    }
    if (hx < 0) {
      return std::numeric_limits<double>::quiet_NaN();  // ln(negative) = NaN
    }
    k -= 54;
    x *= kTwo54;  // subnormal: scale into the normal range
    hx = high_word(x);
  }
  if (hx >= 0x7FF00000) {
    return x + x;  // +inf or NaN
  }
  k += (hx >> 20) - 1023;
  hx &= 0x000FFFFF;
  // i is 0x100000 when the mantissa exceeds sqrt(2); then x is normalised to x/2.
  const int32_t i = (hx + 0x95F64) & 0x100000;
  x = with_high_word(x, static_cast<uint32_t>(hx | (i ^ 0x3FF00000)));
  k += i >> 20;
  const double f = x - 1.0;
  const double dk = static_cast<double>(k);
  if ((0x000FFFFF & (2 + hx)) < 3) {  // -2^-20 <= f < 2^-20: short series
    if (f == 0.0) {
      return k == 0 ? 0.0 : dk * kLn2Hi + dk * kLn2Lo;
    }
    const double r = f * f * (0.5 - 0.33333333333333333 * f);
    return k == 0 ? f - r : dk * kLn2Hi - ((r - dk * kLn2Lo) - f);
  }
  const double s = f / (2.0 + f);
  const double z = s * s;
  const double w = z * z;
  // Split the polynomial into odd and even parts for accuracy.
  const double t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
  const double t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
  const double r = t2 + t1;
  // Positive when the mantissa lies in (1.38, 1.42) roughly: there the f^2/2 form is
  // more accurate than f - s*(f - R).
  const int32_t range = (hx - 0x6147A) | (0x6B851 - hx);
  if (range > 0) {
    const double hfsq = 0.5 * f * f;
    return k == 0 ? f - (hfsq - s * (hfsq + r))
                  : dk * kLn2Hi - ((hfsq - (s * (hfsq + r) + dk * kLn2Lo)) - f);
  }
  return k == 0 ? f - s * (f - r) : dk * kLn2Hi - ((s * (f - r) - dk * kLn2Lo) - f);
}

double fdlibm_exp(double x) {
  // Reduce x = k*ln2 + r with |r| <= 0.5 ln2 (r carried as hi - lo), approximate
  // exp(r) by a rational form of the Remez polynomial, then scale by 2^k.
  const uint32_t high = static_cast<uint32_t>(high_word(x));
  const int sign = static_cast<int>(high >> 31);
  const uint32_t abs_high = high & 0x7FFFFFFF;

  if (abs_high >= 0x40862E42) {  // |x| >= 709.78...
    if (abs_high >= 0x7FF00000) {
      if (((abs_high & 0xFFFFF) | low_word(x)) != 0) {
        return x + x;  // NaN
      }
      return sign == 0 ? x : 0.0;  // exp(+inf) = inf, exp(-inf) = 0
    }
    if (x > kOverflowThreshold) {
      return kHuge * kHuge;  // overflow to +inf
    }
    if (x < kUnderflowThreshold) {
      return kTwoM1000 * kTwoM1000;  // underflow to 0
    }
  }

  double hi = 0.0;
  double lo = 0.0;
  int32_t k = 0;
  if (abs_high > 0x3FD62E42) {    // |x| > 0.5 ln2
    if (abs_high < 0x3FF0A2B2) {  // and |x| < 1.5 ln2: k is +-1
      hi = sign == 0 ? x - kLn2Hi : x + kLn2Hi;
      lo = sign == 0 ? kLn2Lo : -kLn2Lo;
      k = 1 - sign - sign;
    } else {
      // |x| < 746 here, so k fits easily; the cast rounds to nearest via the +-0.5.
      k = static_cast<int32_t>(saturating_cast<int64_t>(kInvLn2 * x + (sign == 0 ? 0.5 : -0.5)));
      const double t = static_cast<double>(k);
      hi = x - t * kLn2Hi;  // exact: t*kLn2Hi has at most 43 significant bits
      lo = t * kLn2Lo;
    }
    x = hi - lo;
  } else if (abs_high < 0x3E300000) {  // |x| < 2^-28: exp(x) rounds to 1 + x
    return 1.0 + x;
  }

  const double t = x * x;
  const double c = x - t * (kP1 + t * (kP2 + t * (kP3 + t * (kP4 + t * kP5))));
  if (k == 0) {
    return 1.0 - ((x * c) / (c - 2.0) - x);
  }
  const double y = 1.0 - ((lo - (x * c) / (2.0 - c)) - hi);
  if (k >= -1021) {
    return add_to_exponent(y, k);
  }
  // Results below 2^-1021: scale in two steps so that the final multiply rounds once
  // into the subnormal range.
  return add_to_exponent(y, k + 1000) * kTwoM1000;
}

}  // namespace korvane
