// Reading a file in byte ranges: every split hands out the file's lines once, in
// order, and both readers give in ranges on several threads what one pass gives,
// errors included. Long files take this route in the module; here small ranges
// put the boundaries everywhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "../fuzz/same_record.h"
#include "core/base/parallel.h"
#include "core/io/file_io.h"
#include "core/io/parallel_read.h"
#include "core/formats/mc_reader.h"
#include "core/formats/min_reader.h"

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

// The counting pass's lines of a range, read `block` bytes at a time.
std::vector<std::string> unchecked_lines_of(const std::string& path, uint64_t begin, uint64_t end,
                                            std::size_t block) {
  auto file = OpenedFile::open(path);
  EXPECT_TRUE(file.ok());
  std::vector<std::string> lines;
  auto done = for_each_line_unchecked(
      *file.value(), begin, end, [&](std::string_view line) { lines.emplace_back(line); }, block);
  EXPECT_TRUE(done.ok());
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
      // The counting pass splits alike, whatever its block size (lines spanning blocks).
      for (const std::size_t block : {std::size_t{1}, std::size_t{4}, kCountBlockBytes}) {
        for (const auto& [begin, end] : {std::pair{uint64_t{0}, b1}, {b1, b2}, {b2, UINT64_MAX}}) {
          ASSERT_EQ(unchecked_lines_of(path, begin, end, block),
                    lines_of(path, begin, end == UINT64_MAX ? size : end))
              << "range " << begin << ".." << end << " in blocks of " << block;
        }
      }
    }
  }
}

