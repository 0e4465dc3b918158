// Releasing the interpreter lock around pure native work, restored on every
// path out of the scope, exceptions included.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

class GilReleased {
 public:
  GilReleased() : state_(PyEval_SaveThread()) {}
  ~GilReleased() { PyEval_RestoreThread(state_); }
  GilReleased(const GilReleased&) = delete;
  GilReleased& operator=(const GilReleased&) = delete;

 private:
  PyThreadState* state_;
};

// Runs `work` (touching no Python object) without the interpreter lock and
// returns its result.
template <class Work>
auto without_gil(Work&& work) {
  GilReleased released;
  return work();
}

}  // namespace korvane::py
