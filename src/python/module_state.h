// What each korvane module object owns (its classes and its exception class),
// and how the code of one call finds it: every entry point opens a StateScope
// on its module's state, and code deep inside a conversion asks current_state().
#pragma once

#include "python/py_ref.h"

#include <cstddef>

namespace korvane {
struct Edge;
struct NetworkInstance;
struct MultiCommoditySupplies;
struct MultiCommodityData;
struct ParsedMulticommodityInstance;
struct MulticommodityProblem;
}  // namespace korvane

namespace korvane::py {

// Positions of the module's classes in ModuleState::types.
enum TypeIndex : std::size_t {
  kEdgeType,
  kNetworkInstanceType,
  kSuppliesType,
  kDataType,
  kParsedType,
  kProblemType,
  kArrayViewType,
  kNumTypes,
};

template <class T>
inline constexpr std::size_t kTypeIndex = kNumTypes;  // not a record class
template <>
inline constexpr std::size_t kTypeIndex<Edge> = kEdgeType;
template <>
inline constexpr std::size_t kTypeIndex<NetworkInstance> = kNetworkInstanceType;
template <>
inline constexpr std::size_t kTypeIndex<MultiCommoditySupplies> = kSuppliesType;
template <>
inline constexpr std::size_t kTypeIndex<MultiCommodityData> = kDataType;
template <>
inline constexpr std::size_t kTypeIndex<ParsedMulticommodityInstance> = kParsedType;
template <>
inline constexpr std::size_t kTypeIndex<MulticommodityProblem> = kProblemType;

// The module state (PyModuleDef.m_size bytes, zeroed by CPython, which reads as
// empty Refs). The types hold their module (ht_module) and the module holds
// them: the cycle is broken by the module's m_clear.
struct ModuleState {
  Ref types[kNumTypes];
  Ref internal_error;
};

// The definition of korvane.korvane (module.cpp).
extern PyModuleDef module_def;

// The state of a korvane module object.
inline ModuleState* state_of_module(PyObject* module) {
  return static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module whose exec step created `type`, one of its classes
// (made by PyType_FromModuleAndSpec, final, so never a subclass).
inline ModuleState* state_of_type(PyTypeObject* type) {
  return static_cast<ModuleState*>(PyType_GetModuleState(type));
}

// The state of the innermost scope open on this thread, or nullptr outside any
// (a deallocator, the cancellation poll: neither needs it).
ModuleState* current_state() noexcept;

// Makes `state` the current one until the end of the scope, then restores the
// one it found, so that a call reaching another korvane module through Python
// code (an __index__, a subinterpreter) comes back to its own.
class StateScope {
 public:
  explicit StateScope(ModuleState* state) noexcept;
  ~StateScope();
  StateScope(const StateScope&) = delete;
  StateScope& operator=(const StateScope&) = delete;

 private:
  ModuleState* saved_;
};

// The class at `index` of the current module, or nullptr outside any scope.
inline PyTypeObject* current_type(std::size_t index) noexcept {
  ModuleState* state = current_state();
  return state == nullptr ? nullptr : reinterpret_cast<PyTypeObject*>(state->types[index].get());
}

// A module-level C function, `self` being its module, run inside a scope on
// that module's state; `Fn` keeps the signature of its calling convention.
template <auto Fn>
struct ModuleEntry;

template <class... A, PyObject* (*Fn)(PyObject*, A...) noexcept>
struct ModuleEntry<Fn> {
  static PyObject* call(PyObject* module, A... args) noexcept {
    const StateScope scope(state_of_module(module));
    return Fn(module, args...);
  }
};

// ModuleEntry<Fn>::call as a method table entry's function pointer.
template <auto Fn>
PyCFunction module_entry() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&ModuleEntry<Fn>::call));
}

}  // namespace korvane::py
