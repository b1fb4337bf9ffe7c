#include "host/app/base/quoting.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velumbra::Quoted;

TEST(Quoted, EscapesLikeAJsonStringAndShowsStrayBytes) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", R"("")"},
      {"stars.png", R"("stars.png")"},
      {"a \"b\" \\c", R"("a \"b\" \\c")"},
      {"line\nbreak\ttab", R"("line\nbreak\ttab")"},
      {std::string("nul\0here", 8), R"("nul\u0000here")"},
      {"\x7f", R"("\u007F")"},
      {"caf\xc3\xa9 \xe2\x98\x85 \xf0\x9f\x8c\x9f", "\"caf\xc3\xa9 \xe2\x98\x85 \xf0\x9f\x8c\x9f\""},  // é ★ 🌟 kept
      {"\xff", R"("\xFF")"},
      {"a\xc3", R"("a\xC3")"},                  // a sequence cut short at the end
      {"\xc3(", R"("\xC3(")"},                  // a lead byte without its continuation
      {"\x80x", R"("\x80x")"},                  // a stray continuation byte
      {"\xc0\xaf", R"("\xC0\xAF")"},            // an overlong encoding of '/'
      {"\xed\xa0\x80", R"("\xED\xA0\x80")"},    // a UTF-16 surrogate
      {"\xf4\x90\x80\x80", R"("\xF4\x90\x80\x80")"},  // beyond U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(Quoted(c.in), c.out) << c.out;
}

TEST(Quoted, CutsALongValueAndSaysHowLongItWas) {
  const std::string huge(20'000'000, 'x');
  const std::string q = Quoted(huge);
  EXPECT_EQ(q, "\"" + std::string(200, 'x') + "\"... (20000000 bytes)");
  // Characters are counted, not bytes: a cut never splits a character.
  std::string stars;
  for (int i = 0; i < 10; ++i) stars += "\xe2\x98\x85";
  EXPECT_EQ(Quoted(stars, 3), "\"\xe2\x98\x85\xe2\x98\x85\xe2\x98\x85\"... (30 bytes)");
  EXPECT_EQ(Quoted("abc", 3), R"("abc")");
}

TEST(QuotedIfNeeded, PlainTextAsItIsAnythingElseQuoted) {
  using velumbra::QuotedIfNeeded;
  EXPECT_EQ(QuotedIfNeeded("seed=7"), "seed=7");
  EXPECT_EQ(QuotedIfNeeded("caf\xc3\xa9 [1, 0.9]"), "caf\xc3\xa9 [1, 0.9]");
  EXPECT_EQ(QuotedIfNeeded("camera=\xff"), R"("camera=\xFF")");
  EXPECT_EQ(QuotedIfNeeded("a\"b"), R"("a\"b")");
  EXPECT_EQ(QuotedIfNeeded("tab\there"), R"("tab\there")");
  EXPECT_EQ(QuotedIfNeeded(std::string(201, 'x')), "\"" + std::string(200, 'x') + "\"... (201 bytes)");
  EXPECT_EQ(QuotedIfNeeded(std::string(200, 'x')), std::string(200, 'x'));
}

TEST(FirstNonUtf8Byte, FindsTheFirstStrayByte) {
  using velumbra::FirstNonUtf8Byte;
  EXPECT_EQ(FirstNonUtf8Byte(""), std::string::npos);
  EXPECT_EQ(FirstNonUtf8Byte("caf\xc3\xa9 \xf0\x9f\x8c\x9f"), std::string::npos);
  EXPECT_EQ(FirstNonUtf8Byte("ab\xff"), 2u);
  EXPECT_EQ(FirstNonUtf8Byte("\xc3\xa9\xc0\xaf"), 2u);     // overlong after a good character
  EXPECT_EQ(FirstNonUtf8Byte("x\xed\xa0\x80"), 1u);        // a surrogate
  EXPECT_EQ(FirstNonUtf8Byte("x\xe2\x98"), 1u);            // cut short
}

TEST(PrintableMessage, KeepsLinesEscapesTheRestAndCuts) {
  using velumbra::PrintableMessage;
  EXPECT_EQ(PrintableMessage("line one\nline two"), "line one\nline two");
  EXPECT_EQ(PrintableMessage(std::string("a\0b\x1b[2J\xff", 8)), R"(a\u0000b\u001B[2J\xFF)");
  const std::string huge = "--depth: " + std::string(100000, 'x') + " not in {8, 16}";
  const std::string cut = PrintableMessage(huge);
  EXPECT_EQ(cut, huge.substr(0, 2000) + "... (" + std::to_string(huge.size()) + " bytes)");
}

}  // namespace
