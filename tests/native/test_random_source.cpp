// Seeded random source: published known-answer vectors, vector lanes against the scalar
// reference, the stream, words consumed per draw, failures, fdlibm ln/exp, and moments.
// The partitioners' worked examples pin the seed-42 draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "core/random/chacha.h"
#include "core/random/fdlibm.h"
#include "core/random/random_source.h"

namespace korvane {
namespace {

using Key = std::array<uint32_t, 8>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

// The published vectors list four words as one 128-bit hex number, first word lowest.
std::vector<uint32_t> words_of(const std::vector<std::string>& values) {
  std::vector<uint32_t> words;
  for (const std::string& hex : values) {
    for (size_t w = 4; w-- > 0;) {
      words.push_back(static_cast<uint32_t>(std::stoul(hex.substr(8 * w, 8), nullptr, 16)));
    }
  }
  return words;
}

std::vector<uint32_t> blocks_from(const RandomSource& source, uint64_t first, int count) {
  std::vector<uint32_t> words;
  for (int j = 0; j < count; ++j) {
    for (uint32_t word : source.block(first + static_cast<uint64_t>(j))) words.push_back(word);
  }
  return words;
}

template <class T>
void expect_internal(const Result<T>& result, const std::string& message) {
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kInternal);
  EXPECT_EQ(result.error().message, message);
}

void expect_untouched(const RandomSource& source) {
  EXPECT_EQ(source.index(), 64);
  EXPECT_EQ(source.counter(), 0u);
}

// Known-answer vectors

TEST(KnownAnswer, TwelveRoundBlocks) {
  const RandomSource zero_key = RandomSource::from_key(Key{});
  EXPECT_EQ(blocks_from(zero_key, 0, 2),
            words_of({"d583265f12ce1f8153f955076a9af49b", "5f15ae2ea589007e1474e049bbc32904",
                      "798cfaac3428e82cc0e37ad279f86405", "be2613412fe80b611969dea02c9f623a",
                      "3d17e08c3371fc86fe743e204188d50b", "b489c04c21851515cccbbd19b7eb28c6",
                      "43c88c1b97b802c611f14ca1cd8d2542", "1693e617b0a64427c0515190ca461ee9"}));
  const RandomSource key_one = RandomSource::from_key(Key{1, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(blocks_from(key_one, 0, 2),
            words_of({"09a225cdf090f0eef6b0565d596e0512", "10dd4d0bff1802930f5d5290278c2449",
                      "fefdfe067d7a109ee254a4d9392200a6", "c029dc60c972179bf2f944a0eb0f21f0",
                      "2a37692ab05e660e2404c6cbc566730c", "c8a72980b8c4c72a0978bb6fb279f97a",
                      "af15ba8e302e43907dfcbb17c23b5154", "a9177125baafe601560d10ef48eb5ac6"}));
  // Counters 2^32 - 1 and 2^32: the carry reaches the counter's high word.
  EXPECT_EQ(blocks_from(zero_key, 0xFFFFFFFFu, 2),
            words_of({"f106e2fcbb524248292ac9f150afa6d7", "12032ef6c183b50a83a3309513dd017d",
                      "2c93ff300438eaed6c958a9aa1619382", "74fc0624270ab858508377945edb52d0",
                      "e5f4f4a8b8810524264d8911dc537bcc", "18a6a6cbdc1f823fb1231280056740af",
                      "abdae0a44b1f45edbccc83dcd3f8638a", "ad6b649f12f70de567cc39740dbb8a22"}));
}

TEST(KnownAnswer, OutputsOfSeeds) {
  const Key zero_key = RandomSource::from_seed(0).key();
  EXPECT_EQ(uint64_t{zero_key[0]} | (uint64_t{zero_key[1]} << 32), 5029875928683246316u);
  const std::map<uint64_t, std::vector<uint64_t>> first_outputs = {
      {42, {9713269763989775522u, 10011513049433592189u, 11740708795755607249u,
            7487565853151867058u, 633513173585076202u, 7654602743214997928u,
            13603079691933612283u, 15665927001465599799u}},
      {43, {13888656601109899510u, 7748424868751293521u}}};
  for (const auto& [seed, expected] : first_outputs) {
    RandomSource source = RandomSource::from_seed(seed);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(source.next_u64(), expected[i]) << "seed " << seed << ", draw " << i;
    }
  }
  // Seed 0 over three refills (block counters 0, 4, 8): the published values on either
  // side of each refill; the words between follow the block sequence (test_chacha.cpp).
  const std::map<int, uint64_t> seed_zero = {
      {0, 13486662071293341567u},  {1, 14267822071968393595u},  {31, 18023453960276049415u},
      {32, 16923851123973672050u}, {33, 12492199290193748133u}, {63, 3445177694277077909u},
      {64, 3988822730944742006u},  {83, 16228097447854870605u}};
  RandomSource source = RandomSource::from_seed(0);
  for (int i = 0; i <= 83; ++i) {
    const uint64_t drawn = source.next_u64();
    if (seed_zero.count(i) != 0) {
      EXPECT_EQ(drawn, seed_zero.at(i)) << "seed 0, draw " << i;
    }
  }
}

// ChaCha lanes and the stream

using detail::ChaChaKey;
using detail::kChaChaFourBlockWords;
using Words = std::array<uint32_t, kChaChaFourBlockWords>;

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

ChaChaKey key_from(uint64_t& state) {
  ChaChaKey key{};
  for (uint32_t& word : key) word = static_cast<uint32_t>(splitmix(state));
  return key;
}

std::vector<uint64_t> test_counters(uint64_t& state) {
  std::vector<uint64_t> counters = {0,           1,           3,          0xFFFFFFFBULL,
                                    0xFFFFFFFCULL, 0xFFFFFFFFULL, 1ULL << 32, 0x1FFFFFFFDULL,
                                    ~0ULL - 8,   ~0ULL - 3,   ~0ULL};
  for (int i = 0; i < 8; ++i) counters.push_back(splitmix(state));
  return counters;
}

template <int Rounds>
void expect_lanes_match_scalar() {
  uint64_t state = Rounds;
  for (int k = 0; k < 24; ++k) {
    const ChaChaKey key = key_from(state);
    const uint64_t stream = k % 3 == 0 ? 0 : splitmix(state);
    for (uint64_t counter : test_counters(state)) {
      std::array<uint32_t, 2 * kChaChaFourBlockWords> reference{};
      detail::chacha_blocks_scalar<Rounds>(key, counter, stream, reference);
      Words four{};
      detail::chacha_four_blocks<Rounds>(key, counter, stream, four);
      Words first{};
      Words second{};
      detail::chacha_eight_blocks<Rounds>(key, counter, stream, first, second);
      for (std::size_t w = 0; w < kChaChaFourBlockWords; ++w) {
        ASSERT_EQ(four[w], reference[w]) << "four lanes, counter " << counter << " word " << w;
        ASSERT_EQ(first[w], reference[w]) << "eight lanes, counter " << counter << " word " << w;
        ASSERT_EQ(second[w], reference[kChaChaFourBlockWords + w])
            << "eight lanes, counter " << counter << " word " << 64 + w;
      }
    }
  }
}

TEST(ChaChaLanes, MatchScalarReference) {
  expect_lanes_match_scalar<12>();
  expect_lanes_match_scalar<20>();
}

// The source's words, refill after refill, are blocks 0, 1, 2, ... of the reference.
std::vector<uint32_t> reference_words(const RandomSource& source, uint64_t words) {
  std::vector<uint32_t> out(words);
  detail::chacha_blocks_scalar<12>(source.key(), 0, 0, out);
  return out;
}

TEST(ChaChaSourceStream, RefillsCopiesSeeksAndDiscardsFollowTheBlockSequence) {
  const RandomSource fresh = RandomSource::from_seed(99);
  const std::vector<uint32_t> expected = reference_words(fresh, 64 * 12);
  RandomSource source = fresh;
  for (std::size_t i = 0; i < 70; ++i) ASSERT_EQ(source.next_u32(), expected[i]) << i;
  // A copy taken right after an eight-block refill holds the waiting half too.
  RandomSource copy = source;
  for (std::size_t i = 70; i < expected.size(); ++i) {
    ASSERT_EQ(copy.next_u32(), expected[i]) << i;
    ASSERT_EQ(source.next_u32(), expected[i]) << i;
    if (i % 64 == 63) {
      EXPECT_EQ(source.counter(), (i + 1) / 16) << i;
    }
  }
  // Seeks into either half of an eight-block stretch, and back to before a
  // position already passed, discard whatever was computed ahead.
  for (uint64_t start : {700u, 3u, 64u, 127u, 128u, 190u, 0u, 255u, 300u}) {
    source.seek(start);
    for (uint64_t i = start; i < start + 140 && i < expected.size(); ++i) {
      ASSERT_EQ(source.next_u32(), expected[i]) << "seek " << start << " word " << i;
    }
  }
  // next_u64 takes its low half from word 63 and its high half from the next refill.
  source.seek(63);
  EXPECT_EQ(source.next_u64(), expected[63] | (uint64_t{expected[64]} << 32));
  // Discards from a fresh source (nothing computed yet) and from just after an eight-block
  // refill: skips that stay in the half computed ahead, reach exactly its end, or pass it.
  for (uint64_t drawn : {0u, 6u}) {
    for (uint64_t skip : {0u, 10u, 57u, 58u, 64u, 121u, 122u, 185u, 300u}) {
      RandomSource skipping = fresh;
      for (uint64_t i = 0; i < drawn; ++i) skipping.next_u32();
      skipping.discard_u32(skip);
      for (uint64_t i = drawn + skip; i < drawn + skip + 140; ++i) {
        ASSERT_EQ(skipping.next_u32(), expected[i]) << drawn << " skip " << skip << " word " << i;
      }
    }
  }
}

// next_u64s hands out what as many next_u64 calls would, from any position (an odd one
// straddles a refill) and for runs shorter than, as long as and longer than a buffer.
TEST(ChaChaSourceStream, BulkSixtyFourBitWordsMatchSingleCalls) {
  for (uint64_t start : {0u, 1u, 62u, 63u, 64u, 101u}) {
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{31}, std::size_t{32},
                          std::size_t{33}, std::size_t{200}}) {
      RandomSource bulk = RandomSource::from_seed(5);
      RandomSource single = RandomSource::from_seed(5);
      bulk.discard_u32(start);
      single.discard_u32(start);
      std::vector<uint64_t> words(n);
      bulk.next_u64s(words.data(), n);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(words[i], single.next_u64()) << "start " << start << " word " << i;
      }
      EXPECT_EQ(bulk.next_u32(), single.next_u32()) << "start " << start << " n " << n;
    }
  }
}