// The file read in one pass and in ranges of 1, 5 and 23 bytes or more on up to
// 7 threads, and in two halves. Returns whether the one pass read the file.
template <class Parse>
bool expect_same_in_ranges(const std::string& text, Parse parse) {
  static int count = 0;
  // Named after the test: ctest runs both tests at once, in separate processes.
  const std::string path = write_file(
      ::testing::UnitTest::GetInstance()->current_test_info()->name() + std::to_string(count++), text);
  const ThreadCountScope threads(7);
  const auto whole = parse(path, std::numeric_limits<std::size_t>::max());
  for (std::size_t min_range : {std::size_t{1}, std::size_t{5}, std::size_t{23}, text.size() / 2}) {
    EXPECT_TRUE(fuzz::same(whole, parse(path, min_range))) << "ranges of " << min_range << ":\n" << text;
  }
  return whole.ok();
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

// Collects a range's lines: enough of a Reader for read_lines().
struct LineList {
  LineList(std::size_t, const LineList*) {}
  Result<void> line(std::string_view text) {
    lines.emplace_back(text);
    return {};
  }
  bool continues(const LineList&) const { return true; }
  bool append(LineList&& later, CancelCheck&) {
    lines.insert(lines.end(), later.lines.begin(), later.lines.end());
    return true;
  }
  std::vector<std::string> lines;
};

// Our own writer replaces files by rename: every range, the head pass and any
// single pass must read the file that was opened, never the one renamed over it.
TEST(ReadInRanges, FileRenamedOverThePathIsNotMixedIn) {
  std::string first, second;
  for (int i = 0; i < 400; ++i) {
    first += "a " + std::to_string(i) + " 1 0 1 1\n";
    second += "c the replacement " + std::to_string(i) + "\n";
  }
  const std::string path = write_file("renamed", first);
  const std::string other = write_file("renamed_other", second);
  const ThreadCountScope threads(5);
  for (const bool whole_file : {true, false}) {
    auto opened = OpenedFile::open(path);
    ASSERT_TRUE(opened.ok());
    ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
    std::vector<std::string> lines;
    if (whole_file) {
      auto read = read_lines<LineList>(opened.value(), path, 100);
      ASSERT_TRUE(read.ok());
      lines = read.value().lines;
    } else {
      for (const auto& [begin, end] : {std::pair<uint64_t, uint64_t>{0, 1000}, {1000, UINT64_MAX}}) {
        auto range = LineReader::open_range(opened.value(), begin, end);
        ASSERT_TRUE(range.ok());
        std::string_view line;
        while (range.value().next(line).value()) lines.emplace_back(line);
      }
    }
    ASSERT_EQ(lines.size(), 400u) << whole_file;
    for (std::size_t i = 0; i < 400; ++i) EXPECT_EQ(lines[i], "a " + std::to_string(i) + " 1 0 1 1");
    // The next round renames the first file's text over the path again.
    std::ofstream(other, std::ios::binary) << second;
    std::ofstream(path + ".next", std::ios::binary) << first;
    ASSERT_EQ(std::rename((path + ".next").c_str(), path.c_str()), 0);
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

// The counting pass must classify every line as the reader does: a range that
// adds more arcs than counted is read again in one pass, one that adds fewer
// is copied, so a miscount would show only as lost speed.
TEST(ReadInRanges, CountingPassAgreesWithTheReader) {
  const std::string head = "p mmin 3 2 2 1 1 0 0 0.0 1\n";
  const std::string lists = " 1 2 0 5 1 2 3 4";
  const struct {
    std::string line;
    uint64_t arcs;
  } cases[] = {
      {"a" + lists, 1},
      {"  a\t" + lists + "  \r", 1},
      {"\xE3\x80\x80" "a" "\xC2\xA0" + lists, 1},  // U+3000 before, U+00A0 after
      {"a\xE2\x80\xA8" + lists, 1},             // U+2028 after
      {"a" + lists + " 99 100", 1},               // tokens past the lists are ignored
      {"ab" + lists, 0},
      {"a\xC2\xAD" + lists, 0},                  // U+00AD is no white space
      {"a\xEF\xBB\xBF" + lists, 0},             // nor is U+FEFF
      {"a\x1C" + lists, 0},                       // nor the separators
      {"c a" + lists, 0},
      {"n 1 4 3 1", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    MultiMinTally tally;
    tally_multi_min_line(c.line, tally);
    EXPECT_EQ(tally.arcs, c.arcs);
    const std::string path = write_file("tally", head + c.line + "\n");
    const auto parsed = parse_multi_min(path, std::numeric_limits<std::size_t>::max());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value().num_edges(), c.arcs);
  }
  // Only a problem line after a node or arc line may change the forms of later arcs.
  const struct {
    std::vector<std::string> lines;
    bool problem_after_data;
  } orders[] = {
      {{"p mmin 1", "c x", "p mmin 2", "a 1"}, false},
      {{"a 1", "px 2", "c p"}, false},
      {{"no 1", " p 3"}, true},
      {{"n 1 2", "p\xE2\x80\x83"}, true},  // U+2003 after the p
  };
  for (const auto& order : orders) {
    MultiMinTally tally;
    for (const std::string& line : order.lines) tally_multi_min_line(line, tally);
    EXPECT_EQ(tally.problem_after_data, order.problem_after_data) << order.lines.back();
  }
}

// Arcs of many lines, with node lines, comments and odd white space between
// them, so that ranges split everywhere write into the final columns; the same
// with compressed lists, with only the capacities expanded, with K = 0, with a
// problem line after the arcs began (which the ranges read into columns of
// their own), and with a bad number in a late range. All but the last read.
TEST(ReadInRanges, RangesWritingInPlaceGiveOnePass) {
  const auto parse = [](const std::string& path, std::size_t r) {
    return parse_multi_min(path, r);
  };
  const auto arcs = [](int count, int k_values) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      const std::string tail = std::to_string(1 + i % 5), head = std::to_string(1 + (i * 3) % 7);
      if (i % 9 == 2) {
        text += "n ";
        text += tail;
        text += " 1 1 -1\n";
        continue;
      }
      if (i % 9 == 4) {
        text += "c arc\n\n";
        continue;
      }
      text += i % 9 == 6 ? "\xE3\x80\x80" "a" "\xC2\xA0" : "a ";
      text += tail;
      text += ' ';
      text += head;
      text += " 0 ";
      text += std::to_string(i);
      for (int v = 0; v < k_values; ++v) {
        text += ' ';
        text += std::to_string(i * 10 + v);
      }
      text += i % 7 == 0 ? " 77\r\n" : "\n";
    }
    return text;
  };
  const std::string texts[] = {
           "c lists of K = 3\np mmin 7 60 3 1 1 0 0 0.0 1\n" + arcs(60, 6),
           "p mmin 7 60 3 0 0 0 0 0.0 1\nn 1 0 0 0 0\n" + arcs(60, 2),
           "p mmin 7 60 3 1 0 0 0 0.0 1\n" + arcs(60, 4),
           "p mmin 7 60 0 1 1 0 0 0.0 1\n" + arcs(60, 0),
           "p mmin 7 60 2 1 1 0 0 0.0 1\n" + arcs(30, 4) + "p mmin 7 60 2 1 1 0 0 0.0 2\n" +
               arcs(30, 4),
           // K = 0 with only the capacities expanded: empty lists, then one cost each.
           "p mmin 7 60 0 1 0 0 0 0.0 1\n" + arcs(60, 1),
           "p mmin 7 60 2 1 1 0 0 0.0 1\n" + arcs(40, 4) + "a 1 2 0 5 1 2 3 x\n" + arcs(20, 4),
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(expect_same_in_ranges(text, parse), &text != &texts[std::size(texts) - 1]) << text;
  }
}

}  // namespace
}  // namespace korvane
