// ChaCha lane builds against the scalar reference: many keys, counters (the carry
// into the high counter word and the wrap of the 64-bit counter included), 12 and
// 20 rounds; and the random source's stream through refills, copies, seeks and
// discards.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/random/chacha.h"
#include "core/random/random_source.h"

namespace korvane {
namespace {

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

TEST(ChaChaSourceStream, RefillsFollowTheBlockSequence) {
  RandomSource source = RandomSource::from_seed(2024);
  const std::vector<uint32_t> expected = reference_words(source, 64 * 11);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(source.next_u32(), expected[i]) << i;
    if (i % 64 == 63) {
      EXPECT_EQ(source.counter(), (i + 1) / 16) << i;
    }
  }
}

TEST(ChaChaSourceStream, CopiesAndSeeksContinueTheSameStream) {
  RandomSource source = RandomSource::from_seed(99);
  const std::vector<uint32_t> expected = reference_words(source, 64 * 12);
  // A copy taken right after an eight-block refill holds the waiting half too.
  for (int i = 0; i < 70; ++i) source.next_u32();
  RandomSource copy = source;
  for (std::size_t i = 70; i < 400; ++i) {
    ASSERT_EQ(copy.next_u32(), expected[i]) << i;
    ASSERT_EQ(source.next_u32(), expected[i]) << i;
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
}

TEST(ChaChaSourceStream, DiscardsSkipBlocksComputedAhead) {
  const RandomSource fresh = RandomSource::from_seed(5);
  const std::vector<uint32_t> expected = reference_words(fresh, 64 * 12);
  // From a fresh source (nothing computed yet), and from just after an eight-block
  // refill: skips that stay in the half computed ahead, reach exactly its end, or pass it.
  for (uint64_t drawn : {0u, 6u}) {
    for (uint64_t skip : {0u, 10u, 57u, 58u, 64u, 121u, 122u, 185u, 300u}) {
      RandomSource source = fresh;
      for (uint64_t i = 0; i < drawn; ++i) source.next_u32();
      source.discard_u32(skip);
      for (uint64_t i = drawn + skip; i < drawn + skip + 140; ++i) {
        ASSERT_EQ(source.next_u32(), expected[i]) << drawn << " skip " << skip << " word " << i;
      }
    }
  }
}

}  // namespace
}  // namespace korvane
