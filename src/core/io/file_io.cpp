// Line source and buffered sink over POSIX file descriptors.
#include "core/io/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/io/gzip_inflater.h"
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

LineReader::LineReader(int fd, std::size_t file_size) : fd_(fd), file_size_(file_size) {}

LineReader::LineReader(LineReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      file_size_(other.file_size_),
      gzip_(std::move(other.gzip_)),
      zstd_(std::move(other.zstd_)),
      begin_(other.begin_),
      end_(other.end_),
      eof_(other.eof_),
      at_start_(other.at_start_),
      carry_(std::move(other.carry_)) {
  std::memcpy(buffer_, other.buffer_, end_);
}

LineReader& LineReader::operator=(LineReader&& other) noexcept {
  if (this != &other) {
    close_quietly(fd_);
    fd_ = std::exchange(other.fd_, -1);
    file_size_ = other.file_size_;
    gzip_ = std::move(other.gzip_);
    zstd_ = std::move(other.zstd_);
    begin_ = other.begin_;
    end_ = other.end_;
    eof_ = other.eof_;
    at_start_ = other.at_start_;
    carry_ = std::move(other.carry_);
    std::memcpy(buffer_, other.buffer_, end_);
  }
  return *this;
}

LineReader::~LineReader() { close_quietly(fd_); }

Result<LineReader> LineReader::open(std::string_view path) {
  auto checked = checked_path(path);
  if (!checked.ok()) return checked.take_error();
  int fd;
  do {
    fd = ::open(checked.value().c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return reported(os_error_message(errno));
  struct stat info {};
  std::size_t size = 0;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size = static_cast<std::size_t>(info.st_size);
  }
  return LineReader(fd, size);
}

Result<std::size_t> LineReader::read_file(char* out, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, out, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return reported(os_error_message(errno));
  }
}

Result<bool> LineReader::fill() {
  begin_ = 0;
  end_ = 0;
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
    if (!out.ok()) return out.take_error();
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
    // No line feed in what is buffered: keep it and read on.
    carry_.append(start, end_ - begin_);
    spanning = true;
    begin_ = end_;
  }
  // End of file: a last line without a line feed, or nothing.
  if (!spanning || carry_.empty()) return false;
  line = carry_;
  return finish_line(line);
}

Result<bool> LineReader::finish_line(std::string_view& line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!is_valid_utf8(line)) return reported(std::string(kInvalidUtf8));
  return true;
}

// ------------------------------------------------------------ BufferedWriter

BufferedWriter::BufferedWriter(BufferedWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), used_(std::exchange(other.used_, 0)) {
  std::memcpy(buffer_, other.buffer_, used_);
}

BufferedWriter::~BufferedWriter() {
  if (fd_ >= 0) {
    (void)flush();
    close_quietly(fd_);
  }
}

Result<BufferedWriter> BufferedWriter::create(std::string_view path) {
  auto checked = checked_path(path);
  if (!checked.ok()) return checked.take_error();
  int fd;
  do {
    fd = ::open(checked.value().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return reported(os_error_message(errno));
  return BufferedWriter(fd);
}

Result<void> BufferedWriter::flush() {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t put = ::write(fd_, buffer_ + done, used_ - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      // Drop what could not be written so the destructor does not retry it.
      used_ = 0;
      return reported(os_error_message(err));
    }
    done += static_cast<std::size_t>(put);
  }
  used_ = 0;
  return {};
}

Result<void> BufferedWriter::write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (used_ == kIoBufferSize) KORVANE_TRY(flush());
    const std::size_t take = std::min(bytes.size(), kIoBufferSize - used_);
    std::memcpy(buffer_ + used_, bytes.data(), take);
    used_ += take;
    bytes.remove_prefix(take);
  }
  return {};
}

}  // namespace korvane
