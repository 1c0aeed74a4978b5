// Whether the person at the computer can see the popup now: the session's
// lock as the window was told it, then the shell's own answer.
#pragma once

class Kel;

// A UserState (notify/presence.h).
int queryUserState(Kel& kel);

// Asks for WM_WTSSESSION_CHANGE on the popup window, so that an unlock is
// seen at once; tried again while it fails (the session service may not be
// up yet at logon).
void watchSessionChanges(Kel& kel);
void stopWatchingSessionChanges(Kel& kel);

// WM_WTSSESSION_CHANGE: a lock means nobody is there until the unlock.
void sessionChanged(Kel& kel, unsigned event);