// take_u64_runs, with next_u64 for the runs it leaves (those cut by a refill), hands
// out what next_u64 alone would, from any position and for runs of any length.
TEST(ChaChaSourceStream, RunsInPlaceMatchSingleCalls) {
  for (uint64_t start : {0u, 1u, 2u, 62u, 63u, 64u, 101u}) {
    for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{32}}) {
      RandomSource runs = RandomSource::from_seed(9);
      RandomSource single = RandomSource::from_seed(9);
      runs.discard_u32(start);
      single.discard_u32(start);
      std::size_t cut = 0;
      for (std::size_t wanted = 200; wanted > 0;) {
        const uint32_t* words = nullptr;
        const int left = RandomSource::kBufferWords - runs.index();
        const std::size_t n = runs.take_u64_runs(wanted, length, words);
        ASSERT_LE(n, wanted);
        if (n == 0) {
          // Only a run that does not fit in what the buffer still holds is refused.
          ASSERT_LT(static_cast<std::size_t>(left), 2 * length);
          ASSERT_GT(left, 0);
          for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(runs.next_u64(), single.next_u64());
          ++cut;
          --wanted;
          continue;
        }
        for (std::size_t i = 0; i < n * length; ++i) {
          const uint64_t value = uint64_t{words[2 * i]} | (uint64_t{words[2 * i + 1]} << 32);
          ASSERT_EQ(value, single.next_u64()) << "start " << start << " length " << length;
        }
        wanted -= n;
      }
      // Runs of three and of 32 cannot tile the buffer from every start.
      if (length == 3) {
        EXPECT_GT(cut, 0u) << "start " << start;
      }
      EXPECT_EQ(runs.next_u32(), single.next_u32()) << "start " << start << " length " << length;
    }
  }
}

