// Releasing the interpreter lock around pure native work, restored on every
// path out of the scope, exceptions included.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// The thread state the innermost GilReleased scope on this thread detached, or
// nullptr: what the cancellation poll re-attaches to run the signal handlers in
// the interpreter of the call (py_errors.cpp).
PyThreadState* released_thread_state() noexcept;
// Makes `state` this thread's released thread state; returns the previous one.
PyThreadState* exchange_released_thread_state(PyThreadState* state) noexcept;

class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()), outer_(exchange_released_thread_state(state_)) {}
  ~GilReleased() {
    exchange_released_thread_state(outer_);
    PyEval_RestoreThread(state_);
  }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

 private:
  PyThreadState* state_;
  PyThreadState* outer_;
};

// Runs `work` (touching no Python object) without the interpreter lock and
// returns its result.
template <class Work>
auto without_gil(Work&& work) {
  GilReleased released;
  return work();
}

}  // namespace korvane::py
