// Cancellation of long-running core routines. The binding layer registers one
// poll function; loops that can run for seconds, and system calls interrupted by
// a signal, ask it whether the caller wants the call to stop (a pending Ctrl-C).
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <stop_token>

#include "core/base/result.h"

namespace korvane {

// Returns true when the running call should stop. It runs on the thread that runs
// the routine and may do whatever the embedding layer needs to find out (run the
// interpreter's signal handlers, record the exception to raise).
using CancelPoll = bool (*)();

// Installs the process-wide poll; nullptr (the default) never cancels.
void set_cancel_poll(CancelPoll poll) noexcept;

// Asks the poll at once: for a system call that returned EINTR. On a thread
// working for another (a StopScope of a worker), reads the group's StopFlag.
bool cancel_requested_now();

// The poll may only run on the thread the embedding layer called in on. The
// threads of one loop over chunks (core/base/parallel.h) share a StopFlag: the
// calling thread raises it when its poll says stop, the workers read it, and a
// raised flag keeps answering "stop" on every thread of the group.
class StopFlag {
 public:
  bool raised() const { return raised_.load(std::memory_order_relaxed); }
  void raise() { raised_.store(true, std::memory_order_relaxed); }

 private:
  std::atomic<bool> raised_{false};
};

// Ties this thread's cancellation questions to `flag` while alive: a worker
// reads it instead of polling; the calling thread polls and raises it. Scopes
// nest; the innermost wins.
class StopScope {
 public:
  StopScope(StopFlag& flag, bool worker);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

  // The flag of this thread's innermost scope, or nullptr.
  static StopFlag* current();
  // Whether this thread is a worker of its innermost scope.
  static bool is_worker();

 private:
  StopFlag* previous_flag_;
  bool previous_worker_;
};

// Ties the calls this thread makes to a caller's stop token while alive (the C++
// API's per-call cancellation): the thread's poll answers "stop" once a stop was
// requested on `token`, without asking the registered poll. Workers of its loops
// learn it through their StopFlag as usual. Scopes nest; the innermost wins.
// `token` must outlive the scope.
class StopTokenScope {
 public:
  explicit StopTokenScope(const std::stop_token& token);
  ~StopTokenScope();
  StopTokenScope(const StopTokenScope&) = delete;
  StopTokenScope& operator=(const StopTokenScope&) = delete;

 private:
  const std::stop_token* previous_;
};

// The error of a cancelled call. It carries no message: the binding layer raises
// what its poll recorded.
inline Error cancelled() { return Error{ErrorKind::kCancelled, {}}; }

// Rate limiter in front of the poll for hot loops. requested(work) adds `work`
// elementary steps; the clock is read once per kStepsPerClockRead steps, and the
// poll is asked when kInterval has passed since the last time it was asked. A loop
// that reports its steps honestly is therefore polled every ~50 ms.
class CancelCheck {
 public:
  static constexpr uint64_t kStepsPerClockRead = uint64_t{1} << 16;
  static constexpr std::chrono::milliseconds kInterval{50};

  bool requested(uint64_t work = 1) {
    steps_ += work;
    if (steps_ < kStepsPerClockRead) return false;
    steps_ = 0;
    return poll_if_due();
  }

 private:
  bool poll_if_due();

  uint64_t steps_ = 0;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

// Appends `from` to `to` a piece at a time (after one reserve), asking `cancel`
// between pieces: a copy of hundreds of megabytes stays interruptible. False,
// with `to` holding a prefix of the copy, when the poll says stop.
template <class Vector, class T>
bool append_polled(Vector& to, std::span<const T> from, CancelCheck& cancel) {
  constexpr std::size_t kPiece = std::size_t{1} << 17;
  to.reserve(to.size() + from.size());
  for (std::size_t done = 0; done < from.size();) {
    const std::size_t n = std::min(from.size() - done, kPiece);
    to.insert(to.end(), from.begin() + static_cast<std::ptrdiff_t>(done),
              from.begin() + static_cast<std::ptrdiff_t>(done + n));
    done += n;
    if (cancel.requested(n)) return false;
  }
  return true;
}

// Resizes `v` to `n` elements (value-initialising the new ones) a piece at a
// time, asking `cancel` between pieces: clearing a table of hundreds of
// megabytes stays interruptible. False, with `v` part grown, when the poll says stop.
template <class Vector>
bool resize_polled(Vector& v, std::size_t n, CancelCheck& cancel) {
  constexpr std::size_t kPiece = std::size_t{1} << 17;
  v.reserve(n);
  while (v.size() < n) {
    const std::size_t piece = std::min(n - v.size(), kPiece);
    v.resize(v.size() + piece);
    if (cancel.requested(piece)) return false;
  }
  return true;
}

}  // namespace korvane
