// GzipDeflater over zlib's deflate with gzip framing (window bits 16 + 15).
#include "core/io/gzip_deflater.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>

namespace korvane {

namespace {

constexpr int kGzipWindowBits = 16 + MAX_WBITS;  // write a gzip header and trailer
constexpr int kMemoryLevel = 8;                  // zlib's default
constexpr std::size_t kOutputBytes = std::size_t{64} << 10;

}  // namespace

struct GzipDeflater::State {
  z_stream stream{};
  std::string_view rest;  // input not yet handed to zlib (above uInt's range)
  bool ended = false;
  char output[kOutputBytes];
};

GzipDeflater::GzipDeflater(int level) : state_(std::make_unique<State>()) {
  if (deflateInit2(&state_->stream, level, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::bad_alloc();
  }
}

GzipDeflater::~GzipDeflater() {
  if (state_) deflateEnd(&state_->stream);
}

void GzipDeflater::set_input(std::string_view plain) {
  state_->rest = plain;
  state_->stream.avail_in = 0;
}

Result<std::string_view> GzipDeflater::deflate(bool end) {
  State& st = *state_;
  if (st.ended) return std::string_view{};
  z_stream& zs = st.stream;
  zs.next_out = reinterpret_cast<Bytef*>(st.output);
  zs.avail_out = static_cast<uInt>(kOutputBytes);
  // Run until something came out: input is often only taken into zlib's window.
  while (zs.avail_out == kOutputBytes) {
    if (zs.avail_in == 0 && !st.rest.empty()) {
      const std::size_t take =
          std::min<std::size_t>(st.rest.size(), std::numeric_limits<uInt>::max());
      zs.next_in = reinterpret_cast<const Bytef*>(st.rest.data());
      zs.avail_in = static_cast<uInt>(take);
      st.rest.remove_prefix(take);
    }
    if (zs.avail_in == 0 && !end) return std::string_view{};
    const int rc = ::deflate(&zs, end && st.rest.empty() ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      st.ended = true;
      break;
    }
    // With room for output and input or Z_FINISH, zlib always makes progress:
    // anything but Z_OK is a broken state, never a reason to call again.
    if (rc != Z_OK) {
      return internal(std::string("gzip compression failed: ") +
                      (zs.msg != nullptr ? zs.msg : "stream error"));
    }
  }
  return std::string_view(st.output, kOutputBytes - zs.avail_out);
}

}  // namespace korvane
