// Builders for the arc arrangements shared by the record classes.
#include "python/record_type.h"

namespace korvane::py {

PyObject* topology_list(std::span<const int64_t> tails, std::span<const int64_t> heads) {
  return build_list(tails.size(), [&](uint64_t i) {
    return build_tuple(PyLong_FromLongLong(tails[i]), PyLong_FromLongLong(heads[i]));
  });
}

PyObject* arc_key_list(std::span<const int64_t> tails, std::span<const int64_t> heads,
                       std::span<const int64_t> indices) {
  return build_list(tails.size(), [&](uint64_t i) {
    return build_tuple(PyLong_FromLongLong(tails[i]), PyLong_FromLongLong(heads[i]),
                       PyLong_FromLongLong(indices[i]));
  });
}

PyObject* arc_indices_dict(std::span<const int64_t> tails, std::span<const int64_t> heads,
                           std::span<const uint64_t> pair_order) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return nullptr;
  std::size_t start = 0;
  while (start < pair_order.size()) {
    const uint64_t first = pair_order[start];
    std::size_t stop = start + 1;
    while (stop < pair_order.size() && tails[pair_order[stop]] == tails[first] &&
           heads[pair_order[stop]] == heads[first]) {
      ++stop;
    }
    Ref key = Ref::steal(
        build_tuple(PyLong_FromLongLong(tails[first]), PyLong_FromLongLong(heads[first])));
    if (!key) return nullptr;
    Ref positions = Ref::steal(build_list(
        stop - start, [&](uint64_t i) { return PyLong_FromUnsignedLongLong(pair_order[start + i]); }));
    if (!positions) return nullptr;
    if (PyDict_SetItem(dict.get(), key.get(), positions.get()) < 0) return nullptr;
    start = stop;
  }
  DeferredTracking::defer(dict.get());
  return dict.release();
}

bool checked_size(uint64_t a, uint64_t b, uint64_t& out) {
  if (a != 0 && b > UINT64_MAX / a) {
    PyErr_NoMemory();
    return false;
  }
  out = a * b;
  return true;
}

}  // namespace korvane::py
