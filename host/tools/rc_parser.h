// The parser of rcc: a resource script's statements into Resources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/tools/rc_lexer.h"
#include "host/tools/rc_resources.h"

namespace rc {

// A style: bits to set and bits that NOT clears from the defaults.
struct Style {
  std::uint32_t set = 0;
  std::uint32_t clear = 0;
  std::uint32_t Apply(std::uint32_t defaults) const { return (defaults | set) & ~clear; }
};

// Reads a whole script from `lex`; the first fault throws RcError.
class Parser {
 public:
  explicit Parser(Lexer& lex);

  // Every resource of the script, checked (IDs, ranges, duplicates).
  Resources Parse();

 private:
  static bool IsWord(const Token& t, const char* word);

  Token Expect(Tok kind, const char* what);

  void ExpectComma();

  bool AcceptComma();

  // Reads BEGIN (or '{') and returns where it was.
  Location ExpectBegin();

  // Reads the END (or '}') of the block opened at `begin`, if it is next.
  bool AcceptEnd(const Location& begin);

  void SkipMemoryOptions();

  // --- expressions ---

  std::int64_t Primary();

  std::int64_t Additive();

  std::int64_t Expression();

  // An expression that must lie in lo..hi.
  std::int64_t Bounded(std::int64_t lo, std::int64_t hi, const char* what);

  std::uint32_t Word32();

  Style ParseStyle();

  // --- statements ---

  void ParseLanguage();

  void ParseStringTable();

  void ParseResource();

  void ParseDialog(int id, const Location& loc);

  ControlEntry ParseControl(const DialogEntry& dialog);

  // A control's text: a string, or the ID of the resource it shows.
  void ParseControlText(ControlEntry& c);

  int ControlId();

  void ParseRect(ControlEntry& c);

  void ParseOptionalStyles(ControlEntry& c, std::uint32_t defaults);

  void ParseBitmap(int id, const Location& loc);

  // Checks a .bmp file and returns its DIB (the file without its 14-byte
  // file header).
  static std::vector<unsigned char> CheckBmp(const std::vector<unsigned char>& f, const std::string& name, const Location& loc);

  void ParseVersion(int id, const Location& loc);

  static void ParseLanguageBlockName(const Token& lang, VersionEntry& v);

  void ParseStringValues(VersionEntry& v);

  Lexer& lex_;
  Resources res_;
};

}  // namespace rc
