// Shift-JIS <-> UTF-16 with code page 932 itself, whatever the ANSI code page.
#include "platform/win32/wide_text.h"

#include <gtest/gtest.h>

using platform::Narrowed;

TEST(WideText, ShiftJisRoundTrip) {
  std::wstring wide = platform::widen("エラ～！ ｱ abc");
  EXPECT_EQ(wide, L"\u30A8\u30E9\uFF5E\uFF01 \uFF71 abc");
  char back[32];
  ASSERT_EQ(platform::narrow(wide.c_str(), back, sizeof back), Narrowed::kOk);
  EXPECT_STREQ(back, "エラ～！ ｱ abc");
  EXPECT_EQ(platform::widen(nullptr), L"");
  // A byte range, as the popup draws one character at a time.
  EXPECT_EQ(platform::widen("表示abc", 4), L"\u8868\u793A");
  EXPECT_EQ(platform::widen("表示abc", 5), L"\u8868\u793Aa");
}

TEST(WideText, RefusesWhatShiftJisLacksAndWhatDoesNotFit) {
  char out[16] = "x";
  EXPECT_EQ(platform::narrow(L"Jos\u00E9", out, sizeof out), Narrowed::kNotShiftJis);
  EXPECT_STREQ(out, "");
  // Three kanji are six bytes: they fit in 7 with the NUL, not in 6.
  EXPECT_EQ(platform::narrow(L"\u6F22\u5B57\u8868", out, 7), Narrowed::kOk);
  EXPECT_EQ(platform::narrow(L"\u6F22\u5B57\u8868", out, 6), Narrowed::kTooLong);
  EXPECT_STREQ(out, "");
}

TEST(WideText, PathsAreUtf8) {
  std::wstring wide = platform::widenPath("C:\\Users\\Jos\xC3\xA9\\Kel\\");
  EXPECT_EQ(wide, L"C:\\Users\\Jos\u00E9\\Kel\\");
  EXPECT_EQ(platform::narrowPath(wide.c_str()), "C:\\Users\\Jos\xC3\xA9\\Kel\\");
}
