#include "log_sys.h"

#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

void LogSys::LogEntry(DWORD type, DWORD, const MCHAR* title, const MCHAR* format, ...) {
  // Formatted on the stack: a plug-in logs most often because memory ran
  // out, and the message must not be what fails. Keeping the entry needs the
  // heap; if even that fails the entry is lost, never thrown.
  char text[4096];
  text[0] = '\0';
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
  }
  try {
    LogRecord record{type, title ? title : "", text};
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(record));
  } catch (const std::bad_alloc&) {
  }
}

std::vector<LogRecord> LogSys::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LogRecord> out;
  out.swap(entries_);
  return out;
}

std::size_t LogSys::Count() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

LogSys* GetHostLog() {
  static LogSys log;
  return &log;
}
