#include "app/socket_library.h"

#include "clock/sntp.h"
#include "platform/net.h"
#include "platform/trace.h"

int startSocketLibrary(Kel& kel) {
  if (!platform::netStartup()) {
    platform::trace("WinSockの初期化失敗\n");
    return 1;
  }
  return openClockSocket(kel) ? 0 : 1;
}
