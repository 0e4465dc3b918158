// A build without zlib or libzstd (KORVANE_HAVE_ZLIB / KORVANE_HAVE_ZSTD = 0)
// still recognises such files, and reading or writing one fails with a message
// that says what the build lacks. With the library, test_inflaters covers it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/formats/min_reader.h"
#include "core/io/file_io.h"

namespace korvane {
namespace {

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("korvane_without_" + name)).string();
}

struct Missing {
  bool have;
  const char* name;
  const char* magic;
  Compression compression;
};

const Missing kLibraries[] = {
    {KORVANE_HAVE_ZLIB != 0, "gzip", "\x1f\x8b\x08\x00", Compression::kGzip},
    {KORVANE_HAVE_ZSTD != 0, "zstd", "\x28\xb5\x2f\xfd", Compression::kZstd},
};

TEST(CompressionSupport, ReadingSaysTheBuildLacksIt) {
  for (const Missing& m : kLibraries) {
    if (m.have) continue;
    const std::string path = temp_path(std::string(m.name) + ".min");
    std::ofstream(path, std::ios::binary) << m.magic << "rest of a compressed stream";
    const Error error = parse_min(path).error();
    EXPECT_EQ(error.kind, ErrorKind::kReported);
    EXPECT_EQ(error.message, "this korvane was built without " + std::string(m.name) + " support");
    EXPECT_EQ(error.note, "line 1 of " + path);
    std::filesystem::remove(path);
  }
}

TEST(CompressionSupport, WritingSaysTheBuildLacksItAndKeepsTheTarget) {
  for (const Missing& m : kLibraries) {
    if (m.have) continue;
    const std::string path = temp_path(std::string(m.name) + ".out");
    std::ofstream(path, std::ios::binary) << "before\n";
    auto created = BufferedWriter::create(path, m.compression);
    ASSERT_TRUE(created.ok());
    BufferedWriter& writer = created.value();
    ASSERT_TRUE(writer.write("p min 1 0\n").ok());
    auto done = writer.commit();
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.error().message,
              "this korvane was built without " + std::string(m.name) + " support");
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "before\n");
    std::filesystem::remove(path);
  }
}

TEST(CompressionSupport, BuildFlagsAreZeroOrOne) {
  static_assert((KORVANE_HAVE_ZLIB == 0 || KORVANE_HAVE_ZLIB == 1) &&
                (KORVANE_HAVE_ZSTD == 0 || KORVANE_HAVE_ZSTD == 1));
  if (KORVANE_HAVE_ZLIB && KORVANE_HAVE_ZSTD) GTEST_SKIP() << "built with both libraries";
}

}  // namespace
}  // namespace korvane
