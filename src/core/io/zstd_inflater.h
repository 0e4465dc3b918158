// Streaming zstd decompression beneath the line reader, with the same input/output
// protocol as GzipInflater. Python-free; libzstd stays out of this header.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "core/base/result.h"

namespace korvane {

// Whether `first_bytes` (the start of a file) begin with the zstd frame magic 28 b5 2f fd.
bool has_zstd_magic(std::string_view first_bytes);

// Decompresses a zstd file of one or more frames (as zstd -d does). Frames with a content
// checksum have it checked. Memory is bounded by the frame's window (at most 128 MiB, libzstd's
// default limit) and one input buffer.
class ZstdInflater {
 public:
  // Starts with `prefix`, compressed bytes already taken from the file (at most
  // kIoBufferSize). Throws std::bad_alloc only.
  explicit ZstdInflater(std::string_view prefix);
  ZstdInflater(const ZstdInflater&) = delete;
  ZstdInflater& operator=(const ZstdInflater&) = delete;
  ~ZstdInflater();

  bool wants_input() const;
  std::span<char> input_space();
  void added(std::size_t n);

  // As GzipInflater::inflate: 0 means wants_input() or the end of the last frame. Fails
  // (kReported) with "corrupt zstd stream: <libzstd's reason>" or "truncated zstd stream:
  // unexpected end of file".
  Result<std::size_t> inflate(char* out, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane
