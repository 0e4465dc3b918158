// The ChaCha block function in three builds that give the same words: a scalar
// reference, four blocks at once in 128-bit lanes, and eight at once in 256-bit
// lanes where the processor has AVX2 (checked at run time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane::detail {

using ChaChaKey = std::array<uint32_t, 8>;
inline constexpr std::size_t kChaChaBlockWords = 16;
// Words of four consecutive blocks: one refill of the random source.
inline constexpr std::size_t kChaChaFourBlockWords = 4 * kChaChaBlockWords;

// Blocks counter, counter + 1, ... (64-bit counters, so the carry reaches the
// high counter word) into out[16j .. 16j+15] for block j; out.size() / 16 blocks,
// a trailing partial block is left untouched. Rounds is even (column and diagonal
// rounds come in pairs). Plain integer code, the reference for the lane builds.
template <int Rounds>
void chacha_blocks_scalar(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                          std::span<uint32_t> out);

// Blocks counter .. counter + 3 into out, the same words as the scalar reference.
// 128-bit lanes on x86-64 (SSE2 is part of its baseline); the scalar reference
// elsewhere.
template <int Rounds>
void chacha_four_blocks(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                        std::span<uint32_t, kChaChaFourBlockWords> out);

// Blocks counter .. counter + 3 into first and counter + 4 .. counter + 7 into
// second, the same words as the scalar reference. In AVX2 lanes when
// chacha_eight_lanes() holds, otherwise two passes of chacha_four_blocks.
template <int Rounds>
void chacha_eight_blocks(const ChaChaKey& key, uint64_t counter, uint64_t stream,
                         std::span<uint32_t, kChaChaFourBlockWords> first,
                         std::span<uint32_t, kChaChaFourBlockWords> second);

// Whether chacha_eight_blocks runs in AVX2 lanes on this processor, so that eight
// blocks cost about what four do. Decided once per process.
bool chacha_eight_lanes();

}  // namespace korvane::detail
