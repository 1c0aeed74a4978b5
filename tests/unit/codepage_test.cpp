// Code-page conversion, held to the same results in both builds: the
// windows build runs these against the system's tables, the native build
// against iconv.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using platform::kDisplayCodePage;
using platform::kUtf8;

namespace {

// The converted text, or "FAIL"; checks the count and that nothing was
// written past the capacity.
std::string convert(platform::CodePage from, const std::string& in, size_t capacity = 64) {
  char out[80];
  memset(out, '#', sizeof out);
  size_t n = platform::toDisplayCodePage(from, in.c_str(), out, capacity);
  EXPECT_EQ('#', out[capacity]) << "wrote past the capacity";
  if (n == 0) {
    if (capacity > 0) {
      EXPECT_EQ('\0', out[0]);
    }
    return "FAIL";
  }
  EXPECT_EQ(strlen(out) + 1, n);
  return out;
}

std::string utf8(const std::string& in, size_t capacity = 64) { return convert(kUtf8, in, capacity); }
std::string sjis(const std::string& in, size_t capacity = 64) {
  return convert(kDisplayCodePage, in, capacity);
}

}  // namespace

TEST(CodePage, Utf8ToShiftJis) {
  EXPECT_EQ("", utf8(""));
  EXPECT_EQ("plain ASCII ~\\", utf8("plain ASCII ~\\"));
  EXPECT_EQ("\x82\xA0", utf8("\xE3\x81\x82"));
  EXPECT_EQ("こんにちは", utf8("\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"));
  EXPECT_EQ("\x81\x60", utf8("\xEF\xBD\x9E"));      // FULLWIDTH TILDE
  EXPECT_EQ("\x81\xE0", utf8("\xE2\x89\x92"));      // U+2252, not its NEC duplicate
  EXPECT_EQ("\xFA\x5C", utf8("\xE7\xBA\x8A"));      // U+7E8A, the IBM code
  EXPECT_EQ("\xF0\x40", utf8("\xEE\x80\x80"));      // private use: user-defined area
  EXPECT_EQ("\x80", utf8("\xC2\x80"));
}

TEST(CodePage, MissingCharactersBecomeTheDefaultChar) {
  // No best-fit substitutes: YEN SIGN is not '\', WAVE DASH not FULLWIDTH TILDE.
  EXPECT_EQ("?", utf8("\xC2\xA5"));
  EXPECT_EQ("?", utf8("\xE3\x80\x9C"));
  EXPECT_EQ("?", utf8("\xE2\x88\x92"));
  EXPECT_EQ("a?b", utf8("a\xE2\x82\xAC" "b"));  // EURO SIGN
  // Outside the BMP: each half of the surrogate pair on its own.
  EXPECT_EQ("??b", utf8("\xF0\x9F\x98\x80" "b"));
}

TEST(CodePage, InvalidUtf8) {
  EXPECT_EQ("a?b", utf8("a\x80" "b"));
  EXPECT_EQ("a?b", utf8("a\xE3\x81" "b"));
  EXPECT_EQ("a?", utf8("a\xE3\x81"));
  EXPECT_EQ("?", utf8("\xE3"));      // cut short by the end: the NUL still ends it
  EXPECT_EQ("?", utf8("\xF0\x9F"));
  EXPECT_EQ("??b", utf8("\xC0\xAF" "b"));          // overlong
  EXPECT_EQ("??b", utf8("\xED\xA0\x80" "b"));      // a surrogate
  EXPECT_EQ("???b", utf8("\xF4\x90\x80\x80" "b"));  // beyond U+10FFFF
  EXPECT_EQ("??b", utf8("\xF5\x80" "b"));
}

