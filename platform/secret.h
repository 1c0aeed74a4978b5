// Secrets kept at rest for the current user (a refresh token): on Windows
// protected by the system for this user on this computer; the native build
// links a stand-in for its tests that protects nothing.
#pragma once

#include <string>

namespace platform {

// True when the build's protection is real (false for the stand-in).
extern const bool kSecretsProtected;

bool protectSecret(const std::string& plain, std::string& blob);
// False for a blob that is damaged or protected for another user or computer.
bool unprotectSecret(const std::string& blob, std::string& plain);

// Standard base64 (RFC 4648 section 4) with padding; decoding refuses
// anything else, blanks included.
std::string base64Encode(const std::string& bytes);
bool base64Decode(const std::string& text, std::string& bytes);

}  // namespace platform
