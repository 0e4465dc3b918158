// The private entry points of korvane.generators' NETGEN: the network as a
// NetworkInstance, and its text written to a file. Each binds its arguments,
// runs one core routine without the interpreter lock and converts the result
// or raises (ValueError for refused inputs, OSError for the file).
#include "python/netgen.h"

#include <string>
#include <tuple>
#include <vector>

#include "core/netgen/netgen_writer.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

// The 15 inputs in the generator's order and the limits, or false with
// ValueError set.
bool netgen_inputs(const std::vector<int64_t>& values, int64_t max_nodes, int64_t max_arcs,
                   netgen::Params& params, netgen::Limits& limits) {
  if (values.size() != netgen::kNumParams) {
    PyErr_SetString(PyExc_ValueError, "params must hold the generator's 15 inputs");
    return false;
  }
  if (max_nodes < 1 || max_nodes > netgen::kHardMaxNodes) {
    PyErr_Format(PyExc_ValueError, "max_nodes: must be between 1 and %lld, got %lld",
                 static_cast<long long>(netgen::kHardMaxNodes), static_cast<long long>(max_nodes));
    return false;
  }
  if (max_arcs < 1 || max_arcs > netgen::kHardMaxArcs) {
    PyErr_Format(PyExc_ValueError, "max_arcs: must be between 1 and %lld, got %lld",
                 static_cast<long long>(netgen::kHardMaxArcs), static_cast<long long>(max_arcs));
    return false;
  }
  int64_t v[netgen::kNumParams];
  for (std::size_t i = 0; i < netgen::kNumParams; ++i) v[i] = values[i];
  params = netgen::params_from_values(v);
  limits = netgen::Limits{max_nodes, max_arcs};
  return true;
}

constexpr const char* kInstanceParams[] = {"params", "max_nodes", "max_arcs"};
constexpr Signature kNetgenInstance{"_netgen_instance", kInstanceParams, 3, nullptr};

PyObject* netgen_instance_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) noexcept {
  return call<kNetgenInstance>(
      args, nargsf, kwnames, std::tuple<std::vector<int64_t>, int64_t, int64_t>{},
      [](const std::vector<int64_t>& values, int64_t max_nodes, int64_t max_arcs) -> PyObject* {
        netgen::Params params;
        netgen::Limits limits;
        if (!netgen_inputs(values, max_nodes, max_arcs, params, limits)) return nullptr;
        Result<NetworkInstance> made =
            without_gil([&] { return netgen::netgen_instance(params, limits); });
        if (!made.ok()) return raise(made.error(), PyExc_OSError);
        return wrap_record(std::move(made).value());
      });
}

constexpr const char* kWriteParams[] = {"path",     "params",      "max_nodes",
                                        "max_arcs", "compression", "holding"};
constexpr Signature kNetgenWrite{"_netgen_write", kWriteParams, 4, nullptr};

PyObject* netgen_write_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  using Args = std::tuple<std::string, std::vector<int64_t>, int64_t, int64_t, int64_t, int64_t>;
  return call<kNetgenWrite>(
      args, nargsf, kwnames, Args{{}, {}, 0, 0, 0, 0},
      [](const std::string& path, const std::vector<int64_t>& values, int64_t max_nodes,
         int64_t max_arcs, int64_t compression, int64_t holding) -> PyObject* {
        netgen::Params params;
        netgen::Limits limits;
        if (!netgen_inputs(values, max_nodes, max_arcs, params, limits)) return nullptr;
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        if (holding < 0 || holding > 2) {
          PyErr_SetString(PyExc_ValueError, "holding must be 0 (auto), 1 (memory) or 2 (streamed)");
          return nullptr;
        }
        const auto how = static_cast<Compression>(compression);
        const auto hold = static_cast<netgen::Holding>(holding);
        const Result<uint64_t> written =
            without_gil([&] { return netgen::write_netgen(path, params, limits, how, hold); });
        if (!written.ok()) return raise(written.error(), PyExc_OSError);
        return PyLong_FromUnsignedLongLong(written.value());
      });
}

constexpr Signature kNetgenCheck{"_netgen_check", kInstanceParams, 3, nullptr};

// The refusal the generator would make of these inputs, without generating.
PyObject* netgen_check_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  return call<kNetgenCheck>(
      args, nargsf, kwnames, std::tuple<std::vector<int64_t>, int64_t, int64_t>{},
      [](const std::vector<int64_t>& values, int64_t max_nodes, int64_t max_arcs) -> PyObject* {
        netgen::Params params;
        netgen::Limits limits;
        if (!netgen_inputs(values, max_nodes, max_arcs, params, limits)) return nullptr;
        const Result<void> valid = netgen::validate(params, limits);
        if (!valid.ok()) return raise(valid.error(), PyExc_OSError);
        Py_RETURN_NONE;
      });
}

}  // namespace

PyMethodDef netgen_functions[] = {
    {"_netgen_check", module_entry<netgen_check_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_netgen_instance", module_entry<netgen_instance_py>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"_netgen_write", module_entry<netgen_write_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
