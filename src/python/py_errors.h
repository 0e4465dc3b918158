// Mapping of core failures to Python exceptions, the internal-error class, and
// guard(), the one place where C++ exceptions stop before reaching CPython.
#pragma once

#include "python/py_ref.h"
#include "core/base/result.h"

#include <cerrno>
#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>

namespace korvane::py {

// A new internal-error class (derived from BaseException) for a module's exec
// step, which keeps it in the module state: a new reference, or nullptr with an
// error set.
PyObject* make_internal_error_class();

// Raises the Python exception for a core error: `reported_class` for a reported
// failure, the current module's internal-error class (module_state.h) for an
// internal one. Always returns nullptr.
PyObject* raise(const Error& error, PyObject* reported_class);

// Registers the core's cancellation poll (core/base/cancel.h): it runs the
// interpreter's signal handlers with PyErr_CheckSignals and asks the call to stop
// when one raised (KeyboardInterrupt for Ctrl-C), leaving that exception set for
// raise() to report. When the core runs with the GIL released (GilReleased), the
// poll takes it back for the check alone, in the calling thread's interpreter; a
// thread Python does not know is never cancelled.
void install_cancel_poll() noexcept;

// Raises the internal-error exception with `message`. Returns nullptr.
PyObject* raise_internal(const char* message);

// Runs `body` (returning a PyObject* or nullptr with an error set), turning
// std::bad_alloc into MemoryError, an operating-system std::system_error (a
// thread that cannot be started) into OSError, and any other C++ exception into the
// internal-error exception.
template <class Body>
PyObject* guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::system_error& e) {
    // A thread that could not be started: OSError(errno, text), which Python
    // turns into its subclass (BlockingIOError for EAGAIN), as for its own threads.
    if (e.code().category() == std::generic_category() ||
        e.code().category() == std::system_category()) {
      errno = e.code().value();
      return PyErr_SetFromErrno(PyExc_OSError);
    }
    return raise_internal(e.what());
  } catch (const std::exception& e) {
    return raise_internal(e.what());
  } catch (...) {
    return raise_internal("unknown native failure");
  }
}

}  // namespace korvane::py
