// The Python classes MultiCommoditySupplies and MultiCommodityData. The data
// record holds arc-major E*K tables; every other arrangement is built on read.
#include "python/record_type.h"

#include "core/records/multi_commodity_data.h"

namespace korvane::py {

template <>
const char* const RecordType<MultiCommoditySupplies>::name = "MultiCommoditySupplies";
template <>
const char* const RecordType<MultiCommodityData>::name = "MultiCommodityData";

namespace {

using MCD = MultiCommodityData;
using MCS = MultiCommoditySupplies;

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyGetSetDef supplies_getset[] = {
    {"partition", field_getter<MCS, &MCS::partition>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The K values of arc a in an arc-major table.
PyObject* arc_row(std::span<const int64_t> table, uint64_t k, uint64_t a) {
  return build_list(k, [&](uint64_t j) { return PyLong_FromLongLong(table[a * k + j]); });
}

PyObject* get_commodity_edges(const MCD& d) {
  const uint64_t k = d.num_commodities;
  uint64_t n = 0;
  if (!checked_size(d.num_edges(), k, n)) return nullptr;
  // Arc-major: entry a*K + j is (j, tail, head, index) of arc a.
  return build_list(n, [&](uint64_t i) {
    const uint64_t a = i / k;
    return build_tuple(PyLong_FromUnsignedLongLong(i % k), PyLong_FromLongLong(d.tails[a]),
                       PyLong_FromLongLong(d.heads[a]), PyLong_FromLongLong(d.indices[a]));
  });
}

PyObject* get_capacities(const MCD& d) {
  const uint64_t k = d.num_commodities;
  uint64_t n = 0;
  if (!checked_size(d.num_edges(), k, n)) return nullptr;
  return build_list(n, [&](uint64_t i) { return PyLong_FromLongLong(d.ups[i / k]); });
}

PyObject* get_weight(const MCD& d) {
  const uint64_t k = d.num_commodities;
  const uint64_t e = d.num_edges();
  // Commodity-major view of the arc-major cost table.
  return build_list(k, [&](uint64_t j) {
    return build_list(e, [&](uint64_t a) { return PyLong_FromLongLong(d.cost_table[a * k + j]); });
  });
}

PyObject* get_weights_by_arc(const MCD& d) {
  return build_dict(
      d.num_edges(), [](uint64_t a) { return PyLong_FromUnsignedLongLong(a); },
      [&](uint64_t a) { return arc_row(d.cost_table, d.num_commodities, a); });
}

PyObject* get_capacities_by_arc(const MCD& d) {
  return build_dict(
      d.num_edges(), [](uint64_t a) { return PyLong_FromUnsignedLongLong(a); },
      [&](uint64_t a) { return arc_row(d.capacity_table, d.num_commodities, a); });
}

PyObject* get_commodity_capacities(const MCD& d) {
  return arc_key_dict(d.tails, d.heads, d.indices, d.pair_order,
                      [&](uint64_t a) { return arc_row(d.capacity_table, d.num_commodities, a); });
}

PyObject* get_commodity_weights(const MCD& d) {
  return arc_key_dict(d.tails, d.heads, d.indices, d.pair_order,
                      [&](uint64_t a) { return arc_row(d.cost_table, d.num_commodities, a); });
}

PyObject* get_arc_indices(const MCD& d) { return arc_indices_dict(d.tails, d.heads, d.pair_order); }

PyGetSetDef data_getset[] = {
    {"supply_partition", field_getter<MCD, &MCD::supply_partition>, nullptr, nullptr, nullptr},
    {"method", field_getter<MCD, &MCD::method>, nullptr, nullptr, nullptr},
    {"commodity_edges", getter<MCD, get_commodity_edges>, nullptr, nullptr, nullptr},
    {"capacities", getter<MCD, get_capacities>, nullptr, nullptr, nullptr},
    {"weight", getter<MCD, get_weight>, nullptr, nullptr, nullptr},
    {"weights_by_arc", getter<MCD, get_weights_by_arc>, nullptr, nullptr, nullptr},
    {"capacities_by_arc", getter<MCD, get_capacities_by_arc>, nullptr, nullptr, nullptr},
    {"commodity_capacities", getter<MCD, get_commodity_capacities>, nullptr, nullptr, nullptr},
    {"commodity_weights", getter<MCD, get_commodity_weights>, nullptr, nullptr, nullptr},
    {"num_commodities", field_getter<MCD, &MCD::num_commodities>, nullptr, nullptr, nullptr},
    {"randomized_capacities", field_getter<MCD, &MCD::randomized_capacities>, nullptr, nullptr,
     nullptr},
    {"randomized_weights", field_getter<MCD, &MCD::randomized_weights>, nullptr, nullptr, nullptr},
    {"cap_zero", field_getter<MCD, &MCD::cap_zero>, nullptr, nullptr, nullptr},
    {"cap_zero_param", field_getter<MCD, &MCD::cap_zero_param>, nullptr, nullptr, nullptr},
    {"seed", field_getter<MCD, &MCD::seed>, nullptr, nullptr, nullptr},
    {"parallel", field_getter<MCD, &MCD::parallel>, nullptr, nullptr, nullptr},
    {"arc_indices", getter<MCD, get_arc_indices>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

template <>
PyTypeObject* RecordType<MultiCommoditySupplies>::create(PyObject* module) {
  return make_record_type<MultiCommoditySupplies>(module, supplies_getset, no_methods);
}
template <>
PyTypeObject* RecordType<MultiCommodityData>::create(PyObject* module) {
  return make_record_type<MultiCommodityData>(module, data_getset, no_methods);
}

}  // namespace korvane::py
