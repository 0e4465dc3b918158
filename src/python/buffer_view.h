// A contiguous view of a buffer-protocol object of one element type (the arrays
// korvane.solve hands to its native routines), released with the view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "python/py_ref.h"

namespace korvane::py {

// Format character of int64 elements: 'l' on the LP64 platforms korvane builds
// for; NumPy writes 'l' or 'q'.
inline constexpr char kInt64Format = sizeof(long) == 8 ? 'l' : 'q';

template <class T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (held_) PyBuffer_Release(&view_);
  }

  // False with a TypeError set unless `obj` is a C-contiguous (and, when asked,
  // writable) buffer of `code` elements.
  bool take(PyObject* obj, char code, const char* name, bool writable = false) {
    const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(obj, &view_, flags) < 0) return false;
    held_ = true;
    const char* format = view_.format == nullptr ? "B" : view_.format;
    if (format[0] == '=' || format[0] == '<' || format[0] == '@') ++format;
    if (view_.itemsize != static_cast<Py_ssize_t>(sizeof(T)) || format[0] != code ||
        format[1] != '\0') {
      PyErr_Format(PyExc_TypeError, "%s must be a contiguous %s array", name,
                   code == 'd' ? "float64" : "int64");
      return false;
    }
    return true;
  }

  std::span<const T> span() const {
    return {static_cast<const T*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(T)};
  }
  std::span<T> mutable_span() {
    return {static_cast<T*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(T)};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace korvane::py
