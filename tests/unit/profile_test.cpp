// The INI functions, held to the same expectations in both builds (which
// the system's profile functions meet too), and in the windows build to the
// very bytes WritePrivateProfileStringA writes.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/unit/test_dir.h"

namespace {

std::string get(const std::string& path, const char* section, const char* key,
                const char* def = "<none>", uint32_t size = 256) {
  char buf[256];
  platform::profileGetString(section, key, def, buf, size, path.c_str());
  return buf;
}

int getInt(const std::string& path, const char* key, int def = -7) {
  return platform::profileGetInt("s", key, def, path.c_str());
}

}  // namespace

TEST(Profile, ValuesLoseBlanksAndEnclosingQuotes) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  writeFile(path,
            "[s]\r\nplain=abc\r\nblank =  padded  \r\ndq=\"  quoted  \"\r\nsq='x'\r\n"
            "half=\"open\r\nempty=\r\n");
  EXPECT_EQ("abc", get(path, "s", "plain"));
  EXPECT_EQ("padded", get(path, "s", "blank"));
  EXPECT_EQ("  quoted  ", get(path, "s", "dq"));
  EXPECT_EQ("x", get(path, "s", "sq"));
  EXPECT_EQ("\"open", get(path, "s", "half"));
  EXPECT_EQ("", get(path, "s", "empty"));
}

// A hand-edited file with a NUL byte: the line's text ends there, and the
// value read is what a write of it reads back.
TEST(Profile, ALineEndsAtANulByte) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  writeFile(path, std::string("[s]\r\nk=ab\x0b\0cd\r\nnext=1\r\n", 23));
  EXPECT_EQ("ab", get(path, "s", "k"));
  EXPECT_EQ("1", get(path, "s", "next"));
  ASSERT_TRUE(platform::profileWriteString("s", "k", get(path, "s", "k").c_str(), path.c_str()));
  EXPECT_EQ("ab", get(path, "s", "k"));
}

TEST(Profile, NamesMatchWithoutRegardToCase) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  writeFile(path, "[Mail]\r\nMailCbt=3\r\n");
  EXPECT_EQ("3", get(path, "mail", "mailcbt"));
  EXPECT_EQ("3", get(path, "MAIL", "MAILCBT"));
}

TEST(Profile, MissingFileSectionOrKeyGivesTheDefault) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  EXPECT_EQ("dflt", get(path, "s", "k", "dflt"));
  writeFile(path, "[s]\r\nk=1\r\n");
  EXPECT_EQ("dflt", get(path, "t", "k", "dflt"));
  EXPECT_EQ("dflt", get(path, "s", "other", "dflt"));
}

TEST(Profile, ValueIsCutToTheBuffer) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  writeFile(path, "[s]\r\nk=0123456789\r\n");
  char buf[8];
  memset(buf, 'X', sizeof buf);
  EXPECT_EQ(5u, platform::profileGetString("s", "k", "", buf, 6, path.c_str()));
  EXPECT_STREQ("01234", buf);
  EXPECT_EQ('X', buf[6]);
  EXPECT_EQ("abc", get(path, "s", "missing", "abcdef", 4));
}

TEST(Profile, IntegersAreReadUpToTheFirstOtherCharacter) {
  TempDir dir;
  std::string path = dir.file("a.ini");
  writeFile(path, "[s]\r\na=42\r\nb=-17\r\nc=12abc\r\nd=abc\r\ne=\r\nf= 995 \r\n");
  EXPECT_EQ(42, getInt(path, "a"));
  EXPECT_EQ(-17, getInt(path, "b"));
  EXPECT_EQ(12, getInt(path, "c"));
  EXPECT_EQ(0, getInt(path, "d"));
  EXPECT_EQ(-7, getInt(path, "e"));
  EXPECT_EQ(995, getInt(path, "f"));
  EXPECT_EQ(-7, getInt(path, "missing"));
}

TEST(Profile, WritingCreatesFileAndSectionAndReplacesKeys) {
  TempDir dir;
  std::string path = dir.file("w.ini");
  ASSERT_TRUE(platform::profileWriteString("one", "k", "v1", path.c_str()));
  ASSERT_TRUE(platform::profileWriteString("two", "k", "v2", path.c_str()));
  ASSERT_TRUE(platform::profileWriteString("ONE", "K", "v3", path.c_str()));
  EXPECT_EQ("v3", get(path, "one", "k"));
  EXPECT_EQ("v2", get(path, "two", "k"));
  std::vector<std::string> lines = fileLines(path);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("[one]", lines[0]);
  EXPECT_EQ("[two]", lines[2]);
  EXPECT_EQ("v2", lines[3].substr(lines[3].find('=') + 1));
}

