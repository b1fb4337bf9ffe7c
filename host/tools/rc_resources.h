// What rcc compiles a resource script into, before it is written out as
// C++ tables (see host/platform/resources.h for the tables themselves).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/tools/rc_lexer.h"

namespace rc {

// Each entry keeps where the script defined it, for messages about
// duplicates.

struct StringEntry {
  std::uint32_t id;
  std::string text;
  Location loc;
};

struct ControlEntry {
  int id;
  std::string className;
  std::string text;
  int textResourceId = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  Location loc;
};

struct DialogEntry {
  int id;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string caption;
  std::string fontName;
  int fontPointSize = 0;
  std::vector<ControlEntry> controls;
  Location loc;
};

struct BitmapEntry {
  int id;
  std::vector<unsigned char> dib;
  Location loc;
};

struct VersionEntry {
  std::uint16_t fileVersion[4] = {0, 0, 0, 0};
  std::uint16_t productVersion[4] = {0, 0, 0, 0};
  std::uint32_t fileFlagsMask = 0;
  std::uint32_t fileFlags = 0;
  std::uint32_t fileOS = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileSubtype = 0;
  std::uint16_t language = 0;
  std::uint16_t codePage = 0;
  std::vector<std::pair<std::string, std::string>> strings;
};

struct Resources {
  std::map<std::uint32_t, StringEntry> strings;
  std::map<int, DialogEntry> dialogs;
  std::map<int, BitmapEntry> bitmaps;
  std::optional<VersionEntry> version;
  Location versionLoc;
};

}  // namespace rc
