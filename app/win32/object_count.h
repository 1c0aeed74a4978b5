// How many GDI and USER objects the program holds, answered to a private
// message so that a long-running test can watch for leaks from outside.
#pragma once

#include <windows.h>

// wParam says what to count; the answer is the count, or -1 when it cannot
// be counted here.
constexpr UINT KEL_COUNT_OBJECTS = WM_APP + 0x4B;

enum : WPARAM {
  kCountGdi = 0,      // GDI objects, stock objects aside
  kCountUser = 1,     // windows + menus + icons and cursors
  kCountWindows = 2,  // the process's windows, children and message-only ones included
  kCountMenus = 3,
  kCountIcons = 4,    // icons and cursors
  kCountGdiType = 0x100,  // + a GDI handle table type (0x0A fonts, 0x10 brushes, ...)
};

LRESULT countObjects(WPARAM what);
