// The new-mail sound: a wave file played in the background, or the beep
// melody "beep.snd" beside the program, played to its end.
#pragma once

#include <windows.h>

#include <atomic>

class Kel;

// The system's wave player; tests pass a recorder in its place.
struct SoundEffects {
  BOOL(WINAPI* playWave)(LPCWSTR path, UINT flags);
};
// The program's: sndPlaySoundW.
extern const SoundEffects kSystemSound;

// 0 after playing the file to its end (or until stop is set), 1 when it
// lacks the magic (or cannot be opened).
int playBeepMelody(const char* melodyPath, const std::atomic<bool>* stop = nullptr);
// Starts a wave file (its Shift-JIS path) and returns; a sound still
// playing is cut off.
void playWave(const char* path, const SoundEffects& sound);
void playWaveInBackground(const char* path);  // with kSystemSound
// The sound the settings ask for, if any (nmsnd, nmbeep, filename).
void playNewMailSound(Kel& kel, const SoundEffects& sound);
