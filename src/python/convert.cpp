// Scalar and text conversions and the shared type-mismatch messages.
#include "python/convert.h"

#include <cstring>

namespace korvane::py {

bool raise_not_instance(PyObject* obj, const char* expected) {
  if (obj == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
    return false;
  }
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (!qualname) return false;
  PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.get(), expected);
  return false;
}

bool Converter<int64_t>::from_py(PyObject* obj, int64_t& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return false;
  const long long v = PyLong_AsLongLong(index.get());
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool Converter<uint64_t>::from_py(PyObject* obj, uint64_t& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) return false;
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool Converter<double>::from_py(PyObject* obj, double& out) {
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

namespace {

// numpy's boolean scalar, recognised by name so numpy need not be imported.
bool is_numpy_bool(PyObject* obj) {
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

}  // namespace

bool Converter<bool>::from_py(PyObject* obj, bool& out) {
  if (PyBool_Check(obj)) {
    out = obj == Py_True;
    return true;
  }
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  return raise_not_instance(obj, "bool");
}

bool Converter<std::string>::from_py(PyObject* obj, std::string& out) {
  if (!PyUnicode_Check(obj)) return raise_not_instance(obj, "str");
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}

bool check_sequence(PyObject* obj) {
  if (PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(obj)) return raise_not_instance(obj, "Sequence");
  return true;
}

bool check_tuple(PyObject* obj, Py_ssize_t n) {
  if (!PyTuple_Check(obj)) return raise_not_instance(obj, "tuple");
  if (PyTuple_GET_SIZE(obj) != n) {
    PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd", n,
                 PyTuple_GET_SIZE(obj));
    return false;
  }
  return true;
}

}  // namespace korvane::py
