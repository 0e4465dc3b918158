// Worker threads (count, chunking, rethrown failures, the pool shared by nested
// and concurrent loops, cancellation, fork) and huge-page tables.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/base/big_vector.h"
#include "core/base/cancel.h"
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

// Sums 0..items-1 over `chunks` chunks, each chunk's part summed by an inner loop
// of `inner` chunks: the pool is shared by loops inside loops.
uint64_t nested_sum(std::size_t items, std::size_t chunks, std::size_t inner) {
  std::vector<uint64_t> parts(chunks, 0);
  for_each_chunk(items, chunks, [&](std::size_t c, std::size_t begin, std::size_t end) {
    std::vector<uint64_t> sums(inner, 0);
    for_each_chunk(end - begin, inner, [&](std::size_t k, std::size_t b, std::size_t e) {
      for (std::size_t i = begin + b; i < begin + e; ++i) sums[k] += i;
    });
    parts[c] = std::accumulate(sums.begin(), sums.end(), uint64_t{0});
  });
  return std::accumulate(parts.begin(), parts.end(), uint64_t{0});
}

TEST(Parallel, NestedAndConcurrentLoopsFinish) {
  const uint64_t expected = uint64_t{9999} * 10000 / 2;
  for (const auto& [chunks, inner] : {std::pair{2u, 2u}, {7u, 3u}, {3u, 9u}, {16u, 16u}}) {
    EXPECT_EQ(nested_sum(10000, chunks, inner), expected) << chunks << " x " << inner;
  }
  // Several callers at once, each with nested loops, more chunks than cores.
  std::vector<uint64_t> sums(6, 0);
  {
    std::vector<std::jthread> callers;
    for (std::size_t t = 0; t < sums.size(); ++t) {
      callers.emplace_back([&, t] {
        for (int round = 0; round < 20; ++round) sums[t] += nested_sum(10000, 2 + t, 1 + t % 3);
      });
    }
  }
  EXPECT_EQ(sums, std::vector<uint64_t>(sums.size(), 20 * expected));
}

std::atomic<int> g_polls{0};
std::thread::id g_caller;

// Says stop from the third ask on; only the calling thread may ask.
bool stop_on_third_poll() {
  if (std::this_thread::get_id() != g_caller) std::abort();
  return ++g_polls >= 3;
}

TEST(Parallel, WorkersStopWhenTheCallerIsAskedToStop) {
  g_caller = std::this_thread::get_id();
  g_polls = 0;
  set_cancel_poll(stop_on_third_poll);
  std::vector<int> stopped(4, 0);
  const auto start = std::chrono::steady_clock::now();
  for_each_chunk(4, 4, [&](std::size_t c, std::size_t, std::size_t) {
    // Chunk 0 (the caller) ends at once; the others wait for the flag, which
    // only the caller's polling while it waits for them can raise.
    if (c == 0) return;
    CancelCheck check;
    while (!check.requested(CancelCheck::kStepsPerClockRead)) std::this_thread::yield();
    stopped[c] = 1;
  });
  set_cancel_poll(nullptr);
  EXPECT_EQ(stopped, (std::vector<int>{0, 1, 1, 1}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Workers outlive the call and must never take a signal meant for the process:
// it would not interrupt the caller's blocking calls (a FIFO's open).
TEST(Parallel, WorkersBlockEverySignal) {
  std::atomic<bool> worker_ran{false};
  std::vector<int> blocked(2, -1);
  for_each_chunk(2, 2, [&](std::size_t c, std::size_t, std::size_t) {
    if (c == 0) {
      // Chunk 1 is left to a worker: the caller waits for it rather than taking it.
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!worker_ran && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    }
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    blocked[c] = sigismember(&mask, SIGINT) + sigismember(&mask, SIGTERM);
    if (c == 1) worker_ran = true;
  });
  EXPECT_TRUE(worker_ran);
  EXPECT_EQ(blocked, (std::vector<int>{0, 2}));
}

TEST(Parallel, ForkedChildStartsItsOwnWorkers) {
  // The parent's pool exists, every worker it has just started running a chunk
  // (each chunk waits for the others): a thread still starting when fork() is
  // called may hold a lock of the sanitizers' allocator, which the child would
  // then never get.
  std::atomic<int> started{0};
  for_each_chunk(4, 4, [&](std::size_t, std::size_t, std::size_t) {
    ++started;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started < 4 && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
  });
  ASSERT_EQ(started, 4);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    alarm(20);  // a child waiting on its parent's dead workers would hang
    // Chunk 0 waits for a chunk run by another thread (the caller would take
    // them all once it is done).
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> elsewhere{false};
    for_each_chunk(4, 4, [&](std::size_t c, std::size_t, std::size_t) {
      if (c != 0) {
        if (std::this_thread::get_id() != caller) elsewhere = true;
        return;
      }
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!elsewhere && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
    });
    const bool other_threads = elsewhere;
    _exit(nested_sum(1000, 4, 2) == uint64_t{999} * 1000 / 2 && other_threads ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
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
