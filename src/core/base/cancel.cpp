// The registered cancellation poll and the clock check in front of it.
#include "core/base/cancel.h"

#include <atomic>

namespace korvane {
namespace {

std::atomic<CancelPoll> g_poll{nullptr};
thread_local StopFlag* t_flag = nullptr;
thread_local bool t_worker = false;
thread_local const std::stop_token* t_token = nullptr;

}  // namespace

void set_cancel_poll(CancelPoll poll) noexcept { g_poll.store(poll, std::memory_order_release); }

bool cancel_requested_now() {
  if (t_flag != nullptr && (t_worker || t_flag->raised())) return t_flag->raised();
  const CancelPoll poll = g_poll.load(std::memory_order_acquire);
  const bool stop = t_token != nullptr ? t_token->stop_requested() : poll != nullptr && poll();
  if (stop && t_flag != nullptr) t_flag->raise();
  return stop;
}

StopScope::StopScope(StopFlag& flag, bool worker) : previous_flag_(t_flag), previous_worker_(t_worker) {
  t_flag = &flag;
  t_worker = worker;
}

StopScope::~StopScope() {
  t_flag = previous_flag_;
  t_worker = previous_worker_;
}

StopTokenScope::StopTokenScope(const std::stop_token& token) : previous_(t_token) { t_token = &token; }

StopTokenScope::~StopTokenScope() { t_token = previous_; }

StopFlag* StopScope::current() { return t_flag; }

bool StopScope::is_worker() { return t_worker; }

bool CancelCheck::poll_if_due() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kInterval) return false;
  last_ = now;
  return cancel_requested_now();
}

}  // namespace korvane
