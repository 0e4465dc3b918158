// Hands fuzz input to the readers, which read by path: an in-memory file
// (memfd) reopened through /proc/self/fd, so no disk is touched.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace korvane::fuzz {

class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("korvane-fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) std::abort();
  }
  ~MemoryFile() { ::close(fd_); }

  // Replaces the content with `size` bytes at `data`; returns the path to open.
  std::string fill(const uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t put = ::write(fd_, data + done, size - done);
      if (put <= 0) std::abort();
      done += static_cast<std::size_t>(put);
    }
    return "/proc/self/fd/" + std::to_string(fd_);
  }

 private:
  int fd_;
};

}  // namespace korvane::fuzz
