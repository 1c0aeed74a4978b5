#include "app/module_dir.h"

#include <gtest/gtest.h>

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

TEST(ModuleDir, ATrailByteOfBackslashValueIsNoSeparator) {
  char dir[260];
  // 表 is 0x95 0x5C and ソ is 0x83 0x5C in Shift-JIS.
  ASSERT_TRUE(moduleDirFromPath("C:\\ソフト\\表.exe", dir, sizeof dir));
  EXPECT_STREQ("C:\\ソフト\\", dir);
  EXPECT_FALSE(moduleDirFromPath("C:表.exe", dir, sizeof dir));
}
