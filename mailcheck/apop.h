// APOP: the digest of the greeting's timestamp followed by the password.
#pragma once

#include <cstddef>

constexpr size_t kApopInputSize = 124;

// MD5 of the NUL-terminated text as 32 lower-case hexadecimal digits; out
// holds at least 33 bytes.
void md5Hex(const char* text, char* out);

// The timestamp (first '<' to the next '>', both included) followed by the
// password. False when the greeting has no timestamp, or when timestamp and
// password do not fit in 123 bytes (the session then uses USER and PASS).
bool apopDigestInput(const char* greeting, const char* pass, char (&out)[kApopInputSize]);
