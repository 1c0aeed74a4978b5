// DPAPI: bound to the current user on this computer, no optional entropy,
// and never a prompt (a background check has nobody to answer one).
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "platform/secret.h"

namespace platform {

const bool kSecretsProtected = true;

namespace {

bool transform(const std::string& in, std::string& out, bool protect) {
  out.clear();
  DATA_BLOB input{static_cast<DWORD>(in.size()), reinterpret_cast<BYTE*>(const_cast<char*>(in.data()))};
  DATA_BLOB output{0, nullptr};
  BOOL ok = protect ? CryptProtectData(&input, L"", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output)
                    : CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output);
  if (!ok) return false;
  out.assign(reinterpret_cast<const char*>(output.pbData), output.cbData);
  SecureZeroMemory(output.pbData, output.cbData);
  LocalFree(output.pbData);
  return true;
}

}  // namespace

bool protectSecret(const std::string& plain, std::string& blob) { return transform(plain, blob, true); }

bool unprotectSecret(const std::string& blob, std::string& plain) {
  return !blob.empty() && transform(blob, plain, false);
}

}  // namespace platform
