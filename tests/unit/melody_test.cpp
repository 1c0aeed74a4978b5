#include "notify/melody.h"

#include <gtest/gtest.h>

#include <string>

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
