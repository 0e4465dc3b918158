// Failure values of the native core: Error, Result<T> and the KORVANE_TRY macro.
// The core never throws for expected failures; it returns one of these and the
// binding layer decides which Python exception the error becomes.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <variant>

namespace korvane {

enum class ErrorKind {
  kReported,  // an I/O or parse failure the caller's exception class reports
  kInternal,  // a violated precondition: raised as the internal-error exception
  kCancelled,  // the caller asked the call to stop (core/base/cancel.h); no message
  kInvalid,    // the data is not what the format allows (Python: ValueError); the
               // message names the file and line, or the value, at fault
};

struct Error {
  ErrorKind kind;
  std::string message;
  // Where the failure was met ("line 7 of net.min"), when a reader knows; empty
  // otherwise. Shown beside the message, never part of it.
  std::string note = {};
};

inline Error reported(std::string message) { return Error{ErrorKind::kReported, std::move(message)}; }
inline Error internal(std::string message) { return Error{ErrorKind::kInternal, std::move(message)}; }
inline Error invalid(std::string message) { return Error{ErrorKind::kInvalid, std::move(message)}; }

// Message of an index past the end of a list (missing field or token).
inline std::string index_out_of_range_message(std::size_t index, std::size_t length) {
  return "index out of bounds: the len is " + std::to_string(length) + " but the index is " +
         std::to_string(index);
}
// Message of a range ending at `end` that reaches past the end of a list.
inline std::string range_out_of_range_message(std::size_t end, std::size_t length) {
  return "range end index " + std::to_string(end) + " out of range for slice of length " +
         std::to_string(length);
}

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(implicit)

  bool ok() const { return state_.index() == 0; }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& value() const& { return std::get<0>(state_); }
  const Error& error() const { return std::get<1>(state_); }
  Error&& take_error() { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT(implicit)

  bool ok() const { return ok_; }
  const Error& error() const { return error_; }
  Error&& take_error() { return std::move(error_); }

 private:
  Error error_{ErrorKind::kInternal, {}};
  bool ok_ = true;
};

}  // namespace korvane

// Evaluates a Result-returning expression and returns its error from the
// enclosing function when it failed.
#define KORVANE_TRY(expr)                        \
  do {                                           \
    auto korvane_try_result_ = (expr);           \
    if (!korvane_try_result_.ok()) {             \
      return korvane_try_result_.take_error();   \
    }                                            \
  } while (false)