TEST(CodePage, ShiftJisThroughTheSystemTable) {
  EXPECT_EQ("こんにちは ｱｲ", sjis("こんにちは ｱｲ"));
  EXPECT_EQ("\x81\x5F\x81\x60", sjis("\x81\x5F\x81\x60"));
  // Duplicate codes come back as the one the table prefers.
  EXPECT_EQ("\xFA\x5C", sjis("\xED\x40"));
  EXPECT_EQ("\x81\xE0", sjis("\x87\x90"));
  EXPECT_EQ("\xF9\xFC", sjis("\xF9\xFC"));
  // Single bytes without characters survive.
  EXPECT_EQ("\x80\xA0\xFD\xFE\xFF", sjis("\x80\xA0\xFD\xFE\xFF"));
  // Codes the table lacks read as KATAKANA MIDDLE DOT; a lead byte takes
  // any following byte but the NUL as its trail.
  EXPECT_EQ("\x81\x45", sjis("\xFC\x4C"));
  EXPECT_EQ("\x81\x45" "b", sjis("\x82\x20" "b"));
  EXPECT_EQ("a\x81\x45", sjis("a\x82"));
}

TEST(CodePage, OtherCodePagesIntoShiftJis) {
  EXPECT_EQ("日本語", convert(20932, "\xC6\xFC\xCB\xDC\xB8\xEC"));  // EUC-JP
  EXPECT_EQ("caf?", convert(28591, "caf\xE9"));  // ISO-8859-1: no é in 932
  EXPECT_EQ("中文", convert(936, "\xD6\xD0\xCE\xC4"));
  EXPECT_EQ("中文", convert(950, "\xA4\xA4\xA4\xE5"));
  EXPECT_EQ("日本語", convert(949, "\xEC\xED\xDC\xE2\xE5\xDE"));
  EXPECT_EQ("Привет", convert(20866, "\xF0\xD2\xC9\xD7\xC5\xD4"));  // KOI8-R
  // Greek is in 932, its accented letters are not.
  EXPECT_EQ("Ελλ?δα", convert(28597, "\xC5\xEB\xEB\xDC\xE4\xE1"));
  EXPECT_EQ("a?b", convert(1252, "a\x80" "b"));  // EURO SIGN
  EXPECT_EQ("plain", convert(20127, "plain"));
  EXPECT_EQ("\x82\xA0", convert(kUtf8, "\xE3\x81\x82"));
}

TEST(CodePage, ShiftJisWhateverTheSystemCodePage) {
  // Neither CP_ACP (0) nor a code page the system lacks reads as anything
  // but Shift-JIS.
  EXPECT_EQ("\x82\xA0", convert(0, "\x82\xA0"));
  EXPECT_EQ("\x82\xA0", convert(12345, "\x82\xA0"));
  EXPECT_EQ("\x81\x5F", convert(932, "\x81\x5F"));
  EXPECT_EQ("\x81\x45", convert(3, "\xFC\x4C"));
}

TEST(CodePage, OutputBounded) {
  // Both steps get capacity - 1: "abc" and its NUL need a capacity of 5.
  EXPECT_EQ("abc", utf8("abc", 5));
  EXPECT_EQ("FAIL", utf8("abc", 4));
  EXPECT_EQ("\x82\xA0", utf8("\xE3\x81\x82", 4));
  EXPECT_EQ("FAIL", utf8("\xE3\x81\x82", 3));
  EXPECT_EQ("\x81\x45", sjis("\x82", 4));
  EXPECT_EQ("FAIL", sjis("\x82", 3));
  // Two UTF-16 units for one character outside the BMP.
  EXPECT_EQ("??", utf8("\xF0\x9F\x98\x80", 4));
  EXPECT_EQ("FAIL", utf8("\xF0\x9F\x98\x80", 3));
  EXPECT_EQ("FAIL", utf8("", 1));
  EXPECT_EQ("FAIL", utf8(std::string(100, 'x'), 64));
  // The same for the other code pages: five units for "caf\xE9" and its NUL,
  // five bytes for 日本 and its NUL.
  EXPECT_EQ("caf?", convert(28591, "caf\xE9", 6));
  EXPECT_EQ("FAIL", convert(28591, "caf\xE9", 5));
  EXPECT_EQ("日本", convert(20932, "\xC6\xFC\xCB\xDC", 6));
  EXPECT_EQ("FAIL", convert(20932, "\xC6\xFC\xCB\xDC", 5));

  char out[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(0u, platform::toDisplayCodePage(kUtf8, "a", out, 0));
  EXPECT_EQ('#', out[0]);
  EXPECT_EQ(2u, platform::toDisplayCodePage(kUtf8, "a", out, 3));
  EXPECT_STREQ("a", out);
}
