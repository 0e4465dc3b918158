// Module entry: the module definition for multi-phase initialisation with
// module state, and the exec step that creates the module's own classes and
// registers the functions and classes, in the one order that also fills __all__.
#include "python/functions.h"
#include "python/module_state.h"
#include "python/arrays.h"
#include "python/commodity_flows.h"
#include "python/flow_screen.h"
#include "core/records/edge.h"
#include "core/records/multi_commodity_data.h"
#include "core/records/parsed_instance.h"
#include "core/records/network_instance.h"
#include "python/netgen.h"
#include "python/pickling.h"
#include "python/mnetgen.h"
#include "python/problem.h"
#include "python/format_functions.h"
#include "python/py_errors.h"
#include "python/record_type.h"

namespace korvane::py {
namespace {

constexpr const char* kModuleName = "korvane";

struct Registration {
  PyMethodDef* function;                    // a module function, or
  PyTypeObject* (*make_type)(PyObject*);    // a class: a new reference to the module's type
};

// Keeps `type` (new reference, or nullptr with an error set) in the state at
// `index` and returns a new reference to it.
PyTypeObject* keep_type(PyObject* module, std::size_t index, PyTypeObject* type) {
  Ref& slot = state_of_module(module)->types[index];
  slot = Ref::steal(reinterpret_cast<PyObject*>(type));
  return reinterpret_cast<PyTypeObject*>(Ref::borrow(slot.get()).release());
}

// Each module object makes its own classes from their specs, bound to it.
template <class T>
PyTypeObject* record_type(PyObject* module) {
  return keep_type(module, kTypeIndex<T>, RecordType<T>::create(module));
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
      Ref type = Ref::steal(reinterpret_cast<PyObject*>(entry.make_type(module)));
      if (!type) return -1;
      Ref name = Ref::steal(PyType_GetName(reinterpret_cast<PyTypeObject*>(type.get())));
      if (!name || !append_to_all(module, name.get())) return -1;
      if (PyObject_SetAttr(module, name.get(), type.get()) < 0) return -1;
    }
  }
  // Private entry points of korvane.arrays, kept out of __all__.
  Ref array_view = Ref::steal(
      reinterpret_cast<PyObject*>(keep_type(module, kArrayViewType, array_view_type(module))));
  if (!array_view || PyModule_AddFunctions(module, array_functions) < 0) return -1;
  // korvane.solve's per-commodity screen, also private.
  if (PyModule_AddFunctions(module, flow_functions) < 0) return -1;
  // Its decomposition's min-cost flows, also private.
  if (PyModule_AddFunctions(module, commodity_flow_functions) < 0) return -1;
  // korvane.formats' record class and its readers and writer, also kept out of __all__.
  Ref problem =
      Ref::steal(reinterpret_cast<PyObject*>(record_type<MulticommodityProblem>(module)));
  if (!problem || PyModule_AddObjectRef(module, "_MulticommodityProblem", problem.get()) < 0 ||
      PyModule_AddFunctions(module, format_functions) < 0 ||
      PyModule_AddFunctions(module, file_functions) < 0) {
    return -1;
  }
  // korvane.generators.mnetgen's entry points, also private.
  if (PyModule_AddFunctions(module, mnetgen_functions) < 0) return -1;
  // korvane.generators' NETGEN, kept out of __all__.
  if (PyModule_AddFunctions(module, netgen_functions) < 0) return -1;
  // The copyreg reducers of the record classes (korvane/__init__.py), kept out of __all__.
  if (PyModule_AddFunctions(module, pickling_functions) < 0) return -1;
  // The functions' defaults, for the command line and the suites; also private.
  Ref defaults = Ref::steal(defaults_table());
  if (!defaults || PyModule_AddObjectRef(module, "_defaults", defaults.get()) < 0) return -1;
  // Long core loops and interrupted system calls ask this poll about Ctrl-C.
  install_cancel_poll();
  // Reachable for callers who want to catch it; deliberately not in __all__.
  ModuleState* state = state_of_module(module);
  state->internal_error = Ref::steal(make_internal_error_class());
  if (!state->internal_error) return -1;
  return PyModule_AddObjectRef(module, "InternalError", state->internal_error.get());
}

int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept {
  ModuleState* state = state_of_module(module);
  for (const Ref& type : state->types) Py_VISIT(type.get());
  Py_VISIT(state->internal_error.get());
  return 0;
}

// Empties `ref` before its object is released, as Py_CLEAR does: the release
// may run code that looks at the state again.
void drop(Ref& ref) { const Ref dropped = std::move(ref); }

int clear_module(PyObject* module) noexcept {
  ModuleState* state = state_of_module(module);
  for (Ref& type : state->types) drop(type);
  drop(state->internal_error);
  return 0;
}

void free_module(void* module) noexcept { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    // Every Python object the module uses lives in its state, and the only
    // process-wide setting, the cancellation poll, keeps no state and works in
    // the interpreter of the thread that calls it: an interpreter with its own
    // GIL may import it.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // Records never change once built and the calls share nothing else, so a
    // free-threaded interpreter keeps its GIL off when importing the module.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

}  // namespace

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    kModuleName,
    "",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace korvane::py

PyMODINIT_FUNC PyInit_korvane() { return PyModuleDef_Init(&korvane::py::module_def); }
