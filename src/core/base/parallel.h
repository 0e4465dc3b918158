// Worker threads for data-parallel loops: the thread count (KORVANE_NUM_THREADS,
// else the cores available to the process), and a loop over contiguous chunks
// whose results callers merge in chunk order, so that every thread count gives
// the same result.
#pragma once

#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace korvane {

// KORVANE_NUM_THREADS when it holds a whole number from 1 to 1024, else the
// number of cores this process may run on. Read on every call.
std::size_t thread_count();

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
  {
    std::vector<std::jthread> workers;
    workers.reserve(chunks);
    for (std::size_t c = 1; c < chunks; ++c) workers.emplace_back(run, c);
    run(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace korvane
