#include "host/tools/rc_lexer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace rc {

namespace {

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// System headers whose symbols are built in (VELUMBRA_RESOURCE_CONSTANTS).
const std::set<std::string> kSystemHeaders = {"windows.h", "winres.h", "winresrc.h", "afxres.h",
                                              "winuser.h", "winver.h",  "commctrl.h"};

constexpr int kMaxIncludeDepth = 32;
constexpr int kMaxMacroDepth = 64;
constexpr std::size_t kMaxStringLength = 4097;

}  // namespace

std::string Describe(const Location& loc) { return loc.file + ":" + std::to_string(loc.line); }

[[noreturn]] void Fail(const Location& loc, const std::string& message) { throw RcError(loc, message); }

std::string TokenName(const Token& t) {
  switch (t.kind) {
    case Tok::End: return "end of file";
    case Tok::Ident: return "'" + t.text + "'";
    case Tok::Number: return "number " + std::to_string(t.value);
    case Tok::String: return "string \"" + t.text + "\"";
    case Tok::Comma: return "','";
    case Tok::Pipe: return "'|'";
    case Tok::Plus: return "'+'";
    case Tok::Minus: return "'-'";
    case Tok::Tilde: return "'~'";
    case Tok::LParen: return "'('";
    case Tok::RParen: return "')'";
    case Tok::LBrace: return "'{'";
    case Tok::RBrace: return "'}'";
  }
  return "token";
}

// One file (or one directive's text) being read.

Lexer::Lexer(std::vector<fs::path> includeDirs) : includeDirs_(std::move(includeDirs)) {}

void Lexer::Open(const fs::path& path, const Location& from) {
  if (static_cast<int>(files_.size()) >= kMaxIncludeDepth) Fail(from, "#include nested too deeply");
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(from, "cannot open '" + path.string() + "'");
  std::ostringstream text;
  text << in.rdbuf();
  Source s;
  s.path = path.string();
  s.dir = path.parent_path();
  s.text = text.str();
  if (s.text.find('\0') != std::string::npos) Fail({s.path, 1}, "file contains a NUL character");
  files_.push_back(std::move(s));
}

const Token& Lexer::Peek() {
  if (!peeked_) peeked_ = Fetch();
  return *peeked_;
}

Token Lexer::Next() {
  Token t = Peek();
  peeked_.reset();
  return t;
}

fs::path Lexer::CurrentDir() const { return files_.empty() ? lastDir_ : files_.back().dir; }

Token Lexer::Fetch() {
  for (;;) {
    Token t;
    int depth = 0;
    if (!pending_.empty()) {
      t = pending_.front().first;
      depth = pending_.front().second;
      pending_.pop_front();
    } else {
      t = RawFromFiles();
    }
    if (t.kind != Tok::Ident) return t;
    auto it = macros_.find(t.text);
    if (it == macros_.end()) return t;
    if (depth >= kMaxMacroDepth) Fail(t.loc, "macro '" + t.text + "' expands recursively");
    const std::vector<Token>& body = it->second.body;
    for (auto b = body.rbegin(); b != body.rend(); ++b) {
      Token copy = *b;
      copy.loc = t.loc;  // report problems at the use
      pending_.emplace_front(copy, depth + 1);
    }
  }
}

Token Lexer::RawFromFiles() {
  while (!files_.empty()) {
    Source& s = files_.back();
    if (SkipSpaceAndDirectives(s)) continue;  // a directive may push or pop a file
    if (s.pos >= s.text.size()) {
      lastDir_ = s.dir;
      files_.pop_back();
      continue;
    }
    Token t = Scan(s);
    lastToken_ = t.loc;
    return t;
  }
  // The end of input is reported where the last token was.
  Token end;
  end.kind = Tok::End;
  end.loc = lastToken_.line > 0 ? lastToken_ : lastEnd_;
  return end;
}

bool Lexer::SkipSpaceAndDirectives(Source& s) {
  for (;;) {
    SkipBlanks(s, /*stopAtNewline=*/false);
    lastEnd_ = {s.path, s.line};
    if (s.pos < s.text.size() && s.text[s.pos] == '#' && s.atLineStart) {
      Directive(s);
      return true;
    }
    return false;
  }
}

