// Whether someone can see an announcement now, from what Windows says of
// the person at the computer.
#pragma once

// The values of Windows' QUERY_USER_NOTIFICATION_STATE; 0 when it could not
// be asked.
enum UserState {
  kUserStateUnknown = 0,
  kUserNotPresent = 1,    // locked, screen saver, another user's session
  kUserBusy = 2,          // full screen or presentation settings
  kUserFullScreen3D = 3,  // a full-screen Direct3D program
  kUserPresenting = 4,    // presentation mode
  kUserAccepts = 5,
  kUserQuietTime = 6,     // the first hour after a new user's first logon
  kUserApp = 7,           // a full-screen app of the store kind
};

// Held on the five states that say nobody is there to see it or that it
// would interrupt them; shown on the others, and when the state is unknown,
// so that nothing waits on a question that cannot be asked.
bool announcementMayShow(int userState);
