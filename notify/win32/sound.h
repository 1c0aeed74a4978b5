// The new-mail sound: a wave file played in the background, or the beep
// melody "beep.snd" beside the program, played to its end.
#pragma once

#include <atomic>

class Kel;

// 0 after playing the file to its end (or until stop is set), 1 when it
// lacks the magic (or cannot be opened).
int playBeepMelody(const char* melodyPath, const std::atomic<bool>* stop = nullptr);
// Starts a wave file and returns; a sound still playing is cut off.
void playWaveInBackground(const char* path);
// The sound the settings ask for, if any (nmsnd, nmbeep, filename).
void playNewMailSound(Kel& kel);
