// GzipInflater over zlib's inflate with gzip framing (window bits 16 + 15).
#include "core/io/gzip_inflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "core/io/file_io.h"

namespace korvane {

namespace {

constexpr int kGzipWindowBits = 16 + MAX_WBITS;  // gzip header and trailer only, no zlib or raw

Error corrupt(const char* reason) {
  return reported(std::string("corrupt gzip stream: ") +
                  (reason != nullptr ? reason : "invalid data"));
}

}  // namespace

bool has_gzip_magic(std::string_view first_bytes) {
  return first_bytes.size() >= 2 && first_bytes[0] == '\x1f' && first_bytes[1] == '\x8b';
}

struct GzipInflater::State {
  z_stream stream{};
  char input[kIoBufferSize];
  bool input_ended = false;
  bool between_members = false;  // the last member ended; any further input starts another
};

GzipInflater::GzipInflater(std::string_view prefix) : state_(std::make_unique<State>()) {
  z_stream& zs = state_->stream;
  if (inflateInit2(&zs, kGzipWindowBits) != Z_OK) throw std::bad_alloc();
  std::memcpy(state_->input, prefix.data(), prefix.size());
  zs.next_in = reinterpret_cast<Bytef*>(state_->input);
  zs.avail_in = static_cast<uInt>(prefix.size());
}

GzipInflater::~GzipInflater() {
  if (state_) inflateEnd(&state_->stream);
}

bool GzipInflater::wants_input() const {
  return state_->stream.avail_in == 0 && !state_->input_ended;
}

std::span<char> GzipInflater::input_space() { return {state_->input, kIoBufferSize}; }

void GzipInflater::added(std::size_t n) {
  state_->stream.next_in = reinterpret_cast<Bytef*>(state_->input);
  state_->stream.avail_in = static_cast<uInt>(n);
  if (n == 0) state_->input_ended = true;
}

Result<std::size_t> GzipInflater::inflate(char* out, std::size_t size) {
  z_stream& zs = state_->stream;
  const auto room =
      static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
  zs.next_out = reinterpret_cast<Bytef*>(out);
  zs.avail_out = room;
  // Run until something came out: a call may only consume header bytes.
  while (zs.avail_out == room) {
    if (zs.avail_in == 0) {
      if (!state_->input_ended) return std::size_t{0};
      if (state_->between_members) return std::size_t{0};
      return reported("truncated gzip stream: unexpected end of file");
    }
    if (state_->between_members) {
      // Concatenated members form one stream; anything else after a member is corrupt.
      if (inflateReset(&zs) != Z_OK) return corrupt(zs.msg);
      state_->between_members = false;
    }
    const int rc = ::inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      state_->between_members = true;
    } else if (rc == Z_MEM_ERROR) {
      throw std::bad_alloc();
    } else if (rc == Z_BUF_ERROR) {
      // No progress was possible: only legitimate when the input ran dry.
      if (zs.avail_in != 0) return corrupt(zs.msg);
    } else if (rc != Z_OK) {
      return corrupt(zs.msg);
    }
  }
  return static_cast<std::size_t>(room - zs.avail_out);
}

}  // namespace korvane
