// The seeded pseudo-random source: a ChaCha block stream keyed from a 64-bit seed
// by the PCG32 output function, handed out word by word from a 64-word buffer,
// and the derived draws (uniform integers and reals, Beta, Binomial).
// Draws never allocate; the exact number of words each draw consumes is part of
// the interface, because it fixes every later draw of the same source.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/base/result.h"

namespace korvane {

// ChaCha keystream generator with `Rounds` rounds (12 for RandomSource; 20 only
// serves the known-answer tests of the shared block code).
template <int Rounds>
class ChaChaSource {
 public:
  static constexpr int kBufferWords = 64;
  static constexpr uint64_t kBlocksPerRefill = 4;

  // Key words k0..k7 expanded from `seed` by the PCG32 step; counter 0, stream 0.
  static ChaChaSource from_seed(uint64_t seed);
  // A source with the given key words, counter 0 and stream 0 (used by tests).
  static ChaChaSource from_key(const std::array<uint32_t, 8>& key);

  // One 16-word block for `counter` (and stream 0) under this source's key.
  std::array<uint32_t, 16> block(uint64_t counter) const;

  // Positions the source as if `words` 32-bit words had been taken since seeding:
  // the counter-based stream can start anywhere. Used to give each thread its
  // own stretch of one stream.
  void seek(uint64_t words);

  uint32_t next_u32();
  // The first word taken is always the low half, even across a refill.
  uint64_t next_u64() {
    if (index_ < kBufferWords - 1) {
      const auto i = static_cast<std::size_t>(index_);
      index_ += 2;
      return uint64_t{buffer_[i]} | (uint64_t{buffer_[i + 1]} << 32);
    }
    return next_u64_refilling();
  }

  // n consecutive next_u64() values, copied out of the buffer a run at a time.
  void next_u64s(uint64_t* out, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
      const auto pairs = static_cast<std::size_t>(kBufferWords - index_) / 2;
      if (pairs == 0) {
        out[i++] = next_u64_refilling();
        continue;
      }
      const std::size_t take = pairs < n - i ? pairs : n - i;
      const uint32_t* words = buffer_.data() + index_;
      if constexpr (std::endian::native == std::endian::little) {
        // Low word first is the little-endian layout of the 64-bit value.
        std::memcpy(out + i, words, take * sizeof(uint64_t));
      } else {
        for (std::size_t j = 0; j < take; ++j) {
          out[i + j] = uint64_t{words[2 * j]} | (uint64_t{words[2 * j + 1]} << 32);
        }
      }
      index_ += static_cast<int>(2 * take);
      i += take;
    }
  }

  // The next values of next_u64() where they lie in the buffer, in whole runs of
  // `length` values (1 <= length <= kBufferWords / 2): refills first when the
  // buffer is spent, then takes as many of `runs` runs as the buffer holds and
  // points `words` at their 32-bit words (value i is words[2i] | words[2i+1] << 32).
  // Returns the runs taken; 0 when not one whole run is left (it would straddle a
  // refill, or the host is big-endian): the caller takes that run through next_u64().
  // The words stay valid until the source is next used.
  std::size_t take_u64_runs(std::size_t runs, std::size_t length, const uint32_t*& words) {
    if constexpr (std::endian::native != std::endian::little) return 0;
    if (index_ == kBufferWords) {
      refill();
      index_ = 0;
    }
    const std::size_t fit = static_cast<std::size_t>(kBufferWords - index_) / (2 * length);
    const std::size_t take = fit < runs ? fit : runs;
    words = buffer_.data() + index_;
    index_ += static_cast<int>(2 * length * take);
    return take;
  }

  // Moves the stream position `n` 32-bit words ahead, exactly as `n` calls of
  // next_u32() would, without computing the blocks passed over.
  void discard_u32(uint64_t n) {
    const uint64_t ahead = static_cast<uint64_t>(index_) + n;
    if (ahead <= kBufferWords) {
      index_ = static_cast<int>(ahead);
      return;
    }
    // Words past the buffer: whole refills are skipped by the counter, and blocks
    // computed ahead for the next refill no longer follow.
    const uint64_t past = ahead - kBufferWords;
    const uint64_t whole_refills = past / kBufferWords;
    if (whole_refills > 0) {
      counter_ += whole_refills * kBlocksPerRefill;
      ahead_ready_ = false;
    }
    if (past % kBufferWords == 0) {
      index_ = kBufferWords;
      return;
    }
    refill();
    index_ = static_cast<int>(past % kBufferWords);
  }

  // Uniform in [0, n): widening multiply with at most one extra draw. n = 0 fails
  // (internal error "cannot sample empty range").
  Result<uint64_t> uniform_index(uint64_t n);
  // Uniform in [lo, hi], always through 64-bit words. hi < lo fails.
  Result<int64_t> uniform_int_inclusive(int64_t lo, int64_t hi);
  // lo + (hi - lo) * unit_real52(). Fails when not lo < hi or when hi - lo is not finite.
  Result<double> uniform_real(double lo, double hi);
  // Cheng's BB/BC. Fails with AlphaTooSmall / BetaTooSmall before any draw.
  Result<double> sample_beta(double alpha, double beta);
  // Inversion, Poisson limit or BTPE. Fails with ProbabilityTooSmall / ProbabilityTooLarge.
  Result<uint64_t> sample_binomial(uint64_t n, double p);

  // Conversions of one next_u64() to a double.
  // [0, 1), step 2^-52: 1.0 with the top 52 bits of a word as mantissa, minus 1.
  double unit_real52() {
    return std::bit_cast<double>(0x3FF0000000000000ULL | (next_u64() >> 12)) - 1.0;
  }
  double open_unit_real52();  // (0, 1), odd multiples of 2^-53
  double unit_real53();       // [0, 1), step 2^-53

  // Test hooks: the state that decides the next word.
  uint64_t counter() const { return counter_; }
  int index() const { return index_; }
  const std::array<uint32_t, 8>& key() const { return key_; }

 private:
  void refill();
  uint64_t next_u64_refilling();  // next_u64 when fewer than two words are left
  // Uniform in [0, n) for n >= 1 from 64-bit words: two words, four with the extra draw.
  uint64_t index_below_64(uint64_t n);
  // Binomial draws by inversion (mean below 10) and by BTPE, for p <= 0.5 and q = 1 - p;
  // the caller mirrors the result when it flipped p.
  uint64_t binomial_inversion(double n_real, double p, double q);
  uint64_t binomial_btpe(uint64_t n, double p, double q);
  // Cheng's BB (both shapes above 1, a the smaller) and BC (a the larger, the
  // smaller at most 1); each returns the algorithm's w.
  double beta_cheng_bb(double a, double b);
  double beta_cheng_bc(double a, double b);

  std::array<uint32_t, 8> key_{};
  uint64_t counter_ = 0;
  uint64_t stream_ = 0;
  std::array<uint32_t, kBufferWords> buffer_{};
  int index_ = kBufferWords;
  // The next refill's words when the last one computed eight blocks at once.
  std::array<uint32_t, kBufferWords> ahead_{};
  bool ahead_ready_ = false;
};

using RandomSource = ChaChaSource<12>;

extern template class ChaChaSource<12>;
extern template class ChaChaSource<20>;

}  // namespace korvane
