#pragma once

#include <windows.h>

// Timers of the popup window.
constexpr UINT_PTR kMailCheckTimer = 30000;  // every minute: counts towards the next check
constexpr UINT_PTR kClockSyncTimer = 30001;  // every minute: counts towards the next clock sync
constexpr UINT_PTR kTrayTimer = 30002;       // every half second: the tray icon's animation
constexpr UINT_PTR kWakeTimer = 30003;       // once, a settle time after waking from sleep

// What the tray icon sends the popup window on a click.
constexpr UINT kTrayCallbackMessage = 32868;
static_assert(kTrayCallbackMessage == WM_APP + 100, "the tray's message is WM_APP + 100");

// A check pass hands a key to trust to the window thread: lParam is a
// PinOffer from new, which the window procedure frees.
constexpr UINT kPinOfferMessage = WM_APP + 101;
constexpr UINT kTokenOfferMessage = WM_APP + 102;

LRESULT CALLBACK popupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
