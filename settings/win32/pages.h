// The page procedures of the property sheet. Each page's WM_INITDIALOG
// carries its PROPSHEETPAGEW, whose lParam is the Kel.
#pragma once

#include <windows.h>

INT_PTR CALLBACK accountsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK deleteListPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ignoreListPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Keeps the page's Kel from its PROPSHEETPAGEW (WM_INITDIALOG's lParam).
class Kel;
Kel& keepPageKel(HWND page, LPARAM initParam);
