// The listener the browser is redirected to after a sign-in: on loopback
// only (127.0.0.1 and ::1 on one port the system picks; never any address,
// which would make Windows' firewall ask), serving the requests a browser
// makes until the redirect comes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/os_types.h"
#include "settings/sign_in.h"

struct LoopbackListener {
  SOCKET sockets[2] = {kNoSocket, kNoSocket};
  int count = 0;
  uint16_t port = 0;
};

// False when not even 127.0.0.1 can listen; ::1 is added when the system
// has it (a browser may resolve localhost to either).
bool openLoopback(LoopbackListener* l);
void closeLoopback(LoopbackListener* l);

enum class WaitOutcome { kAnswered, kCancelled, kTimedOut, kFailed };

// Serves requests until one is a redirect (with a code, an error or a wrong
// state), answering every other with 404, and each with its page. Gives up
// when `cancel` is raised (within a quarter of a second) or after timeoutMs.
WaitOutcome awaitRedirect(LoopbackListener& l, const std::string& state, const std::atomic<bool>& cancel,
                          uint64_t timeoutMs, RedirectAnswer* answer);
