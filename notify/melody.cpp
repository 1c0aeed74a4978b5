#include "notify/melody.h"

#include <cstring>

#include "platform/bytes.h"

namespace {
int32_t readInt32(const uint8_t* p) { return static_cast<int32_t>(platform::readLe32(p)); }
}  // namespace

size_t melodyBytesToRead(int32_t count, size_t bytesLeftInFile) {
  if (count <= 0) return 0;
  size_t wanted = static_cast<size_t>(count) * 8;
  size_t whole = bytesLeftInFile / 8 * 8;
  return wanted < whole ? wanted : whole;
}

bool parseMelody(const uint8_t* data, size_t size, std::vector<Note>& notes) {
  notes.clear();
  if (size < 4 || memcmp(data, "ACM\0", 4) != 0) return false;
  if (size < kMelodyHeaderSize) return true;
  int32_t count = readInt32(data + 4);
  size_t bytes = melodyBytesToRead(count, size - kMelodyHeaderSize);
  notes.reserve(bytes / 8);
  for (size_t at = kMelodyHeaderSize; at + 8 <= kMelodyHeaderSize + bytes; at += 8)
    notes.push_back({readInt32(data + at), readInt32(data + at + 4)});
  return true;
}