// Words consumed by the uniform draws. For n = 2^w - 1 and a first word x > 0, the
// product x*n has top half x - 1 and low half 2^w - x, which exceeds 2^w - n unless
// x = 2^w - 1: the extra word y is always drawn and carries one exactly when y > x.

template <class Word>
void expect_top_of_range(uint64_t seed, Word (RandomSource::*next)()) {
  constexpr Word kTop = std::numeric_limits<Word>::max();
  RandomSource source = RandomSource::from_seed(seed);
  RandomSource twin = RandomSource::from_seed(seed);
  for (int i = 0; i < 30; ++i) {
    const Word x = (twin.*next)();
    const Word y = (twin.*next)();
    ASSERT_TRUE(x != 0u && x != kTop);
    EXPECT_EQ(source.uniform_index(kTop).value(), uint64_t{x} - 1 + (y > x ? 1 : 0));
  }
  EXPECT_EQ(source.index(), twin.index());
}

TEST(UniformIndex, ThirtyTwoBitPathUsesOneWordOrTwo) {
  expect_top_of_range<uint32_t>(42, &RandomSource::next_u32);
  // Small n: the extra word is needed only when x*n mod 2^32 > 2^32 - n.
  RandomSource small = RandomSource::from_seed(42);
  const uint32_t x = RandomSource::from_seed(42).next_u32();
  ASSERT_LE(static_cast<uint32_t>(uint64_t{x} * 6), 0xFFFFFFFFu - 6 + 1);
  EXPECT_EQ(small.uniform_index(6).value(), (uint64_t{x} * 6) >> 32);
  EXPECT_EQ(small.index(), 1);
  EXPECT_EQ(small.uniform_index(1).value(), 0u);
  EXPECT_EQ(small.index(), 2);
}

