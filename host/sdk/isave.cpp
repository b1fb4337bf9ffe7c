#include "isave.h"

#include <cstring>

namespace {

constexpr std::size_t kHeader = 6;  // 16-bit ID + 32-bit length

}  // namespace

void MemorySave::BeginChunk(USHORT id) {
  if (failed_) return;
  const std::uint8_t header[kHeader] = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), 0, 0, 0, 0};
  bytes_.insert(bytes_.end(), header, header + kHeader);
  open_.push_back(bytes_.size());
}

void MemorySave::EndChunk() {
  if (open_.empty()) {
    failed_ = true;  // more ends than begins
    return;
  }
  const std::size_t start = open_.back();
  open_.pop_back();
  const std::size_t length = bytes_.size() - start;
  if (failed_ || length > 0xFFFFFFFFu) {
    failed_ = true;
    return;
  }
  for (int i = 0; i < 4; ++i) bytes_[start - 4 + i] = static_cast<std::uint8_t>(length >> (8 * i));
}

IOResult MemorySave::Write(const void* buf, ULONG nbytes, ULONG* nwritten) {
  if (nwritten) *nwritten = 0;
  if (failed_ || open_.empty()) {
    failed_ = true;  // data outside any chunk cannot be read back
    return IO_ERROR;
  }
  const auto* p = static_cast<const std::uint8_t*>(buf);
  bytes_.insert(bytes_.end(), p, p + nbytes);
  if (nwritten) *nwritten = nbytes;
  return IO_OK;
}

IOResult MemorySave::WriteCString(const char* str) {
  if (!str) str = "";
  ULONG n = 0;
  return Write(str, static_cast<ULONG>(std::strlen(str) + 1), &n);
}

IOResult MemorySave::Status() const { return failed_ || !open_.empty() ? IO_ERROR : IO_OK; }

IOResult MemorySave::WriteTo(std::FILE* file) const {
  if (Status() != IO_OK || !file) return IO_ERROR;
  if (!bytes_.empty() && std::fwrite(bytes_.data(), 1, bytes_.size(), file) != bytes_.size()) return IO_ERROR;
  return std::fflush(file) == 0 ? IO_OK : IO_ERROR;
}

MemoryLoad::MemoryLoad(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

IOResult MemoryLoad::OpenChunk() {
  const std::size_t end = LevelEnd();
  if (pos_ >= end) return IO_END;
  if (end - pos_ < kHeader) return IO_ERROR;
  const USHORT id = static_cast<USHORT>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
  std::size_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<std::size_t>(bytes_[pos_ + 2 + i]) << (8 * i);
  if (length > end - pos_ - kHeader) return IO_ERROR;
  pos_ += kHeader;
  open_.push_back({id, pos_ + length});
  return IO_OK;
}

USHORT MemoryLoad::CurChunkID() { return open_.empty() ? 0 : open_.back().id; }

IOResult MemoryLoad::CloseChunk() {
  if (open_.empty()) return IO_ERROR;
  pos_ = open_.back().end;
  open_.pop_back();
  return IO_OK;
}

IOResult MemoryLoad::Read(void* buf, ULONG nbytes, ULONG* nread) {
  if (nread) *nread = 0;
  if (open_.empty() || LevelEnd() - pos_ < nbytes) return IO_ERROR;
  std::memcpy(buf, bytes_.data() + pos_, nbytes);
  pos_ += nbytes;
  if (nread) *nread = nbytes;
  return IO_OK;
}

IOResult MemoryLoad::ReadCString(std::string& out) {
  out.clear();
  if (open_.empty()) return IO_ERROR;
  const std::size_t end = LevelEnd();
  for (std::size_t i = pos_; i < end; ++i) {
    if (bytes_[i] == 0) {
      out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), i - pos_);
      pos_ = i + 1;
      return IO_OK;
    }
  }
  return IO_ERROR;  // no terminator within the chunk
}
