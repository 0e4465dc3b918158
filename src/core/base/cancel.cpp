// The registered cancellation poll and the clock check in front of it.
#include "core/base/cancel.h"

#include <atomic>

namespace korvane {
namespace {

std::atomic<CancelPoll> g_poll{nullptr};

}  // namespace

void set_cancel_poll(CancelPoll poll) noexcept { g_poll.store(poll, std::memory_order_release); }

bool cancel_requested_now() {
  const CancelPoll poll = g_poll.load(std::memory_order_acquire);
  return poll != nullptr && poll();
}

bool CancelCheck::poll_if_due() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kInterval) return false;
  last_ = now;
  return cancel_requested_now();
}

}  // namespace korvane
