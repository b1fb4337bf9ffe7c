// ISave and ILoad: the host's chunked persistence streams.
//
// A stream is a sequence of chunks; each chunk is a 16-bit ID, a 32-bit
// payload length (little-endian) and the payload, which may itself hold
// chunks. Objects write their own chunks in Save and read them in Load; the
// host saves a reference target's references after the target's own chunks.
//
// Every operation reports failure: a write that cannot be completed (a full
// disk, a closed stream) gives IO_ERROR and the stream stays failed, so a
// save that reports IO_OK has written everything.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "max_types.h"

using IOResult = int;
inline constexpr IOResult IO_OK = 0;
inline constexpr IOResult IO_END = 1;
inline constexpr IOResult IO_ERROR = 2;

using USHORT = std::uint16_t;

class Interface;

// What both directions share: the scene the stream belongs to and the
// reason of a failure.
class IOStreamBase {
 public:
  // The scene whose nodes references in the stream name (parameter blocks
  // store a node as its name and find it again by name); null when the
  // stream belongs to no scene.
  Interface* GetInterface() const { return scene_; }
  void SetInterface(Interface* scene) { scene_ = scene; }

  // Why the operation failed, in words for the user. An object that returns
  // IO_ERROR names the cause here; the first message stays (the later ones
  // are consequences). Empty when nobody said.
  void SetError(std::string message) {
    if (error_.empty()) error_ = std::move(message);
  }
  const std::string& Error() const { return error_; }

 private:
  Interface* scene_ = nullptr;
  std::string error_;
};

class ISave : public IOStreamBase {
 public:
  virtual ~ISave() = default;
  virtual void BeginChunk(USHORT id) = 0;
  virtual void EndChunk() = 0;
  virtual IOResult Write(const void* buf, ULONG nbytes, ULONG* nwritten) = 0;
  // A null-terminated string, terminator included.
  virtual IOResult WriteCString(const char* str) = 0;
};

class ILoad : public IOStreamBase {
 public:
  virtual ~ILoad() = default;
  // Enters the next chunk at this level: IO_OK, IO_END when the level has no
  // more chunks, IO_ERROR for a malformed stream.
  virtual IOResult OpenChunk() = 0;
  virtual USHORT CurChunkID() = 0;
  // Leaves the current chunk, skipping what was not read.
  virtual IOResult CloseChunk() = 0;
  // Reads within the current chunk; IO_ERROR when fewer bytes remain.
  virtual IOResult Read(void* buf, ULONG nbytes, ULONG* nread) = 0;
  // A null-terminated string (terminator included in the chunk).
  virtual IOResult ReadCString(std::string& out) = 0;
};

// An ISave writing into memory, optionally onward to a file.
class MemorySave : public ISave {
 public:
  void BeginChunk(USHORT id) override;
  void EndChunk() override;
  IOResult Write(const void* buf, ULONG nbytes, ULONG* nwritten) override;
  IOResult WriteCString(const char* str) override;

  // IO_OK when every chunk was closed and nothing failed.
  IOResult Status() const;
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  // Writes the bytes to `file`; IO_ERROR when the file does not take them.
  IOResult WriteTo(std::FILE* file) const;

 protected:
  // For streams that fail on purpose (tests) or have a size limit.
  void Fail() { failed_ = true; }
  bool failed() const { return failed_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<std::size_t> open_;  // payload start of each open chunk
  bool failed_ = false;
};

// An ILoad reading from memory.
class MemoryLoad : public ILoad {
 public:
  explicit MemoryLoad(std::vector<std::uint8_t> bytes);
  IOResult OpenChunk() override;
  USHORT CurChunkID() override;
  IOResult CloseChunk() override;
  IOResult Read(void* buf, ULONG nbytes, ULONG* nread) override;
  IOResult ReadCString(std::string& out) override;

 private:
  struct Open {
    USHORT id;
    std::size_t end;
  };
  std::size_t LevelEnd() const { return open_.empty() ? bytes_.size() : open_.back().end; }

  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::vector<Open> open_;
};
