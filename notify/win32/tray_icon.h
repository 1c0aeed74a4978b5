// The tray icon: the half-second animation between the two pictures of the
// current pair, and the count icons with their two-digit badge.
#pragma once

#include <windows.h>
#include <shellapi.h>

class Kel;

// The shell call; tests pass a recorder in its place.
struct TrayEffects {
  BOOL(WINAPI* notifyIcon)(DWORD message, PNOTIFYICONDATAW data);
};
// The program's: Shell_NotifyIconW.
extern const TrayEffects kShellTray;

// Hands kel's icon and tooltip (widened from Shift-JIS) to the shell with
// message NIM_ADD, NIM_MODIFY or NIM_DELETE.
BOOL notifyTray(const Kel& kel, DWORD message, const TrayEffects& tray);

// Replaces kel.trayIcons with the count pair for newCount (clamped to
// 0..99), drawn for kel.trayIconSize; the caller destroys the pair it
// replaced.
void makeCountIcons(Kel& kel, int newCount);
// Replaces kel.trayIcons with the pair of a check's outcome (a TrayOutcome)
// at kel.trayIconSize, and remembers the outcome; the caller destroys the
// pair it replaced.
void makeTrayPair(Kel& kel, int outcome, int newCount);
// The same pair made anew (a new DPI) and handed to the shell; the old
// pair is destroyed. Under checkLock.
void remakeTrayPair(Kel& kel, const TrayEffects& tray);
// One tick of timer 30002.
void updateTrayIcon(Kel& kel, const TrayEffects& tray);
