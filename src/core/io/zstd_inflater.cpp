// ZstdInflater over libzstd's streaming decompression.
#include "core/io/zstd_inflater.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <cstring>
#include <new>
#include <string>

#include "core/io/file_io.h"

namespace korvane {

bool has_zstd_magic(std::string_view first_bytes) {
  return first_bytes.size() >= 4 && first_bytes.substr(0, 4) == "\x28\xb5\x2f\xfd";
}

struct ZstdInflater::State {
  ZSTD_DStream* stream = nullptr;
  char input[kIoBufferSize];
  ZSTD_inBuffer in{input, 0, 0};
  bool input_ended = false;
  bool frame_done = true;  // no frame begun, or the last one ended and was flushed
};

ZstdInflater::ZstdInflater(std::string_view prefix) : state_(std::make_unique<State>()) {
  state_->stream = ZSTD_createDStream();
  if (state_->stream == nullptr) throw std::bad_alloc();
  std::memcpy(state_->input, prefix.data(), prefix.size());
  state_->in.size = prefix.size();
}

ZstdInflater::~ZstdInflater() {
  if (state_) ZSTD_freeDStream(state_->stream);
}

bool ZstdInflater::wants_input() const {
  return state_->in.pos == state_->in.size && !state_->input_ended;
}

std::span<char> ZstdInflater::input_space() { return {state_->input, kIoBufferSize}; }

void ZstdInflater::added(std::size_t n) {
  state_->in = ZSTD_inBuffer{state_->input, n, 0};
  if (n == 0) state_->input_ended = true;
}

Result<std::size_t> ZstdInflater::inflate(char* out, std::size_t size) {
  ZSTD_outBuffer output{out, size, 0};
  State& st = *state_;
  // One decompression call; a call without input flushes what a frame still holds.
  auto step = [&]() -> Result<void> {
    const std::size_t left = ZSTD_decompressStream(st.stream, &output, &st.in);
    if (ZSTD_isError(left)) {
      if (ZSTD_getErrorCode(left) == ZSTD_error_memory_allocation) throw std::bad_alloc();
      return reported(std::string("corrupt zstd stream: ") + ZSTD_getErrorName(left));
    }
    st.frame_done = left == 0;
    return {};
  };
  // Run until something came out: a call may only consume a frame header.
  while (output.pos == 0) {
    if (st.in.pos < st.in.size) {
      KORVANE_TRY(step());
      continue;
    }
    if (st.frame_done) return std::size_t{0};  // more input wanted, or the end
    KORVANE_TRY(step());
    if (output.pos != 0 || !st.input_ended) break;
    if (!st.frame_done) return reported("truncated zstd stream: unexpected end of file");
  }
  return output.pos;
}

}  // namespace korvane
