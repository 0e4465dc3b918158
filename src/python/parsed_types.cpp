// The Python class ParsedMulticommodityInstance. Compressed lists are stored
// once; the keyed maps and commodity-major lists are expanded when read.
#include "python/record_type.h"

#include "core/records/parsed_instance.h"

namespace korvane::py {

template <>
const char* const RecordType<ParsedMulticommodityInstance>::name = "ParsedMulticommodityInstance";

namespace {

using PMI = ParsedMulticommodityInstance;

PyObject* list_of(const ListView& view) {
  return build_list(view.length, [&](uint64_t k) { return PyLong_FromLongLong(view.at(k)); });
}

PyObject* get_edges(const PMI& p) { return arc_key_list(p.tails, p.heads, p.parallel_index); }

PyObject* get_commodity_supply_demand_data(const PMI& p) {
  return build_dict(
      p.supplies.size(), [&](uint64_t i) { return PyLong_FromLongLong(p.supplies.entries[i].first); },
      [&](uint64_t i) {
        const auto amounts = p.amounts(i);
        return build_list(amounts.size(), [&](uint64_t j) { return PyLong_FromLongLong(amounts[j]); });
      });
}

PyObject* get_commodity_capacities(const PMI& p) {
  return arc_key_dict(p.tails, p.heads, p.parallel_index, p.pair_order,
                      [&](uint64_t a) { return list_of(p.capacity_list(a)); });
}

PyObject* get_commodity_weights(const PMI& p) {
  return arc_key_dict(p.tails, p.heads, p.parallel_index, p.pair_order,
                      [&](uint64_t a) { return list_of(p.cost_list(a)); });
}

// Commodity-major: entry k*E + a concerns arc a and commodity k.
template <class Make>
PyObject* commodity_major(const PMI& p, Make&& make) {
  const auto n = p.commodity_major_size();
  if (!n) return PyErr_NoMemory();
  const uint64_t e = p.num_edges();
  return build_list(*n, [&](uint64_t i) { return make(i / e, i % e); });
}

PyObject* get_commodity_edges(const PMI& p) {
  return commodity_major(p, [&](uint64_t k, uint64_t a) {
    return build_tuple(PyLong_FromUnsignedLongLong(k), PyLong_FromLongLong(p.tails[a]),
                       PyLong_FromLongLong(p.heads[a]), PyLong_FromLongLong(p.parallel_index[a]));
  });
}

PyObject* get_commodity_bundle_capacities(const PMI& p) {
  return commodity_major(
      p, [&](uint64_t k, uint64_t a) { return PyLong_FromLongLong(p.bundle_capacity(k, a)); });
}

PyObject* get_arc_indices(const PMI& p) { return arc_indices_dict(p.tails, p.heads, p.pair_order); }

PyObject* topology(const PMI& p) { return topology_list(p.tails, p.heads); }

PyGetSetDef getset[] = {
    {"num_nodes", field_getter<PMI, &PMI::num_nodes>, nullptr, nullptr, nullptr},
    {"num_arcs", field_getter<PMI, &PMI::num_arcs>, nullptr, nullptr, nullptr},
    {"num_commodities", field_getter<PMI, &PMI::num_commodities>, nullptr, nullptr, nullptr},
    {"randomized_capacities", field_getter<PMI, &PMI::randomized_capacities>, nullptr, nullptr,
     nullptr},
    {"randomized_weights", field_getter<PMI, &PMI::randomized_weights>, nullptr, nullptr, nullptr},
    {"nodes", field_getter<PMI, &PMI::nodes>, nullptr, nullptr, nullptr},
    {"edges", getter<PMI, get_edges>, nullptr, nullptr, nullptr},
    {"supplies", field_getter<PMI, &PMI::supplies>, nullptr, nullptr, nullptr},
    {"commodity_supply_demand_data", getter<PMI, get_commodity_supply_demand_data>, nullptr,
     nullptr, nullptr},
    {"capacities", field_getter<PMI, &PMI::ups>, nullptr, nullptr, nullptr},
    {"commodity_capacities", getter<PMI, get_commodity_capacities>, nullptr, nullptr, nullptr},
    {"commodity_weights", getter<PMI, get_commodity_weights>, nullptr, nullptr, nullptr},
    {"commodity_edges", getter<PMI, get_commodity_edges>, nullptr, nullptr, nullptr},
    {"start_nodes", field_getter<PMI, &PMI::tails>, nullptr, nullptr, nullptr},
    {"end_nodes", field_getter<PMI, &PMI::heads>, nullptr, nullptr, nullptr},
    {"method", field_getter<PMI, &PMI::method>, nullptr, nullptr, nullptr},
    {"cap_zero", field_getter<PMI, &PMI::cap_zero>, nullptr, nullptr, nullptr},
    {"cap_zero_param", field_getter<PMI, &PMI::cap_zero_param>, nullptr, nullptr, nullptr},
    {"seed", field_getter<PMI, &PMI::seed>, nullptr, nullptr, nullptr},
    {"parallel", field_getter<PMI, &PMI::parallel>, nullptr, nullptr, nullptr},
    {"arc_indices", getter<PMI, get_arc_indices>, nullptr, nullptr, nullptr},
    {"commodity_bundle_capacities", getter<PMI, get_commodity_bundle_capacities>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"topology", method_noargs<PMI, topology>, METH_NOARGS,
     "topology($self)\n--\n\nReturns the topology-only view `(tail, head)` for "
     "\xC2\xB4get_adjacency_mapping`.\nParallel arcs are preserved; the parallel index is dropped."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

template <>
PyTypeObject* RecordType<ParsedMulticommodityInstance>::create(PyObject* module) {
  return make_record_type<ParsedMulticommodityInstance>(module, getset, methods);
}

}  // namespace korvane::py
