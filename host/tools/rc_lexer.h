// The lexer of rcc: tokens of a resource script after the preprocessor's
// work (#include, #define, #undef, #pragma once, comments, macro expansion).
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace rc {

namespace fs = std::filesystem;

// A place in a script; line 0 stands for the file as a whole.
struct Location {
  std::string file;
  int line = 0;
};

// "file:line"
std::string Describe(const Location& loc);

class RcError : public std::runtime_error {
 public:
  RcError(Location loc, const std::string& message) : std::runtime_error(message), loc_(std::move(loc)) {}
  const Location& where() const { return loc_; }

 private:
  Location loc_;
};

// Throws RcError: every fault of a script ends the compilation.
[[noreturn]] void Fail(const Location& loc, const std::string& message);

enum class Tok { End, Ident, Number, String, Comma, Pipe, Plus, Minus, Tilde, LParen, RParen, LBrace, RBrace };

struct Token {
  Tok kind = Tok::End;
  std::string text;        // identifier name or decoded string
  std::int64_t value = 0;  // number value
  Location loc;
};

// How a token is named in messages.
std::string TokenName(const Token& t);

class Lexer {
 public:
  // `includeDirs` are searched for #include "..." after the including
  // file's own folder.
  explicit Lexer(std::vector<fs::path> includeDirs);

  // Starts reading `path`; `from` is where it was asked for (for messages).
  void Open(const fs::path& path, const Location& from);

  // The next token (Tok::End at the end of the input), without and with
  // consuming it.
  const Token& Peek();
  Token Next();

  // Folder of the file the last token came from.
  fs::path CurrentDir() const;

 private:
  // One file (or one directive's text) being read.
  struct Source {
    std::string path;  // as shown in messages
    fs::path dir;      // folder of the file, for its #include "..." and BITMAP names
    std::string text;
    std::size_t pos = 0;
    int line = 1;
    bool atLineStart = true;
  };

  struct Macro {
    std::vector<Token> body;
    Location loc;
  };

  // The next token after macro expansion.
  Token Fetch();

  Token RawFromFiles();

  // Skips blanks, newlines and comments; handles a directive at the start of
  // a line. True when a directive was handled (the caller starts over, as
  // the current file may have changed).
  bool SkipSpaceAndDirectives(Source& s);

  // Skips spaces, tabs, comments and (unless stopAtNewline) newlines.
  static void SkipBlanks(Source& s, bool stopAtNewline);

  // Scans one token at s.pos (which is not a blank).
  static Token Scan(Source& s);

  static Token ScanNumber(Source& s, Token& t);

  // A quoted string: "" stands for one quote; \\ \" \n \t \r \a are escapes.
  static Token ScanString(Source& s, Token& t);

  // The tokens of the rest of the current line (a directive's operands).
  std::vector<Token> RestOfLine(Source& s);

  void Directive(Source& s);

  // The file an #include names, or nothing for a system header or a file
  // already read under #pragma once.
  std::optional<fs::path> Include(Source& s, const Location& loc);

  void Define(Source& s, const Location& loc);

  static bool SameBody(const std::vector<Token>& a, const std::vector<Token>& b);

  static std::string Canonical(const std::string& path);

  std::vector<fs::path> includeDirs_;
  std::vector<Source> files_;
  std::map<std::string, Macro> macros_;
  std::set<std::string> onceFiles_;
  std::deque<std::pair<Token, int>> pending_;
  std::optional<Token> peeked_;
  Location lastEnd_;
  Location lastToken_;
  fs::path lastDir_;
};

}  // namespace rc
