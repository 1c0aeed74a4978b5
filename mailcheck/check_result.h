// What one check leaves behind for each account, and the state words the
// threads of a check hand over through.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

// Sender text, NUL, subject text, NUL; the rest carries no meaning.
struct MailLine {
  char bytes[96];
};

enum MailLineState : uint8_t {
  kLineEmpty = 0,
  kLineNew = 1,
  kLineAnnounced = 255,
};

constexpr int kMailLines = 6;
constexpr int kRecentDeleted = 10;
constexpr int kReasonBytes = 180;

struct CheckResult {
  int32_t failed;
  int32_t errorCode;  // an ErrorCode (mailcheck/error_code.h)
  int32_t count;
  int32_t prevCount;
  int32_t ignoredCount;
  MailLine lines[kMailLines];
  uint8_t lineState[kMailLines];
  // The key the server showed when the check failed with
  // kErrorServerKeyChanged (64 hexadecimal digits), else empty.
  char seenPin[65];
  // Whose results these are: stamped by the first session of the account,
  // moved with it when an account before it is deleted, and 0 again when
  // its server, port or user changes. 0 is no account.
  uint32_t accountId;
  // Why the last check failed, in Shift-JIS: the server's words or what the
  // connection met (mailcheck/failure_reason.h). Emptied when a session starts.
  char reason[kReasonBytes + 1];
  // When the last check that ran its course ended, on the user's clock;
  // forgotten when the account's server, port or user changes.
  platform::LocalTime lastSuccess;
  // The last check that ran a session sent the password (PASS) over a
  // connection without TLS.
  int32_t passwordInClear;
  // The last check ran its course, or one that did still stands: its
  // counts go into the totals.
  int32_t counted;
};

enum SessionState : int32_t {
  kSessionStarting = 0,
  kSessionConnected = 1,
  kSessionClosing = 2,
  kSessionDone = 3,
  kSessionFailed = 4,
};

// checkState and clockState.
enum WorkerState : int32_t {
  kIdle = 0,
  kRunning = 1,
  kFinished = 2,
};

using StateWord = std::atomic<int32_t>;

// What the server status dialog shows of an account's IDLE connection.
enum IdleShownState : int32_t {
  kIdleNone = 0,
  kIdleConnected = 1,
  kIdleWaiting = 2,  // to be made again at retryAtMs (monotonic)
};
struct IdleShown {
  uint32_t accountId;
  int32_t state;
  uint64_t retryAtMs;
};
