// Keeps the containers of a result being built out of the cyclic collector's
// sight until the result is complete. Building millions of tuples and lists
// triggers collection after collection, each of which would otherwise scan every
// container built so far; none of them can be part of a cycle yet. The
// collector's own switch (gc.enable / gc.disable) is never touched.
#pragma once

#include <vector>

#include "python/py_ref.h"

namespace korvane::py {

// While one is alive on a thread, the builders of convert.h hand it the lists,
// dicts and tuples they make (defer()): each is untracked, and tracked again by
// finish() once the whole result exists. Scopes nest; the outermost one keeps
// the containers. A tuple of numbers or strings is left untracked for good, as
// the collector itself would leave it.
class DeferredTracking {
 public:
  DeferredTracking();
  // Drops the scope's references; a result never finished leaves its
  // containers untracked, and they are freed with it.
  ~DeferredTracking();
  DeferredTracking(const DeferredTracking&) = delete;
  DeferredTracking& operator=(const DeferredTracking&) = delete;

  // Tracks again every container deferred in this scope when `result` is not
  // nullptr; returns `result`.
  PyObject* finish(PyObject* result);

  // Hands `container` (a list just made, or a dict or tuple just filled) to the
  // thread's outermost scope, which untracks it; outside a scope it stays as it
  // is. May throw std::bad_alloc, leaving the container tracked.
  static void defer(PyObject* container);
  // For a filled tuple: untracked for good when no item can hold a reference,
  // else deferred.
  static void defer_tuple(PyObject* tuple);

 private:
  std::vector<Ref> deferred_;
  bool outermost_;
};

}  // namespace korvane::py