TEST(UniformIndex, SixtyFourBitPathUsesTwoWordsOrFour) {
  expect_top_of_range<uint64_t>(43, &RandomSource::next_u64);
  // n = 2^32, the smallest n on this path: two words, the result x's top half.
  RandomSource wide = RandomSource::from_seed(45);
  const uint64_t x = RandomSource::from_seed(45).next_u64();
  ASSERT_NE(x & 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(wide.uniform_index(uint64_t{1} << 32).value(), x >> 32);
  EXPECT_EQ(wide.index(), 2);
}

TEST(UniformIndex, IntInclusiveAlwaysDrawsSixtyFourBits) {
  RandomSource source = RandomSource::from_seed(42);
  RandomSource twin = RandomSource::from_seed(42);
  // For a power-of-two range x*4 mod 2^64 never exceeds 2^64 - 4: no extra word.
  EXPECT_EQ(source.uniform_int_inclusive(0, 3).value(),
            static_cast<int64_t>(twin.next_u64() >> 62));
  EXPECT_EQ(source.index(), 2);
  EXPECT_EQ(source.uniform_int_inclusive(-9, -9).value(), -9);
  EXPECT_EQ(source.index(), 4);
  twin.next_u64();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(source.uniform_int_inclusive(kMin, kMax).value(),
            static_cast<int64_t>(twin.next_u64()));
  const uint64_t x = twin.next_u64();
  EXPECT_EQ(source.uniform_int_inclusive(kMin, -1).value(), kMin + static_cast<int64_t>(x >> 1));
  EXPECT_EQ(source.index(), twin.index());
}

TEST(UniformReal, ConversionsOfOneWord) {
  RandomSource source = RandomSource::from_seed(9);
  RandomSource twin = RandomSource::from_seed(9);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(source.unit_real52(), std::ldexp(static_cast<double>(twin.next_u64() >> 12), -52));
    EXPECT_EQ(std::ldexp(source.open_unit_real52(), 53),
              static_cast<double>(2 * (twin.next_u64() >> 12) + 1));
    EXPECT_EQ(source.unit_real53(), std::ldexp(static_cast<double>(twin.next_u64() >> 11), -53));
    EXPECT_EQ(source.uniform_real(-3.0, 5.0).value(),
              std::ldexp(static_cast<double>(twin.next_u64() >> 12), -52) * 8.0 - 3.0);
  }
}

