// Reading a large plain file on several threads: the file is split into byte
// ranges, each range's lines go to a reader of its own, and the readers are
// merged in file order. Any failure in any range, or a range whose reader
// cannot stand on its own (a line whose meaning depends on lines of an earlier
// range), sends the whole file through one reader from the start instead, so
// that what comes out, errors included, is what a single pass gives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/parallel.h"
#include "core/base/result.h"
#include "core/io/file_io.h"
#include "core/text/tokens.h"

namespace korvane {

// Ranges smaller than this are not worth a thread of their own.
inline constexpr std::size_t kMinRangeBytes = std::size_t{4} << 20;

// "line 7 of net.min": where a reader's failure was met, for Error::note.
inline std::string line_note(uint64_t line_number, std::string_view path) {
  std::string note = "line " + std::to_string(line_number) + " of ";
  note.append(path);
  return note;
}

// Reads the lines of `path` into a Reader, in ranges of at least min_range_bytes
// (one per thread), which provides:
//   Reader(std::size_t byte_count, const Reader* head)
//       byte_count bounds what the lines can hold (for reservations); head, when
//       given, is the state a range after the first starts from
//   Result<void> line(std::string_view)    one line
//   bool continues(const Reader& before) const
//                                          whether a range's lines mean, after the
//                                          range `before`, what they meant from head
//   void append(Reader&& later)            merges the next range
// The head is a Reader fed the file's lines before its first node or arc line
// (up to the first that fails); the first range's Reader reads them again.
//
// The file is opened once: the head pass, the ranges and any single pass all
// read that one descriptor (OpenedFile), so a file renamed over `path` while
// they run is never mixed in. `path` only names the file in notes.
template <class Reader>
Result<Reader> read_lines(const std::shared_ptr<const OpenedFile>& file, std::string_view path,
                          std::size_t min_range_bytes) {
  // Every error is that of this pass, so its note names the line of the file
  // (counted from 1) the failure was met on: the line a reader rejected, or the
  // one being read when the file itself failed (invalid UTF-8, a corrupt stream).
  auto sequential = [&]() -> Result<Reader> {
    LineReader lines = LineReader::open(file);
    Reader reader(lines.file_size(), nullptr);
    uint64_t lines_read = 0;
    bool rejected = false;
    auto done = for_each_line(lines, [&](std::string_view text) {
      ++lines_read;
      auto handled = reader.line(text);
      rejected = !handled.ok();
      return handled;
    });
    if (!done.ok()) {
      Error error = done.take_error();
      if (error.kind != ErrorKind::kCancelled && error.note.empty()) {
        error.note = line_note(rejected ? lines_read : lines_read + 1, path);
      }
      return error;
    }
    return reader;
  };

  // Only a regular file is read more than once (a FIFO would lose its data).
  const std::size_t size = file->size();
  const std::size_t ranges = chunk_count(size, thread_count(), min_range_bytes);
  if (ranges < 2) return sequential();

  // The state later ranges start from. A compressed file is read in one pass,
  // known as such from its first line on.
  LineReader head_lines = LineReader::open(file);
  Reader head(0, nullptr);
  for (std::string_view text;;) {
    auto more = head_lines.next(text);
    if (!more.ok() && more.error().kind == ErrorKind::kCancelled) return more.take_error();
    if (!more.ok() || !more.value() || head_lines.compressed()) break;
    const std::string_view trimmed = trim_white_space(text);
    if (!trimmed.empty() && (trimmed[0] == 'a' || trimmed[0] == 'n')) break;
    if (!head.line(text).ok()) break;
  }
  if (head_lines.compressed()) return sequential();

  std::vector<std::optional<Reader>> readers(ranges);
  std::vector<std::optional<Error>> failures(ranges);
  for_each_chunk(size, ranges, [&](std::size_t c, std::size_t begin, std::size_t end) {
    // The last range reads on to the end of the file, wherever it is by then.
    auto lines = LineReader::open_range(file, begin, end == size ? UINT64_MAX : end);
    if (!lines.ok()) {
      failures[c] = lines.take_error();
      return;
    }
    // The first range may reserve for the whole file: the others append to it.
    Reader& reader =
        c == 0 ? readers[c].emplace(size, nullptr) : readers[c].emplace(end - begin, &head);
    auto done = for_each_line(lines.value(), [&](std::string_view text) { return reader.line(text); });
    if (!done.ok()) failures[c] = done.take_error();
  });

  for (std::size_t c = 0; c < ranges; ++c) {
    if (failures[c]) {
      if (failures[c]->kind == ErrorKind::kCancelled) return std::move(*failures[c]);
      return sequential();
    }
    if (c > 0 && !readers[c]->continues(*readers[c - 1])) return sequential();
  }
  Reader& merged = *readers[0];
  for (std::size_t c = 1; c < ranges; ++c) merged.append(std::move(*readers[c]));
  return std::move(merged);
}

// The same for the file at `path`, opened here.
template <class Reader>
Result<Reader> read_lines(std::string_view path, std::size_t min_range_bytes) {
  auto file = OpenedFile::open(path);
  if (!file.ok()) return file.take_error();
  return read_lines<Reader>(file.value(), path, min_range_bytes);
}

}  // namespace korvane
