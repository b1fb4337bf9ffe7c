// LogSys: the host's log, where plug-ins record what went wrong while they
// worked. Render effects cannot return an error from Apply; what they
// survive (an allocation that failed, a fallback taken, a file they could
// not use) they write here, and the host decides what the user sees: the
// velumbra command reports error entries and fails the frame.
//
// One log per process (GetHostLog()). Entries are kept in order until the
// host takes them; the log is safe to write from any thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "max_types.h"

// Entry types (`type` of LogEntry).
inline constexpr DWORD SYSLOG_ERROR = 0x00000001;    // the plug-in's result is wrong or missing
inline constexpr DWORD SYSLOG_WARN = 0x00000002;     // survived; the result is still right
inline constexpr DWORD SYSLOG_INFO = 0x00000004;
inline constexpr DWORD SYSLOG_DEBUG = 0x00000008;
// Given with SYSLOG_ERROR: the failure lies in what the user gave the
// plug-in (a file a parameter names that is missing or malformed, a text
// it cannot read), not in the system: the velumbra command reports it as
// bad input (exit status 2). The message names the file, line or
// parameter.
inline constexpr DWORD SYSLOG_INPUT = 0x00000100;

// `dialogue` of LogEntry: whether an interactive host may show the entry in
// a dialog box at once. The stand-in host never shows dialogs.
inline constexpr DWORD NO_DIALOG = 0;
inline constexpr DWORD DISPLAY_DIALOG = 1;

struct LogRecord {
  DWORD type = 0;
  std::string title;    // the plug-in that wrote it (its name)
  std::string message;  // the formatted message
};

class LogSys {
 public:
  // Plug-in side: appends an entry whose message is `format` (printf style)
  // with its arguments. A null title or format counts as empty; a message
  // longer than 4095 bytes is cut there.
  void LogEntry(DWORD type, DWORD dialogue, const MCHAR* title, const MCHAR* format, ...)
      __attribute__((format(printf, 5, 6)));

  // Host side: the entries written since the last Take, oldest first; the
  // log is empty afterwards.
  std::vector<LogRecord> Take();
  // Host side: the number of entries waiting.
  std::size_t Count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<LogRecord> entries_;
};

// The process's log; never null.
LogSys* GetHostLog();
