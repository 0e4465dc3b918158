// Module entry: the module definition for multi-phase initialisation and the
// exec step that registers the functions and classes, in the one order that
// also fills __all__.
#include "python/functions.h"
#include "python/arrays.h"
#include "core/records/edge.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/parsed_instance.h"
#include "core/records/network_instance.h"
#include "python/py_errors.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

constexpr const char* kModuleName = "korvane";

struct Registration {
  PyMethodDef* function;          // a module function, or
  PyTypeObject* (*make_type)();   // a class: returns a new reference to its type
};

template <class T>
PyTypeObject* record_type() {
  // Types are created once per process and shared by every module object.
  if (RecordType<T>::type == nullptr) {
    RecordType<T>::type = RecordType<T>::create();
    if (RecordType<T>::type == nullptr) return nullptr;
  }
  return reinterpret_cast<PyTypeObject*>(Py_NewRef(RecordType<T>::type));
}

const Registration kRegistrations[] = {
    {&load_min_instance_def, nullptr},
    {&split_supplies_uniform_def, nullptr},
    {&split_supplies_spread_def, nullptr},
    {&split_supplies_beta_binomial_def, nullptr},
    {&compute_commodity_demand_heterogeneity_def, nullptr},
    {&generate_multi_commodity_data_def, nullptr},
    {&save_multi_commodity_instance_def, nullptr},
    {&load_multi_commodity_instance_def, nullptr},
    {&get_adjacency_mapping_def, nullptr},
    {&get_incidence_mapping_def, nullptr},
    {nullptr, record_type<Edge>},
    {nullptr, record_type<NetworkInstance>},
    {nullptr, record_type<MultiCommoditySupplies>},
    {nullptr, record_type<MultiCommodityData>},
    {nullptr, record_type<ParsedMulticommodityInstance>},
};

bool append_to_all(PyObject* module, PyObject* name) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  return PyList_Append(all.get(), name) == 0;
}

int exec_module(PyObject* module) noexcept {
  if (!PyModule_Check(module)) {
    PyErr_SetString(PyExc_TypeError, "korvane's exec step needs a module object");
    return -1;
  }
  Ref module_name = Ref::steal(PyUnicode_FromString(kModuleName));
  if (!module_name) return -1;
  for (const Registration& entry : kRegistrations) {
    if (entry.function != nullptr) {
      Ref fn = Ref::steal(PyCMethod_New(entry.function, module, module_name.get(), nullptr));
      if (!fn) return -1;
      Ref name = Ref::steal(PyObject_GetAttrString(fn.get(), "__name__"));
      if (!name || !append_to_all(module, name.get())) return -1;
      if (PyObject_SetAttr(module, name.get(), fn.get()) < 0) return -1;
    } else {
      Ref type = Ref::steal(reinterpret_cast<PyObject*>(entry.make_type()));
      if (!type) return -1;
      Ref name = Ref::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(type.get())));
      if (!name || !append_to_all(module, name.get())) return -1;
      if (PyObject_SetAttr(module, name.get(), type.get()) < 0) return -1;
    }
  }
  // Private entry points of korvane.arrays, kept out of __all__.
  Ref array_view = Ref::steal(reinterpret_cast<PyObject*>(array_view_type()));
  if (!array_view || PyModule_AddFunctions(module, array_functions) < 0) return -1;
  // Long core loops and interrupted system calls ask this poll about Ctrl-C.
  install_cancel_poll();
  // Reachable for callers who want to catch it; deliberately not in __all__.
  PyObject* internal_error = ensure_internal_error_class();
  if (internal_error == nullptr) return -1;
  return PyModule_AddObjectRef(module, "InternalError", internal_error);
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    // The record types and the internal-error class are created once per process
    // and shared by every module object, so they must not cross interpreters:
    // an import in any subinterpreter fails with ImportError instead.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    kModuleName,
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace korvane::py

PyMODINIT_FUNC PyInit_korvane() { return PyModuleDef_Init(&korvane::py::module_def); }
