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
#include <vector>

#include "core/base/cancel.h"
#include "core/base/result.h"

namespace korvane {

inline constexpr std::size_t kIoBufferSize = 8192;
// The longest line a reader holds: a longer one (a file without line feeds, such
// as /dev/zero) ends the read with "line N is longer than 268435456 bytes".
inline constexpr std::size_t kMaxLineBytes = std::size_t{256} << 20;

class GzipInflater;
class ZstdInflater;
class GzipDeflater;
class ZstdDeflater;

// How a BufferedWriter encodes what it is given: as is, as one gzip member
// (level 6), or as one zstd frame (libzstd's default level, with a checksum).
enum class Compression : uint8_t { kNone, kGzip, kZstd };

// "No such file or directory (os error 2)" for errno 2.
std::string os_error_message(int errnum);

// The size of the regular file at `path`, or 0 when it is not one, cannot be
// examined, or its name holds a NUL byte.
std::size_t regular_file_size(std::string_view path);

// Makes a rename or a removal in `file`'s folder durable (fsync of the folder).
// Best effort: some file systems cannot sync a folder.
void sync_folder_of(const std::string& file);

// A file opened once for reading, shared by every reader of it: a regular file
// is read with pread at each reader's own offset, so that readers of ranges on
// several threads all read the file that was opened, whatever is renamed over
// its path meanwhile. Closed with its last owner.
class OpenedFile {
 public:
  // Opens and examines the file. Fails with the OS error, or "file name
  // contained an unexpected NUL byte".
  static Result<std::shared_ptr<const OpenedFile>> open(std::string_view path);

  explicit OpenedFile(int fd, bool regular, std::size_t size)
      : fd_(fd), regular_(regular), size_(size) {}
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ~OpenedFile();

  int fd() const { return fd_; }
  // A regular file: read at offsets; anything else (a FIFO) is read in turn.
  bool regular() const { return regular_; }
  // The size the regular file had when opened (0 for anything else).
  std::size_t size() const { return size_; }

 private:
  int fd_;
  bool regular_;
  std::size_t size_;
};

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
  // A reader of the whole of an opened file, from its start (for a regular
  // file; a FIFO goes on from where it is).
  static LineReader open(std::shared_ptr<const OpenedFile> file);

  // A reader of the lines that start at byte offsets [begin, end) of a plain
  // (uncompressed) regular file, read through its own descriptor: the line
  // that starts before `begin` and runs into it belongs to the range before.
  // Lines follow the rules above, except that no magic bytes are looked for
  // and a byte-order mark is skipped only when `begin` is 0. Ranges split at
  // any offsets together hand out every line of the file once, in order.
  static Result<LineReader> open_range(std::string_view path, uint64_t begin, uint64_t end);
  // The same over an opened regular file, which the ranges share.
  static Result<LineReader> open_range(std::shared_ptr<const OpenedFile> file, uint64_t begin,
                                       uint64_t end);

  LineReader(LineReader&& other) noexcept;
  LineReader& operator=(LineReader&& other) noexcept;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // true with `line` set, false at end of file, or a read/UTF-8 error. Long
  // reads poll for cancellation (core/base/cancel.h) every ~50 ms: kCancelled.
  Result<bool> next(std::string_view& line);

  // The next run of the file's bytes (decompressed), as they come: no line
  // rules apply and no byte-order mark is skipped; empty at the end of the
  // file. Failures as next(). Not to be mixed with next(); valid until the next call.
  Result<std::string_view> next_bytes();

  // What a failure met while reading (a parse error of the caller's, an
  // internal error, invalid UTF-8) is to be reported as. A compressed stream is
  // checked only at its end, so lines handed out before that may be damaged:
  // the rest of the stream is read and discarded, and if it proves corrupt or
  // truncated, that error (kReported, "corrupt gzip stream: ...") replaces
  // `error`. Otherwise, and for a plain file or a cancelled call, `error` is
  // returned unchanged. The reader is spent afterwards.
  Error blame_stream(Error error);

  // Size of the file in bytes when known (0 otherwise); a cap for reservations.
  std::size_t file_size() const { return file_size_; }
  // How many bytes the file holds, as far as `bytes`: a regular file's size;
  // for anything else (a FIFO, a device) the bytes taken from it so far, after
  // reading on until `bytes` were taken or it ended. What is read ahead is
  // held for the lines to come, so a caller learns whether the input is as
  // large as it claims before committing memory to that claim, holding only
  // about what it asked for. Fails with the read's error (kReported), or kCancelled.
  Result<uint64_t> read_ahead(uint64_t bytes);
  // Whether what was read so far came through a decompressor.
  bool compressed() const { return gzip_ != nullptr || zstd_ != nullptr; }

 private:
  explicit LineReader(std::shared_ptr<const OpenedFile> file);
  Result<bool> fill();
  Result<bool> finish_line(std::string_view& line);
  Result<void> skip_partial_line();

  Result<std::size_t> read_file(char* out, std::size_t size);
  Result<std::size_t> read_raw(char* out, std::size_t size);
  template <class Inflater>
  Result<bool> fill_from(Inflater& inflater);

  std::shared_ptr<const OpenedFile> file_;
  uint64_t read_offset_ = 0;  // where the next read of a regular file starts
  std::size_t file_size_ = 0;
  CancelCheck cancel_;
  bool stream_failed_ = false;  // the decompressor or the file reported an error
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
  std::vector<char> ahead_;      // bytes read_ahead() took from a stream, not yet read
  std::size_t ahead_begin_ = 0;  // the first of them not yet read
};

