// The library's version and the names of the error kinds.
#include "api/facade.h"

namespace korvane {
inline namespace v0 {

const char* version() noexcept { return KORVANE_VERSION_STRING; }

const char* kind_name(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::value_error: return "ValueError";
    case ErrorKind::os_error: return "OSError";
    case ErrorKind::runtime_error: return "RuntimeError";
    case ErrorKind::internal_error: return "InternalError";
    case ErrorKind::memory_error: return "MemoryError";
    case ErrorKind::cancelled: return "KeyboardInterrupt";
  }
  return "?";
}

}  // namespace v0
}  // namespace korvane
