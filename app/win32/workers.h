// The worker threads of the windows build: the check pass with the real
// popup, tray and sounds, and the clock synchronisation.
#pragma once

#include "app/ticks.h"

extern const WorkerOps kWindowsWorkers;

class Kel;
// The thread that keeps IMAP connections in IDLE (mailcheck/imap/idle_watch.h).
bool startIdleWatcher(Kel& kel);
