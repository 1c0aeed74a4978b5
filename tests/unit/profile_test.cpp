// The INI functions, held to the same expectations in both builds: the
// windows build runs these against the system's profile functions.
#include "platform/profile.h"

#include <gtest/gtest.h>

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
