// The settings sheet "プロパティ": seven pages, OK and Cancel, no Apply.
#pragma once

#include <windows.h>

class Kel;

// Runs the sheet modally, owned by `owner`, and returns when it closes.
// The option pages write their members only on OK, and only when shown;
// the caller saves file 1 afterwards.
void showPropertySheet(Kel& kel, HWND owner);

// Command 40004: the sheet, with the tray menu kept shut while it is open,
// then file 1 saved whichever button closed it.
void runSettingsSheet(Kel& kel, HWND owner);

// Plays a wave file in the background; the tests replace it.
extern void (*playWaveFile)(const char* path);
