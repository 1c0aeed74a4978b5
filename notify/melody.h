// The beep melody file "beep.snd": "ACM\0", a signed 32-bit note count, then
// per note a frequency (0: a rest) and a duration in ms, little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Note {
  int32_t frequency;
  int32_t durationMs;
};

constexpr size_t kMelodyHeaderSize = 8;

// Parses a file's bytes. False for a missing magic. Only complete notes
// that are there are returned, however many the count promises.
bool parseMelody(const uint8_t* data, size_t size, std::vector<Note>& notes);
// How many bytes a reader needs after the header for the notes promised,
// bounded by what the file can hold (so that no absurd count is allocated).
size_t melodyBytesToRead(int32_t count, size_t bytesLeftInFile);
