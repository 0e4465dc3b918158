// Line splitting of the file access layer, below the readers that hide it by trimming white
// space; the byte-order mark, long lines, UTF-8 checks, OS error texts and buffered writing are
// asserted through the Python module.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/io/file_io.h"

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

}  // namespace
}  // namespace korvane
