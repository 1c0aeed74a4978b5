// The end of the program while workers may still run: nothing they use is
// freed or closed under them.
#pragma once

class Kel;

// Sets the program-wide stop and waits at most waitMs for the check and
// clock threads (and any session worker or name lookup) to end, calling pump between short
// sleeps: the check thread draws on the popup through the window thread.
// True when none runs any more; false leaves everything they use alone.
bool stopWorkers(Kel& kel, void (*pump)(), int waitMs);
// Closes the clock's socket. Its owner is the clock thread while that runs,
// so this is for a teardown after stopWorkers returned true.
void releaseClockSocket(Kel& kel);
