// AtomicFile: writes an output so that readers see either the old file or
// the complete new one, never a part.
//
// The bytes go to a new temporary file in the target's folder (so that the
// final rename stays on one file system and is atomic); Commit flushes it to
// disk and renames it over the target. Until Commit succeeds an existing
// target is never touched, and on any failure, and when the object dies
// uncommitted, the temporary file is removed (also when a second stop
// signal ends the process: interrupt.h). Missing folders on the way to the
// target are created, and removed again (when still empty) if the file is
// discarded.
//
// A target that is a symbolic link stays one: the file it points to is
// replaced (atomically, in that file's folder). A replaced file keeps its
// permission bits; a new one gets 0666 less the umask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace velumbra {

class AtomicFile {
 public:
  // Creates the target's missing folders and opens the temporary file.
  // Throws SystemError naming the folder or file and the system's reason.
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::filesystem::path& Target() const { return target_; }
  const std::filesystem::path& TemporaryPath() const { return temporary_; }

  // Appends `size` bytes. Throws SystemError (naming the target and the
  // reason, e.g. "No space left on device"); the file is then discarded.
  void Write(const void* data, std::size_t size);

  // Writes `size` bytes at byte `offset` of the file, for writers that seek
  // back (OpenEXR fills in its chunk table last). Throws as Write does.
  // Write appends after the last byte Write wrote, not after these.
  void WriteAt(const void* data, std::size_t size, std::uint64_t offset);

  // The same without exceptions, for C callbacks (libpng): false on failure,
  // with the reason kept for Fail().
  bool TryWrite(const void* data, std::size_t size) noexcept;

  // Discards the file and throws the SystemError of the last failed
  // TryWrite (or of `fallbackReason` when none failed).
  [[noreturn]] void Fail(std::string_view fallbackReason);

  // Flushes the data to disk, closes the file and renames it over the
  // target. Throws SystemError on any failure, including an earlier failed
  // TryWrite, after removing the temporary file; throws Interrupted when
  // Ctrl-C arrived while the file was written (an InterruptGuard lives), the
  // temporary then going with this object. Either way the target is as it
  // was.
  void Commit();

  // Closes and removes the temporary file; the target stays as it was.
  // Safe to call more than once.
  void Discard() noexcept;

 private:
  [[noreturn]] void Throw(const char* what, int error);

  std::filesystem::path target_;
  std::filesystem::path file_;  // target_ with its links followed: what is replaced
  std::filesystem::path temporary_;
  std::filesystem::path madeFolder_;  // the highest folder made for the file, or empty
  int slot_ = -1;  // RegisterTemporary's
  int fd_ = -1;
  int lastError_ = 0;
  bool committed_ = false;
};

// Writes `bytes` to `target` through an AtomicFile.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

}  // namespace velumbra
