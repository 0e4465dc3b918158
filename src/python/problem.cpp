// The class korvane.formats.MulticommodityProblem and the private entry points
// of korvane.formats: the Mnetgen and JLF readers, the Mnetgen writer and the
// conversion of korvane's own records. Each binds its arguments, runs one core
// routine without the interpreter lock and converts the result or raises.
#include "python/problem.h"

#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/formats/four_file_reader.h"
#include "core/formats/min_reader.h"
#include "core/formats/mnetgen_writer.h"
#include "core/generate/stream.h"
#include "core/io/file_io.h"
#include "core/records/problem_conversion.h"
#include "python/bind.h"
#include "python/gil.h"
#include "python/record_type.h"

namespace korvane::py {

template <>
const char* const RecordType<MulticommodityProblem>::name = "MulticommodityProblem";

namespace {

using Problem = MulticommodityProblem;

const char* source_name(ProblemSource source) {
  switch (source) {
    case ProblemSource::kMnetgen: return "mnetgen";
    case ProblemSource::kJlfPsp: return "psp";
    case ProblemSource::kJlfOsp: return "osp";
    case ProblemSource::kJlfOds: return "ods";
    case ProblemSource::kConverted: return "korvane";
  }
  return "?";
}

// rows lists of `width` floats each, from a row-major table.
PyObject* rows_of(const std::vector<double>& table, uint64_t rows, uint64_t width) {
  return build_list(rows, [&](uint64_t r) {
    return build_list(width, [&](uint64_t c) { return PyFloat_FromDouble(table[r * width + c]); });
  });
}

PyObject* get_source(const Problem& p) { return PyUnicode_FromString(source_name(p.source)); }
PyObject* get_num_arcs(const Problem& p) { return PyLong_FromSize_t(p.num_arcs()); }
PyObject* get_node_ids(const Problem& p) {
  if (!p.node_ids.empty()) return to_python(p.node_ids);
  return build_list(p.num_nodes, [](uint64_t i) { return PyLong_FromUnsignedLongLong(i + 1); });
}
PyObject* get_costs(const Problem& p) { return rows_of(p.costs, p.num_arcs(), p.num_commodities); }
PyObject* get_capacities(const Problem& p) {
  return rows_of(p.capacities, p.num_arcs(), p.num_commodities);
}
PyObject* get_supplies(const Problem& p) { return rows_of(p.supplies, p.num_nodes, p.num_commodities); }

PyGetSetDef getset[] = {
    {"source", getter<Problem, get_source>, nullptr,
     "Which reader made the record: 'mnetgen', 'psp', 'osp', 'ods', or 'korvane' for a "
     "converted korvane record.", nullptr},
    {"num_nodes", field_getter<Problem, &Problem::num_nodes>, nullptr,
     "N: nodes are numbered 1..N.", nullptr},
    {"num_arcs", getter<Problem, get_num_arcs>, nullptr, "E, the number of arcs.", nullptr},
    {"num_commodities", field_getter<Problem, &Problem::num_commodities>, nullptr,
     "K: commodities are numbered 1..K (index k - 1 in every table).", nullptr},
    {"declared_arcs", field_getter<Problem, &Problem::declared_arcs>, nullptr,
     "The arc count the file declared (0 for a converted record).", nullptr},
    {"node_ids", getter<Problem, get_node_ids>, nullptr,
     "The id of node number i + 1 at index i: 1..N for a file, the original ids for a "
     "converted record.", nullptr},
    {"arc_names", field_getter<Problem, &Problem::arc_names>, nullptr,
     "Each arc's name in the file, ascending.", nullptr},
    {"tails", field_getter<Problem, &Problem::tails>, nullptr, "Each arc's tail, 1..N.", nullptr},
    {"heads", field_getter<Problem, &Problem::heads>, nullptr, "Each arc's head, 1..N.", nullptr},
    {"costs", getter<Problem, get_costs>, nullptr,
     "E lists of K unit costs.", nullptr},
    {"capacities", getter<Problem, get_capacities>, nullptr,
     "E lists of K capacities: inf for no bound, 0 where the commodity may not use the arc.",
     nullptr},
    {"bundle_capacities", field_getter<Problem, &Problem::bundles>, nullptr,
     "Per arc, the bound on the sum of all commodities' flows; inf for none.", nullptr},
    {"supplies", getter<Problem, get_supplies>, nullptr,
     "N lists of K amounts: positive at a source, negative at a sink.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

bool same(const Problem& a, const Problem& b) {
  // node_ids empty stands for 1..N: compare what the two records mean.
  auto ids_equal = [&] {
    if (a.node_ids.empty() == b.node_ids.empty()) return a.node_ids == b.node_ids;
    const auto& ids = a.node_ids.empty() ? b.node_ids : a.node_ids;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] != static_cast<int64_t>(i + 1)) return false;
    }
    return ids.size() == a.num_nodes;
  };
  return a.source == b.source && a.num_nodes == b.num_nodes &&
         a.num_commodities == b.num_commodities && a.declared_arcs == b.declared_arcs &&
         ids_equal() && a.arc_names == b.arc_names && a.tails == b.tails && a.heads == b.heads &&
         a.costs == b.costs && a.capacities == b.capacities && a.bundles == b.bundles &&
         a.supplies == b.supplies;
}

PyObject* richcompare(PyObject* self, PyObject* other, int op) noexcept {
  if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = same(record_of<Problem>(self), record_of<Problem>(other));
  return PyBool_FromLong((op == Py_EQ) == equal ? 1 : 0);
}

PyObject* repr(PyObject* self) noexcept {
  const Problem& p = record_of<Problem>(self);
  return PyUnicode_FromFormat("<MulticommodityProblem %s: %llu nodes, %zu arcs, %llu commodities>",
                              source_name(p.source), static_cast<unsigned long long>(p.num_nodes),
                              p.num_arcs(), static_cast<unsigned long long>(p.num_commodities));
}

constexpr const char* kProblemDoc =
    "A linear multi-commodity min-cost flow problem, in real numbers.\n\n"
    "Minimise the sum over arcs a and commodities k of costs[a][k] * x(a,k) subject to\n"
    "0 <= x(a,k) <= capacities[a][k], flow conservation for every node and commodity\n"
    "(outflow - inflow = supplies[node - 1][k]) and, for every arc, the sum over k of\n"
    "x(a,k) <= bundle_capacities[a]. Made by korvane.formats.read_mnetgen, read_jlf and\n"
    "to_problem; korvane.arrays.problem_arrays views its tables without copying.";

// ------------------------------------------------------------------ functions

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

// _read_min(path): (NetworkInstance, whether the file held a problem line), read
// and failing as load_min_instance does.
PyObject* read_min_py(PyObject*, PyObject* arg) noexcept {
  return guard([&]() -> PyObject* {
    std::string path;
    if (!Converter<std::string>::from_py(arg, path)) return nullptr;
    Result<MinRead> read = without_gil([&] { return read_min(path); });
    if (!read.ok()) return raise(read.error(), PyExc_OSError);
    Ref instance = Ref::steal(wrap_record(std::move(read.value().instance)));
    if (!instance) return nullptr;
    return PyTuple_Pack(2, instance.get(), read.value().has_problem_line ? Py_True : Py_False);
  });
}

// _copy_file(source, path, compression): the file at source, decompressed, written
// to path through the native writer, compressed (1 gzip, 2 zstd) or not (0).
constexpr const char* kCopyParams[] = {"source", "path", "compression"};
constexpr Signature kCopyFile{"_copy_file", kCopyParams, 3, nullptr};

PyObject* copy_file_py(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  return call<kCopyFile>(
      args, nargsf, kwnames, std::tuple<std::string, std::string, int64_t>{},
      [](const std::string& source, const std::string& path, int64_t compression) -> PyObject* {
        if (compression < 0 || compression > 2) {
          PyErr_SetString(PyExc_ValueError, "compression must be 0 (none), 1 (gzip) or 2 (zstd)");
          return nullptr;
        }
        const auto how = static_cast<Compression>(compression);
        const Result<void> copied =
            without_gil([&] { return copy_decompressed(source, path, how); });
        if (!copied.ok()) return raise(copied.error(), PyExc_OSError);
        Py_RETURN_NONE;
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

// _head_lines(path, max_lines): the first lines of a file as str (decoded as
// every reader decodes it: decompressed, byte-order mark skipped), for telling
// formats apart. Read errors raise OSError.
PyObject* head_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guard([&]() -> PyObject* {
    std::string path;
    int64_t max_lines = 0;
    if (nargs != 2) {
      PyErr_SetString(PyExc_TypeError, "_head_lines takes a path and a line count");
      return nullptr;
    }
    if (!Converter<std::string>::from_py(args[0], path) ||
        !Converter<int64_t>::from_py(args[1], max_lines)) {
      return nullptr;
    }
    std::vector<std::string> lines;
    const Result<void> read = without_gil([&]() -> Result<void> {
      auto reader = LineReader::open(path);
      if (!reader.ok()) return reader.take_error();
      std::string_view line;
      while (static_cast<int64_t>(lines.size()) < max_lines) {
        auto more = reader.value().next(line);
        if (!more.ok()) return more.take_error();
        if (!more.value()) break;
        lines.emplace_back(line);
      }
      return {};
    });
    if (!read.ok()) return raise(read.error(), PyExc_OSError);
    return to_python(lines);
  });
}

}  // namespace

template <>
PyTypeObject* RecordType<MulticommodityProblem>::create(PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_record<Problem>)},
      {Py_tp_getset, getset},
      {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare)},
      {Py_tp_repr, reinterpret_cast<void*>(&repr)},
      {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
      {Py_tp_doc, const_cast<char*>(kProblemDoc)},
      {0, nullptr},
  };
  PyType_Spec type_spec = {
      "korvane.formats.MulticommodityProblem",
      static_cast<int>(sizeof(RecordObject<Problem>)),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
      slots,
  };
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &type_spec, nullptr));
}

PyMethodDef problem_functions[] = {
    {"_read_mnetgen", module_entry<read_mnetgen_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_read_jlf", module_entry<read_jlf_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_write_mnetgen", module_entry<write_mnetgen_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_generate_to_files", module_entry<generate_to_files_py>(), METH_FASTCALL | METH_KEYWORDS,
     nullptr},
    {"_to_problem", module_entry<to_problem_py>(), METH_FASTCALL, nullptr},
    {"_copy_file", module_entry<copy_file_py>(), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"_write_bytes", module_entry<write_bytes_py>(), METH_FASTCALL, nullptr},
    {"_head_lines", module_entry<head_lines>(), METH_FASTCALL, nullptr},
    {"_read_min", module_entry<read_min_py>(), METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace korvane::py
