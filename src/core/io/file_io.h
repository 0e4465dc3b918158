// File access shared by the readers and the writer: a line source and a buffered
// sink, both through 8192-byte buffers, with operating-system failures rendered
// as "description (os error N)". Python-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "core/base/result.h"

namespace korvane {

inline constexpr std::size_t kIoBufferSize = 8192;
// The longest line a reader holds: a longer one (a file without line feeds, such
// as /dev/zero) ends the read with "line N is longer than 268435456 bytes".
inline constexpr std::size_t kMaxLineBytes = std::size_t{256} << 20;

class GzipInflater;
class ZstdInflater;

// "No such file or directory (os error 2)" for errno 2.
std::string os_error_message(int errnum);

// The size of the regular file at `path`, or 0 when it is not one, cannot be
// examined, or its name holds a NUL byte.
std::size_t regular_file_size(std::string_view path);

// Reads a file line by line. A line is the bytes before the next line feed (or
// end of file), with one carriage return before the line feed removed; every
// line must be valid UTF-8. A UTF-8 byte-order mark at the very start of the
// file is skipped. A file that starts with the gzip or zstd magic bytes is
// decompressed as it is read, whatever its name; a corrupt or truncated stream
// fails the read (kReported) with a message that says so. Views returned by next() stay
// valid until the next call.
class LineReader {
 public:
  // Fails with the OS error, or "file name contained an unexpected NUL byte".
  static Result<LineReader> open(std::string_view path);

  // A reader of the lines that start at byte offsets [begin, end) of a plain
  // (uncompressed) regular file, read through its own descriptor: the line
  // that starts before `begin` and runs into it belongs to the range before.
  // Lines follow the rules above, except that no magic bytes are looked for
  // and a byte-order mark is skipped only when `begin` is 0. Ranges split at
  // any offsets together hand out every line of the file once, in order.
  static Result<LineReader> open_range(std::string_view path, uint64_t begin, uint64_t end);

  LineReader(LineReader&& other) noexcept;
  LineReader& operator=(LineReader&& other) noexcept;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // true with `line` set, false at end of file, or a read/UTF-8 error.
  Result<bool> next(std::string_view& line);

  // Size of the file in bytes when known (0 otherwise); a cap for reservations.
  std::size_t file_size() const { return file_size_; }
  // Whether what was read so far came through a decompressor.
  bool compressed() const { return gzip_ != nullptr || zstd_ != nullptr; }

 private:
  explicit LineReader(int fd, std::size_t file_size);
  Result<bool> fill();
  Result<bool> finish_line(std::string_view& line);
  Result<void> skip_partial_line();

  Result<std::size_t> read_file(char* out, std::size_t size);
  template <class Inflater>
  Result<bool> fill_from(Inflater& inflater);

  int fd_ = -1;
  std::size_t file_size_ = 0;
  std::unique_ptr<GzipInflater> gzip_;  // set once the file proved to be gzip
  std::unique_ptr<ZstdInflater> zstd_;  // or zstd
  char buffer_[kIoBufferSize];
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last valid byte in buffer_
  bool eof_ = false;
  bool at_start_ = true;
  uint64_t line_number_ = 0;  // lines handed out so far
  uint64_t buffer_offset_ = 0;  // file offset of buffer_[0] (plain files)
  uint64_t stop_ = UINT64_MAX;  // no line starting at or after this offset is handed out
  std::string carry_;  // a line that spans buffer refills
};

// Hands each line of `lines` to `on_line` (returning Result<void>) until end of
// file, stopping at the first read or callback error.
template <class OnLine>
Result<void> for_each_line(LineReader& lines, OnLine&& on_line) {
  std::string_view text;
  for (;;) {
    auto more = lines.next(text);
    if (!more.ok()) return more.take_error();
    if (!more.value()) return {};
    KORVANE_TRY(on_line(text));
  }
}

// Writes a file through an 8192-byte buffer, so that a failure never destroys
// what stood at the path before.
//
// A regular file (or a path that does not exist yet) is written to a temporary
// file in the same directory and renamed over the target by commit(), once the
// final flush and close succeeded. The new file gets the replaced file's mode,
// or 0666 less the umask when nothing was replaced. A symbolic link is followed:
// its final target is what gets replaced. Any failure, or destruction without a
// successful commit(), removes the temporary file and leaves the target as it was.
//
// A target that exists and is not a regular file (a FIFO, a character device,
// /dev/stdout) is opened and written in place, as is an existing file whose
// directory refuses new entries; there the destructor still flushes what is
// buffered, so lines written before a failure reach it.
//
// write_behind() moves the system calls to a thread of their own for a
// temporary file: the caller fills 1 MiB buffers that the thread hands to the
// system in order, 8192 bytes at a time, while the caller formats the next.
// The file's bytes, and the first failure reported, are the same either way.
class BufferedWriter {
 public:
  // Fails with the OS error, or "file name contained an unexpected NUL byte".
  static Result<BufferedWriter> create(std::string_view path);

  BufferedWriter(BufferedWriter&& other) noexcept;
  BufferedWriter& operator=(BufferedWriter&&) = delete;
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  ~BufferedWriter();

  // Starts the writing thread when the target is a temporary file, at least
  // `expected_bytes` (a lower bound of what will be written) fill two of its
  // buffers, and more than one thread may run (thread_count()); otherwise, or
  // when no thread can be started, writing stays on the caller's thread. Call
  // before the first write.
  void write_behind(uint64_t expected_bytes);

  Result<void> write(std::string_view bytes);
  Result<void> write_char(char c) {
    if (used_ == capacity_) KORVANE_TRY(flush());
    buffer_[used_++] = c;
    return {};
  }
  // Room for at least `n` (<= kIoBufferSize) contiguous bytes at cursor().
  Result<void> reserve(std::size_t n) {
    if (capacity_ - used_ < n) return flush();
    return {};
  }
  char* cursor() { return buffer_ + used_; }
  void advance(std::size_t n) { used_ += n; }

  Result<void> flush();
  // Flushes, closes (reporting a deferred write error that close returns) and, for
  // a replaced regular file, renames the temporary file over the target. Every
  // failure is kReported with the OS error text. The writer is spent afterwards.
  Result<void> commit();

 private:
  class Behind;

  BufferedWriter(int fd, std::string temporary, std::string target);
  void abandon() noexcept;
  // Ends the writing thread (dropping what it holds, with `discard`) and writes
  // on this thread again; returns the thread's first failure.
  Result<void> end_behind(bool discard);
  Result<void> write_out(const char* bytes, std::size_t size);

  int fd_ = -1;
  std::string temporary_;  // empty when writing in place
  std::string target_;
  std::size_t used_ = 0;
  std::size_t capacity_ = kIoBufferSize;
  char* buffer_;  // own_buffer_, or a buffer of the writing thread's
  std::unique_ptr<Behind> behind_;
  char own_buffer_[kIoBufferSize];
};

}  // namespace korvane
