// A popup window set up as start-up sets it up, with kel.exe's resources,
// for the tests of the notification drawing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/application.h"
#include "tests/support/kel_fixture.h"

HMODULE kelModule();

struct PopupFixture {
  PopupFixture();
  ~PopupFixture();
  KelPtr kel;
  HRGN region = nullptr;  // built from the picture before it is selected, as at start-up
};

// The 32-bit pixels of a bitmap, top row first.
std::vector<uint32_t> bitmapPixels(HBITMAP bmp, int width, int height);
