#pragma once

#include <windows.h>

LRESULT CALLBACK popupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
