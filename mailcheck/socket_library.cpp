#include "app/application.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "platform/trace.h"

int startSocketLibrary(Kel& kel) {
  if (!platform::netStartup()) {
    platform::trace("WinSockの初期化失敗\n");
    return 1;
  }
  kel.clockSocket = platform::udpSocket();
  if (kel.clockSocket == kNoSocket) {
    platform::trace("ソケットの作成に失敗しました。\n");
    return 1;
  }
  return 0;
}
