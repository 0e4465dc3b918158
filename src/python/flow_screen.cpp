// _screen_commodities(num_nodes, tails, heads, capacity, supply, num_commodities,
// first_only): the arrays are C-contiguous buffers (int64 ranks, float64 tables)
// korvane.solve builds; the screen runs on them in place, without the
// interpreter lock, and the failing commodities come back as a list.
#include "python/flow_screen.h"

#include <span>

#include "core/graph/flow_screen.h"
#include "python/buffer_view.h"
#include "python/gil.h"
#include "python/module_state.h"
#include "python/py_errors.h"

namespace korvane::py {
namespace {

PyObject* screen_commodities(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* {
    long long num_nodes = 0;
    long long num_commodities = 0;
    int first_only = 0;
    PyObject* objs[4] = {};
    if (!PyArg_ParseTuple(args, "LOOOOLp:_screen_commodities", &num_nodes, &objs[0], &objs[1],
                          &objs[2], &objs[3], &num_commodities, &first_only)) {
      return nullptr;
    }
    Buffer<int64_t> tails;
    Buffer<int64_t> heads;
    Buffer<double> capacity;
    Buffer<double> supply;
    constexpr char kInt = kInt64Format;
    if (!tails.take(objs[0], kInt, "tails") || !heads.take(objs[1], kInt, "heads") ||
        !capacity.take(objs[2], 'd', "capacity") || !supply.take(objs[3], 'd', "supply")) {
      return nullptr;
    }
    const ScreenInput input{num_nodes, num_commodities, tails.span(), heads.span(),
                            capacity.span(), supply.span()};
    auto result = without_gil([&] { return infeasible_commodities(input, first_only != 0); });
    if (!result.ok()) return raise(result.error(), PyExc_ValueError);
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (int64_t c : result.value()) {
      Ref item = Ref::steal(PyLong_FromLongLong(c));
      if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

}  // namespace

PyMethodDef flow_functions[] = {
    {"_screen_commodities", module_entry<screen_commodities>(), METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
