// The gzip and zstd inflaters fed in pieces of every size: the line reader hands them 8192-byte
// blocks only, where member, frame and block boundaries rarely meet.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/io/gzip_inflater.h"
#include "core/io/zstd_inflater.h"

namespace korvane {
namespace {

std::string gzip(const std::string& text) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, static_cast<uLong>(text.size())) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string zstd(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t n = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

// Feeds `packed` in pieces of `piece` bytes (the first piece as the prefix) and drains
// the output `out_size` bytes at a time.
template <class Inflater>
Result<std::string> inflate_all(const std::string& packed, std::size_t piece,
                                std::size_t out_size) {
  std::size_t fed = std::min(piece, packed.size());
  Inflater inflater(std::string_view(packed).substr(0, fed));
  std::string text;
  std::vector<char> out(out_size);
  for (;;) {
    if (inflater.wants_input()) {
      const std::size_t n = std::min({piece, packed.size() - fed, inflater.input_space().size()});
      std::copy_n(packed.data() + fed, n, inflater.input_space().data());
      fed += n;
      inflater.added(n);
    }
    auto got = inflater.inflate(out.data(), out.size());
    if (!got.ok()) return got.take_error();
    text.append(out.data(), got.value());
    if (got.value() == 0 && !inflater.wants_input()) return text;
  }
}

// Members and frames read whole across every piece and output size; every cut is
// truncated, and junk after the last member is corrupt.
template <class Inflater>
void expect_inflated(std::string (*pack)(const std::string&), const std::string& name,
                     const std::string& junk_reason) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "a " + std::to_string(i * 7919 % 1000) + " 3 0 9 1\n";
  const std::string packed = pack(text.substr(0, 1000)) + pack("") + pack(text.substr(1000));
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{8192}}) {
    for (std::size_t out_size : {std::size_t{1}, std::size_t{300}, std::size_t{8192}}) {
      auto got = inflate_all<Inflater>(packed, piece, out_size);
      ASSERT_TRUE(got.ok()) << got.error().message;
      EXPECT_EQ(got.value(), text) << piece << " " << out_size;
    }
  }
  const std::string small = pack("p min 2 1\na 1 2 0 4 1\n");
  for (std::size_t cut = 4; cut < small.size(); ++cut) {
    auto got = inflate_all<Inflater>(small.substr(0, cut), 3, 64);
    ASSERT_FALSE(got.ok()) << cut;
    EXPECT_EQ(got.error().message, "truncated " + name + " stream: unexpected end of file");
  }
  auto junk = inflate_all<Inflater>(small + "junk", 5, 64);
  ASSERT_FALSE(junk.ok());
  EXPECT_EQ(junk.error().message, "corrupt " + name + " stream: " + junk_reason);
}

TEST(Inflaters, Gzip) { expect_inflated<GzipInflater>(gzip, "gzip", "incorrect header check"); }
TEST(Inflaters, Zstd) { expect_inflated<ZstdInflater>(zstd, "zstd", "Unknown frame descriptor"); }

}  // namespace
}  // namespace korvane
