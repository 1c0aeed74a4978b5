// What the last clock synchronisation came to, kept in memory for the
// server status dialog. The clock thread writes it and the dialog reads it,
// both under Kel::checkLock.
#pragma once

#include <cstdint>

#include "platform/clock.h"

enum class ClockOutcome : int32_t {
  kNone,            // none has run since start-up
  kSynchronised,    // the clock was set
  kRefused,         // SetSystemTime said no; `refusal` holds its error number
  kNoAnswer,        // five attempts failed, whatever on
  kNameNotFound,    // the last attempt could not look the server's name up
  kUnsynchronised,  // the last attempt's server said it is not synchronised
  kFailed,          // it ended by an error of the program's own; `failure` says which
};

struct ClockReport {
  ClockOutcome outcome;
  platform::UtcTime when;  // local date and time, when it ended
  uint32_t refusal;
  // The clock's error, positive when this computer was behind (RFC 4330's
  // theta), with kSynchronised and kRefused.
  double offsetSeconds;
  char failure[64];  // with kFailed, Shift-JIS
};
