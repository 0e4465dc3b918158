// The ChaCha block function: scalar reference, 128-bit lanes (four blocks) and
// AVX2 lanes (eight blocks), with the choice of the latter made at run time.
// Only 32-bit integer additions, XORs and rotations: every build gives the same words.
#include "core/random/chacha.h"

#include <bit>
#include <cstring>

namespace korvane::detail {
namespace {

// "expand 32-byte k", the ChaCha constant row.
constexpr std::array<uint32_t, 4> kConstants = {0x61707865, 0x3320646E, 0x79622D32, 0x6B206574};

void scalar_quarter_round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
  a += b;
  d = std::rotl(d ^ a, 16);
  c += d;
  b = std::rotl(b ^ c, 12);
  a += b;
  d = std::rotl(d ^ a, 8);
  c += d;
  b = std::rotl(b ^ c, 7);
}

template <int Rounds>
void scalar_block(const ChaChaKey& key, uint64_t counter, uint64_t stream, uint32_t* out) {
  std::array<uint32_t, kChaChaBlockWords> input{};
  for (std::size_t w = 0; w < 4; ++w) input[w] = kConstants[w];
  for (std::size_t w = 0; w < 8; ++w) input[4 + w] = key[w];
  input[12] = static_cast<uint32_t>(counter);
  input[13] = static_cast<uint32_t>(counter >> 32);
  input[14] = static_cast<uint32_t>(stream);
  input[15] = static_cast<uint32_t>(stream >> 32);
  std::array<uint32_t, kChaChaBlockWords> x = input;
  for (int round = 0; round < Rounds; round += 2) {
    // Column round, then diagonal round.
    scalar_quarter_round(x[0], x[4], x[8], x[12]);
    scalar_quarter_round(x[1], x[5], x[9], x[13]);
    scalar_quarter_round(x[2], x[6], x[10], x[14]);
    scalar_quarter_round(x[3], x[7], x[11], x[15]);
    scalar_quarter_round(x[0], x[5], x[10], x[15]);
    scalar_quarter_round(x[1], x[6], x[11], x[12]);
    scalar_quarter_round(x[2], x[7], x[8], x[13]);
    scalar_quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (std::size_t w = 0; w < kChaChaBlockWords; ++w) out[w] = x[w] + input[w];
}

#if defined(__x86_64__)
// One state word of each block in one lane of a vector (a GCC/Clang extension):
// the blocks go through the rounds side by side. Plain arrays of lanes are not
// vectorised by GCC 12 (there is no vector rotate before AVX-512) and spill out
// of the registers. The helpers take vectors by reference and are always inlined,
// so the 256-bit type never crosses a call of a function built without AVX.
using Lanes4 = uint32_t __attribute__((vector_size(16)));
using Lanes8 = uint32_t __attribute__((vector_size(32)));

using Bytes32 = uint8_t __attribute__((vector_size(32)));

template <int Shift, class V>
[[gnu::always_inline]] inline void rotate_left(V& v) {
  if constexpr (sizeof(V) == 32 && Shift == 16) {
    // Whole-byte rotations are one byte shuffle in AVX2 lanes (little-endian
    // words: byte i of the result is byte (i - Shift / 8) mod 4 of the word).
    // (Copies through memcpy: std::bit_cast would return a 256-bit vector by
    // value from a function built without AVX.)
    Bytes32 b;
    std::memcpy(&b, &v, sizeof b);
    const Bytes32 r = __builtin_shufflevector(b, b, 2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15,
                                              12, 13, 18, 19, 16, 17, 22, 23, 20, 21, 26, 27, 24,
                                              25, 30, 31, 28, 29);
    std::memcpy(&v, &r, sizeof v);
  } else if constexpr (sizeof(V) == 32 && Shift == 8) {
    Bytes32 b;
    std::memcpy(&b, &v, sizeof b);
    const Bytes32 r = __builtin_shufflevector(b, b, 3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12,
                                              13, 14, 19, 16, 17, 18, 23, 20, 21, 22, 27, 24, 25,
                                              26, 31, 28, 29, 30);
    std::memcpy(&v, &r, sizeof v);
  } else {
    v = (v << Shift) | (v >> (32 - Shift));
  }
}

template <class V>
[[gnu::always_inline]] inline void lane_quarter_round(V& a, V& b, V& c, V& d) {
  a += b;
  d ^= a;
  rotate_left<16>(d);
  c += d;
  b ^= c;
  rotate_left<12>(b);
  a += b;
  d ^= a;
  rotate_left<8>(d);
  c += d;
  b ^= c;
  rotate_left<7>(b);
}

// Lanes blocks counter .. counter + Lanes - 1; block l goes to
// outs[l / 4][16 * (l % 4) ..], four blocks per output.
template <int Rounds, class V, std::size_t Lanes>
[[gnu::always_inline]] inline void lane_blocks(const ChaChaKey& key, uint64_t counter,
                                               uint64_t stream,
                                               const std::array<uint32_t*, Lanes / 4>& outs) {
  std::array<V, kChaChaBlockWords> input;
  for (std::size_t w = 0; w < 4; ++w) input[w] = V{} + kConstants[w];
  for (std::size_t w = 0; w < 8; ++w) input[4 + w] = V{} + key[w];
  for (std::size_t l = 0; l < Lanes; ++l) {
    const uint64_t block_counter = counter + l;
    input[12][l] = static_cast<uint32_t>(block_counter);
    input[13][l] = static_cast<uint32_t>(block_counter >> 32);
  }
  input[14] = V{} + static_cast<uint32_t>(stream);
  input[15] = V{} + static_cast<uint32_t>(stream >> 32);
  std::array<V, kChaChaBlockWords> x = input;
  for (int round = 0; round < Rounds; round += 2) {
    // Column round, then diagonal round.
    lane_quarter_round(x[0], x[4], x[8], x[12]);
    lane_quarter_round(x[1], x[5], x[9], x[13]);
    lane_quarter_round(x[2], x[6], x[10], x[14]);
    lane_quarter_round(x[3], x[7], x[11], x[15]);
    lane_quarter_round(x[0], x[5], x[10], x[15]);
    lane_quarter_round(x[1], x[6], x[11], x[12]);
    lane_quarter_round(x[2], x[7], x[8], x[13]);
    lane_quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (std::size_t w = 0; w < kChaChaBlockWords; ++w) {
    const V sum = x[w] + input[w];
    for (std::size_t l = 0; l < Lanes; ++l) {
      outs[l / 4][kChaChaBlockWords * (l % 4) + w] = sum[l];
    }
  }
}

template <int Rounds>
__attribute__((target("avx2"))) void avx2_eight_blocks(const ChaChaKey& key, uint64_t counter,
                                                        uint64_t stream, uint32_t* first,
                                                        uint32_t* second) {
  lane_blocks<Rounds, Lanes8, 8>(key, counter, stream, {first, second});
}
#endif

}  // namespace

template <int Rounds>
void chacha_blocks_scalar(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                          std::span<uint32_t> out) {
  static_assert(Rounds % 2 == 0, "ChaCha rounds come in column/diagonal pairs");
  const std::size_t blocks = out.size() / kChaChaBlockWords;
  for (std::size_t j = 0; j < blocks; ++j) {
    scalar_block<Rounds>(key, counter + j, stream, out.data() + kChaChaBlockWords * j);
  }
}

template <int Rounds>
void chacha_four_blocks(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                        std::span<uint32_t, kChaChaFourBlockWords> out) {
  static_assert(Rounds % 2 == 0, "ChaCha rounds come in column/diagonal pairs");
#if defined(__x86_64__)
  lane_blocks<Rounds, Lanes4, 4>(key, counter, stream, {out.data()});
#else
  chacha_blocks_scalar<Rounds>(key, counter, stream, out);
#endif
}

template <int Rounds>
void chacha_eight_blocks(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                         std::span<uint32_t, kChaChaFourBlockWords> first,
                         std::span<uint32_t, kChaChaFourBlockWords> second) {
  static_assert(Rounds % 2 == 0, "ChaCha rounds come in column/diagonal pairs");
#if defined(__x86_64__)
  if (chacha_eight_lanes()) {
    avx2_eight_blocks<Rounds>(key, counter, stream, first.data(), second.data());
    return;
  }
#endif
  chacha_four_blocks<Rounds>(key, counter, stream, first);
  chacha_four_blocks<Rounds>(key, counter + 4, stream, second);
}

bool chacha_eight_lanes() {
#if defined(__x86_64__)
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available;
#else
  return false;
#endif
}

template void chacha_blocks_scalar<12>(const ChaChaKey&, uint64_t, uint64_t, std::span<uint32_t>);
template void chacha_blocks_scalar<20>(const ChaChaKey&, uint64_t, uint64_t, std::span<uint32_t>);
template void chacha_four_blocks<12>(const ChaChaKey&, uint64_t, uint64_t,
                                     std::span<uint32_t, kChaChaFourBlockWords>);
template void chacha_four_blocks<20>(const ChaChaKey&, uint64_t, uint64_t,
                                     std::span<uint32_t, kChaChaFourBlockWords>);
template void chacha_eight_blocks<12>(const ChaChaKey&, uint64_t, uint64_t,
                                      std::span<uint32_t, kChaChaFourBlockWords>,
                                      std::span<uint32_t, kChaChaFourBlockWords>);
template void chacha_eight_blocks<20>(const ChaChaKey&, uint64_t, uint64_t,
                                      std::span<uint32_t, kChaChaFourBlockWords>,
                                      std::span<uint32_t, kChaChaFourBlockWords>);

}  // namespace korvane::detail
