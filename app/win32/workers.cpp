#include "app/win32/workers.h"

#include <windows.h>

#include <new>

#include "app/application.h"
#include "app/thread_entries.h"
#include "app/win32/window_proc.h"
#include "clock/sntp.h"
#include "mailcheck/check_cycle.h"
#include "mailcheck/imap/idle_watch.h"
#include "notify/win32/popup_text.h"
#include "notify/win32/presence.h"
#include "notify/win32/sound.h"
#include "notify/win32/tray_icon.h"
#include "resources/resource_ids.h"

namespace {

void playSound(Kel& kel) { playNewMailSound(kel, kSystemSound); }

void showPopup(Kel& kel, bool show) { ShowWindow(kel.popupWindow, show ? SW_SHOW : SW_HIDE); }

void drawText(Kel& kel, const char* block, int holdMs, int lineCount) {
  drawPopupText(kel, block, holdMs, lineCount, kTypingWaits);
}

void loadTrayPair(Kel& kel, TrayOutcome outcome, int totalNew) { makeTrayPair(kel, outcome, totalNew); }

void destroyTrayPair(HICON pair[2]) {
  for (int i = 0; i < 2; ++i)
    if (pair[i]) DestroyIcon(pair[i]);
}

// The window thread stores the pin; the copy is its to free.
void offerPin(Kel& kel, const PinOffer& offer) {
  PinOffer* copy = new (std::nothrow) PinOffer(offer);
  if (!copy) return;
  if (!PostMessageW(kel.popupWindow, kPinOfferMessage, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

// So does the refresh token.
void offerToken(Kel& kel, const TokenOffer& offer) {
  TokenOffer* copy = new (std::nothrow) TokenOffer(offer);
  if (!copy) return;
  if (!PostMessageW(kel.popupWindow, kTokenOfferMessage, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

const CheckEffects kEffects = {playSound, showPopup, drawText, loadTrayPair, destroyTrayPair, offerPin, offerToken,
                               queryUserState};

DWORD WINAPI checkThread(LPVOID parameter) {
  checkThreadEntry(*static_cast<Kel*>(parameter), kEffects);
  return 0;
}

DWORD WINAPI announcementThread(LPVOID parameter) {
  announcementThreadEntry(*static_cast<Kel*>(parameter), kEffects);
  return 0;
}

DWORD WINAPI clockThread(LPVOID parameter) {
  clockThreadEntry(*static_cast<Kel*>(parameter), kSystemClock);
  return 0;
}

bool start(LPTHREAD_START_ROUTINE entry, Kel& kel, HANDLE* handle, uint32_t* id) {
  DWORD tid = 0;
  HANDLE h = CreateThread(nullptr, 0, entry, &kel, 0, &tid);
  if (!h) return false;
  *handle = h;
  *id = tid;
  return true;
}

bool startCheck(Kel& kel, HANDLE* handle, uint32_t* id) { return start(checkThread, kel, handle, id); }
bool startClock(Kel& kel, HANDLE* handle, uint32_t* id) { return start(clockThread, kel, handle, id); }
bool startAnnouncement(Kel& kel, HANDLE* handle, uint32_t* id) {
  return start(announcementThread, kel, handle, id);
}
void closeWorker(HANDLE h) {
  if (h) CloseHandle(h);
}

}  // namespace

const WorkerOps kWindowsWorkers = {startCheck, startClock, closeWorker, startAnnouncement, queryUserState};

bool startIdleWatcher(Kel& kel) { return startIdleWatch(kel, kEffects, kCheckTiming); }
