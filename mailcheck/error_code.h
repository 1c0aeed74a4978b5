// Why a session failed, as kept in CheckResult::errorCode. The server
// status dialog shows a failed account's code as "(E<n>)", so the numbers
// are part of what the user sees and never change.
#pragma once

#include <cstdint>

enum ErrorCode : int32_t {
  kErrorNone = 0,             // no code was set (also: a session given up, a reply too large)
  kErrorServerKeyChanged = 1, // the server's key is not the one trusted for this account
  kErrorNameNotFound = 2,     // the server's name did not resolve
  kErrorConnectFailed = 3,    // no address of the server accepted a connection
  kErrorTlsFailed = 4,        // the TLS set-up or handshake failed
  kErrorSendFailed = 5,       // a command could not be sent, or the greeting not received
  kErrorReceiveFailed = 6,    // the reply to a command could not be received
  kErrorNotPositive = 7,      // a reply was not "+OK" (also APOP refused, or a busy mailbox)
  kErrorPasswordRefused = 8,  // the server refused the password
};

constexpr int kErrorCodes = 9;
