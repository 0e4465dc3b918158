// Converter<T>: the one conversion of each native type from and to Python.
// Scalars, text, sequences, fixed tuples, ordered maps and records each have one
// specialisation; containers are generic over their element converter and stop
// at the first failure. from_py returns false with the Python error set.
#pragma once

#include "python/gc_tracking.h"
#include "python/module_state.h"
#include "python/py_ref.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/base/flat_map.h"

namespace korvane::py {

// TypeError "'X' object is not an instance of 'T'" (or "'None' is not an
// instance of 'T'"), X the qualified name of obj's type. Returns false.
bool raise_not_instance(PyObject* obj, const char* expected);

// MemoryError when a list of n items cannot exist; false then.
inline bool check_list_size(uint64_t n) {
  if (n > static_cast<uint64_t>(PY_SSIZE_T_MAX) / sizeof(PyObject*)) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

// A new list of n items, item i produced by make(i) (a new reference or nullptr).
template <class Make>
PyObject* build_list(uint64_t n, Make&& make) {
  if (!check_list_size(n)) return nullptr;
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  DeferredTracking::defer(list.get());
  for (uint64_t i = 0; i < n; ++i) {
    PyObject* item = make(i);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// A new tuple of the given new references (stolen; any nullptr fails the whole).
template <class... Items>
PyObject* build_tuple(Items... items) {
  PyObject* raw[] = {items...};
  constexpr Py_ssize_t n = sizeof...(Items);
  bool complete = true;
  for (PyObject* p : raw) complete = complete && p != nullptr;
  if (!complete) {
    for (PyObject* p : raw) Py_XDECREF(p);
    return nullptr;
  }
  PyObject* tuple = PyTuple_New(n);
  if (tuple == nullptr) {
    for (PyObject* p : raw) Py_DECREF(p);
    return nullptr;
  }
  for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(tuple, i, raw[i]);
  Ref owned = Ref::steal(tuple);
  DeferredTracking::defer_tuple(owned.get());
  return owned.release();
}

// A new dict with n entries inserted in order; entry i from key(i) and value(i).
template <class Key, class Value>
PyObject* build_dict(uint64_t n, Key&& key, Value&& value) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return nullptr;
  for (uint64_t i = 0; i < n; ++i) {
    Ref k = Ref::steal(key(i));
    if (!k) return nullptr;
    Ref v = Ref::steal(value(i));
    if (!v) return nullptr;
    if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
  }
  // Inserting a container tracks the dict: it is deferred once filled.
  DeferredTracking::defer(dict.get());
  return dict.release();
}

template <class T>
struct Converter;

template <>
struct Converter<int64_t> {
  static bool from_py(PyObject* obj, int64_t& out);
  static PyObject* to_py(int64_t v) { return PyLong_FromLongLong(v); }
};

template <>
struct Converter<uint64_t> {
  static bool from_py(PyObject* obj, uint64_t& out);
  static PyObject* to_py(uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
};

template <>
struct Converter<double> {
  static bool from_py(PyObject* obj, double& out);
  static PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
};

template <>
struct Converter<bool> {
  static bool from_py(PyObject* obj, bool& out);
  static PyObject* to_py(bool v) { return PyBool_FromLong(v ? 1 : 0); }
};

template <>
struct Converter<std::string> {
  static bool from_py(PyObject* obj, std::string& out);
  static PyObject* to_py(const std::string& v) {
    return PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size()));
  }
};

// Checks that obj may be read as a list: a sequence that is not a str.
bool check_sequence(PyObject* obj);

template <class T, class Alloc>
struct Converter<std::vector<T, Alloc>> {
  static bool from_py(PyObject* obj, std::vector<T, Alloc>& out) {
    if (!check_sequence(obj)) return false;
    out.clear();
    // The length is only a hint, and __len__ of a custom sequence may claim
    // anything: an exact list or tuple reserves it, anything else a bounded part.
    // A sequence without a usable __len__ (TypeError) is still read by iteration.
    const Py_ssize_t hint = PySequence_Size(obj);
    if (hint < 0) {
      if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
      PyErr_Clear();
    } else {
      const bool exact = PyList_CheckExact(obj) || PyTuple_CheckExact(obj);
      out.reserve(static_cast<std::size_t>(exact ? hint : std::min<Py_ssize_t>(hint, 4096)));
    }
    Ref it = Ref::steal(PyObject_GetIter(obj));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
      T value{};
      if (!Converter<T>::from_py(item.get(), value)) return false;
      out.push_back(std::move(value));
    }
    return !PyErr_Occurred();
  }
  static PyObject* to_py(const std::vector<T, Alloc>& v) {
    return build_list(v.size(), [&](uint64_t i) { return Converter<T>::to_py(v[i]); });
  }
};

// Checks that obj is a tuple of exactly n items.
bool check_tuple(PyObject* obj, Py_ssize_t n);

template <class T, std::size_t N>
struct Converter<std::array<T, N>> {
  static bool from_py(PyObject* obj, std::array<T, N>& out) {
    if (!check_tuple(obj, static_cast<Py_ssize_t>(N))) return false;
    for (std::size_t i = 0; i < N; ++i) {
      if (!Converter<T>::from_py(PyTuple_GET_ITEM(obj, static_cast<Py_ssize_t>(i)), out[i])) {
        return false;
      }
    }
    return true;
  }
  static PyObject* to_py(const std::array<T, N>& v) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
      return build_tuple(Converter<T>::to_py(v[I])...);
    }(std::make_index_sequence<N>());
  }
};