void Lexer::SkipBlanks(Source& s, bool stopAtNewline) {
  while (s.pos < s.text.size()) {
    const char c = s.text[s.pos];
    if (c == '\n') {
      if (stopAtNewline) return;
      ++s.line;
      ++s.pos;
      s.atLineStart = true;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++s.pos;
    } else if (c == '\\' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '\n' && stopAtNewline) {
      s.pos += 2;  // line continuation inside a directive
      ++s.line;
    } else if (c == '/' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '/') {
      while (s.pos < s.text.size() && s.text[s.pos] != '\n') ++s.pos;
    } else if (c == '/' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '*') {
      const int startLine = s.line;
      const std::size_t end = s.text.find("*/", s.pos + 2);
      if (end == std::string::npos) Fail({s.path, startLine}, "unterminated comment");
      s.line += static_cast<int>(std::count(s.text.begin() + static_cast<std::ptrdiff_t>(s.pos),
                                            s.text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
      s.pos = end + 2;
    } else {
      return;
    }
  }
}

Token Lexer::Scan(Source& s) {
  Token t;
  t.loc = {s.path, s.line};
  s.atLineStart = false;
  const char c = s.text[s.pos];
  if (c == 'L' && s.pos + 1 < s.text.size() && s.text[s.pos + 1] == '"') {
    ++s.pos;  // L"..." is the same text here
    return ScanString(s, t);
  }
  if (IsIdentStart(c)) {
    const std::size_t start = s.pos;
    while (s.pos < s.text.size() && IsIdentChar(s.text[s.pos])) ++s.pos;
    t.kind = Tok::Ident;
    t.text = s.text.substr(start, s.pos - start);
    return t;
  }
  if (c >= '0' && c <= '9') return ScanNumber(s, t);
  if (c == '"') return ScanString(s, t);
  ++s.pos;
  switch (c) {
    case ',': t.kind = Tok::Comma; return t;
    case '|': t.kind = Tok::Pipe; return t;
    case '+': t.kind = Tok::Plus; return t;
    case '-': t.kind = Tok::Minus; return t;
    case '~': t.kind = Tok::Tilde; return t;
    case '(': t.kind = Tok::LParen; return t;
    case ')': t.kind = Tok::RParen; return t;
    case '{': t.kind = Tok::LBrace; return t;
    case '}': t.kind = Tok::RBrace; return t;
    default: break;
  }
  const unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x20 || u >= 0x7F) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", u);
    Fail(t.loc, std::string("unexpected byte ") + hex);
  }
  Fail(t.loc, std::string("unexpected character '") + c + "'");
}

Token Lexer::ScanNumber(Source& s, Token& t) {
  std::uint64_t v = 0;
  int base = 10;
  if (s.text[s.pos] == '0' && s.pos + 1 < s.text.size() && (s.text[s.pos + 1] == 'x' || s.text[s.pos + 1] == 'X')) {
    base = 16;
    s.pos += 2;
  }
  int digits = 0;
  while (s.pos < s.text.size()) {
    const char c = s.text[s.pos];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (v > 0xFFFFFFFFull) Fail(t.loc, "number does not fit in 32 bits");
    ++digits;
    ++s.pos;
  }
  if (digits == 0) Fail(t.loc, "hexadecimal number without digits");
  while (s.pos < s.text.size() && (s.text[s.pos] == 'L' || s.text[s.pos] == 'l' || s.text[s.pos] == 'U' ||
                                   s.text[s.pos] == 'u'))
    ++s.pos;
  if (s.pos < s.text.size() && IsIdentChar(s.text[s.pos]))
    Fail(t.loc, "invalid character '" + std::string(1, s.text[s.pos]) + "' in number");
  t.kind = Tok::Number;
  t.value = static_cast<std::int64_t>(v);
  return t;
}

Token Lexer::ScanString(Source& s, Token& t) {
  ++s.pos;  // opening quote
  std::string out;
  for (;;) {
    if (s.pos >= s.text.size() || s.text[s.pos] == '\n') Fail(t.loc, "unterminated string");
    const char c = s.text[s.pos++];
    if (c == '"') {
      if (s.pos < s.text.size() && s.text[s.pos] == '"') {
        out += '"';
        ++s.pos;
        continue;
      }
      break;
    }
    if (c == '\\') {
      if (s.pos >= s.text.size()) Fail(t.loc, "unterminated string");
      const char e = s.text[s.pos++];
      switch (e) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case '0': Fail(t.loc, "NUL characters in strings are not supported");
        default: Fail(t.loc, std::string("unknown escape sequence '\\") + e + "'");
      }
      continue;
    }
    out += c;
    if (out.size() > kMaxStringLength) Fail(t.loc, "string longer than 4097 characters");
  }
  t.kind = Tok::String;
  t.text = std::move(out);
  return t;
}

