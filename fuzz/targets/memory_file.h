// Bytes presented as a file name, for readers that open files by name:
// an anonymous in-memory file (memfd), named through /proc/self/fd. Nothing
// touches the disk, and the file vanishes with the object.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace velumbra::fuzz {

class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) {
    fd_ = ::memfd_create("velumbra-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fd_);
        throw std::runtime_error(std::string("writing a memory file: ") + std::strerror(errno));
      }
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace velumbra::fuzz
