// One HTTP request of the OAuth2 token calls: a form POSTed to a URL,
// bounded in time and size and ended early by a cancel flag. WinHTTP on
// Windows (the user's proxy settings, the system's certificates), libcurl
// in the native build.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace platform {

enum class HttpFailure {
  kNone,            // a reply arrived: see status
  kUrlRefused,      // not https, and not http to a loopback address
  kNameNotFound,    // the host's name did not resolve
  kConnectFailed,   // no connection (refused, unreachable, a proxy failed)
  kTlsFailed,       // the handshake or the certificate failed
  kTimedOut,        // no reply within the time bound
  kCancelled,       // the cancel flag was raised
  kTooLarge,        // the reply was longer than allowed
  kOther,           // anything else the library reported
};

struct HttpReply {
  HttpFailure failure = HttpFailure::kNone;
  int status = 0;       // the HTTP status of a reply
  std::string body;     // its body, at most the bytes allowed
  int systemError = 0;  // the library's or system's number for a failure
  std::string reason;   // what the library said of a failure, in ASCII
};

// https:// with a host, or http:// to 127.0.0.0/8, [::1] or localhost
// (the tests' servers). Portable.
bool httpUrlAllowed(const char* url);

// POSTs `form` (application/x-www-form-urlencoded) and reads the reply.
// cancel may be null; timeoutMs bounds the whole request.
HttpReply httpPostForm(const char* url, const std::string& form, const std::atomic<bool>* cancel, int timeoutMs,
                       size_t maxReplyBytes);

// Appends name=value to a form, both percent-encoded (RFC 3986 unreserved
// characters stay as they are), with '&' between fields.
void addFormField(std::string& form, const char* name, const std::string& value);

}  // namespace platform
