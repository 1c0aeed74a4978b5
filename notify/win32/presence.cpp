#include "notify/win32/presence.h"

#include <windows.h>
#include <shellapi.h>
#include <wtsapi32.h>

#include "app/application.h"
#include "notify/presence.h"

int queryUserState(Kel& kel) {
  if (kel.sessionLocked) return kUserNotPresent;
  QUERY_USER_NOTIFICATION_STATE state{};
  if (FAILED(SHQueryUserNotificationState(&state))) return kUserStateUnknown;
  return static_cast<int>(state);
}

void watchSessionChanges(Kel& kel) {
  if (kel.sessionWatched || !kel.popupWindow) return;
  if (WTSRegisterSessionNotification(kel.popupWindow, NOTIFY_FOR_THIS_SESSION)) kel.sessionWatched = 1;
}

void stopWatchingSessionChanges(Kel& kel) {
  if (!kel.sessionWatched) return;
  WTSUnRegisterSessionNotification(kel.popupWindow);
  kel.sessionWatched = 0;
}

void sessionChanged(Kel& kel, unsigned event) {
  if (event == WTS_SESSION_LOCK) kel.sessionLocked = true;
  if (event == WTS_SESSION_UNLOCK) kel.sessionLocked = false;
}
