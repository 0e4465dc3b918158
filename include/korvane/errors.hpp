/// @file korvane/errors.hpp
/// @brief Errors as values: korvane::Error, korvane::Result and the options every
/// long call takes (thread count, stop token).
///
/// No function of the C++ API throws: each returns a Result holding its value or
/// an Error. An Error's kind names the exception class the Python module raises
/// for the same failure, and its message is the text that exception shows.
#pragma once

#include <cstddef>
#include <stop_token>
#include <string>
#include <utility>
#include <variant>

#include "korvane/export.hpp"

namespace korvane {
inline namespace v0 {

/// What went wrong, named after the Python exception the same failure raises.
enum class ErrorKind {
  /// The data breaks a rule of its format, or an argument is out of range (ValueError).
  value_error,
  /// A file could not be opened, read or written, or a thread not started (OSError).
  os_error,
  /// A reader or generator reported a failure of its input (RuntimeError).
  runtime_error,
  /// A violated precondition: a line with too few fields, an unknown method
  /// (korvane.InternalError).
  internal_error,
  /// A table could not be allocated (MemoryError).
  memory_error,
  /// The call's stop token asked it to stop (KeyboardInterrupt in Python); no message.
  cancelled,
};

/// The Python exception class name of `kind` ("ValueError", "OSError", ...).
KORVANE_API const char* kind_name(ErrorKind kind) noexcept;

/// A failure: its kind, the message the Python exception would carry, and where
/// it was met ("line 7 of net.min") when the reader knows (the Python layer adds
/// it as a note beside the message, never in it).
struct Error {
  ErrorKind kind = ErrorKind::internal_error;  ///< the Python exception class it maps to
  std::string message;                         ///< the exception's text
  std::string note = {};                       ///< where it was met, or empty
};

/// A value of type T or an Error. Test ok() before value(); value() on an error
/// (or error() on a value) is a precondition violation, as for std::variant.
template <class T>
class [[nodiscard]] Result {
 public:
  /// A success holding `value`.
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(implicit)
  /// A failure.
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(implicit)

  /// Whether the call succeeded.
  bool ok() const noexcept { return state_.index() == 0; }
  /// ok().
  explicit operator bool() const noexcept { return ok(); }
  /// The value (only when ok()).
  T& value() & { return *std::get_if<0>(&state_); }
  /// The value, moved out (only when ok()).
  T&& value() && { return std::move(*std::get_if<0>(&state_)); }
  /// The value (only when ok()).
  const T& value() const& { return *std::get_if<0>(&state_); }
  /// The error (only when not ok()).
  const Error& error() const { return *std::get_if<1>(&state_); }

 private:
  std::variant<T, Error> state_;
};

/// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  /// A success.
  Result() = default;
  /// A failure.
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT(implicit)

  /// Whether the call succeeded.
  bool ok() const noexcept { return ok_; }
  /// ok().
  explicit operator bool() const noexcept { return ok_; }
  /// The error (only when not ok()).
  const Error& error() const { return error_; }

 private:
  Error error_{};
  bool ok_ = true;
};

/// How a long call runs. Both fields are per call: nothing is global.
struct RunOptions {
  /// Threads for the call: 0 uses every core the process may run on; more than
  /// 1024 is 1024. Results are the same for every count.
  std::size_t threads = 0;
  /// A stop request ends the call with ErrorKind::cancelled: at once when it was
  /// made before the call, else within about 50 ms on every thread of the call.
  /// A cancelled call leaves no partial record and no partial file behind.
  std::stop_token stop = {};
};

}  // namespace v0
}  // namespace korvane
