#include "app/application.h"

// The one application object; static storage starts it zero-filled.
Kel kel;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kel.instance = instance;
  if (kel.startup() != 0) return 1;  // nothing could post the quit message
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  kel.cleanup();
  return 0;
}
