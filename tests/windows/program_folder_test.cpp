// The program in a folder whose name Shift-JIS cannot hold: the melody
// beside it is found through its UTF-8 path.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/application.h"
#include "notify/win32/sound.h"
#include "tests/support/kel_fixture.h"
#include "tests/unit/test_dir.h"

namespace {

const char* const kOddFolder = reinterpret_cast<const char*>(u8" José 你\U0001F600");

void putLe32(std::string& out, int32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
}

// One rest of `ms`: nothing to hear, only time to measure.
std::string restMelody(int32_t ms) {
  std::string bytes("ACM\0", 4);
  putLe32(bytes, 1);
  putLe32(bytes, 0);
  putLe32(bytes, ms);
  return bytes;
}

}  // namespace

TEST(ProgramFolder, MelodyFileIsOpenedByItsUtf8Path) {
  TempDir dir(kOddFolder);
  writeFile(dir.file("beep.snd"), restMelody(20));
  EXPECT_EQ(0, playBeepMelody(dir.file("beep.snd").c_str()));
  EXPECT_EQ(1, playBeepMelody(dir.file("missing.snd").c_str()));
}

// The new-mail beep looks for beep.snd in moduleDir: found, its one second
// of rest is played; gone, nothing is.
TEST(ProgramFolder, NewMailBeepFindsTheMelodyBesideTheProgram) {
  TempDir dir(kOddFolder);
  writeFile(dir.file("beep.snd"), restMelody(1000));
  KelPtr kel = newKel(dir.path());
  kel->nmsnd = 1;
  kel->nmbeep = 1;
  DWORD start = GetTickCount();
  playNewMailSound(*kel, kSystemSound);
  EXPECT_GE(GetTickCount() - start, 900u);

  start = GetTickCount();
  KelPtr elsewhere = newKel(dir.path() + "missing\\");
  elsewhere->nmsnd = 1;
  elsewhere->nmbeep = 1;
  playNewMailSound(*elsewhere, kSystemSound);
  EXPECT_LT(GetTickCount() - start, 900u);
}
