// Argument binding messages, shared by every module function.
#include "python/bind.h"

#include <string>

namespace korvane::py {
namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const char* const* names, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) out += n > 2 ? ", " : " ";
    if (i > 0 && i + 1 == n) out += "and ";
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

bool raise_type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

bool raise_too_many(const SignatureView& signature, std::size_t given) {
  std::string message = std::string(signature.name) + "() takes ";
  if (signature.num_required == signature.num_params) {
    message += std::to_string(signature.num_params);
  } else {
    message += "from " + std::to_string(signature.num_required) + " to " +
               std::to_string(signature.num_params);
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was given" : " were given");
  return raise_type_error(message);
}

bool raise_missing(const SignatureView& signature, const char* const* missing,
                   std::size_t num_missing) {
  return raise_type_error(std::string(signature.name) + "() missing " +
                          std::to_string(num_missing) + " required positional " +
                          (num_missing == 1 ? "argument: " : "arguments: ") +
                          quoted_list(missing, num_missing));
}

}  // namespace

bool bind(const SignatureView& signature, PyObject* const* args, Py_ssize_t nargsf,
          PyObject* kwnames, Slots& slots) {
  const std::size_t given = static_cast<std::size_t>(nargsf) & ~PY_VECTORCALL_ARGUMENTS_OFFSET;
  if (given > signature.num_params) return raise_too_many(signature, given);
  for (std::size_t i = 0; i < given; ++i) slots[i] = args[i];

  const Py_ssize_t num_kw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < num_kw; ++k) {
    PyObject* kw = PyTuple_GET_ITEM(kwnames, k);
    // Compared as code points, so a name that has no UTF-8 form (a lone
    // surrogate) is simply unknown rather than an encoding failure.
    std::size_t slot = signature.num_params;
    for (std::size_t i = 0; i < signature.num_params; ++i) {
      if (PyUnicode_CompareWithASCIIString(kw, signature.params[i]) == 0) {
        slot = i;
        break;
      }
    }
    if (slot == signature.num_params) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", signature.name,
                   kw);
      return false;
    }
    if (slots[slot] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", signature.name,
                   signature.params[slot]);
      return false;
    }
    slots[slot] = args[given + static_cast<std::size_t>(k)];
  }

  const char* missing[kMaxParams];
  std::size_t num_missing = 0;
  for (std::size_t i = 0; i < signature.num_required; ++i) {
    if (slots[i] == nullptr) missing[num_missing++] = signature.params[i];
  }
  if (num_missing > 0) return raise_missing(signature, missing, num_missing);
  return true;
}

void prefix_argument_error(const char* param) {
  if (!PyErr_Occurred()) return;
#if PY_VERSION_HEX >= 0x030C0000
  Ref original = Ref::steal(PyErr_GetRaisedException());
#else
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  Ref original = Ref::steal(value);
#endif
  if (!original || Py_TYPE(original.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(original.release());
#else
    PyObject* value_obj = original.release();
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value_obj))), value_obj, nullptr);
#endif
    return;
  }
  Ref text = Ref::steal(PyObject_Str(original.get()));
  if (!text) return;
  Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
  if (!message) return;
  Ref wrapped = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!wrapped) return;
  // PyException_SetCause steals its argument.
  PyException_SetCause(wrapped.get(), PyException_GetCause(original.get()));
  PyErr_SetObject(PyExc_TypeError, wrapped.get());
}

}  // namespace korvane::py
