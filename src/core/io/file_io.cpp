// Line source and buffered sink over POSIX file descriptors.
#include "core/io/file_io.h"

#include "core/base/cancel.h"
#include "core/base/parallel.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "core/io/gzip_deflater.h"
#include "core/io/gzip_inflater.h"
#include "core/io/zstd_deflater.h"
#include "core/io/zstd_inflater.h"

namespace korvane {
namespace {

constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";
constexpr std::string_view kInvalidUtf8 = "stream did not contain valid UTF-8";

Result<std::string> checked_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return reported(std::string(kNulInPath));
  return std::string(path);
}

void close_quietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// ::open, retried after EINTR unless the poll asks the call to stop (a FIFO
// without a peer blocks in open until a signal arrives). -1 with errno set on
// failure; errno is EINTR when the call was cancelled.
int open_retrying(const char* path, int flags, mode_t mode) {
  for (;;) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return fd;
    if (cancel_requested_now()) {
      errno = EINTR;
      return -1;
    }
  }
}

Error open_error(int err) { return err == EINTR ? cancelled() : reported(os_error_message(err)); }

}  // namespace

std::string os_error_message(int errnum) {
  char scratch[256];
  // The GNU strerror_r returns the text (possibly not in scratch); the XSI one fills scratch.
  auto text = [&](auto result) -> const char* {
    if constexpr (std::is_same_v<decltype(result), char*>) {
      return result;
    } else {
      return result == 0 ? scratch : "Unknown error";
    }
  }(strerror_r(errnum, scratch, sizeof scratch));
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

namespace {

// Whether bytes form valid UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool is_valid_utf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Fast path: eight ASCII bytes at a time.
    if (i + 8 <= n) {
      uint64_t chunk;
      std::memcpy(&chunk, s + i, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // no overlongs
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;  // no overlongs
      if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < len) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- LineReader

OpenedFile::~OpenedFile() { close_quietly(fd_); }

Result<std::shared_ptr<const OpenedFile>> OpenedFile::open(std::string_view path) {
  auto checked = checked_path(path);
  if (!checked.ok()) return checked.take_error();
  const int fd = open_retrying(checked.value().c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return open_error(errno);
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const std::size_t size = regular && info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
  try {
    return std::shared_ptr<const OpenedFile>(std::make_shared<OpenedFile>(fd, regular, size));
  } catch (...) {
    close_quietly(fd);
    throw;
  }
}

LineReader::LineReader(std::shared_ptr<const OpenedFile> file)
    : file_(std::move(file)), file_size_(file_->size()) {}

LineReader::LineReader(LineReader&& other) noexcept
    : file_(std::move(other.file_)),
      read_offset_(other.read_offset_),
      file_size_(other.file_size_),
      cancel_(other.cancel_),
      stream_failed_(other.stream_failed_),
      gzip_(std::move(other.gzip_)),
      zstd_(std::move(other.zstd_)),
      begin_(other.begin_),
      end_(other.end_),
      eof_(other.eof_),
      at_start_(other.at_start_),
      line_number_(other.line_number_),
      buffer_offset_(other.buffer_offset_),
      stop_(other.stop_),
      carry_(std::move(other.carry_)),
      ahead_(std::move(other.ahead_)),
      ahead_begin_(other.ahead_begin_) {
  std::memcpy(buffer_, other.buffer_, end_);
}

LineReader& LineReader::operator=(LineReader&& other) noexcept {
  if (this != &other) {
    file_ = std::move(other.file_);
    read_offset_ = other.read_offset_;
    file_size_ = other.file_size_;
    cancel_ = other.cancel_;
    stream_failed_ = other.stream_failed_;
    gzip_ = std::move(other.gzip_);
    zstd_ = std::move(other.zstd_);
    begin_ = other.begin_;
    end_ = other.end_;
    eof_ = other.eof_;
    at_start_ = other.at_start_;
    line_number_ = other.line_number_;
    buffer_offset_ = other.buffer_offset_;
    stop_ = other.stop_;
    carry_ = std::move(other.carry_);
    ahead_ = std::move(other.ahead_);
    ahead_begin_ = other.ahead_begin_;
    std::memcpy(buffer_, other.buffer_, end_);
  }
  return *this;
}

LineReader::~LineReader() = default;

Result<LineReader> LineReader::open(std::string_view path) {
  auto file = OpenedFile::open(path);
  if (!file.ok()) return file.take_error();
  return LineReader(std::move(file).value());
}

LineReader LineReader::open(std::shared_ptr<const OpenedFile> file) {
  return LineReader(std::move(file));
}

std::size_t regular_file_size(std::string_view path) {
  auto checked = checked_path(path);
  if (!checked.ok()) return 0;
  struct stat info {};
  if (::stat(checked.value().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

Result<LineReader> LineReader::open_range(std::string_view path, uint64_t begin, uint64_t end) {
  auto file = OpenedFile::open(path);
  if (!file.ok()) return file.take_error();
  return open_range(std::move(file).value(), begin, end);
}

Result<LineReader> LineReader::open_range(std::shared_ptr<const OpenedFile> file, uint64_t begin,
                                          uint64_t end) {
  if (!file->regular()) return internal("a range can only be read from a regular file");
  LineReader lines(std::move(file));
  lines.stop_ = end;
  if (begin == 0) return lines;
  // Start one byte early: the first line feed from there ends the line that
  // belongs to the range before (none when that byte is itself a line feed).
  lines.read_offset_ = begin - 1;
  lines.buffer_offset_ = begin - 1;
  lines.at_start_ = false;
  KORVANE_TRY(lines.skip_partial_line());
  return lines;
}

Result<void> LineReader::skip_partial_line() {
  for (;;) {
    if (begin_ == end_) {
      auto filled = fill();
      if (!filled.ok()) return filled.take_error();
      if (!filled.value()) return {};
    }
    const char* start = buffer_ + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (nl != nullptr) {
      begin_ += static_cast<std::size_t>(nl - start) + 1;
      return {};
    }
    begin_ = end_;
  }
}

Result<uint64_t> LineReader::read_ahead(uint64_t bytes) {
  if (file_->regular()) return uint64_t{file_->size()};
  // In steps, so that a stream that ends early never had room made for the rest.
  constexpr std::size_t kStep = std::size_t{1} << 20;
  while (read_offset_ < bytes) {
    const std::size_t held = ahead_.size();
    const auto step = static_cast<std::size_t>(std::min<uint64_t>(bytes - read_offset_, kStep));
    if (cancel_.requested(step)) return cancelled();
    ahead_.resize(held + step);
    auto got = read_raw(ahead_.data() + held, step);
    ahead_.resize(held + (got.ok() ? got.value() : 0));
    if (!got.ok()) return got.take_error();
    if (got.value() == 0) break;
  }
  return read_offset_;
}

Result<std::size_t> LineReader::read_file(char* out, std::size_t size) {
  if (ahead_begin_ < ahead_.size()) {
    const std::size_t n = std::min(size, ahead_.size() - ahead_begin_);
    std::memcpy(out, ahead_.data() + ahead_begin_, n);
    ahead_begin_ += n;
    if (ahead_begin_ == ahead_.size()) {
      std::vector<char>().swap(ahead_);
      ahead_begin_ = 0;
    }
    return n;
  }
  return read_raw(out, size);
}

// Reads from the file itself, taking `read_offset_` on.
Result<std::size_t> LineReader::read_raw(char* out, std::size_t size) {
  for (;;) {
    // Readers of one regular file share its descriptor, so none moves its offset.
    const ssize_t got =
        file_->regular() ? ::pread(file_->fd(), out, size, static_cast<off_t>(read_offset_))
                         : ::read(file_->fd(), out, size);
    if (got >= 0) {
      read_offset_ += static_cast<uint64_t>(got);
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      stream_failed_ = true;
      return reported(os_error_message(errno));
    }
    if (cancel_requested_now()) return cancelled();
  }
}

Result<bool> LineReader::fill() {
  buffer_offset_ += end_;
  begin_ = 0;
  end_ = 0;
  // Each refill is up to kIoBufferSize bytes of work for the caller as well.
  if (cancel_.requested(kIoBufferSize)) return cancelled();
  if (gzip_) return fill_from(*gzip_);
  if (zstd_) return fill_from(*zstd_);
  auto got = read_file(buffer_, kIoBufferSize);
  if (!got.ok()) return got.take_error();
  end_ = got.value();
  if (at_start_) {
    // A short first read (a pipe) must not hide the rest of a magic number.
    while (end_ != 0 && end_ < 4) {
      auto more = read_file(buffer_ + end_, kIoBufferSize - end_);
      if (!more.ok()) return more.take_error();
      if (more.value() == 0) break;
      end_ += more.value();
    }
    const std::string_view first(buffer_, end_);
    if (has_gzip_magic(first)) {
      gzip_ = std::make_unique<GzipInflater>(first);
      return fill_from(*gzip_);
    }
    if (has_zstd_magic(first)) {
      zstd_ = std::make_unique<ZstdInflater>(first);
      return fill_from(*zstd_);
    }
  }
  if (end_ == 0) eof_ = true;
  return end_ != 0;
}

template <class Inflater>
Result<bool> LineReader::fill_from(Inflater& inflater) {
  end_ = 0;
  for (;;) {
    if (inflater.wants_input()) {
      const std::span<char> space = inflater.input_space();
      auto got = read_file(space.data(), space.size());
      if (!got.ok()) return got.take_error();
      inflater.added(got.value());
    }
    auto out = inflater.inflate(buffer_, kIoBufferSize);
    if (!out.ok()) {
      stream_failed_ = true;
      return out.take_error();
    }
    end_ = out.value();
    if (end_ != 0) return true;
    if (!inflater.wants_input()) {
      eof_ = true;
      return false;
    }
  }
}

Result<bool> LineReader::next(std::string_view& line) {
  carry_.clear();
  if (buffer_offset_ + begin_ >= stop_) return false;
  bool spanning = false;
  for (;;) {
    if (begin_ == end_) {
      if (eof_) break;
      auto filled = fill();
      if (!filled.ok()) return filled.take_error();
      if (!filled.value()) break;
      if (at_start_) {
        at_start_ = false;
        // A byte-order mark is an encoding signature, not content.
        if (end_ >= 3 && std::memcmp(buffer_, "\xEF\xBB\xBF", 3) == 0) begin_ = 3;
        if (begin_ == end_) continue;
      }
    }
    const char* start = buffer_ + begin_;
    const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    if (nl != nullptr) {
      const auto len = static_cast<std::size_t>(nl - start);
      begin_ += len + 1;
      if (spanning) {
        carry_.append(start, len);
        line = carry_;
      } else {
        line = std::string_view(start, len);
      }
      return finish_line(line);
    }
    // No line feed in what is buffered: keep it and read on, up to the limit.
    if (carry_.size() + (end_ - begin_) > kMaxLineBytes) {
      return reported("line " + std::to_string(line_number_ + 1) + " is longer than " +
                      std::to_string(kMaxLineBytes) + " bytes");
    }
    carry_.append(start, end_ - begin_);
    spanning = true;
    begin_ = end_;
  }
  // End of file: a last line without a line feed, or nothing.
  if (!spanning || carry_.empty()) return false;
  line = carry_;
  return finish_line(line);
}

Result<std::string_view> LineReader::next_bytes() {
  if (begin_ == end_) {
    if (eof_) return std::string_view();
    auto filled = fill();
    if (!filled.ok()) return filled.take_error();
    if (!filled.value()) return std::string_view();
  }
  at_start_ = false;
  const std::string_view bytes(buffer_ + begin_, end_ - begin_);
  begin_ = end_;
  return bytes;
}

Error LineReader::blame_stream(Error error) {
  if (!compressed() || stream_failed_ || error.kind == ErrorKind::kCancelled) return error;
  while (!eof_) {
    auto filled = fill();
    if (!filled.ok()) {
      // The stream's own failure, or a request to stop while reading it.
      if (stream_failed_ || filled.error().kind == ErrorKind::kCancelled) {
        return filled.take_error();
      }
      return error;
    }
    if (!filled.value()) break;
  }
  return error;
}

Result<bool> LineReader::finish_line(std::string_view& line) {
  ++line_number_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!is_valid_utf8(line)) return reported(std::string(kInvalidUtf8));
  return true;
}

// ------------------------------------------------------------ BufferedWriter

namespace {

// Where a write to `path` lands: the final target of a chain of symbolic links
// (at most 40, as the kernel allows), with the status of that target when it exists.
struct Target {
  std::string path;
  bool exists = false;
  struct stat info {};
};

Result<Target> resolve_target(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    Target target{std::move(path)};
    if (::lstat(target.path.c_str(), &target.info) != 0) {
      if (errno == ENOENT) return target;
      return reported(os_error_message(errno));
    }
    if (!S_ISLNK(target.info.st_mode)) {
      target.exists = true;
      return target;
    }
    std::string link(static_cast<std::size_t>(target.info.st_size) + 256, '\0');
    const ssize_t n = ::readlink(target.path.c_str(), link.data(), link.size());
    if (n < 0) return reported(os_error_message(errno));
    link.resize(static_cast<std::size_t>(n));
    // A relative link is relative to the folder holding the link.
    const std::size_t slash = target.path.rfind('/');
    if (link.front() != '/' && slash != std::string::npos) {
      link.insert(0, target.path, 0, slash + 1);
    }
    path = std::move(link);
  }
  return reported(os_error_message(ELOOP));
}

// A new file beside `target`, named after it, created exclusively with mode 0666
// so that the kernel applies the umask (and any default ACL) as for the target.
struct Temporary {
  int fd = -1;
  std::string path;
  int error = 0;  // errno of the failed creation
};

Temporary create_temporary(const std::string& target) {
  static std::atomic<uint64_t> sequence{0};
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0;; ++attempt) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const uint64_t tag = (static_cast<uint64_t>(::getpid()) << 32) ^ static_cast<uint64_t>(now) ^
                         (sequence.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
    // .<name>.<pid>.<hex>.korvane-tmp, the one pattern of korvane's temporaries: the pid
    // lets a later run tell a dead writer's leftover from a live writer's file.
    char hex[8];
    const auto digits = std::to_chars(hex, hex + sizeof hex, (tag ^ (tag >> 32)) & 0xFFFFFFFFu, 16);
    std::string path = folder + "." + name.substr(0, 200) + "." + std::to_string(::getpid()) + "." +
                       std::string(hex, digits.ptr) + ".korvane-tmp";
    const int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return Temporary{fd, std::move(path), 0};
    if (errno != EEXIST || attempt == 100) return Temporary{-1, {}, errno};
  }
}

bool refuses_new_entries(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// Gives the new file `fd` the owner, group and permission bits of the file it
// replaces (`old`), as far as the caller may: root keeps both, a member of the
// old group keeps that. A set-user-id or set-group-id bit is kept only with the
// owner or group it stood for, never handed to the caller. The owner is set
// first: a change of owner clears both bits.
Result<void> take_over_attributes(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  struct stat now {};
  if (::fstat(fd, &now) != 0) return reported(os_error_message(errno));
  mode_t mode = old.st_mode & 07777;
  if (now.st_uid != old.st_uid) mode &= static_cast<mode_t>(~S_ISUID);
  if (now.st_gid != old.st_gid) mode &= static_cast<mode_t>(~S_ISGID);
  if (::fchmod(fd, mode) != 0) return reported(os_error_message(errno));
  return {};
}

// fsync, retried after EINTR.
int sync_retrying(int fd) {
  for (;;) {
    const int rc = ::fsync(fd);
    if (rc == 0 || errno != EINTR) return rc;
  }
}

// The folder holding `file`: "." for a bare name.
std::string folder_of(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace

void sync_folder_of(const std::string& file) {
  const std::string folder = folder_of(file);
  const int fd = open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  (void)sync_retrying(fd);
  close_quietly(fd);
}

// Buffers the caller fills and a thread of its own writes, in the order handed
// over. After a failed write the thread drops what follows; the caller learns
// of the failure at its next hand-over or at finish().
class BufferedWriter::Behind {
 public:
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
  static constexpr std::size_t kBuffers = 4;

  // Throws when the buffers or the thread cannot be had.
  explicit Behind(int fd) : fd_(fd) {
    for (auto& buffer : buffers_) buffer.reset(new char[kBufferBytes]);
    thread_ = std::thread([this] { run(); });
  }
  ~Behind() { (void)finish(true); }
  Behind(const Behind&) = delete;
  Behind& operator=(const Behind&) = delete;

  char* first() { return buffers_[0].get(); }

  // Hands over the buffer being filled, holding `size` bytes; returns the next
  // buffer to fill once it is free, or nullptr when a write failed.
  char* hand_over(std::size_t size) {
    std::unique_lock lock(mutex_);
    sizes_[handed_ % kBuffers] = size;
    ++handed_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return failed_ || written_ + kBuffers > handed_; });
    return failed_ ? nullptr : buffers_[handed_ % kBuffers].get();
  }

  // Lets the thread write what was handed over (or drop it, with `discard`),
  // waits for it to end, and returns the first failure. Callable again.
  Result<void> finish(bool discard) {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
      discard_ = discard_ || discard;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (failed_) return error_;
    return {};
  }

 private:
  void run() {
    // Signals go to the caller's thread, which polls for them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return written_ < handed_ || done_; });
      if (written_ == handed_) return;
      if (failed_ || discard_) {
        written_ = handed_;
      } else {
        const std::size_t index = written_ % kBuffers;
        lock.unlock();
        Result<void> put = write_pieces(buffers_[index].get(), sizes_[index]);
        lock.lock();
        if (!put.ok()) {
          failed_ = true;
          error_ = put.take_error();
        }
        ++written_;
      }
      changed_.notify_all();
    }
  }

  // The bytes in kIoBufferSize pieces, as the caller's thread would write them.
  Result<void> write_pieces(const char* bytes, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      const ssize_t put = ::write(fd_, bytes + done, std::min(size - done, kIoBufferSize));
      if (put < 0) {
        if (errno == EINTR) continue;
        return reported(os_error_message(errno));
      }
      done += static_cast<std::size_t>(put);
    }
    return {};
  }

  const int fd_;
  std::array<std::unique_ptr<char[]>, kBuffers> buffers_;
  std::array<std::size_t, kBuffers> sizes_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t handed_ = 0;   // buffers handed over so far
  uint64_t written_ = 0;  // of those, written or dropped
  bool done_ = false;
  bool discard_ = false;
  bool failed_ = false;
  Error error_{ErrorKind::kReported, {}};
  std::thread thread_;
};

BufferedWriter::BufferedWriter(int fd, std::string temporary, std::string target)
    : fd_(fd), temporary_(std::move(temporary)), target_(std::move(target)), buffer_(own_buffer_) {}

BufferedWriter::BufferedWriter(BufferedWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporary_(std::move(other.temporary_)),
      target_(std::move(other.target_)),
      used_(std::exchange(other.used_, 0)),
      capacity_(other.capacity_),
      buffer_(other.behind_ != nullptr ? other.buffer_ : own_buffer_),
      behind_(std::move(other.behind_)),
      gzip_(std::move(other.gzip_)),
      zstd_(std::move(other.zstd_)) {
  other.temporary_.clear();
  if (behind_ == nullptr) std::memcpy(own_buffer_, other.own_buffer_, used_);
}

BufferedWriter::~BufferedWriter() { abandon(); }

void BufferedWriter::write_behind(uint64_t expected_bytes) {
  if (temporary_.empty() || fd_ < 0 || used_ != 0 || behind_ != nullptr || gzip_ != nullptr ||
      zstd_ != nullptr || expected_bytes < 2 * Behind::kBufferBytes || thread_count() < 2) {
    return;
  }
  try {
    behind_ = std::make_unique<Behind>(fd_);
  } catch (...) {
    return;  // no memory or no thread: write on this one
  }
  buffer_ = behind_->first();
  capacity_ = Behind::kBufferBytes;
}

Result<void> BufferedWriter::end_behind(bool discard) {
  Result<void> ended = behind_->finish(discard);
  behind_.reset();
  buffer_ = own_buffer_;
  capacity_ = kIoBufferSize;
  if (discard) used_ = 0;
  return ended;
}

void BufferedWriter::abandon() noexcept {
  if (behind_ != nullptr) (void)end_behind(true);
  if (fd_ >= 0) {
    // In place there is no old content left to keep: hand over what was written.
    if (temporary_.empty()) (void)flush();
    close_quietly(std::exchange(fd_, -1));
  }
  // Also after a finish() that was never followed by publish().
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

Result<BufferedWriter> BufferedWriter::create(std::string_view path, Compression compression) {
  auto created = create_plain(path);
  if (!created.ok() || compression == Compression::kNone) return created;
  BufferedWriter& writer = created.value();
  if (compression == Compression::kGzip) {
    writer.gzip_ = std::make_unique<GzipDeflater>();
  } else {
    writer.zstd_ = std::make_unique<ZstdDeflater>();
  }
  return created;
}

Result<BufferedWriter> BufferedWriter::create_plain(std::string_view path) {
  auto checked = checked_path(path);
  if (!checked.ok()) return checked.take_error();
  // What the path leads to when that is not a regular file (a pipe or a socket
  // behind /dev/stdout or /dev/fd/N, whose links name no file that could be
  // resolved) is opened through the path itself and written in place.
  struct stat followed {};
  if (::stat(checked.value().c_str(), &followed) == 0 && !S_ISREG(followed.st_mode) &&
      !S_ISDIR(followed.st_mode)) {
    const int fd =
        open_retrying(checked.value().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return open_error(errno);
    return BufferedWriter(fd, std::string(), std::move(checked).value());
  }
  auto resolved = resolve_target(std::move(checked).value());
  if (!resolved.ok()) return resolved.take_error();
  Target& target = resolved.value();
  const bool replaceable = !target.exists || S_ISREG(target.info.st_mode);
  if (replaceable) {
    Temporary temporary = create_temporary(target.path);
    if (temporary.fd >= 0) {
      const int fd = temporary.fd;
      BufferedWriter writer(fd, std::move(temporary.path), std::move(target.path));
      if (target.exists) KORVANE_TRY(take_over_attributes(fd, target.info));
      return writer;
    }
    // Writing an existing file in place could leave it truncated by a failure
    // halfway: where no new file can be made beside it, it is left alone.
    if (target.exists && refuses_new_entries(temporary.error)) {
      return reported("no new file can be made in " + folder_of(target.path) + " to replace " +
                      target.path + " safely: " + os_error_message(temporary.error));
    }
    return open_error(temporary.error);
  }
  const int fd = open_retrying(target.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return open_error(errno);
  return BufferedWriter(fd, std::string(), std::move(target.path));
}

Result<void> BufferedWriter::flush() {
  if (behind_ != nullptr) {
    if (used_ == 0) return {};
    char* next = behind_->hand_over(std::exchange(used_, 0));
    if (next != nullptr) {
      buffer_ = next;
      return {};
    }
    return end_behind(true);
  }
  // Taken out first: what could not be written is dropped, so the destructor
  // does not retry it.
  return put(buffer_, std::exchange(used_, 0), false);
}

Result<void> BufferedWriter::put(const char* bytes, std::size_t size, bool end) {
  auto through = [&](auto& deflater) -> Result<void> {
    deflater.set_input(std::string_view(bytes, size));
    for (;;) {
      auto out = deflater.deflate(end);
      if (!out.ok()) return out.take_error();
      if (out.value().empty()) return {};
      KORVANE_TRY(write_out(out.value().data(), out.value().size()));
    }
  };
  if (gzip_ != nullptr) return through(*gzip_);
  if (zstd_ != nullptr) return through(*zstd_);
  return write_out(bytes, size);
}

Result<void> BufferedWriter::write_out(const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(fd_, bytes + done, size - done);
    if (wrote < 0) {
      const int err = errno;
      if (err == EINTR && !cancel_requested_now()) continue;
      return err == EINTR ? cancelled() : reported(os_error_message(err));
    }
    done += static_cast<std::size_t>(wrote);
  }
  return {};
}

Result<void> BufferedWriter::finish() {
  if (fd_ < 0) return internal("BufferedWriter::finish called on a spent writer");
  Result<void> flushed = flush();
  if (flushed.ok() && behind_ != nullptr) flushed = end_behind(false);
  if (flushed.ok() && (gzip_ != nullptr || zstd_ != nullptr)) flushed = put(buffer_, 0, true);
  if (!flushed.ok()) {
    abandon();
    return flushed;
  }
  gzip_.reset();
  zstd_.reset();
  // A replacement reaches the disk before it is renamed over the old file, so
  // that a machine crash leaves one of the two whole, never an empty new file.
  if (!temporary_.empty() && sync_retrying(fd_) != 0) {
    const int err = errno;
    abandon();
    return reported(os_error_message(err));
  }
  // close() reports write errors the file system deferred (a quota, a network
  // file system); EINTR still closes the descriptor on Linux, so it is not retried.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    const int err = errno;
    abandon();
    return reported(os_error_message(err));
  }
  return {};
}

Result<void> BufferedWriter::publish() {
  if (fd_ >= 0) return internal("BufferedWriter::publish called before finish");
  if (temporary_.empty()) return {};
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    abandon();
    return reported(os_error_message(err));
  }
  temporary_.clear();
  // The rename itself is durable once the folder is synced.
  sync_folder_of(target_);
  return {};
}

Result<void> BufferedWriter::commit() {
  KORVANE_TRY(finish());
  // The finish may have waited long for the disk: a Ctrl-C meanwhile still
  // leaves the old file in place.
  if (!temporary_.empty() && cancel_requested_now()) {
    abandon();
    return cancelled();
  }
  return publish();
}

Result<void> BufferedWriter::write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (used_ == capacity_) KORVANE_TRY(flush());
    const std::size_t take = std::min(bytes.size(), capacity_ - used_);
    std::memcpy(buffer_ + used_, bytes.data(), take);
    used_ += take;
    bytes.remove_prefix(take);
  }
  return {};
}

Result<void> copy_decompressed(std::string_view source, std::string_view path,
                               Compression compression) {
  auto from_source = [source](Error error) {
    if (error.kind == ErrorKind::kReported) error.message.insert(0, std::string(source) + ": ");
    return error;
  };
  auto opened = LineReader::open(source);
  if (!opened.ok()) return from_source(opened.take_error());
  LineReader& in = opened.value();
  auto created = BufferedWriter::create(path, compression);
  if (!created.ok()) return created.take_error();
  BufferedWriter& out = created.value();
  out.write_behind(in.file_size());
  for (;;) {
    auto bytes = in.next_bytes();
    if (!bytes.ok()) return from_source(bytes.take_error());
    if (bytes.value().empty()) break;
    KORVANE_TRY(out.write(bytes.value()));
  }
  return out.commit();
}

Result<void> write_file(std::string_view path, std::string_view bytes) {
  auto created = BufferedWriter::create(path);
  if (!created.ok()) return created.take_error();
  BufferedWriter& out = created.value();
  out.write_behind(bytes.size());
  KORVANE_TRY(out.write(bytes));
  return out.commit();
}

}  // namespace korvane