TEST(Profile, ShiftJisBytesSurviveAsTheyAre) {
  TempDir dir;
  std::string path = dir.file("j.ini");
  const char* text = "ソフト表示";  // second bytes 0x5C and 0x95
  ASSERT_TRUE(platform::profileWriteString("s", "k", text, path.c_str()));
  EXPECT_EQ(text, get(path, "s", "k"));
}

TEST(Profile, ReplaceAndDelete) {
  TempDir dir;
  std::string a = dir.file("a.ini"), b = dir.file("b.ini");
  writeFile(a, "new");
  writeFile(b, "old");
  ASSERT_TRUE(platform::replaceFile(a.c_str(), b.c_str()));
  EXPECT_FALSE(fileExists(a));
  EXPECT_EQ("new", readFile(b));
  EXPECT_TRUE(platform::deleteFile(b.c_str()));
  EXPECT_FALSE(fileExists(b));
  EXPECT_TRUE(platform::deleteFile(b.c_str()));  // already gone is no error
}

TEST(Profile, ShiftJisNamesMatchByteForByte) {
  TempDir dir;
  std::string path = dir.file("n.ini");
  // ア is 0x83 0x41 and ヂ 0x83 0x61: a second byte is no letter to fold.
  writeFile(path, "[s]\r\nア=1\r\n");
  EXPECT_EQ("1", get(path, "s", "ア"));
  EXPECT_EQ("<none>", get(path, "s", "ヂ"));
}

TEST(Profile, WritingKeepsOtherLinesAndPlacesNewKeysInTheirSection) {
  TempDir dir;
  std::string path = dir.file("k.ini");
  writeFile(path, "; note\r\nloose=1\r\n\r\n[a]\r\n  x =  1 \r\nbare\r\n[b]\r\ny=2\r\n");
  ASSERT_TRUE(platform::profileWriteString("a", "z", "3", path.c_str()));
  ASSERT_TRUE(platform::profileWriteString("c", "w", "4", path.c_str()));
  EXPECT_EQ("; note\r\nloose=1\r\n[a]\r\nx=1\r\nbare\r\nz=3\r\n[b]\r\ny=2\r\n[c]\r\nw=4\r\n", readFile(path));
}

#ifdef _WIN32
namespace {

struct Write {
  const char* section;
  const char* key;
  const char* value;
};

// What the settings write, and what else can happen to a file: a key
// replaced, one added to a section after a later one, names in another
// case, leading blanks, quotes, an empty value, the same value again.
const Write kWrites[] = {
    {"mail", "mailcbt", "4"},
    {"mail", "filename", "C:\\サウンド\\表示.wav"},
    {"mail", "nmp", "1"},
    {"sntp", "server", "ntp.example.jp"},
    {"mail", "mailcbt", "8"},
    {"mail", "late", "after a later section"},
    {"MAIL", "NMP", "0"},
    {"sntp", "tcbt", "  6"},
    {"desktop", "quoted", "\" padded \""},
    {"desktop", "empty", ""},
    {"kill", "key00-1", "未承諾広告"},
    {"sntp", "server", "ntp.example.jp"},
    {"account00", "pass", "p@ss ワード="},
};

}  // namespace

// Windows' own writer, in a run whose ANSI code page is 932 (the only one in
// which it keeps Shift-JIS), against ours: the same bytes, from no file and
// from a file with comments, blank lines and keys before any section.
TEST(Profile, WritesTheSameBytesAsTheSystem) {
  if (GetACP() != 932) GTEST_SKIP() << "ANSI code page " << GetACP() << ", not 932";
  const std::string seeds[] = {
      "",
      "; note\r\nloose=1\r\n\r\n[mail]\r\n  nmp = 5 \r\nbare\r\n\r\n\r\n[other]\r\nk=v\r\n",
  };
  TempDir dir;
  int n = 0;
  for (const std::string& seed : seeds) {
    SCOPED_TRACE(n);
    std::string theirs = dir.file("system" + std::to_string(n) + ".ini");
    std::string ours = dir.file("ours" + std::to_string(n) + ".ini");
    ++n;
    if (!seed.empty()) {
      writeFile(theirs, seed);
      writeFile(ours, seed);
    }
    for (const Write& w : kWrites) {
      ASSERT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value, theirs.c_str()));
      ASSERT_TRUE(platform::profileWriteString(w.section, w.key, w.value, ours.c_str()));
    }
    std::string want = readFile(theirs);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(want, readFile(ours));
    // And ours reads the system's file as the system does.
    for (const Write& w : kWrites) {
      char sys[256], own[256];
      GetPrivateProfileStringA(w.section, w.key, "<none>", sys, sizeof sys, theirs.c_str());
      platform::profileGetString(w.section, w.key, "<none>", own, sizeof own, theirs.c_str());
      EXPECT_STREQ(sys, own) << w.section << "/" << w.key;
    }
  }
}
#endif
