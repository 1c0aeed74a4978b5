// The server status dialog (template 109), modal on the popup window.
#pragma once

#include <windows.h>

class Kel;

void showServerStatus(Kel& kel, HWND owner);
