// Worker threads (count, chunking, rethrown failures) and huge-page tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/base/big_vector.h"
#include "core/base/parallel.h"

namespace korvane {
namespace {

TEST(Parallel, ThreadCountFromTheCallOrTheCores) {
  const std::size_t cores = thread_count();
  EXPECT_GE(cores, 1u);
  // The environment is the Python layer's to read, never the core's.
  setenv("KORVANE_NUM_THREADS", "7", 1);
  EXPECT_EQ(thread_count(), cores);
  unsetenv("KORVANE_NUM_THREADS");
  {
    const ThreadCountScope outer(7);
    EXPECT_EQ(thread_count(), 7u);
    {
      const ThreadCountScope inner(0);
      EXPECT_EQ(thread_count(), cores);
    }
    // Workers count as their caller does.
    std::vector<std::size_t> seen(3, 0);
    for_each_chunk(3, 3, [&](std::size_t c, std::size_t, std::size_t) { seen[c] = thread_count(); });
    EXPECT_EQ(seen, std::vector<std::size_t>(3, 7u));
  }
  EXPECT_EQ(thread_count(), cores);
}

TEST(Parallel, ThreadCountTextIsAPositiveInteger) {
  for (const auto& [text, threads] : {std::pair{"1", 1u}, {"7", 7u}, {"0012", 12u}, {"1024", 1024u},
                                      {"1025", 1024u}, {"99999999999999999999999", 1024u}}) {
    const auto parsed = parse_thread_count(text);
    ASSERT_TRUE(parsed.ok()) << text;
    EXPECT_EQ(parsed.value(), threads) << text;
  }
  for (const char* junk : {"0", "", "abc", "2x", "-3", "+2", " 2", "0x10", "1.5"}) {
    const auto parsed = parse_thread_count(junk);
    ASSERT_FALSE(parsed.ok()) << junk;
    EXPECT_EQ(parsed.error().kind, ErrorKind::kInvalid);
    EXPECT_EQ(parsed.error().message,
              std::string("KORVANE_NUM_THREADS must be a positive integer, not '") + junk + "'");
  }
}

TEST(Parallel, ChunksTileTheRangeInOrder) {
  EXPECT_EQ(chunk_count(10, 4, 3), 3u);
  EXPECT_EQ(chunk_count(2, 4, 3), 1u);
  EXPECT_EQ(chunk_count(0, 4, 0), 1u);
  for (const std::size_t items : {0u, 1u, 6u, 7u, 100u}) {
    for (const std::size_t chunks : {1u, 2u, 7u}) {
      std::vector<int> seen(items, 0);
      std::vector<std::size_t> begins(chunks, 0);
      for_each_chunk(items, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
        begins[c] = begin;
        for (std::size_t i = begin; i < end; ++i) ++seen[i];
      });
      EXPECT_EQ(seen, std::vector<int>(items, 1));
      for (std::size_t c = 1; c < chunks; ++c) EXPECT_LE(begins[c - 1], begins[c]);
    }
  }
}

TEST(Parallel, LowestFailingChunkIsRethrown) {
  try {
    for_each_chunk(70, 7, [](std::size_t c, std::size_t, std::size_t) {
      if (c >= 3) throw std::runtime_error("chunk " + std::to_string(c));
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "chunk 3");
  }
}

TEST(BigVector, LargeTablesAlignedAndValuesKept) {
  BigVector<int64_t> small(10, 5);
  EXPECT_EQ(small, BigVector<int64_t>(10, 5));
  BigVector<int64_t> big(std::size_t{1} << 20, -1);  // 8 MiB: on 2 MiB boundaries
  EXPECT_EQ(reinterpret_cast<uintptr_t>(big.data()) % (uintptr_t{1} << 21), 0u);
  big[12345] = 7;
  big.resize(big.size() + 3, 9);
  EXPECT_EQ(big[12345], 7);
  EXPECT_EQ(big.back(), 9);
  EXPECT_EQ(big[(std::size_t{1} << 20) - 1], -1);
}

}  // namespace
}  // namespace korvane
