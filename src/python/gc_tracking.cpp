// The per-thread scope that defers the tracking of a result's containers.
#include "python/gc_tracking.h"

namespace korvane::py {
namespace {

thread_local DeferredTracking* t_scope = nullptr;

}  // namespace

DeferredTracking::DeferredTracking() : outermost_(t_scope == nullptr) {
  if (outermost_) t_scope = this;
}

DeferredTracking::~DeferredTracking() {
  if (outermost_) t_scope = nullptr;
}

PyObject* DeferredTracking::finish(PyObject* result) {
  if (!outermost_ || result == nullptr) return result;
  for (const Ref& container : deferred_) {
    if (!PyObject_GC_IsTracked(container.get())) PyObject_GC_Track(container.get());
  }
  deferred_.clear();
  return result;
}

void DeferredTracking::defer(PyObject* container) {
  if (t_scope == nullptr || !PyObject_GC_IsTracked(container)) return;
  t_scope->deferred_.push_back(Ref::borrow(container));
  PyObject_GC_UnTrack(container);
}

void DeferredTracking::defer_tuple(PyObject* tuple) {
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(tuple); ++i) {
    if (PyObject_IS_GC(PyTuple_GET_ITEM(tuple, i))) {
      defer(tuple);
      return;
    }
  }
  if (PyObject_GC_IsTracked(tuple)) PyObject_GC_UnTrack(tuple);
}

}  // namespace korvane::py
