// The internal-error exception class and the raising of core errors.
#include "python/py_errors.h"

#include "core/base/cancel.h"
#include "python/gil.h"
#include "python/module_state.h"

#include <string>

namespace korvane::py {
namespace {

constexpr const char* kInternalErrorDoc =
    "Raised when a native routine of korvane finds one of its internal preconditions\n"
    "violated (a line with too few fields, a missing map entry, an unknown method code,\n"
    "a random draw with invalid parameters). It derives from BaseException, so a plain\n"
    "`except Exception` does not catch it; catch korvane.InternalError explicitly.";

// The thread state attached to this thread, or nullptr: never fails.
PyThreadState* attached_thread_state() {
#if PY_VERSION_HEX >= 0x030D0000
  return PyThreadState_GetUnchecked();
#else
  return _PyThreadState_UncheckedGet();
#endif
}

// An exception a handler raised at an earlier poll of the same call still asks
// it to stop: the signal itself is consumed by then. The poll works in the
// interpreter of the calling thread's own call: the thread state attached to the
// thread, or the one a GilReleased scope on this thread detached. (The
// PyGILState functions would pick the main interpreter's state in a
// subinterpreter's call.) A thread Python does not know has neither.
bool poll_python_signals() {
  if (attached_thread_state() != nullptr) {
    return PyErr_Occurred() != nullptr || PyErr_CheckSignals() != 0;
  }
  PyThreadState* released = released_thread_state();
  if (released == nullptr) return false;
  PyEval_RestoreThread(released);
  const bool stop = PyErr_Occurred() != nullptr || PyErr_CheckSignals() != 0;
  PyEval_SaveThread();
  return stop;
}

// The current module's internal-error class (borrowed). Every entry point opens
// a scope on its module's state; should a path ever raise outside one, the
// error still surfaces, as SystemError.
PyObject* internal_error_class() {
  ModuleState* state = current_state();
  return state != nullptr && state->internal_error ? state->internal_error.get()
                                                   : PyExc_SystemError;
}

// Raises cls(message) and, when `note` is not empty, adds it to the exception
// (BaseException.add_note: shown under the traceback, never in args or str()).
void set_with_note(PyObject* cls, const std::string& message, const std::string& note) {
  Ref text = Ref::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;
  if (note.empty()) {
    PyErr_SetObject(cls, text.get());
    return;
  }
  Ref exc = Ref::steal(PyObject_CallOneArg(cls, text.get()));
  if (!exc) return;
  Ref note_text =
      Ref::steal(PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())));
  if (!note_text) return;
  Ref added = Ref::steal(PyObject_CallMethod(exc.get(), "add_note", "O", note_text.get()));
  if (!added) return;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
}

}  // namespace

// One function for the whole process, set again by each module's exec step: it
// keeps no state of its own and works in whichever interpreter calls it.
void install_cancel_poll() noexcept { set_cancel_poll(&poll_python_signals); }

PyObject* make_internal_error_class() {
  return PyErr_NewExceptionWithDoc("korvane.InternalError", kInternalErrorDoc, PyExc_BaseException,
                                   nullptr);
}

PyObject* raise_internal(const char* message) {
  PyErr_SetString(internal_error_class(), message);
  return nullptr;
}

PyObject* raise(const Error& error, PyObject* reported_class) {
  if (error.kind == ErrorKind::kInternal) {
    set_with_note(internal_error_class(), error.message, error.note);
    return nullptr;
  }
  if (error.kind == ErrorKind::kCancelled) {
    // The cancellation poll ran the signal handlers, which set the exception.
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  if (error.kind == ErrorKind::kInvalid) reported_class = PyExc_ValueError;
  set_with_note(reported_class, error.message, error.note);
  return nullptr;
}

}  // namespace korvane::py
