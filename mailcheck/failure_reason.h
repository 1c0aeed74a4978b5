// Why an account's check failed, in words the user can act on: the
// server's own reply, what the connection met, or what the check pass
// saw. Each is a Shift-JIS text of at most kReasonBytes bytes, cut at a
// whole character, for CheckResult::reason.
#pragma once

#include <cstddef>

#include "mailcheck/check_result.h"
#include "mailcheck/connection.h"
#include "mailcheck/error_code.h"

using Reason = char[kReasonBytes + 1];

// A reply line as received, its CR LF removed: UTF-8 becomes Shift-JIS
// ('?' for what code page 932 lacks), Shift-JIS stays, anything else keeps
// only its printable ASCII; control bytes are always '?'.
void replyReason(const char* line, size_t length, Reason& out);

// What the connection met for a failure of this kind: kErrorNameNotFound,
// kErrorConnectFailed, kErrorTlsFailed, kErrorSendFailed or
// kErrorReceiveFailed (any other gives an empty text).
void linkReason(ErrorCode what, const LinkFailure& failure, Reason& out);

// A text of the program's own, cut to fit.
void fixedReason(const char* text, Reason& out);

extern const char kReasonKeyChanged[];  // code 1
// Written by the check pass, which alone knows (code 0).
extern const char kReasonSilent[];
extern const char kReasonTooLong[];
extern const char kReasonNoThread[];
extern const char kReasonNoMemory[];

// In a catch handler: the words for the exception being handled. Takes no
// memory of the heap, which may be what ran out.
void exceptionReason(Reason& out) noexcept;

// Runs `body`; false, with the words for what it let out in `why`, when an
// exception would leave it. Every thread the program starts runs its work
// so, and fails that work (code 0, that reason) instead of the program.
template <class F>
bool caughtInto(Reason& why, F&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    exceptionReason(why);
    return false;
  }
}
