// The gzip and zstd inflaters fed in pieces of every size: the line reader hands them 8192-byte
// blocks only, where member, frame and block boundaries rarely meet.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../fuzz/same_record.h"
#include "core/formats/mc_reader.h"
#include "core/formats/min_reader.h"
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

// A frame with the content checksum, as the zstd tool writes by default: without
// it, damage to literal bytes cannot be told from other data.
std::string zstd_checked(const std::string& text) {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  EXPECT_FALSE(ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1)));
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t n = ZSTD_compress2(cctx, out.data(), out.size(), text.data(), text.size());
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  ZSTD_freeCCtx(cctx);
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

// Lines are handed to the parser before the stream's checksum is checked, so a
// flipped bit used to surface as a parse error or an internal error. Every
// single-bit flip of a small file must either read as the original (a flip in a
// field the formats ignore, such as the gzip time stamp) or fail as a damaged
// stream, whichever reader and parse step meets the damage first. A flip in the
// magic number leaves a file that is not compressed at all, read as plain bytes.
template <class Parse>
void expect_every_flip_reported(const std::string& text, Parse parse) {
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("korvane_flips_" +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
          .string();
  std::ofstream(path, std::ios::binary) << text;
  const auto original = parse(path);
  ASSERT_TRUE(original.ok()) << original.error().message;
  struct Format {
    std::string name;
    std::string (*pack)(const std::string&);
    std::size_t magic_bytes;
  };
  for (const auto& [name, pack, magic_bytes] :
       {Format{"gzip", &gzip, 2}, Format{"zstd", &zstd_checked, 4}}) {
    const std::string packed = pack(text);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << packed;
    int read_alike = 0;
    for (std::size_t bit = 0; bit < packed.size() * 8; ++bit) {
      std::string damaged = packed;
      damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
      // Same length, written over without truncating (ext4 flushes a truncated file to disk).
      std::ofstream(path, std::ios::binary | std::ios::in) << damaged;
      const auto got = parse(path);
      if (got.ok()) {
        EXPECT_TRUE(fuzz::same(original.value(), got.value())) << name << " bit " << bit;
        ++read_alike;
        continue;
      }
      const std::string& message = got.error().message;
      if (bit < 8 * magic_bytes) {
        EXPECT_EQ(message, "stream did not contain valid UTF-8") << name << " bit " << bit;
        continue;
      }
      EXPECT_EQ(got.error().kind, ErrorKind::kReported) << name << " bit " << bit << ": " << message;
      EXPECT_TRUE(message.starts_with("corrupt " + name + " stream: ") ||
                  message == "truncated " + name + " stream: unexpected end of file")
          << name << " bit " << bit << ": " << message;
    }
    // Only header fields are ignored; the data itself is always checked.
    EXPECT_LT(read_alike, 8 * 12) << name;
  }
  std::remove(path.c_str());
}

TEST(Inflaters, EveryBitFlipOfAMinFileIsReportedAsDamage) {
  expect_every_flip_reported(
      "c a small network\np min 4 5\nn 1 7\nn 4 -7\na 1 2 0 5 1\na 2 3 0 5 2\n"
      "a 3 4 0 9 3\na 1 3 0 4 3\na 2 4 0 4 1\n",
      [](const std::string& path) { return parse_min(path); });
}

TEST(Inflaters, EveryBitFlipOfAMultiCommodityFileIsReportedAsDamage) {
  expect_every_flip_reported(
      "p mmin 3 3 2 1 0 0 0 0.0 7\nn 1 4 3 1\na 1 2 0 5 2 3 1\na 2 3 0 6 4 4 2\n"
      "n 3 -4 -3 -1\na 1 3 0 7 1 1 3\n",
      [](const std::string& path) { return parse_multi_min(path); });
}

}  // namespace
}  // namespace korvane
