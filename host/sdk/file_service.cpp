#include "file_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

std::int64_t ModifiedNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + static_cast<std::int64_t>(st.st_mtim.tv_nsec);
}

FileResult FromErrno(int e, const std::string& path, std::string& error) {
  if (e == ENOENT || e == ENOTDIR) {
    error = path + ": no such file";
    return FILE_NOT_FOUND;
  }
  error = path + ": " + std::strerror(e);
  return FILE_UNREADABLE;
}

// The stamp of an open file; false (with `error`) for what is not a regular
// file.
FileResult StampOf(int fd, const std::string& path, FileStamp& stamp, std::string& error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return FromErrno(errno, path, error);
  if (!S_ISREG(st.st_mode)) {
    error = path + (S_ISDIR(st.st_mode) ? ": a folder, not a file" : ": not a regular file");
    return FILE_NOT_A_FILE;
  }
  stamp.path = path;
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified = ModifiedNs(st);
  return FILE_OK;
}

// Opens without blocking on a FIFO named by mistake, then reads blocking.
int OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens `path` (a resolved name; empty when none was given) for reading.
FileResult Open(const std::string& path, int& fd, std::string& error) {
  if (path.empty()) {
    error = "no file named (the name is empty)";
    return FILE_NOT_FOUND;
  }
  fd = OpenForReading(path);
  return fd < 0 ? FromErrno(errno, path, error) : FILE_OK;
}

}  // namespace

void FileService::SetFolder(std::string folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = std::move(folder);
}

std::string FileService::Folder() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return folder_;
}

std::string FileService::Resolve(const MCHAR* name) const {
  if (!name || !*name) return {};
  const std::string n(name);
  if (n.front() == '/') return n;
  const std::string folder = Folder();
  if (folder.empty()) return n;
  return folder.back() == '/' ? folder + n : folder + "/" + n;
}

FileResult FileService::Stamp(const MCHAR* name, FileStamp& stamp, std::string& error) const {
  const std::string path = Resolve(name);
  int opened = -1;
  if (const FileResult r = Open(path, opened, error); r != FILE_OK) return r;
  const Descriptor fd(opened);
  return StampOf(fd.get(), path, stamp, error);
}

FileResult FileService::Read(const MCHAR* name, std::string& bytes, FileStamp& stamp, std::string& error) const {
  const std::string path = Resolve(name);
  int opened = -1;
  if (const FileResult r = Open(path, opened, error); r != FILE_OK) return r;
  const Descriptor fd(opened);
  FileStamp s;
  if (const FileResult r = StampOf(fd.get(), path, s, error); r != FILE_OK) return r;
  if (s.size > MaxBytes()) {
    error = path + ": " + std::to_string(s.size) + " bytes, more than the " + std::to_string(MaxBytes()) +
            " a file may have here";
    return FILE_UNREADABLE;
  }
  std::string out;
  try {
    out.resize(static_cast<std::size_t>(s.size));
  } catch (const std::bad_alloc&) {
    error = path + ": not enough memory for its " + std::to_string(s.size) + " bytes";
    return FILE_UNREADABLE;
  }
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd.get(), out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FromErrno(errno, path, error);
    if (n == 0) break;  // cut short while reading: what is there
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  s.size = got;
  bytes = std::move(out);
  stamp = std::move(s);
  return FILE_OK;
}

FileService* GetFileService() {
  static FileService service;
  return &service;
}
