#include "app/application.h"

// The one application object, zero-filled (value-initialised). It is never
// destroyed: check and clock threads may still be using it while the process
// ends, and must not meet a destroyed lock.
Kel& kel = *new Kel();

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kel.instance = instance;
  if (kel.startup() != 0) return 1;  // nothing could post the quit message
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  kel.cleanup();
  return 0;
}
