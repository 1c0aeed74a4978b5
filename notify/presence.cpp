#include "notify/presence.h"

bool announcementMayShow(int userState) {
  switch (userState) {
    case kUserNotPresent:
    case kUserBusy:
    case kUserFullScreen3D:
    case kUserPresenting:
    case kUserApp: return false;
    default: return true;
  }
}
