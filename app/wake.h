// After waking from sleep the network is often not up yet: the check and
// the clock sync that follow a wake try again after these waits while they
// find none, and show their outcome only after the last try.
#pragma once

constexpr int kWakeRetries = 3;

struct WakeRetries {
  int afterMs[kWakeRetries];
};

constexpr WakeRetries kWakeRetryWaits = {{15000, 30000, 60000}};

// The mail check and the clock sync start this long after a resume.
constexpr int kWakeSettleMs = 5000;
