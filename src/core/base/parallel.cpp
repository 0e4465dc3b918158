// The thread count from the environment or the process's CPU affinity.
#include "core/base/parallel.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace korvane {

std::size_t thread_count() {
  if (const char* text = std::getenv("KORVANE_NUM_THREADS")) {
    const char* end = text + std::strlen(text);
    std::size_t n = 0;
    const auto parsed = std::from_chars(text, end, n);
    if (parsed.ec == std::errc() && parsed.ptr == end && n >= 1 && n <= 1024) return n;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
}

std::size_t chunk_count(std::size_t items, std::size_t threads, std::size_t min_items) {
  const std::size_t by_size = min_items == 0 ? items : items / min_items;
  return std::max<std::size_t>(1, std::min(threads, by_size));
}

}  // namespace korvane