// Failures and draws that consume nothing or one word

TEST(Failures, InvalidParametersFailBeforeDrawing) {
  RandomSource source = RandomSource::from_seed(5);
  const std::string empty = "cannot sample empty range";
  expect_internal(source.uniform_index(0), empty);
  expect_internal(source.uniform_int_inclusive(1, 0), empty);
  expect_internal(source.uniform_real(1.0, 1.0), empty);
  expect_internal(source.uniform_real(-1e308, 1e308), "invalid uniform range: NonFinite");
  expect_internal(source.uniform_real(0.0, kInf), "invalid uniform range: NonFinite");
  const std::string alpha = "invalid Beta parameters: AlphaTooSmall";
  expect_internal(source.sample_beta(0.0, 1.0), alpha);
  expect_internal(source.sample_beta(kNaN, 1.0), alpha);
  expect_internal(source.sample_beta(1.0, kNaN), "invalid Beta parameters: BetaTooSmall");
  const std::string too_small = "invalid Binomial parameters: ProbabilityTooSmall";
  expect_internal(source.sample_binomial(10, -0.1), too_small);
  expect_internal(source.sample_binomial(10, kNaN), too_small);
  expect_internal(source.sample_binomial(10, 1.0000001),
                  "invalid Binomial parameters: ProbabilityTooLarge");
  expect_untouched(source);
}

TEST(Failures, DegenerateBinomialsDrawLittleOrNothing) {
  RandomSource source = RandomSource::from_seed(5);
  EXPECT_EQ(source.sample_binomial(17, 0.0).value(), 0u);
  EXPECT_EQ(source.sample_binomial(17, 1.0).value(), 17u);
  EXPECT_EQ(source.sample_binomial(kU64Max, 1.0).value(), kU64Max);
  expect_untouched(source);
  EXPECT_EQ(source.sample_binomial(0, 0.3).value(), 0u);
  EXPECT_EQ(source.index(), 2);
  EXPECT_EQ(source.sample_binomial(0, 0.8).value(), 0u);
  EXPECT_EQ(source.index(), 4);
}

// fdlibm ln and exp

uint64_t ulp_distance(double a, double b) {
  const auto ia = std::bit_cast<int64_t>(a);
  const auto ib = std::bit_cast<int64_t>(b);
  return ia > ib ? static_cast<uint64_t>(ia) - static_cast<uint64_t>(ib)
                 : static_cast<uint64_t>(ib) - static_cast<uint64_t>(ia);
}

