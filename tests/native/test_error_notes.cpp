// Where a reader's failure was met: the note names the line of the file, also
// when the file is read in ranges on several threads (tiny ranges here), and
// the file for the list-length check made after the last line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "core/base/parallel.h"
#include "core/formats/mc_reader.h"
#include "core/formats/min_reader.h"

namespace korvane {
namespace {

std::string write_file(const std::string& name, const std::string& bytes) {
  const auto path = (std::filesystem::temp_directory_path() / ("korvane_notes_" + name)).string();
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// `good` lines of `line`, then `bad`, then more good ones.
std::string lines_around(const std::string& head, const std::string& line, int good,
                         const std::string& bad) {
  std::string text = head;
  for (int i = 0; i < good; ++i) text += line;
  text += bad;
  for (int i = 0; i < 50; ++i) text += line;
  return text;
}

struct Case {
  const char* name;
  std::string bytes;
  ErrorKind kind;
  std::string message;
  std::string note;  // with PATH for the file's path
};

TEST(ReaderNotes, NameTheFilesLineWhateverTheRanges) {
  const Case cases[] = {
      {"min_digit", lines_around("p min 3 300\n", "a 1 2 0 4 1\n", 200, "a 1 x 0 4 1\n"),
       ErrorKind::kReported, "invalid digit found in string", "line 202 of PATH"},
      {"min_short", lines_around("c c\np min 3 300\n", "a 1 2 0 4 1\n", 120, "a 1 2 0 4\n"),
       ErrorKind::kInternal, "index out of bounds: the len is 5 but the index is 5",
       "line 123 of PATH"},
      {"min_utf8", lines_around("p min 3 300\n", "a 1 2 0 4 1\n", 90, "c \xff\n"),
       ErrorKind::kReported, "stream did not contain valid UTF-8", "line 92 of PATH"},
      {"mc_short",
       lines_around("p mc 3 300 2 0 0 0 0 0.0 1\n", "a 1 2 0 4 1 1\n", 150, "a 1 2 0 4 1\n"),
       ErrorKind::kInternal, "index out of bounds: the len is 6 but the index is 6",
       "line 152 of PATH"},
  };
  const ThreadCountScope threads(4);
  for (const Case& c : cases) {
    const std::string path = write_file(c.name, c.bytes);
    // Whole-file reads and ranges of a few lines each give the same error.
    for (const std::size_t range : {kMinRangeBytes, std::size_t{64}}) {
      SCOPED_TRACE(std::string(c.name) + " ranges of " + std::to_string(range));
      const Error error = c.name[1] == 'i' ? parse_min(path, range).error()
                                            : parse_multi_min(path, range).error();
      EXPECT_EQ(error.kind, c.kind);
      EXPECT_EQ(error.message, c.message);
      std::string note = c.note;
      note.replace(note.find("PATH"), 4, path);
      EXPECT_EQ(error.note, note);
    }
    std::filesystem::remove(path);
  }
}

TEST(ReaderNotes, ListCheckAfterTheLastLineNamesTheArc) {
  // K rises to 3 after two arcs read with K = 2: the first arc's lists are short.
  const std::string path = write_file(
      "mc_lists", "p mc 3 2 2 0 0 0 0 0.0 1\na 1 2 0 4 1 1\na 2 3 0 4 1 1\n"
                  "p mc 3 3 3 0 0 0 0 0.0 1\na 1 3 0 4 1 1\n");
  const Error error = parse_multi_min(path).error();
  EXPECT_EQ(error.kind, ErrorKind::kInternal);
  EXPECT_EQ(error.message, "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(error.note, "arc 1 of " + path);
  std::filesystem::remove(path);
}

TEST(ReaderNotes, NoNoteWithoutALine) {
  const Error error = parse_min("/nonexistent/korvane_notes.min").error();
  EXPECT_EQ(error.kind, ErrorKind::kReported);
  EXPECT_EQ(error.note, "");
}

}  // namespace
}  // namespace korvane
