// Streaming zstd compression beneath the buffered writer, with the same protocol
// as GzipDeflater. Python-free; libzstd stays out of this header.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "core/base/result.h"

namespace korvane {

// Writes one zstd frame at libzstd's default level, with a content checksum so
// that the inflater can check it. Memory is bounded by the level's window and
// one output buffer.
class ZstdDeflater {
 public:
  // Throws std::bad_alloc only.
  ZstdDeflater();
  ZstdDeflater(const ZstdDeflater&) = delete;
  ZstdDeflater& operator=(const ZstdDeflater&) = delete;
  ~ZstdDeflater();

  // As GzipDeflater: `plain` stays valid until deflate() returned empty for it.
  void set_input(std::string_view plain);
  // As GzipDeflater::deflate, with `end` closing the frame. Fails (kInternal)
  // with libzstd's reason.
  Result<std::string_view> deflate(bool end);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane
