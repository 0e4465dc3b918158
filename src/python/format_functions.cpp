// The private entry points of korvane.formats over the four-file formats: the
// Mnetgen and JLF readers, the Mnetgen writer (of a problem, or of parts given
// as bytes), generation streamed into files and the conversion of korvane's own
// records. Each binds its arguments, runs one core routine without the
// interpreter lock and converts the result or raises.
#include "python/format_functions.h"

#include <array>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/formats/four_file_reader.h"
#include "core/formats/mnetgen_writer.h"
#include "core/generate/stream.h"
#include "core/io/file_io.h"
#include "core/records/problem_conversion.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/problem.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

using Problem = MulticommodityProblem;

template <class T, class Convert>
PyObject* finish(Result<T>&& result, Convert&& convert) {
  if (!result.ok()) return raise(result.error(), PyExc_OSError);
  return convert(std::move(result).value());
}

PyObject* finish_problem(Result<Problem>&& result) {
  return finish(std::move(result), [](Problem&& p) { return wrap_record(std::move(p)); });
}

constexpr const char* kPartParams[] = {"nod", "arc", "sup", "mut"};
constexpr Signature kReadMnetgen{"_read_mnetgen", kPartParams, 4, nullptr};

FourFileParts parts_of(std::string nod, std::string arc, std::string sup, std::string mut) {
  return FourFileParts{std::move(nod), std::move(arc), std::move(sup), std::move(mut)};
}

PyObject* read_mnetgen_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  return call<kReadMnetgen>(
      args, nargsf, kwnames, std::tuple<std::string, std::string, std::string, std::string>{},
      [](std::string& nod, std::string& arc, std::string& sup, std::string& mut) {
        const FourFileParts parts = parts_of(nod, arc, sup, mut);
        return finish_problem(without_gil([&] { return read_mnetgen(parts); }));
      });
}

constexpr const char* kReadJlfParams[] = {"nod", "arc", "sup", "mut", "kind"};
constexpr Signature kReadJlf{"_read_jlf", kReadJlfParams, 5, nullptr};

PyObject* read_jlf_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) noexcept {
  return call<kReadJlf>(
      args, nargsf, kwnames,
      std::tuple<std::string, std::string, std::string, std::string, int64_t>{},
      [](std::string& nod, std::string& arc, std::string& sup, std::string& mut,
         int64_t kind) -> PyObject* {
        if (kind < 0 || kind > 2) {
          PyErr_SetString(PyExc_ValueError, "kind must be 0 (psp), 1 (osp) or 2 (ods)");
          return nullptr;
        }
        const FourFileParts parts = parts_of(nod, arc, sup, mut);
        const auto jlf = static_cast<JlfKind>(kind);
        return finish_problem(without_gil([&] { return read_jlf(parts, jlf); }));
      });
}

constexpr const char* kWriteParams[] = {"nod", "arc", "sup", "mut", "problem", "compression"};
constexpr Signature kWriteMnetgen{"_write_mnetgen", kWriteParams, 6, nullptr};

PyObject* write_mnetgen_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                           PyObject* kwnames) noexcept {
  return call<kWriteMnetgen>(
      args, nargsf, kwnames,
      std::tuple<std::string, std::string, std::string, std::string, const Problem*, int64_t>{},
      [](std::string& nod, std::string& arc, std::string& sup, std::string& mut,
         const Problem* problem, int64_t compression) -> PyObject* {
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        const FourFileParts parts = parts_of(nod, arc, sup, mut);
        const auto how = static_cast<Compression>(compression);
        const Result<void> written = without_gil([&] { return write_mnetgen(parts, *problem, how); });
        if (!written.ok()) return raise(written.error(), PyExc_OSError);
        Py_RETURN_NONE;
      });
}

// _generate_to_files(paths, instance, <generate_multi_commodity_data's settings>,
// compression=0, window_arcs=0): generation streamed into the files, with the
// bytes the generation followed by save_multi_commodity_instance (one path) or
// _write_mnetgen over _to_problem (four part paths) write; compressed (1 gzip,
// 2 zstd) as the native writer compresses them.
constexpr const char* kStreamParams[] = {
    "paths", "instance", "num_commodities", "method", "randomize_caps", "cap_a", "cap_b",
    "randomize_costs", "cost_a", "cost_b", "concentration_param", "cap_zero", "cap_zero_param",
    "seed", "compression", "window_arcs"};
constexpr Signature kGenerateToFiles{"_generate_to_files", kStreamParams, 4, nullptr};

