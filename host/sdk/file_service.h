// The host's file service: plug-ins read the files their parameters name (a
// TYPE_FILENAME value: a star catalogue, a lookup table) through it and
// never open files themselves, so the host decides where names resolve and
// what a plug-in may read.
//
// A name resolves as the host's asset paths do: an absolute name as it is;
// a relative one against the service's folder, which the host sets to the
// folder of the scene being rendered (SetFolder; the current folder until
// then). "~" is not expanded, no search path is tried.
//
// A file's stamp (its resolved name, size and modification time) tells a
// plug-in that caches what it made of a file whether the file changed: the
// stamp Read returns is the one of the bytes it read (both from the same
// open file).
//
// One service per process (GetFileService()); it is safe to use from any
// thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "max_types.h"

struct FileStamp {
  std::string path;          // the name resolved
  std::uint64_t size = 0;    // bytes
  std::int64_t modified = 0; // last modification, nanoseconds since 1970-01-01 UTC

  bool operator==(const FileStamp&) const = default;
};

enum FileResult : int {
  FILE_OK = 0,
  FILE_NOT_FOUND = 1,  // no such file (or a folder on the way is missing)
  FILE_NOT_A_FILE = 2, // a folder or a device, not a regular file
  FILE_UNREADABLE = 3, // permissions, an I/O error, or more than MaxBytes()
};

class FileService {
 public:
  // Relative names resolve against `folder` from now on (empty: the
  // current folder).
  void SetFolder(std::string folder);
  std::string Folder() const;

  // The name resolved (no file is touched). Empty for an empty name.
  std::string Resolve(const MCHAR* name) const;

  // The stamp of the file `name` names. Anything but FILE_OK comes with a
  // message in `error` naming the resolved file and what is wrong
  // ("/x/stars.dat: no such file").
  FileResult Stamp(const MCHAR* name, FileStamp& stamp, std::string& error) const;
  // The file's bytes, whole, and the stamp of what was read.
  FileResult Read(const MCHAR* name, std::string& bytes, FileStamp& stamp, std::string& error) const;

  // The largest file Read takes (1 GiB): a name that points at something
  // huge by mistake fails instead of exhausting memory.
  static constexpr std::uint64_t MaxBytes() { return std::uint64_t{1} << 30; }

 private:
  mutable std::mutex mutex_;
  std::string folder_;
};

// The process's file service; never null.
FileService* GetFileService();
