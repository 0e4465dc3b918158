// The per-thread record of the thread state a GilReleased scope detached.
#include "python/gil.h"

#include <utility>

namespace korvane::py {
namespace {

thread_local PyThreadState* t_released_state = nullptr;

}  // namespace

PyThreadState* released_thread_state() noexcept { return t_released_state; }

PyThreadState* exchange_released_thread_state(PyThreadState* state) noexcept {
  return std::exchange(t_released_state, state);
}

}  // namespace korvane::py
