// What the DIMACS reader reserves for a declared count: a hint bounded by what
// the file can hold. Measured as the largest block the reader asks of operator
// new, which this binary replaces to record it (the node table is one such block).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <string>

#include "core/base/parallel.h"
#include "core/formats/min_reader.h"

namespace {
std::atomic<bool> recording{false};
std::atomic<std::size_t> largest{0};
}  // namespace

namespace {
void* allocate(std::size_t size) noexcept {
  if (recording.load(std::memory_order_relaxed)) {
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Every unaligned form, so that no block is made by one allocator and freed by
// another (the sanitizers check that).
void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace korvane {
namespace {

// The largest block parse_min asks for while reading `path` in one pass.
std::size_t largest_block(const std::string& path) {
  const ThreadCountScope threads(1);
  largest = 0;
  recording = true;
  const bool read = parse_min(path, std::numeric_limits<std::size_t>::max()).ok();
  recording = false;
  EXPECT_TRUE(read) << path;
  return largest;
}

// 4 MB of comments under a problem line declaring 2^63 - 1 nodes, and the same
// declaring 2: the node table may cover every id the file could name (a node
// line takes 6 bytes: one bit per 6 bytes), never what the declaration asks.
TEST(MinReader, ADeclaredNodeCountReservesNoMoreThanTheFileCanHold) {
  std::string body;
  for (int i = 0; i < 4000; ++i) body += "c " + std::string(1000, 'x') + "\n";
  body += "n 1 5\nn 2 -5\na 1 2 0 10 3\n";
  const auto dir = std::filesystem::temp_directory_path();
  std::size_t blocks[2];
  for (const int64_t declared : {std::numeric_limits<int64_t>::max(), int64_t{2}}) {
    const std::string path = (dir / ("korvane_declared_" + std::to_string(declared))).string();
    std::ofstream(path, std::ios::binary) << "p min " << declared << " 1\n" << body;
    blocks[declared == 2] = largest_block(path);
    std::filesystem::remove(path);
  }
  EXPECT_LE(blocks[0], blocks[1] + body.size() / 6 / 8 + 64);
}

}  // namespace
}  // namespace korvane