std::vector<Token> Lexer::RestOfLine(Source& s) {
  std::vector<Token> out;
  for (;;) {
    SkipBlanks(s, /*stopAtNewline=*/true);
    if (s.pos >= s.text.size() || s.text[s.pos] == '\n') break;
    out.push_back(Scan(s));
  }
  return out;
}

void Lexer::Directive(Source& s) {
  const Location loc{s.path, s.line};
  ++s.pos;  // '#'
  SkipBlanks(s, /*stopAtNewline=*/true);
  std::string name;
  while (s.pos < s.text.size() && IsIdentChar(s.text[s.pos])) name += s.text[s.pos++];
  std::optional<fs::path> include;
  if (name == "include") {
    include = Include(s, loc);
  } else if (name == "define") {
    Define(s, loc);
  } else if (name == "undef") {
    std::vector<Token> args = RestOfLine(s);
    if (args.size() != 1 || args[0].kind != Tok::Ident) Fail(loc, "#undef needs one name");
    macros_.erase(args[0].text);
  } else if (name == "pragma") {
    std::vector<Token> args = RestOfLine(s);
    if (!args.empty() && args[0].kind == Tok::Ident && args[0].text == "once") onceFiles_.insert(Canonical(s.path));
    // other pragmas (code_page, ...) do not change what is compiled here
  } else if (name.empty()) {
    Fail(loc, "'#' without a directive");
  } else {
    Fail(loc, "unsupported preprocessor directive #" + name);
  }
  // the directive ends its line; the next token starts a new one
  SkipBlanks(s, /*stopAtNewline=*/true);
  s.atLineStart = true;
  // last: opening a file invalidates `s`
  if (include) Open(*include, loc);
}

std::optional<fs::path> Lexer::Include(Source& s, const Location& loc) {
  SkipBlanks(s, /*stopAtNewline=*/true);
  if (s.pos >= s.text.size()) Fail(loc, "#include needs a file name");
  const char open = s.text[s.pos];
  if (open != '"' && open != '<') Fail(loc, "#include needs \"file\" or <file>");
  const char close = open == '"' ? '"' : '>';
  const std::size_t end = s.text.find(close, s.pos + 1);
  const std::size_t eol = s.text.find('\n', s.pos);
  if (end == std::string::npos || (eol != std::string::npos && end > eol)) Fail(loc, "unterminated #include name");
  const std::string file = s.text.substr(s.pos + 1, end - s.pos - 1);
  s.pos = end + 1;
  if (!RestOfLine(s).empty()) Fail(loc, "unexpected text after #include");
  if (open == '<') {
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!kSystemHeaders.count(lower)) Fail(loc, "unknown system header <" + file + ">");
    return std::nullopt;  // its symbols are built in
  }
  std::vector<fs::path> candidates{s.dir / file};
  for (const fs::path& d : includeDirs_) candidates.push_back(d / file);
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) {
      if (onceFiles_.count(Canonical(p.string()))) return std::nullopt;
      return p;
    }
  }
  Fail(loc, "cannot find include file \"" + file + "\"");
}

void Lexer::Define(Source& s, const Location& loc) {
  SkipBlanks(s, /*stopAtNewline=*/true);
  std::string name;
  while (s.pos < s.text.size() && IsIdentChar(s.text[s.pos])) name += s.text[s.pos++];
  if (name.empty() || !IsIdentStart(name[0])) Fail(loc, "#define needs a name");
  if (s.pos < s.text.size() && s.text[s.pos] == '(') Fail(loc, "function-like macro '" + name + "' is not supported");
  Macro m;
  m.body = RestOfLine(s);
  m.loc = loc;
  auto it = macros_.find(name);
  if (it != macros_.end() && !SameBody(it->second.body, m.body))
    Fail(loc, "'" + name + "' redefined (previous definition at " + Describe(it->second.loc) + ")");
  macros_[name] = std::move(m);
}

bool Lexer::SameBody(const std::vector<Token>& a, const std::vector<Token>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].kind != b[i].kind || a[i].text != b[i].text || a[i].value != b[i].value) return false;
  return true;
}

std::string Lexer::Canonical(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

}  // namespace rc