PyObject* generate_to_files_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                               PyObject* kwnames) noexcept {
  using Args = std::tuple<std::vector<std::string>, const NetworkInstance*, uint64_t, int64_t,
                          bool, double, double, bool, double, double, double, bool, double,
                          uint64_t, int64_t, uint64_t>;
  constexpr GenerationParams d{};
  const Args defaults{{},       nullptr,          d.num_commodities,     d.method,
                      d.randomize_caps, d.cap_a,  d.cap_b,               d.randomize_costs,
                      d.cost_a, d.cost_b,         d.concentration_param, d.cap_zero,
                      d.cap_zero_param, d.seed,   0,                     0};
  return call<kGenerateToFiles>(
      args, nargsf, kwnames, defaults,
      [](const std::vector<std::string>& paths, const NetworkInstance* instance, uint64_t k,
         int64_t method, bool randomize_caps, double cap_a, double cap_b, bool randomize_costs,
         double cost_a, double cost_b, double concentration, bool cap_zero,
         double cap_zero_param, uint64_t seed, int64_t compression,
         uint64_t window_arcs) -> PyObject* {
        if (paths.size() != 1 && paths.size() != 4) {
          PyErr_SetString(PyExc_ValueError, "paths must hold one path or four part paths");
          return nullptr;
        }
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        const GenerationParams params{.num_commodities = k,
                                      .method = method,
                                      .randomize_caps = randomize_caps,
                                      .cap_a = cap_a,
                                      .cap_b = cap_b,
                                      .randomize_costs = randomize_costs,
                                      .cost_a = cost_a,
                                      .cost_b = cost_b,
                                      .concentration_param = concentration,
                                      .cap_zero = cap_zero,
                                      .cap_zero_param = cap_zero_param,
                                      .seed = seed};
        const auto window = static_cast<std::size_t>(window_arcs);
        const auto how = static_cast<Compression>(compression);
        const Result<void> written = without_gil([&] {
          if (paths.size() == 1) {
            return generate_to_dimacs(paths[0], *instance, params, window, how);
          }
          return generate_to_mnetgen(parts_of(paths[0], paths[1], paths[2], paths[3]), *instance,
                                     params, how, window);
        });
        if (!written.ok()) return raise(written.error(), PyExc_OSError);
        Py_RETURN_NONE;
      });
}

// _to_problem(instance, data=None): a NetworkInstance (with its
// MultiCommodityData or None) or a ParsedMulticommodityInstance.
PyObject* to_problem_py(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guard([&]() -> PyObject* {
    if (nargs < 1 || nargs > 2) {
      PyErr_SetString(PyExc_TypeError, "_to_problem takes an instance and optional data");
      return nullptr;
    }
    PyObject* instance = args[0];
    PyObject* data = nargs == 2 ? args[1] : Py_None;
    if (Py_IS_TYPE(instance, RecordType<Problem>::type()) && data == Py_None) {
      return Py_NewRef(instance);
    }
    if (Py_IS_TYPE(instance, RecordType<ParsedMulticommodityInstance>::type())) {
      if (data != Py_None) {
        PyErr_SetString(PyExc_TypeError, "data is only taken with a NetworkInstance");
        return nullptr;
      }
      const auto& parsed = record_of<ParsedMulticommodityInstance>(instance);
      return finish_problem(without_gil([&] { return problem_from_parsed(parsed); }));
    }
    if (!Py_IS_TYPE(instance, RecordType<NetworkInstance>::type())) {
      PyErr_Format(PyExc_TypeError,
                   "expected a NetworkInstance (with its MultiCommodityData), a "
                   "ParsedMulticommodityInstance or a MulticommodityProblem, not '%s'",
                   Py_TYPE(instance)->tp_name);
      return nullptr;
    }
    const MultiCommodityData* multi = nullptr;
    if (data != Py_None && !Converter<const MultiCommodityData*>::from_py(data, multi)) {
      return nullptr;
    }
    const auto& network = record_of<NetworkInstance>(instance);
    return finish_problem(without_gil([&] { return problem_from_network(network, multi); }));
  });
}


// _write_bytes(paths, contents): one file, or the four parts of a Mnetgen
// instance, holding the given bytes, written through the native writer (which
// replaces a file whole, keeping its mode, owner and link; the four parts as
// one instance, as _write_mnetgen puts its own).
PyObject* write_bytes_py(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guard([&]() -> PyObject* {
    std::vector<std::string> paths;
    if (nargs != 2) {
      PyErr_SetString(PyExc_TypeError, "_write_bytes takes paths and their contents");
      return nullptr;
    }
    if (!Converter<std::vector<std::string>>::from_py(args[0], paths)) return nullptr;
    if (!PyTuple_Check(args[1])) {
      raise_not_instance(args[1], "tuple");
      return nullptr;
    }
    if ((paths.size() != 1 && paths.size() != 4) ||
        PyTuple_GET_SIZE(args[1]) != static_cast<Py_ssize_t>(paths.size())) {
      PyErr_SetString(PyExc_ValueError,
                      "_write_bytes takes one path or four, and as many contents");
      return nullptr;
    }
    // The tuple and its bytes objects are immutable and held by the caller
    // while the GIL is away.
    std::array<std::string_view, 4> contents;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      PyObject* item = PyTuple_GET_ITEM(args[1], static_cast<Py_ssize_t>(i));
      if (!PyBytes_Check(item)) {
        raise_not_instance(item, "bytes");
        return nullptr;
      }
      contents[i] = std::string_view(PyBytes_AS_STRING(item),
                                     static_cast<std::size_t>(PyBytes_GET_SIZE(item)));
    }
    const Result<void> written = without_gil([&] {
      if (paths.size() == 1) return write_file(paths[0], contents[0]);
      return write_mnetgen_bytes(parts_of(paths[0], paths[1], paths[2], paths[3]), contents);
    });
    if (!written.ok()) return raise(written.error(), PyExc_OSError);
    Py_RETURN_NONE;
  });
}

}  // namespace

PyMethodDef format_functions[] = {
    {"_read_mnetgen", module_entry<read_mnetgen_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_read_jlf", module_entry<read_jlf_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_write_mnetgen", module_entry<write_mnetgen_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_generate_to_files", module_entry<generate_to_files_py>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"_to_problem", module_entry<to_problem_py>(), METH_FASTCALL, nullptr},
    {"_write_bytes", module_entry<write_bytes_py>(), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
