// Reading a file in byte ranges: every split hands out the file's lines once, in
// order, and both readers give in ranges on several threads what one pass gives,
// errors included. Long files take this route in the module; here small ranges
// put the boundaries everywhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "../fuzz/same_record.h"
#include "core/io/file_io.h"
#include "core/io/mc_reader.h"
#include "core/io/min_reader.h"

namespace korvane {
namespace {

std::string write_file(const std::string& name, const std::string& bytes) {
  const auto path = (std::filesystem::temp_directory_path() / ("korvane_ranges_" + name)).string();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::vector<std::string> lines_of(const std::string& path, uint64_t begin, uint64_t end) {
  auto reader = LineReader::open_range(path, begin, end);
  EXPECT_TRUE(reader.ok());
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.value().next(line).value()) lines.emplace_back(line);
  return lines;
}

TEST(LineRanges, EverySplitHandsOutEachLineOnce) {
  // A byte-order mark, CRLF, empty lines, two- and three-byte characters, no final line feed.
  const std::string bytes = "\xEF\xBB\xBF" "c h\xC3\xA9\r\n\na 1 2\r\n\n\xE2\x82\xAC x\nlast";
  const std::string path = write_file("split", bytes);
  const uint64_t size = bytes.size();
  const auto whole = lines_of(path, 0, size);
  ASSERT_EQ(whole, (std::vector<std::string>{"c h\xC3\xA9", "", "a 1 2", "", "\xE2\x82\xAC x", "last"}));
  for (uint64_t b1 = 0; b1 <= size; ++b1) {
    for (uint64_t b2 = b1; b2 <= size; ++b2) {
      auto joined = lines_of(path, 0, b1);
      for (auto part : {lines_of(path, b1, b2), lines_of(path, b2, size)}) {
        joined.insert(joined.end(), part.begin(), part.end());
      }
      ASSERT_EQ(joined, whole) << "split at " << b1 << " and " << b2;
    }
  }
}

// The file read in one pass and in ranges of 1, 5 and 23 bytes or more on up to 7 threads.
template <class Parse>
void expect_same_in_ranges(const std::string& text, Parse parse) {
  static int count = 0;
  // Named after the test: ctest runs both tests at once, in separate processes.
  const std::string path = write_file(
      ::testing::UnitTest::GetInstance()->current_test_info()->name() + std::to_string(count++), text);
  setenv("KORVANE_NUM_THREADS", "7", 1);
  const auto whole = parse(path, std::numeric_limits<std::size_t>::max());
  for (std::size_t min_range : {std::size_t{1}, std::size_t{5}, std::size_t{23}}) {
    EXPECT_TRUE(fuzz::same(whole, parse(path, min_range))) << "ranges of " << min_range << ":\n" << text;
  }
  unsetenv("KORVANE_NUM_THREADS");
}

TEST(ReadInRanges, MinFilesReadAsInOnePass) {
  const auto parse = [](const std::string& path, std::size_t r) { return parse_min(path, r); };
  for (const char* text : {
           "p min 4 5\nn 2 7\na 1 2 0 5 1\na 3 1 0 5 2\nc note\na 1 2 0 4 3\nn 4 -7\na 4 3 0 1 1\n",
           "a 9 8 0 1 1\r\np min 2 1\r\n\r\na 8 9 0 1 1\r\nn 9 1\r\np min 3 3\r\na 9 8 0 2 2",
           "p min 3 3\na 1 2 0 1 1\na 2 3 0 1 1\na 3 x 0 1 1\na 1 3 0 1 1\na 1 2 0 99999999999999999999 0\n",
           "p min 3 3\na 1 2 0 1 1\na 2 3 0 1\na 1 2 0 1 1\nn 1 \xFF\n",
           "p min 3 3\na 1 2 0 1 1\n\xEF\xBB\xBF" "a 2 3 0 1 1\n",
       }) {
    expect_same_in_ranges(text, parse);
  }
}

TEST(ReadInRanges, MultiCommodityFilesReadAsInOnePass) {
  const auto parse = [](const std::string& path, std::size_t r) { return parse_multi_min(path, r); };
  for (const char* text : {
           "p mmin 3 3 2 1 0 0 0 0.0 7\nn 1 4 3 1\na 1 2 0 5 2 3 1\na 2 3 0 6 4 4 2\n"
           "n 3 -4 -3 -1\na 1 2 0 7 1 1 3\n",
           // A later problem line changes K and the list forms for the arcs after it.
           "p mmin 3 2 1 0 0 0 0 0.0 1\na 1 2 0 5 2 3\np mmin 3 2 2 1 1 0 0 0.0 1\n"
           "a 2 3 0 5 1 2 3 4\na 1 3 0 5 1 2 3 4\n",
           // Its final K asks for more than the arcs before it hold.
           "p mmin 3 2 1 1 0 0 0 0.0 1\na 1 2 0 5 2 3\na 2 3 0 5 2 3\np mmin 3 2 2 1 0 0 0 0.0 1\n",
           "p mmin 3 2 2 1 0 0 0 0.5 1\na 1 2 0 5 2 3 1\na 2 3 0 5 2\na 2 3 0 5 2 x 1\n",
           "c head\n\np mmin 2 1 1 0 0 0 1 nan 3\na 1 2 0 5 2 3\nn 2 1 1\nn 1 -1 -1\nn 2 0 0\n",
       }) {
    expect_same_in_ranges(text, parse);
  }
}

}  // namespace
}  // namespace korvane
