#include "platform/server_chain.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The chain the engine builds for the leaf, with the other certificates the
// server sent as candidates, checked by the SSL policy for `name`.
bool chainPassesPolicy(PCCERT_CONTEXT leaf, HCERTSTORE sent, wchar_t* name) {
  LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // From what is at hand only: the URLs a certificate names are the
  // server's to choose, and no cancel reaches a fetch of them. A chain that
  // lacks a part is not verified, and the key is trusted on first use.
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, sent, &para, CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                               &chain))
    return false;
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name;
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  // Wine's SSL policy passes a chain that stops short of a root, which is
  // what a missing intermediate leaves: such a chain is not verified.
  bool ok = !(chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN) &&
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
  CertFreeCertificateChain(chain);
  return ok;
}
}  // namespace

bool serverChainTrusted(const DerCertificate* chain, int count, const char* host) {
  if (count < 1) return false;
  // The host is the program's own Shift-JIS text, never the ANSI code page's.
  std::wstring name = widen(host);
  if (name.empty()) return false;  // no name to hold the certificate to
  PCCERT_CONTEXT leaf = CertCreateCertificateContext(kEncoding, chain[0].data, static_cast<DWORD>(chain[0].length));
  if (!leaf) return false;
  HCERTSTORE sent = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  bool ok = false;
  if (sent) {
    for (int i = 1; i < count; ++i)
      CertAddEncodedCertificateToStore(sent, kEncoding, chain[i].data, static_cast<DWORD>(chain[i].length),
                                       CERT_STORE_ADD_ALWAYS, nullptr);
    ok = chainPassesPolicy(leaf, sent, name.data());
    CertCloseStore(sent, 0);
  }
  CertFreeCertificateContext(leaf);
  return ok;
}

}  // namespace platform