template <class K, class V>
struct Converter<FlatMap<K, V>> {
  static bool from_py(PyObject* obj, FlatMap<K, V>& out) {
    if (!PyDict_Check(obj)) return raise_not_instance(obj, "dict");
    out.entries.clear();
    // Converting a key or value may run Python code (__index__) that changes the
    // caller's dict, and another thread may change it too: read a snapshot.
    Ref snapshot = Ref::steal(PyDict_Copy(obj));
    if (!snapshot) return false;
    out.entries.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(snapshot.get())));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(snapshot.get(), &pos, &key, &value)) {
      // Hold both while converting: a value's conversion may run Python code.
      Ref key_ref = Ref::borrow(key);
      Ref value_ref = Ref::borrow(value);
      std::pair<K, V> entry{};
      if (!Converter<K>::from_py(key_ref.get(), entry.first)) return false;
      if (!Converter<V>::from_py(value_ref.get(), entry.second)) return false;
      out.entries.push_back(std::move(entry));
    }
    out.sort_last_wins();
    return true;
  }
  static PyObject* to_py(const FlatMap<K, V>& map) {
    return build_dict(
        map.size(), [&](uint64_t i) { return Converter<K>::to_py(map.entries[i].first); },
        [&](uint64_t i) { return Converter<V>::to_py(map.entries[i].second); });
  }
};

// ------------------------------------------------------------------ records

// The Python object that owns a native record, held in place.
template <class T>
struct RecordObject {
  PyObject_HEAD
  T record;
};

// Per-record type registry: each record's type file defines name and create.
template <class T>
struct RecordType {
  static const char* const name;  // class name, e.g. "NetworkInstance"
  // Creates the heap type bound to `module` (new reference), for its exec step.
  static PyTypeObject* create(PyObject* module);
  // The class of the current module (module_state.h), nullptr outside any scope.
  static PyTypeObject* type() noexcept { return current_type(kTypeIndex<T>); }
};

template <class T>
const T& record_of(PyObject* self) {
  return reinterpret_cast<RecordObject<T>*>(self)->record;
}

// Records are passed in as borrowed, read-only pointers and returned by moving
// the native record into a new Python object.
template <class T>
struct Converter<const T*> {
  static bool from_py(PyObject* obj, const T*& out) {
    PyTypeObject* type = RecordType<T>::type();
    if (type == nullptr || Py_TYPE(obj) != type) {
      return raise_not_instance(obj, RecordType<T>::name);
    }
    out = &record_of<T>(obj);
    return true;
  }
};

// A new object of `type`, the current module's class of T, owning `record`.
template <class T>
PyObject* wrap_record(PyTypeObject* type, T&& record) {
  if (type == nullptr) {
    PyErr_SetString(PyExc_SystemError, "korvane record made outside a call of its module");
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<RecordObject<T>*>(self)->record) T(std::move(record));
  return self;
}

template <class T>
PyObject* wrap_record(T&& record) {
  return wrap_record(RecordType<std::remove_cvref_t<T>>::type(), std::forward<T>(record));
}

template <class T>
void dealloc_record(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<RecordObject<T>*>(self)->record);
  type->tp_free(self);
  Py_DECREF(type);
}

}  // namespace korvane::py
