// Streaming gzip decompression beneath the line reader: compressed bytes go in
// through a fixed input buffer, plain bytes come out into the caller's buffer.
// Python-free; zlib stays out of this header.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "core/base/result.h"

namespace korvane {

// Whether `first_bytes` (the start of a file) begin with the gzip magic 1f 8b.
bool has_gzip_magic(std::string_view first_bytes);

// Decompresses a gzip file of one or more members (as gzip -d does for
// concatenated files). Every member's CRC and length are checked by zlib, so a
// stream that inflate() ends without error is whole. Memory is constant: zlib's
// 32 KiB window and one input buffer.
class GzipInflater {
 public:
  // Starts with `prefix`, compressed bytes already taken from the file
  // (at most kIoBufferSize). Throws std::bad_alloc only.
  explicit GzipInflater(std::string_view prefix);
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;
  ~GzipInflater();

  // True when inflate() cannot go on before more compressed input is added.
  bool wants_input() const;
  // Room for compressed input; after reading n bytes into it call added(n),
  // with n = 0 at the end of the file.
  std::span<char> input_space();
  void added(std::size_t n);

  // Up to `size` decompressed bytes into `out`. 0 means either wants_input()
  // or the end of the last member. Fails (kReported) with "corrupt gzip
  // stream: <zlib's reason>" or "truncated gzip stream: unexpected end of
  // file". Bytes handed out before a failure are not taken back: the failure
  // comes before the end of the stream, so a caller reading to the end sees it.
  Result<std::size_t> inflate(char* out, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvane
