// The thread count: a per-call setting, or the process's CPU affinity.
#include "core/base/parallel.h"

#include <sched.h>

#include <algorithm>
#include <string>

namespace korvane {
namespace {

thread_local std::size_t t_threads = 0;  // 0: no setting, use the cores

std::size_t cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
}

}  // namespace

std::size_t thread_count() { return t_threads != 0 ? t_threads : cores(); }

ThreadCountScope::ThreadCountScope(std::size_t threads) : previous_(t_threads) {
  t_threads = std::min(threads, kMaxThreads);
}

ThreadCountScope::~ThreadCountScope() { t_threads = previous_; }

Result<std::size_t> parse_thread_count(std::string_view text) {
  // Digits only: no sign, no spaces, no "0x". Overlong numbers are simply many.
  std::size_t n = 0;
  bool digits = !text.empty();
  for (const char c : text) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    n = std::min(n * 10 + static_cast<std::size_t>(c - '0'), kMaxThreads + 1);
  }
  if (!digits || n == 0) {
    return invalid("KORVANE_NUM_THREADS must be a positive integer, not '" + std::string(text) +
                   "'");
  }
  return std::min(n, kMaxThreads);
}

std::size_t chunk_count(std::size_t items, std::size_t threads, std::size_t min_items) {
  const std::size_t by_size = min_items == 0 ? items : items / min_items;
  return std::max<std::size_t>(1, std::min(threads, by_size));
}

}  // namespace korvane
