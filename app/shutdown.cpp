#include "app/shutdown.h"

#include <chrono>
#include <thread>

#include "app/application.h"
#include "mailcheck/check_cycle.h"
#include "mailcheck/transport.h"
#include "platform/net.h"

bool stopWorkers(Kel& kel, void (*pump)(), int waitMs) {
  kel.stopping = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (pump) pump();
    bool running = kel.checkState == kRunning || kel.clockState == kRunning || sessionWorkersRunning() > 0 ||
                   lookupsRunning() > 0;
    if (!running) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void releaseClockSocket(Kel& kel) {
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = kNoSocket;
}
