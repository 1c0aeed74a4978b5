#include "app/module_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/application.h"

TEST(ModuleDir, KeepsTheFolderWithItsBackslash) {
  char dir[260];
  ASSERT_TRUE(moduleDirFromPath("C:\\a\\b.exe", dir, sizeof dir));
  EXPECT_STREQ("C:\\a\\", dir);
  ASSERT_TRUE(moduleDirFromPath("C:\\b.exe", dir, sizeof dir));
  EXPECT_STREQ("C:\\", dir);
  ASSERT_TRUE(moduleDirFromPath("C:\\Program Files\\Kel\\bin\\kel.exe", dir, sizeof dir));
  EXPECT_STREQ("C:\\Program Files\\Kel\\bin\\", dir);
}

TEST(ModuleDir, PathWithoutBackslashFails) {
  char dir[260] = "unchanged";
  EXPECT_FALSE(moduleDirFromPath("kel.exe", dir, sizeof dir));
  EXPECT_FALSE(moduleDirFromPath("", dir, sizeof dir));
}

TEST(ModuleDir, NeverWritesPastTheBuffer) {
  char dir[8];
  EXPECT_FALSE(moduleDirFromPath("C:\\longfolder\\kel.exe", dir, sizeof dir));
  EXPECT_TRUE(moduleDirFromPath("C:\\abc\\kel.exe", dir, sizeof dir));
  EXPECT_STREQ("C:\\abc\\", dir);
}

// Outside gtest's macros: their text of the call is in the execution
// character set, which has no é.
const char* const kSoftExe = reinterpret_cast<const char*>(u8"C:\\ソフト\\表.exe");
const char* const kSoftDir = reinterpret_cast<const char*>(u8"C:\\ソフト\\");
const char* const kJoseExe = reinterpret_cast<const char*>(u8"C:\\Users\\José\\你\U0001F600\\kel.exe");
const char* const kJoseDir = reinterpret_cast<const char*>(u8"C:\\Users\\José\\你\U0001F600\\");
const char* const kNoFolder = reinterpret_cast<const char*>(u8"C:表.exe");

TEST(ModuleDir, WorksOnUtf8Paths) {
  char dir[260];
  // 表 and ソ, whose Shift-JIS second byte is 0x5C, hold no backslash byte
  // in UTF-8, and letters outside Shift-JIS pass as they are.
  ASSERT_TRUE(moduleDirFromPath(kSoftExe, dir, sizeof dir));
  EXPECT_STREQ(kSoftDir, dir);
  ASSERT_TRUE(moduleDirFromPath(kJoseExe, dir, sizeof dir));
  EXPECT_STREQ(kJoseDir, dir);
  EXPECT_FALSE(moduleDirFromPath(kNoFolder, dir, sizeof dir));
}

// A folder of MAX_PATH UTF-16 units, each three bytes in UTF-8, fits the
// program's moduleDir; one byte more than it holds fails and cuts nothing.
TEST(ModuleDir, ALongUtf8FolderFitsOrFails) {
  const size_t size = sizeof(Kel::moduleDir);
  std::string folder = "C:\\";
  const char* table = reinterpret_cast<const char*>(u8"表");
  while (folder.size() + 3 + 1 < size) folder += table;
  folder += "\\";
  ASSERT_LT(folder.size(), size);
  std::vector<char> out(size, 'X');
  ASSERT_TRUE(moduleDirFromPath((folder + "kel.exe").c_str(), out.data(), size));
  EXPECT_EQ(folder, std::string(out.data()));
  std::string tooLong = "C:\\" + std::string(size - 3, 'a') + "\\kel.exe";
  std::fill(out.begin(), out.end(), 'X');
  EXPECT_FALSE(moduleDirFromPath(tooLong.c_str(), out.data(), size));
  EXPECT_EQ('X', out[0]);
}
