// Reading a large plain file on several threads: the file is split into byte
// ranges, each range's lines go to a reader of its own, and the readers are
// merged in file order. Any failure in any range, or a range whose reader
// cannot stand on its own (a line whose meaning depends on lines of an earlier
// range), sends the whole file through one reader from the start instead, so
// that what comes out, errors included, is what a single pass gives.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/base/cancel.h"
#include "core/base/parallel.h"
#include "core/base/result.h"
#include "core/io/file_io.h"
#include "core/text/tokens.h"

namespace korvane {

// Ranges smaller than this are not worth a thread of their own.
inline constexpr std::size_t kMinRangeBytes = std::size_t{4} << 20;

template <class Reader>
concept PlacingReader = requires(std::string_view line, typename Reader::Tally& tally) {
  Reader::tally(line, tally);
  typename Reader::Plan;
};

namespace detail {
template <class Reader>
struct PlanOf {
  using type = std::nullptr_t;
};
template <PlacingReader Reader>
struct PlanOf<Reader> {
  using type = std::shared_ptr<typename Reader::Plan>;
};
}  // namespace detail

// Block size of the counting pass.
inline constexpr std::size_t kCountBlockBytes = std::size_t{64} << 10;

// Hands `on_line` (returning nothing) the lines of a plain regular file that
// start at byte offsets [begin, end), as LineReader::open_range splits them
// (a byte-order mark skipped at offset 0, one carriage return before a line
// feed removed), but reading `block_bytes` (at least 1) at a time and checking
// nothing: neither UTF-8 nor line lengths. For a pass whose result only guides
// the real one. Fails on a read error (kReported) or when cancelled (kCancelled).
template <class OnLine>
Result<void> for_each_line_unchecked(const OpenedFile& file, uint64_t begin, uint64_t end,
                                     OnLine&& on_line, std::size_t block_bytes = kCountBlockBytes) {
  std::vector<char> block(std::max<std::size_t>(block_bytes, 1));
  std::string carry;  // the start of a line that runs into the next block
  CancelCheck cancel;
  // A read at `at`, retried when a signal interrupts it unless that cancels the call.
  auto read_at = [&](char* out, std::size_t n, uint64_t at) -> Result<std::size_t> {
    for (;;) {
      const ssize_t got = ::pread(file.fd(), out, n, static_cast<off_t>(at));
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return reported(os_error_message(errno));
      if (cancel_requested_now()) return cancelled();
    }
  };
  // A range after the first starts one byte early: the first line feed from
  // there ends the line that belongs to the range before.
  uint64_t offset = begin == 0 ? 0 : begin - 1;
  bool skipping = begin != 0;
  if (begin == 0) {
    char mark[3];
    auto got = read_at(mark, sizeof mark, 0);
    if (!got.ok()) return got.take_error();
    if (got.value() == 3 && std::memcmp(mark, "\xEF\xBB\xBF", 3) == 0) offset = 3;
  }
  // File offset of the line being gathered; the mark belongs to the first line.
  uint64_t line_start = begin == 0 ? 0 : offset;
  for (;;) {
    if (cancel.requested(block.size())) return cancelled();
    auto read = read_at(block.data(), block.size(), offset);
    if (!read.ok()) return read.take_error();
    const std::size_t got = read.value();
    const char* p = block.data();
    const char* const stop = p + got;
    while (p < stop) {
      const auto* nl =
          static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p)));
      const char* const line_end = nl != nullptr ? nl : stop;
      if (skipping) {
        skipping = nl == nullptr;
      } else if (line_start < end) {
        std::string_view line(p, static_cast<std::size_t>(line_end - p));
        if (!carry.empty() || nl == nullptr) {
          carry.append(line);
          line = carry;
        }
        if (nl != nullptr) {
          if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
          on_line(line);
          carry.clear();
        }
      } else {
        return {};
      }
      if (nl == nullptr) break;
      p = nl + 1;
      line_start = offset + static_cast<uint64_t>(p - block.data());
    }
    if (got == 0) break;
    offset += got;
  }
  // A last line without a line feed.
  if (!skipping && !carry.empty() && line_start < end) {
    std::string_view line = carry;
    if (line.back() == '\r') line.remove_suffix(1);
    on_line(line);
  }
  return {};
}

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
//   bool append(Reader&& later, CancelCheck&)
//                                          merges the next range; false when the
//                                          poll asks the read to stop
// The head is a Reader fed the file's lines before its first node or arc line
// (up to the first that fails); the first range's Reader reads them again.
//
// A Reader may also have every range write its columns straight into their
// final place, so that nothing is copied when the ranges are merged. It then
// provides
//   struct Tally                            what a range's lines add (value-initialised)
//   static void tally(std::string_view, Tally&)
//                                           counts one line
//   struct Plan; static std::shared_ptr<Plan> plan(const Reader& head,
//       std::span<const Tally>, std::size_t byte_count)
//                                           the final columns, sized for every
//                                           range, or nullptr (no placement)
//   Reader(std::size_t byte_count, const Reader* head,
//          std::shared_ptr<Plan> plan, std::size_t range)
// and a counting pass over the ranges comes before the reading one. A range
// that turns out to add more than its tally said fails (and the file is read
// in one pass); one that adds less is merged by copying.
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

  std::vector<std::optional<Error>> failures(ranges);
  // The last range reads on to the end of the file, wherever it is by then.
  auto open_range = [&](std::size_t c, std::size_t begin, std::size_t end) {
    auto lines = LineReader::open_range(file, begin, end == size ? UINT64_MAX : end);
    if (!lines.ok()) failures[c] = lines.take_error();
    return lines;
  };

  typename detail::PlanOf<Reader>::type plan{};
  if constexpr (PlacingReader<Reader>) {
    // Each range counts what its lines will add, so that every range can be
    // given its final place before any is read.
    std::vector<typename Reader::Tally> tallies(ranges);
    for_each_chunk(size, ranges, [&](std::size_t c, std::size_t begin, std::size_t end) {
      auto count = [&](std::string_view text) { Reader::tally(text, tallies[c]); };
      auto done = for_each_line_unchecked(*file, begin, end == size ? UINT64_MAX : end, count);
      if (!done.ok()) failures[c] = done.take_error();
    });
    // A failure in any range sends the file through one pass, which meets it
    // again and notes its line; only a cancellation ends the read at once.
    for (std::optional<Error>& failure : failures) {
      if (!failure) continue;
      if (failure->kind == ErrorKind::kCancelled) return std::move(*failure);
      return sequential();
    }
    plan = Reader::plan(head, std::span<const typename Reader::Tally>(tallies), size);
  }

  std::vector<std::optional<Reader>> readers(ranges);
  for_each_chunk(size, ranges, [&](std::size_t c, std::size_t begin, std::size_t end) {
    auto lines = open_range(c, begin, end);
    if (!lines.ok()) return;
    // The first range may reserve for the whole file: the others append to it.
    const std::size_t bytes = c == 0 ? size : end - begin;
    const Reader* const start = c == 0 ? nullptr : &head;
    Reader& reader = [&]() -> Reader& {
      if constexpr (PlacingReader<Reader>) {
        return readers[c].emplace(bytes, start, plan, c);
      } else {
        return readers[c].emplace(bytes, start);
      }
    }();
    auto done = for_each_line(lines.value(), [&](std::string_view text) { return reader.line(text); });
    if (!done.ok()) failures[c] = done.take_error();
  });

  bool one_pass = false;
  for (std::size_t c = 0; c < ranges && !one_pass; ++c) {
    if (failures[c]) {
      if (failures[c]->kind == ErrorKind::kCancelled) return std::move(*failures[c]);
      one_pass = true;
    } else {
      one_pass = c > 0 && !readers[c]->continues(*readers[c - 1]);
    }
  }
  if (one_pass) {
    // What the ranges hold is let go of before the file is read again.
    readers.clear();
    plan = {};
    return sequential();
  }
  Reader& merged = *readers[0];
  CancelCheck cancel;
  for (std::size_t c = 1; c < ranges; ++c) {
    if (!merged.append(std::move(*readers[c]), cancel)) return cancelled();
    readers[c].reset();
  }
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
