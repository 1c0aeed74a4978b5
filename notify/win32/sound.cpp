#include "notify/win32/sound.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/application.h"
#include "notify/melody.h"
#include "platform/bytes.h"
#include "platform/win32/wide_text.h"

const SoundEffects kSystemSound = {sndPlaySoundW};

int playBeepMelody(const char* melodyPath, const std::atomic<bool>* stop) {
  HANDLE file = CreateFileA(melodyPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  uint8_t header[kMelodyHeaderSize] = {};
  DWORD got = 0;
  ReadFile(file, header, sizeof header, &got, nullptr);
  std::vector<uint8_t> data(header, header + got);
  if (got == sizeof header) {
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    size_t left = size.QuadPart > static_cast<LONGLONG>(got) ? static_cast<size_t>(size.QuadPart - got) : 0;
    int32_t count = static_cast<int32_t>(platform::readLe32(header + 4));
    size_t want = melodyBytesToRead(count, left);
    data.resize(sizeof header + want);
    DWORD read = 0;
    if (want) ReadFile(file, data.data() + sizeof header, static_cast<DWORD>(want), &read, nullptr);
    data.resize(sizeof header + read);
  }
  CloseHandle(file);

  std::vector<Note> notes;
  if (!parseMelody(data.data(), data.size(), notes)) return 1;
  for (const Note& n : notes) {
    // Beep takes unsigned values; a negative one is no note at all. A long
    // note is played in parts, so that a program that ends is not held up.
    DWORD ms = n.durationMs > 0 ? static_cast<DWORD>(n.durationMs) : 0;
    do {
      if (stop && *stop) return 0;
      DWORD part = ms < 500 ? ms : 500;
      if (n.frequency != 0 && n.frequency > 0)
        Beep(static_cast<DWORD>(n.frequency), part);
      else
        Sleep(part);
      ms -= part;
    } while (ms > 0);
    Sleep(1);
  }
  return 0;
}

// The path is the options' Shift-JIS, not the ANSI code page's.
void playWave(const char* path, const SoundEffects& sound) {
  sound.playWave(platform::widen(path).c_str(), SND_ASYNC);
}

void playWaveInBackground(const char* path) { playWave(path, kSystemSound); }

void playNewMailSound(Kel& kel, const SoundEffects& sound) {
  int32_t nmsnd, nmbeep;
  char wave[sizeof kel.filename];
  {
    std::lock_guard<std::mutex> g(kel.checkLock);  // the settings sheet may be writing them
    nmsnd = kel.nmsnd;
    nmbeep = kel.nmbeep;
    memcpy(wave, kel.filename, sizeof wave);
  }
  wave[sizeof wave - 1] = '\0';
  if (nmsnd == 0) return;
  if (nmbeep != 0) {
    char path[300];
    snprintf(path, sizeof path, "%sbeep.snd", kel.moduleDir);
    playBeepMelody(path, &kel.stopping);
    return;
  }
  playWave(wave, sound);
}
