// The Python classes Edge and NetworkInstance over their native records.
#include "python/record_type.h"

#include "core/records/edge.h"
#include "core/records/network_instance.h"

namespace korvane::py {

template <>
const char* const RecordType<Edge>::name = "Edge";
template <>
const char* const RecordType<NetworkInstance>::name = "NetworkInstance";

namespace {

using NI = NetworkInstance;

PyGetSetDef edge_getset[] = {
    {"tail", field_getter<Edge, &Edge::tail>, nullptr, nullptr, nullptr},
    {"head", field_getter<Edge, &Edge::head>, nullptr, nullptr, nullptr},
    {"low", field_getter<Edge, &Edge::low>, nullptr, nullptr, nullptr},
    {"up", field_getter<Edge, &Edge::up>, nullptr, nullptr, nullptr},
    {"cost", field_getter<Edge, &Edge::cost>, nullptr, nullptr, nullptr},
    {"index", field_getter<Edge, &Edge::index>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyObject* get_edges(const NI& inst) {
  PyTypeObject* edge_type = RecordType<Edge>::type();
  return build_list(inst.num_edges(),
                    [&](uint64_t i) { return wrap_record(edge_type, inst.edge(i)); });
}
PyObject* get_arcs(const NI& inst) {
  return arc_key_list(inst.tails, inst.heads, inst.parallel_index);
}
PyObject* get_parallel(const NI& inst) { return to_python(inst.parallel()); }
PyObject* get_arc_indices(const NI& inst) {
  return arc_indices_dict(inst.tails, inst.heads, inst.pair_order);
}
PyObject* topology(const NI& inst) { return topology_list(inst.tails, inst.heads); }

PyGetSetDef instance_getset[] = {
    {"num_nodes", field_getter<NI, &NI::num_nodes>, nullptr, nullptr, nullptr},
    {"num_arcs", field_getter<NI, &NI::num_arcs>, nullptr, nullptr, nullptr},
    {"nodes", field_getter<NI, &NI::nodes>, nullptr, nullptr, nullptr},
    {"edges", getter<NI, get_edges>, nullptr, nullptr, nullptr},
    {"supplies", field_getter<NI, &NI::supplies>, nullptr, nullptr, nullptr},
    {"arcs", getter<NI, get_arcs>, nullptr, nullptr, nullptr},
    {"capacities", field_getter<NI, &NI::ups>, nullptr, nullptr, nullptr},
    {"weights", field_getter<NI, &NI::costs>, nullptr, nullptr, nullptr},
    {"parallel", getter<NI, get_parallel>, nullptr, nullptr, nullptr},
    {"num_parallel_arc_pairs", field_getter<NI, &NI::num_parallel_arc_pairs>, nullptr, nullptr,
     nullptr},
    {"arc_indices", getter<NI, get_arc_indices>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef instance_methods[] = {
    {"topology", method_noargs<NI, topology>, METH_NOARGS,
     "topology($self)\n--\n\nReturns the topology-only view `(tail, head)` for "
     "`get_adjacency_mapping`.\nParallel arcs are preserved; the parallel index is dropped."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

template <>
PyTypeObject* RecordType<Edge>::create(PyObject* module) {
  return make_record_type<Edge>(module, edge_getset, no_methods);
}
template <>
PyTypeObject* RecordType<NetworkInstance>::create(PyObject* module) {
  return make_record_type<NetworkInstance>(module, instance_getset, instance_methods);
}

}  // namespace korvane::py
