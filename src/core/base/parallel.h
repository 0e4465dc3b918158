// Worker threads for data-parallel loops: the thread count (a per-call setting
// the embedding layer passes down, else the cores available to the process), and
// a loop over contiguous chunks, run on one pool of threads kept for the life of
// the process, whose results callers merge in chunk order, so that every thread
// count gives the same result.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string_view>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/result.h"

namespace korvane {

inline constexpr std::size_t kMaxThreads = 1024;

// The worker pool's bound: at most kWorkersPerCore workers per core this
// process may run on, and never more than kMaxWorkers, whatever thread counts
// the loops ask for (their chunks are then shared among fewer threads; the
// results stay the same).
inline constexpr std::size_t kWorkersPerCore = 4;
inline constexpr std::size_t kMaxWorkers = 256;
std::size_t worker_limit();

// The thread count set by the innermost ThreadCountScope of this thread (worker
// threads of for_each_chunk inherit their caller's), else the number of cores
// this process may run on. Never reads the environment.
std::size_t thread_count();

// Sets thread_count() on this thread while alive; 0 keeps the cores.
class ThreadCountScope {
 public:
  explicit ThreadCountScope(std::size_t threads);
  ~ThreadCountScope();
  ThreadCountScope(const ThreadCountScope&) = delete;
  ThreadCountScope& operator=(const ThreadCountScope&) = delete;

 private:
  std::size_t previous_;
};

// The thread count a KORVANE_NUM_THREADS value asks for: a whole number of at
// least 1 in decimal digits (above kMaxThreads it is kMaxThreads). Anything else
// fails (kInvalid) with "KORVANE_NUM_THREADS must be a positive integer, not 'abc'".
Result<std::size_t> parse_thread_count(std::string_view text);

// How many chunks to split `items` items into: at most `threads`, and none
// smaller than `min_items` (at least one chunk).
std::size_t chunk_count(std::size_t items, std::size_t threads, std::size_t min_items);

// First item of chunk c of `chunks` over `items` items (c == chunks gives items).
inline std::size_t chunk_begin(std::size_t items, std::size_t chunks, std::size_t c) {
  return items / chunks * c + std::min(c, items % chunks);
}

namespace detail {
// One chunk of a loop: the loop's body object and the chunk's number.
using ChunkRunner = void (*)(void* loop, std::size_t c);

// Runs run(loop, c) for every c in [0, chunks), chunks >= 2, on the calling
// thread and the process's worker pool, and returns when all have returned.
// `run` never throws. Throws std::system_error, before running any chunk, when
// the pool needs another thread and cannot start it.
void run_chunks(std::size_t chunks, ChunkRunner run, void* loop);
}  // namespace detail

// Runs body(c, begin, end) for every chunk c, chunk 0 on the calling thread and
// the others on the process's worker threads (the calling thread takes those
// still waiting once chunk 0 is done), and returns when all are done. An
// exception thrown by a body (std::bad_alloc) is rethrown here, the lowest
// chunk's first. When the pool needs a thread it cannot start, the call throws
// std::system_error (its errno, EAGAIN when the process is out of threads)
// before any chunk has run.
//
// The workers are started when a loop first needs them, one for each chunk
// but the caller's of the largest loop so far, up to worker_limit(), and then
// wait for work for the life of the process (a child made by fork() starts its
// own). Loops running at once share them. A body may itself call
// for_each_chunk: the inner loop's chunks go to idle workers or run on the
// thread that asked, so loops never wait for each other. A chunk runs with its
// caller's thread_count().
//
// Cancellation: the workers share a StopFlag (core/base/cancel.h) with the
// calling thread, which keeps polling while it waits for them, so that a body
// polling CancelCheck stops within ~50 ms of a request on every thread.
template <class Body>
void for_each_chunk(std::size_t items, std::size_t chunks, Body&& body) {
  std::vector<std::exception_ptr> failures(chunks);
  auto run = [&](std::size_t c) noexcept {
    try {
      body(c, chunk_begin(items, chunks, c), chunk_begin(items, chunks, c + 1));
    } catch (...) {
      failures[c] = std::current_exception();
    }
  };
  if (chunks == 1) {
    run(0);
  } else if (chunks > 1) {
    detail::run_chunks(
        chunks, [](void* loop, std::size_t c) { (*static_cast<decltype(run)*>(loop))(c); }, &run);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

// Writes a zero byte into every page of the unused memory [data, data + bytes)
// (its first byte and each page boundary after it), the pages split over
// `chunks` threads: the kernel clears a fresh page on the thread that first
// writes it, so a large buffer about to be filled by one thread is cleared by
// several. Nothing before `data` or from `data + bytes` on is written.
void touch_pages(void* data, std::size_t bytes, std::size_t chunks);

}  // namespace korvane
