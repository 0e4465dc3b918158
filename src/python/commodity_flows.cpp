// _flows_new(num_nodes, tails, heads, capacity, supply, num_commodities) builds the
// commodities' min-cost flow solvers (int64 buffers; a negative capacity is no
// bound) into a capsule; _flows_solve(flows, cost, out, threads) re-optimises them
// for a float64 cost table without the interpreter lock, writes the flows into the
// int64 buffer `out` and returns (statuses, pivots so far): status 0 optimal, 1
// infeasible, 2 unbounded.
#include "python/commodity_flows.h"

#include <atomic>
#include <memory>
#include <vector>

#include "core/base/parallel.h"
#include "core/flow/commodity_flows.h"
#include "python/buffer_view.h"
#include "python/gil.h"
#include "python/module_state.h"
#include "python/py_errors.h"

namespace korvane::py {
namespace {

constexpr const char* kCapsuleName = "korvane.CommodityFlows";

struct Held {
  explicit Held(CommodityFlows f) : flows(std::move(f)) {}
  CommodityFlows flows;
  // A second thread solving the same solvers while the lock is released would
  // race on their trees: it is refused instead.
  std::atomic<bool> busy{false};
};

void free_held(PyObject* capsule) noexcept {
  std::unique_ptr<Held> held(static_cast<Held*>(PyCapsule_GetPointer(capsule, kCapsuleName)));
  if (!held) PyErr_Clear();
}

PyObject* flows_new(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* {
    long long num_nodes = 0;
    long long num_commodities = 0;
    PyObject* objs[4] = {};
    if (!PyArg_ParseTuple(args, "LOOOOL:_flows_new", &num_nodes, &objs[0], &objs[1], &objs[2],
                          &objs[3], &num_commodities)) {
      return nullptr;
    }
    Buffer<int64_t> tails;
    Buffer<int64_t> heads;
    Buffer<int64_t> capacity;
    Buffer<int64_t> supply;
    if (!tails.take(objs[0], kInt64Format, "tails") ||
        !heads.take(objs[1], kInt64Format, "heads") ||
        !capacity.take(objs[2], kInt64Format, "capacity") ||
        !supply.take(objs[3], kInt64Format, "supply")) {
      return nullptr;
    }
    auto result = without_gil([&] {
      return CommodityFlows::create(num_nodes, num_commodities, tails.span(), heads.span(),
                                    capacity.span(), supply.span());
    });
    if (!result.ok()) return raise(result.error(), PyExc_ValueError);
    auto held = std::make_unique<Held>(std::move(result.value()));
    Ref capsule = Ref::steal(PyCapsule_New(held.get(), kCapsuleName, free_held));
    if (!capsule) return nullptr;
    static_cast<void>(held.release());  // owned by the capsule now
    return capsule.release();
  });
}

PyObject* flows_solve(PyObject*, PyObject* args) noexcept {
  return guard([&]() -> PyObject* {
    PyObject* capsule = nullptr;
    PyObject* cost_obj = nullptr;
    PyObject* out_obj = nullptr;
    long long threads = 0;
    if (!PyArg_ParseTuple(args, "OOOL:_flows_solve", &capsule, &cost_obj, &out_obj, &threads)) {
      return nullptr;
    }
    auto* held = static_cast<Held*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (held == nullptr) return nullptr;
    if (threads < 0) {
      PyErr_SetString(PyExc_ValueError, "threads must be 0 (every core) or more");
      return nullptr;
    }
    Buffer<double> cost;
    Buffer<int64_t> out;
    if (!cost.take(cost_obj, 'd', "cost") || !out.take(out_obj, kInt64Format, "out", true)) {
      return nullptr;
    }
    if (held->busy.exchange(true)) {
      PyErr_SetString(PyExc_RuntimeError,
                      "these min-cost flows are being solved on another thread");
      return nullptr;
    }
    std::vector<FlowStatus> status(held->flows.num_commodities());
    auto result = without_gil([&] {
      ThreadCountScope scope(static_cast<std::size_t>(threads));
      return held->flows.solve(cost.span(), out.mutable_span(), status);
    });
    held->busy.store(false);
    if (!result.ok()) return raise(result.error(), PyExc_ValueError);
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(status.size())));
    if (!list) return nullptr;
    for (std::size_t c = 0; c < status.size(); ++c) {
      PyObject* item = PyLong_FromLong(static_cast<long>(status[c]));
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(c), item);
    }
    Ref pivots = Ref::steal(PyLong_FromUnsignedLongLong(held->flows.pivots()));
    if (!pivots) return nullptr;
    return PyTuple_Pack(2, list.get(), pivots.get());
  });
}

}  // namespace

PyMethodDef commodity_flow_functions[] = {
    {"_flows_new", module_entry<flows_new>(), METH_VARARGS, nullptr},
    {"_flows_solve", module_entry<flows_solve>(), METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