// Hands each line of `lines` to `on_line` (returning Result<void>) until end of
// file, stopping at the first read or callback error.
// A failure is passed through blame_stream(), so that a damaged compressed
// file reports its damage rather than what the damage made of its lines.
template <class OnLine>
Result<void> for_each_line(LineReader& lines, OnLine&& on_line) {
  std::string_view text;
  for (;;) {
    auto more = lines.next(text);
    if (!more.ok()) return lines.blame_stream(more.take_error());
    if (!more.value()) return {};
    auto done = on_line(text);
    if (!done.ok()) return lines.blame_stream(done.take_error());
  }
}

// Writes a file through an 8192-byte buffer, so that a failure never destroys
// what stood at the path before.
//
// A regular file (or a path that does not exist yet) is written to a temporary
// file in the same directory and renamed over the target by publish(), once
// finish() made the final flush and close succeed; commit() does both. Writers
// of several files finish them all before publishing any. The new file gets the
// replaced file's mode, or 0666 less the umask when nothing was replaced. It
// keeps the replaced file's owner and group where the caller may set them
// (root: always); a set-user-id or set-group-id bit whose owner or group could
// not be kept is dropped. A symbolic link is followed: its final target is what
// gets replaced. Any failure, or destruction without a successful publish(),
// removes the temporary file and leaves the target as it was.
//
// Durability: finish() syncs the temporary file to disk before closing it, and
// publish() syncs the folder after the rename, so that after a machine crash
// the path holds the old file or the whole new one.
//
// A target that exists and is not a regular file (a FIFO, a character device,
// /dev/stdout) is opened and written in place; there the destructor still
// flushes what is buffered, so lines written before a failure reach it. A
// regular file is never written in place: where its folder takes no new entry
// (EACCES, EPERM, EROFS), create() fails with "no new file can be made in
// <folder> to replace <file> safely: <OS error text>" and the file is untouched.
//
// write_behind() moves the system calls to a thread of their own for a
// temporary file: the caller fills 1 MiB buffers that the thread hands to the
// system in order, 8192 bytes at a time, while the caller formats the next.
// The file's bytes, and the first failure reported, are the same either way.
//
// With compression, what is written is compressed on its way from the buffer to
// the file (on the caller's thread: write_behind() then does nothing), and
// finish() ends the stream; the file holds only the compressed stream.
class BufferedWriter {
 public:
  // Fails with the OS error, or "file name contained an unexpected NUL byte".
  // Throws std::bad_alloc when the compressor's state cannot be had.
  static Result<BufferedWriter> create(std::string_view path,
                                       Compression compression = Compression::kNone);

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

  // Hands what is buffered to the file (through the compressor, which may hold
  // some of it back until finish()).
  Result<void> flush();
  // Flushes, ends a compressed stream and closes the file (reporting a deferred
  // write error that close returns); the temporary file is then complete but
  // not yet in place. A failure removes it and spends the writer. Call once.
  Result<void> finish();
  // After a successful finish(): renames the temporary file over the target (for
  // a target written in place, nothing). A failure removes the temporary file.
  // The writer is spent afterwards.
  Result<void> publish();
  // finish(), then publish(), unless the cancellation poll asks to stop in
  // between (kCancelled, the temporary file removed). Every other failure of
  // the three is kReported with the OS error text.
  Result<void> commit();

  // The file publish() puts in place: the final target of a symbolic link.
  const std::string& target() const { return target_; }
  // Whether publish() renames a temporary file over target() (false: the
  // target is written in place).
  bool replaces() const { return !temporary_.empty(); }

 private:
  class Behind;

  BufferedWriter(int fd, std::string temporary, std::string target);
  static Result<BufferedWriter> create_plain(std::string_view path);
  void abandon() noexcept;
  // Ends the writing thread (dropping what it holds, with `discard`) and writes
  // on this thread again; returns the thread's first failure.
  Result<void> end_behind(bool discard);
  // Writes `size` bytes to the file, or through the compressor when there is
  // one (with `end`, closing its stream).
  Result<void> put(const char* bytes, std::size_t size, bool end);
  Result<void> write_out(const char* bytes, std::size_t size);

  int fd_ = -1;
  std::string temporary_;  // empty when writing in place
  std::string target_;
  std::size_t used_ = 0;
  std::size_t capacity_ = kIoBufferSize;
  char* buffer_;  // own_buffer_, or a buffer of the writing thread's
  std::unique_ptr<Behind> behind_;
  std::unique_ptr<GzipDeflater> gzip_;  // with Compression::kGzip
  std::unique_ptr<ZstdDeflater> zstd_;  // with Compression::kZstd
  char own_buffer_[kIoBufferSize];
};

// Copies the file at `source`, decompressed when it is gzip or zstd, to `path`
// through a BufferedWriter with `compression` (the old file at `path` replaced
// whole or not at all, as there). A read failure is "<source>: <its text>"; a
// write failure is the writer's own (kReported or kCancelled).
Result<void> copy_decompressed(std::string_view source, std::string_view path,
                               Compression compression);

// Writes `bytes` to `path` through a BufferedWriter, committed: the old file
// at `path` replaced whole or not at all. Failures are the writer's.
Result<void> write_file(std::string_view path, std::string_view bytes);

}  // namespace korvane
