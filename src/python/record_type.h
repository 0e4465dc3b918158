// Shared pieces of the record classes: the heap-type factory with the class
// rules (no constructor, read-only getters, no __dict__, no weakrefs, final),
// the getter adaptor, and builders for arrangements several records share.
#pragma once

#include "core/records/edge.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/network_instance.h"
#include "core/records/parsed_instance.h"
#include "python/convert.h"
#include "python/py_errors.h"

#include <cstdint>
#include <span>

namespace korvane::py {

// The record classes are defined one per *_types.cpp file; their static members
// are declared here so that every user of RecordType<T> sees the specialisations.
template <>
const char* const RecordType<Edge>::name;
template <>
PyTypeObject* RecordType<Edge>::create(PyObject* module);
template <>
const char* const RecordType<NetworkInstance>::name;
template <>
PyTypeObject* RecordType<NetworkInstance>::create(PyObject* module);
template <>
const char* const RecordType<MultiCommoditySupplies>::name;
template <>
PyTypeObject* RecordType<MultiCommoditySupplies>::create(PyObject* module);
template <>
const char* const RecordType<MultiCommodityData>::name;
template <>
PyTypeObject* RecordType<MultiCommodityData>::create(PyObject* module);
template <>
const char* const RecordType<ParsedMulticommodityInstance>::name;
template <>
PyTypeObject* RecordType<ParsedMulticommodityInstance>::create(PyObject* module);

// Creates the heap type "builtins.<name>" holding RecordObject<T>, bound to
// `module` (which its instances' getters find through PyType_GetModuleState).
template <class T>
PyTypeObject* make_record_type(PyObject* module, PyGetSetDef* getset, PyMethodDef* methods) {
  static std::string qualified = std::string("builtins.") + RecordType<T>::name;
  PyType_Slot slots[] = {
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_record<T>)},
      {Py_tp_getset, getset},
      {Py_tp_methods, methods},
      {Py_tp_doc, const_cast<char*>("")},
      {0, nullptr},
  };
  PyType_Spec type_spec = {
      qualified.c_str(),
      static_cast<int>(sizeof(RecordObject<T>)),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
      slots,
  };
  return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &type_spec, nullptr));
}

// A getter built from `Fn(const T&) -> PyObject*`: converts the field afresh on
// every read, its containers hidden from the collector until it is built, in a scope on the
// state of the record's module.
template <class T, auto Fn>
PyObject* getter(PyObject* self, void*) noexcept {
  const StateScope scope(state_of_type(Py_TYPE(self)));
  return guard([&]() -> PyObject* {
    DeferredTracking deferred;
    return deferred.finish(Fn(record_of<T>(self)));
  });
}

// The same for a method taking no arguments.
template <class T, auto Fn>
PyObject* method_noargs(PyObject* self, PyObject*) noexcept {
  const StateScope scope(state_of_type(Py_TYPE(self)));
  return guard([&]() -> PyObject* {
    DeferredTracking deferred;
    return deferred.finish(Fn(record_of<T>(self)));
  });
}

// A value converted with its Converter (scalars, lists, maps).
template <class V>
PyObject* to_python(const V& value) {
  return Converter<V>::to_py(value);
}

// Field getter for a plain member.
template <class T, auto Member>
PyObject* field_getter(PyObject* self, void*) noexcept {
  const StateScope scope(state_of_type(Py_TYPE(self)));
  return guard([&]() -> PyObject* {
    DeferredTracking deferred;
    return deferred.finish(to_python(record_of<T>(self).*Member));
  });
}

// (tail, head) per arc.
PyObject* topology_list(std::span<const int64_t> tails, std::span<const int64_t> heads);
// (tail, head, index) per arc.
PyObject* arc_key_list(std::span<const int64_t> tails, std::span<const int64_t> heads,
                       std::span<const int64_t> indices);
// {(tail, head): [positions]} from positions sorted by (tail, head, position).
PyObject* arc_indices_dict(std::span<const int64_t> tails, std::span<const int64_t> heads,
                           std::span<const uint64_t> pair_order);
// {(tail, head, index): list_for(position)} in ascending key order, which is the
// order of `pair_order`.
template <class ListFor>
PyObject* arc_key_dict(std::span<const int64_t> tails, std::span<const int64_t> heads,
                       std::span<const int64_t> indices, std::span<const uint64_t> pair_order,
                       ListFor&& list_for) {
  return build_dict(
      pair_order.size(),
      [&](uint64_t i) {
        const uint64_t a = pair_order[i];
        return build_tuple(PyLong_FromLongLong(tails[a]), PyLong_FromLongLong(heads[a]),
                           PyLong_FromLongLong(indices[a]));
      },
      [&](uint64_t i) { return list_for(pair_order[i]); });
}

// Checked product of two counts for list sizes; MemoryError when it overflows.
bool checked_size(uint64_t a, uint64_t b, uint64_t& out);

}  // namespace korvane::py
