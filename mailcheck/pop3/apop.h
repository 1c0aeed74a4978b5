// APOP: the digest of the greeting's timestamp followed by the password.
#pragma once

#include <cstddef>

// Any timestamp a greeting line can hold (8190 bytes with its CR LF) and
// the longest password, with the NUL.
constexpr size_t kApopInputSize = 8190 + 32;

// MD5 of the NUL-terminated text as 32 lower-case hexadecimal digits; out
// holds at least 33 bytes.
void md5Hex(const char* text, char* out);

// The timestamp (first '<' to the next '>', both included) followed by the
// password. False only when the greeting has no timestamp (the session then
// uses USER and PASS); a password longer than its field is cut to 31 bytes.
bool apopDigestInput(const char* greeting, const char* pass, char (&out)[kApopInputSize]);
