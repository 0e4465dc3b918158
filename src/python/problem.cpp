// The class korvane.formats.MulticommodityProblem: its views of the problem's
// tables (fresh lists on every read), equality and repr.
#include "python/problem.h"

#include <cmath>
#include <string>
#include <vector>

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


}  // namespace korvane::py
