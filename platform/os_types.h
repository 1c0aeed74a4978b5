// The handful of operating-system types that the application object holds.
// The windows build takes them from the Windows headers; the native build,
// which has no windowing, gets stand-ins of the same size class.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#else
using HINSTANCE = void*;
using HWND = void*;
using HBITMAP = void*;
using HDC = void*;
using HICON = void*;
using HMENU = void*;
using HANDLE = void*;
using SOCKET = intptr_t;
struct POINT {
  int32_t x;
  int32_t y;
};
#endif

constexpr SOCKET kNoSocket = static_cast<SOCKET>(~static_cast<uintptr_t>(0));
