#include "host/app/base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "host/app/base/app_error.h"
#include "host/app/base/interrupt.h"

namespace velumbra {

namespace {

// Distinguishes the temporary files of one process (several outputs may be
// open at once, e.g. an image and its ID channels).
std::atomic<unsigned> g_temporaryCounter{0};

// A hidden name beside the target, short enough for NAME_MAX even when the
// target's own name is at the limit.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& target) {
  std::string base = target.filename().string();
  if (base.size() > 200) base.resize(200);
  const std::string name = "." + base + ".tmp" + std::to_string(::getpid()) + "-" +
                           std::to_string(g_temporaryCounter.fetch_add(1));
  return target.parent_path() / name;
}

// The file a name finally reaches through symbolic links (at most 40, as
// the kernel allows), existing or not; the name itself when it is no link.
std::filesystem::path FollowLinks(const std::filesystem::path& name) {
  std::filesystem::path p = name;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) return p;
    const std::filesystem::path link = std::filesystem::read_symlink(p, ec);
    if (ec) return p;
    p = link.is_absolute() ? link : p.parent_path() / link;
  }
  throw SystemError("cannot write " + name.string() + ": too many levels of symbolic links");
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
  if (target_.empty()) throw SystemError("cannot write a file with an empty name");
  if (!target_.has_filename())
    throw SystemError("cannot write " + target_.string() + ": the name ends in a folder separator");
  // A link stays a link: the new file replaces what it points to, in that
  // file's folder (the rename must stay on its file system).
  file_ = FollowLinks(target_);
  // The rename would replace whatever stands at the target: a device such
  // as /dev/full, a pipe or a folder is refused, never swapped for a file.
  {
    std::error_code ec;
    const auto st = std::filesystem::status(file_, ec);
    if (!ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st))
      throw SystemError("cannot write " + target_.string() + ": it exists and is not a regular file");
  }
  const std::filesystem::path folder = file_.parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    // The highest folder this file makes: removed again, if still empty,
    // when the file is discarded.
    for (std::filesystem::path p = folder; !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
      madeFolder_ = p;
      if (p == p.parent_path()) break;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec)
      throw SystemError("cannot create the folder " + folder.string() + " for " + target_.string() +
                        ": " + ec.message());
  }
  // An existing file keeps its permissions (a private 0600 file stays
  // private); a new one gets 0666 less the umask, as any new output.
  struct stat existing {};
  const bool replacing = ::stat(file_.c_str(), &existing) == 0;
  // O_EXCL: never reuse a file someone else made.
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = TemporaryNameFor(file_);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd_ >= 0) {
      slot_ = RegisterTemporary(temporary_.c_str());
      if (replacing && ::fchmod(fd_, existing.st_mode & 07777) != 0) Throw("cannot write", errno);
      return;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  temporary_.clear();
  throw SystemError("cannot write " + target_.string() + ": " + std::strerror(error));
}

AtomicFile::~AtomicFile() {
  if (!committed_) Discard();
}

bool AtomicFile::TryWrite(const void* data, std::size_t size) noexcept {
  if (fd_ < 0) {
    if (lastError_ == 0) lastError_ = EBADF;
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return false;
    }
    if (n == 0) {  // not expected of a regular file; do not loop forever
      lastError_ = EIO;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void AtomicFile::Write(const void* data, std::size_t size) {
  if (!TryWrite(data, size)) Throw("cannot write", lastError_);
}

void AtomicFile::WriteAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) Throw("cannot write", lastError_ != 0 ? lastError_ : EBADF);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      Throw("cannot write", lastError_);
    }
    if (n == 0) {
      lastError_ = EIO;
      Throw("cannot write", lastError_);
    }
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::Fail(std::string_view fallbackReason) {
  if (lastError_ != 0) Throw("cannot write", lastError_);
  Discard();
  throw SystemError("cannot write " + target_.string() + ": " + std::string(fallbackReason));
}

void AtomicFile::Commit() {
  if (committed_) return;
  // A write that failed earlier leaves a partial file: never publish it,
  // even when the caller went on.
  if (lastError_ != 0) Throw("cannot write", lastError_);
  if (fd_ < 0) Throw("cannot write", EBADF);
  // A full disk may only show at fsync or close (delayed allocation, NFS).
  if (::fsync(fd_) != 0) Throw("cannot write", errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Throw("cannot write", errno);
  // Ctrl-C while the file was being written: the previous file stays and
  // the temporary goes with this object.
  if (InterruptGuard::Requested()) throw Interrupted{};
  if (::rename(temporary_.c_str(), file_.c_str()) != 0) Throw("cannot replace", errno);
  committed_ = true;
  UnregisterTemporary(slot_);
  slot_ = -1;
  // Make the rename itself durable. The target is complete and in place by
  // now, so a failure here is not a failure of the write.
  const std::filesystem::path folder = file_.parent_path().empty() ? "." : file_.parent_path();
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void AtomicFile::Discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty() && !committed_) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
    // The folders made for this file go with it (rmdir leaves any that
    // something else has filled meanwhile).
    if (!madeFolder_.empty()) {
      for (std::filesystem::path p = file_.parent_path(); !p.empty(); p = p.parent_path()) {
        ::rmdir(p.c_str());
        if (p == madeFolder_ || p == p.parent_path()) break;
      }
      madeFolder_.clear();
    }
  }
  UnregisterTemporary(slot_);
  slot_ = -1;
}

void AtomicFile::Throw(const char* what, int error) {
  Discard();
  throw SystemError(std::string(what) + " " + target_.string() + ": " +
                    std::strerror(error != 0 ? error : EIO));
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  AtomicFile file(target);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

}  // namespace velumbra
