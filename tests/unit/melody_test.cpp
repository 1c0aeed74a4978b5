#include "notify/melody.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/test_dir.h"

namespace {
std::string int32le(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  return std::string{char(u), char(u >> 8), char(u >> 16), char(u >> 24)};
}
std::string file(const std::string& magic, int32_t count, const std::vector<Note>& notes) {
  std::string s = magic + int32le(count);
  for (const Note& n : notes) s += int32le(n.frequency) + int32le(n.durationMs);
  return s;
}
bool parse(const std::string& bytes, std::vector<Note>& notes) {
  return parseMelody(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), notes);
}
}  // namespace

TEST(Melody, ToneAndRest) {
  std::vector<Note> notes;
  ASSERT_TRUE(parse(file(std::string("ACM\0", 4), 2, {{440, 200}, {0, 100}}), notes));
  ASSERT_EQ(2u, notes.size());
  EXPECT_EQ(440, notes[0].frequency);
  EXPECT_EQ(200, notes[0].durationMs);
  EXPECT_EQ(0, notes[1].frequency);
  EXPECT_EQ(100, notes[1].durationMs);
}

TEST(Melody, MagicNeedsItsZeroByte) {
  std::vector<Note> notes;
  EXPECT_FALSE(parse(file("ACMX", 1, {{440, 200}}), notes));
  EXPECT_FALSE(parse("AC", notes));
  EXPECT_FALSE(parse("", notes));
  EXPECT_TRUE(notes.empty());
}

TEST(Melody, CountOfZeroOrLessPlaysNothing) {
  std::vector<Note> notes;
  EXPECT_TRUE(parse(file(std::string("ACM\0", 4), 0, {{440, 200}}), notes));
  EXPECT_TRUE(notes.empty());
  EXPECT_TRUE(parse(file(std::string("ACM\0", 4), -5, {{440, 200}}), notes));
  EXPECT_TRUE(notes.empty());
}

TEST(Melody, TruncatedFileGivesOnlyTheCompleteNotes) {
  std::vector<Note> notes;
  std::string f = file(std::string("ACM\0", 4), 3, {{440, 200}, {523, 100}, {659, 50}});
  ASSERT_TRUE(parse(f.substr(0, f.size() - 3), notes));  // the third note is cut
  ASSERT_EQ(2u, notes.size());
  EXPECT_EQ(523, notes[1].frequency);
  ASSERT_TRUE(parse(f + "trailing bytes are ignored", notes));
  EXPECT_EQ(3u, notes.size());
}

TEST(Melody, AbsurdCountIsNotAllocated) {
  EXPECT_EQ(16u, melodyBytesToRead(0x7FFFFFFF, 20));
  EXPECT_EQ(0u, melodyBytesToRead(-1, 1000));
  std::vector<Note> notes;
  ASSERT_TRUE(parse(file(std::string("ACM\0", 4), 0x7FFFFFFF, {{440, 1}}), notes));
  EXPECT_EQ(1u, notes.size());
  EXPECT_LT(notes.capacity(), 16u);
}

// The files tools/make_melody.py writes at build time, read as kel.exe reads
// beep.snd: the example is "C5 150, rest 50, E5 150, A4 100, C#5 100, Bb4 100".
TEST(Melody, WriterExampleReadsBackAsItsNotes) {
  std::vector<Note> notes;
  ASSERT_TRUE(parse(readFile(KEL_MELODY_DIR "melody-example.snd"), notes));
  const Note want[] = {{523, 150}, {0, 50}, {659, 150}, {440, 100}, {554, 100}, {466, 100}};
  ASSERT_EQ(6u, notes.size());
  for (size_t i = 0; i < notes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(want[i].frequency, notes[i].frequency);
    EXPECT_EQ(want[i].durationMs, notes[i].durationMs);
  }
}

// The release's beep.snd: audible tones and a chime of under three seconds
// (the player adds 1 ms after each note).
TEST(Melody, SampleChimeIsShortWithAudibleTones) {
  std::string bytes = readFile(KEL_MELODY_DIR "beep.snd");
  std::vector<Note> notes;
  ASSERT_TRUE(parse(bytes, notes));
  ASSERT_GE(notes.size(), 2u);
  EXPECT_EQ(kMelodyHeaderSize + 8 * notes.size(), bytes.size());
  int64_t totalMs = 0;
  for (const Note& n : notes) {
    EXPECT_TRUE(n.frequency == 0 || (n.frequency >= 200 && n.frequency <= 5000)) << n.frequency;
    EXPECT_GE(n.durationMs, 20);
    EXPECT_LE(n.durationMs, 1000);
    totalMs += n.durationMs + 1;
  }
  EXPECT_NE(0, notes.front().frequency);
  EXPECT_LT(totalMs, 3000);
}
