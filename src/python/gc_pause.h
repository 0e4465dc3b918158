// Suspends the cyclic garbage collector while a result is built: creating
// millions of tuples would otherwise trigger collection after collection, each
// scanning every container built so far, though none of them can form a cycle.
#pragma once

#include "python/py_ref.h"

namespace korvane::py {

// Disables the collector for the scope and restores the state it found.
class GcPaused {
 public:
  GcPaused() : was_enabled_(PyGC_Disable() != 0) {}
  ~GcPaused() {
    if (was_enabled_) PyGC_Enable();
  }
  GcPaused(const GcPaused&) = delete;
  GcPaused& operator=(const GcPaused&) = delete;

 private:
  bool was_enabled_;
};

}  // namespace korvane::py
