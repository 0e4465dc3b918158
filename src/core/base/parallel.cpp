// The thread count (a per-call setting, or the process's CPU affinity) and the
// worker pool behind for_each_chunk.
#include "core/base/parallel.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

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

std::size_t worker_limit() { return std::min(kMaxWorkers, kWorkersPerCore * cores()); }

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

void touch_pages(void* data, std::size_t bytes, std::size_t chunks) {
  constexpr std::size_t kPage = 4096;
  if (bytes == 0) return;
  auto* const first = static_cast<unsigned char*>(data);
  // Page boundaries inside the buffer count from the first one after `data`.
  const std::size_t lead = (kPage - reinterpret_cast<uintptr_t>(first) % kPage) % kPage;
  const std::size_t pages = bytes > lead ? (bytes - lead - 1) / kPage + 1 : 0;
  first[0] = 0;
  for_each_chunk(pages, chunks, [&](std::size_t, std::size_t begin, std::size_t end) {
    for (std::size_t p = begin; p < end; ++p) first[lead + p * kPage] = 0;
  });
}

namespace detail {
namespace {

// The worker pool: threads that wait on one condition variable for loops with
// chunks nobody has taken yet. Every loop's caller takes its own untaken chunks
// too, so a loop finishes even when every worker is busy elsewhere (a loop
// nested in another's chunk, or loops of several calling threads). The pool
// holds as many workers as the largest loop asked for besides its caller, and
// never more than worker_limit(): loops running at once share them, so the
// thread count of the process does not grow with the number of callers.
class Pool {
 public:
  void execute(std::size_t chunks, ChunkRunner runner, void* body);

 private:
  // A running for_each_chunk, on its caller's stack. Guarded by mutex_.
  struct Loop {
    ChunkRunner runner;
    void* body;
    std::size_t chunks;
    std::size_t next;        // first chunk nobody has taken
    std::size_t unfinished;  // chunks taken by workers and not yet done, or not taken
    StopFlag* flag;
    std::size_t threads;
    std::condition_variable done;
  };

  // Takes the next chunk of `loop` (which has one), dropping the loop from the
  // queue once all are taken.
  std::size_t take(Loop& loop);
  // Starts workers until there are `wanted` (at most worker_limit()).
  void grow(std::size_t wanted);
  void work();

  std::mutex mutex_;
  std::condition_variable work_;
  std::vector<Loop*> queue_;  // loops with untaken chunks, oldest first
  std::size_t workers_ = 0;
};

std::size_t Pool::take(Loop& loop) {
  const std::size_t c = loop.next++;
  if (loop.next == loop.chunks) queue_.erase(std::find(queue_.begin(), queue_.end(), &loop));
  return c;
}

void Pool::grow(std::size_t wanted) {
  // The thread never touches the interpreter and outlives every caller, so it
  // is detached: nothing joins it, at exit or ever. It starts with every signal
  // blocked (a new thread inherits its creator's mask): a signal sent to the
  // process then always reaches a thread that can act on it, and interrupts the
  // caller's blocking calls (a FIFO's open) rather than an idle worker.
  wanted = std::min(wanted, worker_limit());
  if (workers_ >= wanted) return;
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  struct Restore {
    const sigset_t& mask;
    ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{before};
  for (; workers_ < wanted; ++workers_) {
    std::thread([this] { work(); }).detach();
  }
}

void Pool::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return !queue_.empty(); });
    Loop& loop = *queue_.front();
    const std::size_t c = take(loop);
    lock.unlock();
    {
      const StopScope stop(*loop.flag, true);
      const ThreadCountScope same_count(loop.threads);
      loop.runner(loop.body, c);
    }
    lock.lock();
    // Notified under the lock: the caller may end the loop (and its condition
    // variable) as soon as it sees the count reach zero.
    if (--loop.unfinished == 0) loop.done.notify_all();
  }
}

void Pool::execute(std::size_t chunks, ChunkRunner runner, void* body) {
  // A nested loop shares its caller's flag; the outermost one owns it.
  StopFlag own_flag;
  StopFlag* const flag = StopScope::current() != nullptr ? StopScope::current() : &own_flag;
  const StopScope caller_scope(*flag, StopScope::is_worker());
  Loop loop{runner, body, chunks, 1, chunks - 1, flag, thread_count(), {}};
  {
    const std::lock_guard lock(mutex_);
    // A worker for each of this loop's other chunks, shared with the loops
    // already running; nothing has been queued if a thread fails to start.
    grow(chunks - 1);
    queue_.push_back(&loop);
  }
  if (chunks == 2) {
    work_.notify_one();
  } else {
    work_.notify_all();
  }
  runner(body, 0);
  std::unique_lock lock(mutex_);
  while (loop.next < loop.chunks) {
    const std::size_t c = take(loop);
    lock.unlock();
    runner(body, c);
    lock.lock();
    --loop.unfinished;
  }
  // Keep polling for the workers: they cannot ask the embedding layer.
  while (loop.unfinished != 0) {
    if (loop.done.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
        !flag->raised()) {
      lock.unlock();
      (void)cancel_requested_now();
      lock.lock();
    }
  }
}

// The process's pool, made on first use. A child made by fork() has none of its
// parent's threads, and a copy of its state taken at any moment: it forgets that
// pool (leaving it unfreed) and makes its own.
std::atomic<Pool*> g_pool{nullptr};

Pool& pool() {
  Pool* current = g_pool.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  static const int forget_in_child =
      pthread_atfork(nullptr, nullptr, [] { g_pool.store(nullptr, std::memory_order_relaxed); });
  (void)forget_in_child;
  // Never deleted: workers may still be waiting in it while the process exits.
  auto* made = new Pool();
  if (g_pool.compare_exchange_strong(current, made, std::memory_order_acq_rel)) return *made;
  delete made;  // another thread made one first; this one started no thread
  return *current;
}

}  // namespace

void run_chunks(std::size_t chunks, ChunkRunner run, void* loop) { pool().execute(chunks, run, loop); }

}  // namespace detail

}  // namespace korvane
