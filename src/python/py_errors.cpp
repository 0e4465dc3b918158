// The internal-error exception class and the raising of core errors.
#include "python/py_errors.h"

#include "core/base/cancel.h"

namespace korvane::py {
namespace {

PyObject* g_internal_error = nullptr;  // strong reference, kept for the process

constexpr const char* kInternalErrorDoc =
    "Raised when a native routine of korvane finds one of its internal preconditions\n"
    "violated (a line with too few fields, a missing map entry, an unknown method code,\n"
    "a random draw with invalid parameters). It derives from BaseException, so a plain\n"
    "`except Exception` does not catch it; catch korvane.InternalError explicitly.";

bool poll_python_signals() {
  if (PyGILState_Check()) return PyErr_CheckSignals() != 0;
  if (PyGILState_GetThisThreadState() == nullptr) return false;
  const PyGILState_STATE state = PyGILState_Ensure();
  const bool stop = PyErr_CheckSignals() != 0;
  PyGILState_Release(state);
  return stop;
}

}  // namespace

void install_cancel_poll() noexcept { set_cancel_poll(&poll_python_signals); }

PyObject* ensure_internal_error_class() {
  if (g_internal_error == nullptr) {
    g_internal_error = PyErr_NewExceptionWithDoc("korvane.InternalError", kInternalErrorDoc,
                                                 PyExc_BaseException, nullptr);
  }
  return g_internal_error;
}

PyObject* raise_internal(const char* message) {
  PyObject* cls = ensure_internal_error_class();
  if (cls != nullptr) PyErr_SetString(cls, message);
  return nullptr;
}

PyObject* raise(const Error& error, PyObject* reported_class) {
  if (error.kind == ErrorKind::kInternal) return raise_internal(error.message.c_str());
  if (error.kind == ErrorKind::kCancelled) {
    // The cancellation poll ran the signal handlers, which set the exception.
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  Ref text = Ref::steal(
      PyUnicode_FromStringAndSize(error.message.data(), static_cast<Py_ssize_t>(error.message.size())));
  if (text) PyErr_SetObject(reported_class, text.get());
  return nullptr;
}

}  // namespace korvane::py