TEST(Fdlibm, ExactValues) {
  EXPECT_EQ(fdlibm_log(2.0), 0.6931471805599453);
  EXPECT_EQ(fdlibm_exp(1.0), 2.7182818284590455);  // the classic algorithm: one ulp above e
  EXPECT_EQ(fdlibm_log(std::numeric_limits<double>::denorm_min()), -744.4400719213812);
  EXPECT_EQ(fdlibm_exp(-745.1), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(fdlibm_exp(709.8), kInf);
}

TEST(Fdlibm, WithinOneUlpOfPlatformLibrary) {
  RandomSource source = RandomSource::from_seed(2024);
  uint64_t worst_log = 0;
  uint64_t worst_exp = 0;
  for (int i = 0; i < 50000; ++i) {
    const double x = std::bit_cast<double>(source.next_u64() >> 1);  // any positive double
    if (std::isfinite(x) && x > 0.0) {
      worst_log = std::max(worst_log, ulp_distance(fdlibm_log(x), std::log(x)));
    }
    const double near_one = 1.0 + (source.unit_real53() - 0.5) * 0x1p-18;
    worst_log = std::max(worst_log, ulp_distance(fdlibm_log(near_one), std::log(near_one)));
    const double y = source.uniform_real(-745.0, 709.7).value();
    worst_exp = std::max(worst_exp, ulp_distance(fdlibm_exp(y), std::exp(y)));
  }
  EXPECT_LE(worst_log, 1u);
  EXPECT_LE(worst_exp, 1u);
}

// Coarse moment checks of the branches the worked examples do not reach (BC, the
// mirrored cases, the Poisson limit). Fixed seeds, so the outcomes are deterministic.

template <class Draw>
void expect_moments(Draw draw, double mean, double variance, const std::string& what) {
  constexpr int kDraws = 40000;
  double sum = 0.0;
  double sum_sq = 0.0;
  for (int i = 0; i < kDraws; ++i) {
    const double y = draw();
    sum += y;
    sum_sq += y * y;
  }
  const double sample_mean = sum / kDraws;
  EXPECT_NEAR(sample_mean, mean, 5.0 * std::sqrt(variance / kDraws)) << what;
  EXPECT_NEAR(sum_sq / kDraws - sample_mean * sample_mean, variance, 0.05 * variance) << what;
}

TEST(Distribution, MomentsOfBetaAndBinomial) {
  RandomSource source = RandomSource::from_seed(100);
  // BB plain and switched, BC plain and switched, both shapes below 1.
  for (const auto& shape : {std::pair{2.0, 3.0}, {3.0, 2.0}, {0.5, 1.0}, {1.0, 0.5}, {0.4, 0.6}}) {
    const double a = shape.first, b = shape.second;
    expect_moments([&] { return source.sample_beta(a, b).value(); }, a / (a + b),
                   a * b / ((a + b) * (a + b) * (a + b + 1)),
                   "Beta(" + std::to_string(a) + ", " + std::to_string(b) + ")");
  }
  // BTPE plain and mirrored, inversion plain and mirrored, the Poisson limit.
  for (const auto& trial : {std::pair<uint64_t, double>{1000, 0.3}, {1000, 0.7}, {20, 0.2},
                             {20, 0.8}, {100000000000000000, 1e-17}}) {
    const uint64_t n = trial.first;
    const double p = trial.second;
    expect_moments([&] { return double(source.sample_binomial(n, p).value()); }, double(n) * p,
                   double(n) * p * (1.0 - p),
                   "Binomial(" + std::to_string(n) + ", " + std::to_string(p) + ")");
  }
  for (int i = 0; i < 20; ++i) {  // huge n stays near its mean
    const uint64_t half = source.sample_binomial(kU64Max, 0.5).value();
    EXPECT_LT(half > kU64Max / 2 ? half - kU64Max / 2 : kU64Max / 2 - half, uint64_t{1} << 40);
  }
}

}  // namespace
}  // namespace korvane
