// Worker threads for data-parallel loops: the thread count (a per-call setting
// the embedding layer passes down, else the cores available to the process), and
// a loop over contiguous chunks whose results callers merge in chunk order, so
// that every thread count gives the same result.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/result.h"

namespace korvane {

inline constexpr std::size_t kMaxThreads = 1024;

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

// Runs body(c, begin, end) for every chunk c, chunk 0 on the calling thread and
// the others on their own threads, and returns when all are done. An exception
// thrown by a body (std::bad_alloc) is rethrown here, the lowest chunk's first.
// A thread that cannot be started throws std::system_error (its errno, EAGAIN
// when the process is out of threads) once the started ones have ended.
//
// Cancellation: the workers share a StopFlag (core/base/cancel.h) with the
// calling thread, which keeps polling while it waits for them, so that a body
// polling CancelCheck stops within ~50 ms of a request on every thread.
template <class Body>
void for_each_chunk(std::size_t items, std::size_t chunks, Body&& body) {
  std::vector<std::exception_ptr> failures(chunks);
  auto run = [&](std::size_t c) {
    try {
      body(c, chunk_begin(items, chunks, c), chunk_begin(items, chunks, c + 1));
    } catch (...) {
      failures[c] = std::current_exception();
    }
  };
  if (chunks <= 1) {
    if (chunks == 1) run(0);
  } else {
    // A nested loop shares its caller's flag; the outermost one owns it.
    StopFlag own_flag;
    StopFlag* const flag = StopScope::current() != nullptr ? StopScope::current() : &own_flag;
    const StopScope caller_scope(*flag, StopScope::is_worker());
    const std::size_t threads = thread_count();
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;
    std::exception_ptr not_started;
    {
      std::vector<std::jthread> workers;
      workers.reserve(chunks);
      for (std::size_t c = 1; c < chunks; ++c) {
        {
          const std::lock_guard lock(mutex);
          ++running;
        }
        try {
          workers.emplace_back([&, c] {
            const StopScope worker_scope(*flag, true);
            const ThreadCountScope same_count(threads);
            run(c);
            const std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
          });
        } catch (...) {
          // The chunks already started run to their end; the error is raised after.
          not_started = std::current_exception();
          const std::lock_guard lock(mutex);
          --running;
          break;
        }
      }
      if (!not_started) run(0);
      // Keep polling for the workers: they cannot ask the embedding layer.
      std::unique_lock lock(mutex);
      while (running != 0) {
        if (finished.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
            !flag->raised()) {
          lock.unlock();
          (void)cancel_requested_now();
          lock.lock();
        }
      }
    }
    if (not_started) std::rethrow_exception(not_started);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace korvane
