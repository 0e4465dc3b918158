// Streaming gzip compression beneath the buffered writer: plain bytes go in, the
// compressed stream comes out through a fixed output buffer. Python-free; zlib
// stays out of this header.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "core/base/result.h"

namespace korvane {

// Writes one gzip member (zlib's deflate with a gzip header: no file name, time
// 0, so equal input gives equal bytes) at level 6 unless told otherwise. Memory
// is constant: zlib's state and one output buffer.
class GzipDeflater {
 public:
  static constexpr int kDefaultLevel = 6;

  // Throws std::bad_alloc only.
  explicit GzipDeflater(int level = kDefaultLevel);
  GzipDeflater(const GzipDeflater&) = delete;
  GzipDeflater& operator=(const GzipDeflater&) = delete;
  ~GzipDeflater();

  // Takes `plain` as the next input; it must stay valid until deflate() has
  // returned an empty view for it.
  void set_input(std::string_view plain);
  // The next piece of compressed output, valid until the next call; empty once
  // the input is taken in (and, with `end`, once the member's trailer is out).
  // After an `end` call returned empty the deflater is spent. Fails (kInternal)
  // only on a zlib state error.
  Result<std::string_view> deflate(bool end);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane
