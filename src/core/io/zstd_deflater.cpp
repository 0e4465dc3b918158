// ZstdDeflater over libzstd's streaming compression (ZSTD_compressStream2).
#include "core/io/zstd_deflater.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <new>
#include <string>

namespace korvane {

namespace {

constexpr std::size_t kOutputBytes = std::size_t{64} << 10;

}  // namespace

struct ZstdDeflater::State {
  ZSTD_CCtx* context = nullptr;
  ZSTD_inBuffer in{nullptr, 0, 0};
  bool ended = false;
  char output[kOutputBytes];
};

ZstdDeflater::ZstdDeflater() : state_(std::make_unique<State>()) {
  state_->context = ZSTD_createCCtx();
  if (state_->context == nullptr ||
      ZSTD_isError(ZSTD_CCtx_setParameter(state_->context, ZSTD_c_compressionLevel,
                                          ZSTD_CLEVEL_DEFAULT)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(state_->context, ZSTD_c_checksumFlag, 1))) {
    throw std::bad_alloc();
  }
}

ZstdDeflater::~ZstdDeflater() {
  if (state_) ZSTD_freeCCtx(state_->context);
}

void ZstdDeflater::set_input(std::string_view plain) {
  state_->in = ZSTD_inBuffer{plain.data(), plain.size(), 0};
}

Result<std::string_view> ZstdDeflater::deflate(bool end) {
  State& st = *state_;
  if (st.ended) return std::string_view{};
  ZSTD_outBuffer out{st.output, kOutputBytes, 0};
  // Run until something came out: input is often only gathered into a block.
  while (out.pos == 0) {
    if (st.in.pos == st.in.size && !end) return std::string_view{};
    const std::size_t left =
        ZSTD_compressStream2(st.context, &out, &st.in, end ? ZSTD_e_end : ZSTD_e_continue);
    if (ZSTD_isError(left)) {
      if (ZSTD_getErrorCode(left) == ZSTD_error_memory_allocation) throw std::bad_alloc();
      return internal(std::string("zstd compression failed: ") + ZSTD_getErrorName(left));
    }
    if (end && left == 0) {
      st.ended = true;
      break;
    }
  }
  return std::string_view(st.output, out.pos);
}

}  // namespace korvane
