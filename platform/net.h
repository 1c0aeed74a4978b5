// Start of the socket library and the few socket calls that differ between
// Winsock and BSD sockets.
#pragma once

#include "platform/os_types.h"

namespace platform {

// Winsock 2.0, cleaned up at process exit. True when the library is ready.
bool netStartup();
SOCKET udpSocket();
// Shuts the socket down both ways and closes it; kNoSocket is ignored.
void closeSocket(SOCKET s);

}  // namespace platform
