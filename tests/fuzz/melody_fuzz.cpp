// libFuzzer target: a melody file of any bytes. The parser must take the
// notes the file holds and no more than its count promises, and a reader
// that reads only the bytes melodyBytesToRead asks for gets the same notes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "notify/melody.h"

namespace {
void fail(const char* what) {
  fprintf(stderr, "melody: %s\n", what);
  abort();
}
int32_t le32(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Note> notes(3, Note{1, 1});  // what was there before is dropped
  bool magic = size >= 4 && memcmp(data, "ACM\0", 4) == 0;
  if (parseMelody(data, size, notes) != magic) fail("magic judged otherwise");
  if (!magic || size < kMelodyHeaderSize) {
    if (!notes.empty()) fail("notes without a note count");
    return 0;
  }
  int32_t count = le32(data + 4);
  size_t held = (size - kMelodyHeaderSize) / 8;
  size_t expected = count <= 0 ? 0 : static_cast<size_t>(count) < held ? static_cast<size_t>(count) : held;
  if (notes.size() != expected) fail("not the notes the file holds and its count promises");
  if (notes.capacity() > held && notes.capacity() > 3) fail("room reserved beyond the file");
  for (size_t i = 0; i < notes.size(); ++i) {
    const uint8_t* at = data + kMelodyHeaderSize + 8 * i;
    if (notes[i].frequency != le32(at) || notes[i].durationMs != le32(at + 4)) fail("a note misread");
  }

  // The player reads the header, then only what melodyBytesToRead asks for.
  size_t want = melodyBytesToRead(count, size - kMelodyHeaderSize);
  if (want % 8 != 0 || want > size - kMelodyHeaderSize) fail("asks for bytes the file cannot give");
  std::vector<Note> read;
  if (!parseMelody(data, kMelodyHeaderSize + want, read) || read.size() != notes.size() ||
      (!read.empty() && memcmp(read.data(), notes.data(), read.size() * sizeof(Note)) != 0))
    fail("the player's read gives other notes");
  return 0;
}
