#include "host/tools/rc_parser.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>
#include <iterator>
#include <set>

#include "host/platform/resource_constants.h"

namespace rc {

namespace {

// The symbols every script may use: those of <windows.h>.
const std::map<std::string, std::uint32_t>& BuiltinConstants() {
  static const std::map<std::string, std::uint32_t> table = [] {
    std::map<std::string, std::uint32_t> m;
#define VELUMBRA_ADD_CONSTANT(name, value) m[#name] = value;
    VELUMBRA_RESOURCE_CONSTANTS(VELUMBRA_ADD_CONSTANT)
#undef VELUMBRA_ADD_CONSTANT
    return m;
  }();
  return table;
}

// Memory options that old scripts write after a resource type; they mean
// nothing on this platform.
const std::set<std::string> kMemoryOptions = {"DISCARDABLE", "PRELOAD", "LOADONCALL", "MOVEABLE",
                                              "FIXED",       "PURE",    "IMPURE",     "SHARED",
                                              "NONSHARED"};

// The window class and default style of a control statement.
struct ControlKind {
  const char* className;
  std::uint32_t defaultStyle;
};

const std::map<std::string, ControlKind>& TextControls() {
  static const std::map<std::string, ControlKind> table = {
      {"LTEXT", {"STATIC", SS_LEFT | WS_GROUP}},
      {"RTEXT", {"STATIC", SS_RIGHT | WS_GROUP}},
      {"CTEXT", {"STATIC", SS_CENTER | WS_GROUP}},
      {"GROUPBOX", {"BUTTON", BS_GROUPBOX}},
      {"AUTOCHECKBOX", {"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP}},
      {"CHECKBOX", {"BUTTON", BS_CHECKBOX | WS_TABSTOP}},
      {"AUTORADIOBUTTON", {"BUTTON", BS_AUTORADIOBUTTON}},
      {"RADIOBUTTON", {"BUTTON", BS_RADIOBUTTON}},
      {"PUSHBUTTON", {"BUTTON", BS_PUSHBUTTON | WS_TABSTOP}},
      {"DEFPUSHBUTTON", {"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP}},
  };
  return table;
}

// System window classes are case-insensitive; they are stored in upper case.
std::string NormaliseClass(const std::string& name) {
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  static const std::set<std::string> system = {"BUTTON", "STATIC", "EDIT", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
  return system.count(upper) ? upper : name;
}

}  // namespace

Parser::Parser(Lexer& lex) : lex_(lex) {}

Resources Parser::Parse() {
  for (;;) {
    const Token& t = lex_.Peek();
    if (t.kind == Tok::End) break;
    if (IsWord(t, "LANGUAGE")) {
      ParseLanguage();
    } else if (IsWord(t, "STRINGTABLE")) {
      ParseStringTable();
    } else {
      ParseResource();
    }
  }
  return std::move(res_);
}

bool Parser::IsWord(const Token& t, const char* word) { return t.kind == Tok::Ident && t.text == word; }

Token Parser::Expect(Tok kind, const char* what) {
  Token t = lex_.Next();
  if (t.kind != kind) Fail(t.loc, std::string("expected ") + what + ", found " + TokenName(t));
  return t;
}

void Parser::ExpectComma() { Expect(Tok::Comma, "','"); }

bool Parser::AcceptComma() {
  if (lex_.Peek().kind != Tok::Comma) return false;
  lex_.Next();
  return true;
}

Location Parser::ExpectBegin() {
  Token t = lex_.Next();
  if (!(IsWord(t, "BEGIN") || t.kind == Tok::LBrace)) Fail(t.loc, "expected BEGIN, found " + TokenName(t));
  return t.loc;
}

bool Parser::AcceptEnd(const Location& begin) {
  const Token& t = lex_.Peek();
  if (IsWord(t, "END") || t.kind == Tok::RBrace) {
    lex_.Next();
    return true;
  }
  if (t.kind == Tok::End) Fail(t.loc, "missing END of the block opened at " + Describe(begin));
  return false;
}

void Parser::SkipMemoryOptions() {
  while (lex_.Peek().kind == Tok::Ident && kMemoryOptions.count(lex_.Peek().text)) lex_.Next();
}

std::int64_t Parser::Primary() {
  Token t = lex_.Next();
  switch (t.kind) {
    case Tok::Number: return t.value;
    case Tok::Minus: return -Primary();
    case Tok::Plus: return Primary();
    case Tok::Tilde: return static_cast<std::int64_t>(~static_cast<std::uint32_t>(Primary()));
    case Tok::LParen: {
      const std::int64_t v = Expression();
      Expect(Tok::RParen, "')'");
      return v;
    }
    case Tok::Ident: {
      auto it = BuiltinConstants().find(t.text);
      if (it != BuiltinConstants().end()) return it->second;
      Fail(t.loc, "undefined symbol '" + t.text + "'");
    }
    default: Fail(t.loc, "expected a number, found " + TokenName(t));
  }
}

std::int64_t Parser::Additive() {
  std::int64_t v = Primary();
  for (;;) {
    const Tok k = lex_.Peek().kind;
    if (k != Tok::Plus && k != Tok::Minus) return v;
    lex_.Next();
    const std::int64_t r = Primary();
    v = k == Tok::Plus ? v + r : v - r;
    // keep the arithmetic in 32 bits, as a resource compiler does
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
}

std::int64_t Parser::Expression() {
  std::int64_t v = Additive();
  while (lex_.Peek().kind == Tok::Pipe) {
    lex_.Next();
    v = static_cast<std::int64_t>(static_cast<std::uint32_t>(v) | static_cast<std::uint32_t>(Additive()));
  }
  return v;
}

std::int64_t Parser::Bounded(std::int64_t lo, std::int64_t hi, const char* what) {
  const Location loc = lex_.Peek().loc;
  const std::int64_t v = Expression();
  if (v < lo || v > hi)
    Fail(loc, std::string(what) + " " + std::to_string(v) + " is outside " + std::to_string(lo) + ".." +
                  std::to_string(hi));
  return v;
}

std::uint32_t Parser::Word32() { return static_cast<std::uint32_t>(Expression()); }

Style Parser::ParseStyle() {
  Style s;
  for (;;) {
    if (IsWord(lex_.Peek(), "NOT")) {
      lex_.Next();
      s.clear |= static_cast<std::uint32_t>(Additive());
    } else {
      s.set |= static_cast<std::uint32_t>(Additive());
    }
    if (lex_.Peek().kind != Tok::Pipe) return s;
    lex_.Next();
  }
}

void Parser::ParseLanguage() {
  lex_.Next();
  Bounded(0, 0x3FF, "language");
  ExpectComma();
  Bounded(0, 0x3F, "sub-language");
}

void Parser::ParseStringTable() {
  lex_.Next();
  SkipMemoryOptions();
  while (IsWord(lex_.Peek(), "LANGUAGE")) ParseLanguage();
  const Location begin = ExpectBegin();
  while (!AcceptEnd(begin)) {
    const Location loc = lex_.Peek().loc;
    const auto id = static_cast<std::uint32_t>(Bounded(0, 0xFFFF, "string ID"));
    AcceptComma();
    Token text = Expect(Tok::String, "a string");
    auto it = res_.strings.find(id);
    if (it != res_.strings.end())
      Fail(loc, "string " + std::to_string(id) + " defined twice (first at " + Describe(it->second.loc) + ")");
    res_.strings[id] = {id, std::move(text.text), loc};
  }
}

void Parser::ParseResource() {
  const Location loc = lex_.Peek().loc;
  const std::int64_t id = Expression();
  Token type = lex_.Next();
  if (type.kind != Tok::Ident) Fail(type.loc, "expected a resource type after the ID, found " + TokenName(type));
  if (id < 1 || id > 0xFFFF) Fail(loc, "resource ID " + std::to_string(id) + " is outside 1..65535");
  const int rid = static_cast<int>(id);
  if (type.text == "DIALOGEX") {
    ParseDialog(rid, loc);
  } else if (type.text == "BITMAP") {
    ParseBitmap(rid, loc);
  } else if (type.text == "VERSIONINFO") {
    ParseVersion(rid, loc);
  } else if (type.text == "DIALOG") {
    Fail(type.loc, "DIALOG templates are not supported; write DIALOGEX");
  } else {
    Fail(type.loc, "unsupported resource type '" + type.text + "'");
  }
}

void Parser::ParseDialog(int id, const Location& loc) {
  if (res_.dialogs.count(id))
    Fail(loc, "dialog " + std::to_string(id) + " defined twice (first at " + Describe(res_.dialogs[id].loc) + ")");
  DialogEntry d;
  d.id = id;
  d.loc = loc;
  SkipMemoryOptions();
  d.x = static_cast<int>(Bounded(-32768, 32767, "x"));
  ExpectComma();
  d.y = static_cast<int>(Bounded(-32768, 32767, "y"));
  ExpectComma();
  d.cx = static_cast<int>(Bounded(0, 32767, "width"));
  ExpectComma();
  d.cy = static_cast<int>(Bounded(0, 32767, "height"));
  if (AcceptComma()) Word32();  // help ID
  bool hasStyle = false;
  for (;;) {
    const Token& t = lex_.Peek();
    if (IsWord(t, "STYLE")) {
      lex_.Next();
      d.style = ParseStyle().Apply(0);
      hasStyle = true;
    } else if (IsWord(t, "EXSTYLE")) {
      lex_.Next();
      d.exStyle = ParseStyle().Apply(0);
    } else if (IsWord(t, "CAPTION")) {
      lex_.Next();
      d.caption = Expect(Tok::String, "a caption string").text;
    } else if (IsWord(t, "FONT")) {
      lex_.Next();
      d.fontPointSize = static_cast<int>(Bounded(1, 72, "font size"));
      ExpectComma();
      d.fontName = Expect(Tok::String, "a font name").text;
      // weight, italic, character set
      for (int i = 0; i < 3 && AcceptComma(); ++i) Word32();
    } else if (IsWord(t, "LANGUAGE")) {
      ParseLanguage();
    } else {
      break;
    }
  }
  if (!hasStyle) d.style = WS_POPUP | WS_BORDER | WS_SYSMENU;  // a resource compiler's default
  const Location begin = ExpectBegin();
  while (!AcceptEnd(begin)) d.controls.push_back(ParseControl(d));
  res_.dialogs[id] = std::move(d);
}

ControlEntry Parser::ParseControl(const DialogEntry& dialog) {
  Token kw = lex_.Next();
  if (kw.kind != Tok::Ident) Fail(kw.loc, "expected a control statement, found " + TokenName(kw));
  ControlEntry c;
  c.loc = kw.loc;
  if (kw.text == "CONTROL") {
    ParseControlText(c);
    ExpectComma();
    c.id = ControlId();
    ExpectComma();
    Token cls = lex_.Next();
    if (cls.kind != Tok::String && cls.kind != Tok::Ident)
      Fail(cls.loc, "expected a window class, found " + TokenName(cls));
    if (cls.text.empty()) Fail(cls.loc, "empty window class name");
    c.className = NormaliseClass(cls.text);
    ExpectComma();
    c.style = ParseStyle().Apply(WS_CHILD | WS_VISIBLE);
    ExpectComma();
    ParseRect(c);
    if (AcceptComma()) {
      c.exStyle = ParseStyle().Apply(0);
      if (AcceptComma()) Word32();  // help ID
    }
  } else if (kw.text == "EDITTEXT") {
    c.className = "EDIT";
    c.id = ControlId();
    ExpectComma();
    ParseRect(c);
    ParseOptionalStyles(c, ES_LEFT | WS_BORDER | WS_TABSTOP);
  } else if (auto it = TextControls().find(kw.text); it != TextControls().end()) {
    c.className = it->second.className;
    ParseControlText(c);
    ExpectComma();
    c.id = ControlId();
    ExpectComma();
    ParseRect(c);
    ParseOptionalStyles(c, it->second.defaultStyle);
  } else {
    Fail(kw.loc, "unsupported control statement '" + kw.text + "'");
  }
  if (c.id != -1) {
    for (const ControlEntry& other : dialog.controls)
      if (other.id == c.id)
        Fail(c.loc, "control ID " + std::to_string(c.id) + " used twice in dialog " + std::to_string(dialog.id) +
                        " (first at " + Describe(other.loc) + ")");
  }
  return c;
}

void Parser::ParseControlText(ControlEntry& c) {
  if (lex_.Peek().kind == Tok::String) {
    c.text = lex_.Next().text;
  } else {
    c.textResourceId = static_cast<int>(Bounded(1, 0xFFFF, "resource ID"));
  }
}

int Parser::ControlId() { return static_cast<int>(Bounded(-1, 0xFFFF, "control ID")); }

void Parser::ParseRect(ControlEntry& c) {
  c.x = static_cast<int>(Bounded(-32768, 32767, "x"));
  ExpectComma();
  c.y = static_cast<int>(Bounded(-32768, 32767, "y"));
  ExpectComma();
  c.cx = static_cast<int>(Bounded(0, 32767, "width"));
  ExpectComma();
  c.cy = static_cast<int>(Bounded(0, 32767, "height"));
}

void Parser::ParseOptionalStyles(ControlEntry& c, std::uint32_t defaults) {
  Style style;
  if (AcceptComma()) {
    style = ParseStyle();
    if (AcceptComma()) {
      c.exStyle = ParseStyle().Apply(0);
      if (AcceptComma()) Word32();  // help ID
    }
  }
  c.style = style.Apply(WS_CHILD | WS_VISIBLE | defaults);
}

void Parser::ParseBitmap(int id, const Location& loc) {
  if (res_.bitmaps.count(id))
    Fail(loc, "bitmap " + std::to_string(id) + " defined twice (first at " + Describe(res_.bitmaps[id].loc) + ")");
  SkipMemoryOptions();
  Token name = Expect(Tok::String, "a bitmap file name");
  const fs::path path = lex_.CurrentDir() / name.text;
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(name.loc, "cannot open bitmap '" + path.string() + "'");
  std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  BitmapEntry b;
  b.id = id;
  b.loc = loc;
  b.dib = CheckBmp(file, name.text, name.loc);
  res_.bitmaps[id] = std::move(b);
}

std::vector<unsigned char> Parser::CheckBmp(const std::vector<unsigned char>& f, const std::string& name, const Location& loc) {
  auto u16 = [&](std::size_t at) { return static_cast<std::uint32_t>(f[at] | (f[at + 1] << 8)); };
  auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
  const std::string what = "bitmap '" + name + "': ";
  if (f.size() < 14 + 40 || f[0] != 'B' || f[1] != 'M') Fail(loc, what + "not a BMP file");
  const std::uint32_t offBits = u32(10);
  const std::uint32_t headerSize = u32(14);
  const auto width = static_cast<std::int32_t>(u32(18));
  const auto height = static_cast<std::int32_t>(u32(22));
  const std::uint32_t planes = u16(26);
  const std::uint32_t bpp = u16(28);
  const std::uint32_t compression = u32(30);
  const std::uint32_t colorsUsed = u32(46);
  if (headerSize < 40 || 14 + static_cast<std::uint64_t>(headerSize) > f.size())
    Fail(loc, what + "unsupported info header");
  if (width <= 0 || height == 0 || height == INT32_MIN || planes != 1)
    Fail(loc, what + "invalid dimensions or planes");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
    Fail(loc, what + std::to_string(bpp) + " bits per pixel is not supported");
  if (compression != 0) Fail(loc, what + "compressed bitmaps are not supported");
  const std::uint64_t maxColors = bpp <= 8 ? (1ull << bpp) : 0;
  if (colorsUsed > maxColors && bpp <= 8) Fail(loc, what + "palette larger than the pixel depth allows");
  const std::uint64_t paletteEntries = bpp <= 8 ? (colorsUsed ? colorsUsed : maxColors) : colorsUsed;
  const std::uint64_t paletteEnd = 14 + static_cast<std::uint64_t>(headerSize) + paletteEntries * 4;
  const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bpp + 31) / 32) * 4;
  const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
  if (offBits < paletteEnd || offBits + stride * rows > f.size())
    Fail(loc, what + "file is shorter than its header says");
  return std::vector<unsigned char>(f.begin() + 14, f.end());
}

void Parser::ParseVersion(int id, const Location& loc) {
  if (id != 1) Fail(loc, "the version record must have ID 1 (VS_VERSION_INFO)");
  if (res_.version) Fail(loc, "version record defined twice (first at " + Describe(res_.versionLoc) + ")");
  VersionEntry v;
  for (;;) {
    const Token& t = lex_.Peek();
    if (IsWord(t, "FILEVERSION") || IsWord(t, "PRODUCTVERSION")) {
      const bool file = t.text == "FILEVERSION";
      lex_.Next();
      std::uint16_t* parts = file ? v.fileVersion : v.productVersion;
      int n = 0;
      do {
        if (n == 4) Fail(lex_.Peek().loc, "a version has at most four parts");
        parts[n++] = static_cast<std::uint16_t>(Bounded(0, 0xFFFF, "version part"));
      } while (AcceptComma());
    } else if (IsWord(t, "FILEFLAGSMASK")) {
      lex_.Next();
      v.fileFlagsMask = Word32();
    } else if (IsWord(t, "FILEFLAGS")) {
      lex_.Next();
      v.fileFlags = Word32();
    } else if (IsWord(t, "FILEOS")) {
      lex_.Next();
      v.fileOS = Word32();
    } else if (IsWord(t, "FILETYPE")) {
      lex_.Next();
      v.fileType = Word32();
    } else if (IsWord(t, "FILESUBTYPE")) {
      lex_.Next();
      v.fileSubtype = Word32();
    } else {
      break;
    }
  }
  const Location begin = ExpectBegin();
  bool stringBlockSeen = false;
  while (!AcceptEnd(begin)) {
    Token kw = lex_.Next();
    if (!IsWord(kw, "BLOCK")) Fail(kw.loc, "expected BLOCK, found " + TokenName(kw));
    Token name = Expect(Tok::String, "a block name");
    if (name.text == "StringFileInfo") {
      const Location inner = ExpectBegin();
      while (!AcceptEnd(inner)) {
        Token block = lex_.Next();
        if (!IsWord(block, "BLOCK")) Fail(block.loc, "expected BLOCK, found " + TokenName(block));
        Token lang = Expect(Tok::String, "a language block name");
        if (stringBlockSeen) Fail(lang.loc, "only one language block is supported");
        stringBlockSeen = true;
        ParseLanguageBlockName(lang, v);
        ParseStringValues(v);
      }
    } else if (name.text == "VarFileInfo") {
      const Location inner = ExpectBegin();
      while (!AcceptEnd(inner)) {
        Token value = lex_.Next();
        if (!IsWord(value, "VALUE")) Fail(value.loc, "expected VALUE, found " + TokenName(value));
        Expect(Tok::String, "a value name");
        while (AcceptComma()) Bounded(0, 0xFFFF, "translation value");
      }
    } else {
      Fail(name.loc, "unknown version block \"" + name.text + "\"");
    }
  }
  res_.version = std::move(v);
  res_.versionLoc = loc;
}

void Parser::ParseLanguageBlockName(const Token& lang, VersionEntry& v) {
  const std::string& s = lang.text;
  if (s.size() != 8 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    Fail(lang.loc, "language block name must be eight hexadecimal digits (language, code page)");
  v.language = static_cast<std::uint16_t>(std::stoul(s.substr(0, 4), nullptr, 16));
  v.codePage = static_cast<std::uint16_t>(std::stoul(s.substr(4, 4), nullptr, 16));
}

void Parser::ParseStringValues(VersionEntry& v) {
  const Location begin = ExpectBegin();
  while (!AcceptEnd(begin)) {
    Token kw = lex_.Next();
    if (!IsWord(kw, "VALUE")) Fail(kw.loc, "expected VALUE, found " + TokenName(kw));
    Token key = Expect(Tok::String, "a value name");
    ExpectComma();
    Token value = Expect(Tok::String, "a string value");
    for (const auto& [k, _] : v.strings)
      if (k == key.text) Fail(key.loc, "version value \"" + key.text + "\" given twice");
    v.strings.emplace_back(key.text, value.text);
  }
}

}  // namespace rc
