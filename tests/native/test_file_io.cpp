// Line splitting, byte-order mark and UTF-8 checks of the file access layer; its OS
// error texts and buffered writing are asserted through the Python module.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_io.h"

namespace korvane {
namespace {

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("korvane_io_" + name)).string();
}

std::string write_file(const std::string& name, const std::string& bytes) {
  const std::string path = temp_path(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

Result<std::vector<std::string>> read_lines(const std::string& path) {
  auto reader = LineReader::open(path);
  if (!reader.ok()) return reader.take_error();
  std::vector<std::string> lines;
  std::string_view line;
  for (;;) {
    auto more = reader.value().next(line);
    if (!more.ok()) return more.take_error();
    if (!more.value()) break;
    lines.emplace_back(line);
  }
  return lines;
}

TEST(LineReader, SplitsAtLineFeedsAndDropsOneCarriageReturn) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(read_lines(write_file("lf", "a 1\nb 2\n\nc")).value(), (Lines{"a 1", "b 2", "", "c"}));
  EXPECT_EQ(read_lines(write_file("crlf", "a 1\r\nb 2\r\n\r\nc")).value(),
            (Lines{"a 1", "b 2", "", "c"}));
  EXPECT_EQ(read_lines(write_file("crcr", "x\r\r\n")).value(), (Lines{"x\r"}));
  EXPECT_EQ(read_lines(write_file("final", "x\n")).value(), (Lines{"x"}));
  EXPECT_TRUE(read_lines(write_file("empty", "")).value().empty());
  // A lone carriage return after the last line feed is a line that trims to empty.
  EXPECT_EQ(read_lines(write_file("lonecr", "x\n\r")).value(), (Lines{"x", ""}));
}

TEST(LineReader, LinesSpanningBufferRefills) {
  std::string big(kIoBufferSize * 3 + 17, 'z');
  std::string content = "head\n" + big + "\n" + std::string(kIoBufferSize - 6, 'y') + "\ntail";
  auto lines = read_lines(write_file("span", content));
  ASSERT_TRUE(lines.ok());
  ASSERT_EQ(lines.value().size(), 4u);
  EXPECT_EQ(lines.value()[1], big);
  EXPECT_EQ(lines.value()[2].size(), kIoBufferSize - 6);
  EXPECT_EQ(lines.value()[3], "tail");
}

TEST(LineReader, ByteOrderMarkSkippedAtStartOnlyAndInvalidUtf8StopsTheRead) {
  auto lines = read_lines(write_file("bom", "\xEF\xBB\xBFp min 1 2\n\xEF\xBB\xBFx\n"));
  EXPECT_EQ(lines.value(), (std::vector<std::string>{"p min 1 2", "\xEF\xBB\xBFx"}));
  auto reader = LineReader::open(write_file("bad", "ok\n\xFFno\n"));
  std::string_view line;
  EXPECT_TRUE(reader.value().next(line).value());
  auto bad = reader.value().next(line);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message, "stream did not contain valid UTF-8");
}

TEST(Utf8, RejectsOverlongsSurrogatesAndTruncation) {
  EXPECT_TRUE(is_valid_utf8("plain \xC2\xA0 \xE2\x80\x83 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("abcdefgh\xE2\x80"));  // truncated after the fast path
  EXPECT_TRUE(is_valid_utf8(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace korvane
