// The native build's stand-in for the Windows protection of secrets, for
// its tests: it protects NOTHING. The blob is the secret behind a marker,
// so that a damaged or foreign blob is refused as on Windows.
#include <string>

#include "platform/secret.h"

namespace platform {

const bool kSecretsProtected = false;

namespace {
const std::string kMarker = "kel-unprotected-test-stand-in:";
}

bool protectSecret(const std::string& plain, std::string& blob) {
  blob = kMarker + plain;
  return true;
}

bool unprotectSecret(const std::string& blob, std::string& plain) {
  plain.clear();
  if (blob.compare(0, kMarker.size(), kMarker) != 0 || blob.size() == kMarker.size()) return false;
  plain = blob.substr(kMarker.size());
  return true;
}

}  // namespace platform
