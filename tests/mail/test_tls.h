// TLS for the tests: a certificate authority and certificates made when the
// tests start, their trust, and the server side of a handshake over a
// scripted connection.
#pragma once

#include <string>

#include "tests/mail/script_server.h"

struct evp_pkey_st;
struct x509_st;
struct ssl_ctx_st;
struct ssl_st;

struct TestIdentity {
  x509_st* cert;
  evp_pkey_st* key;
};

// Made once per process (RSA 2048, a day's validity).
struct TestPki {
  TestIdentity ca;         // the test CA
  TestIdentity localhost;  // issued by the CA for the name "localhost" only
  TestIdentity selfSigned; // self-signed, CN=localhost, as Dovecot's own
  TestIdentity other;      // another self-signed key
  TestIdentity intermediate;      // a CA the test CA issued
  TestIdentity viaIntermediate;   // "localhost", issued by the intermediate
  TestIdentity stranger;          // a CA nobody trusts
  TestIdentity strangerLocalhost; // "localhost", issued by the stranger
  TestIdentity weak;              // self-signed with a key of 1024 bits
};
const TestPki& testPki();

// A "localhost" certificate from the intermediate that names the URL its
// issuer is to be fetched from (Authority Information Access).
TestIdentity leafWithIssuerAt(const std::string& url);
// A certificate's DER bytes.
std::string derOf(const TestIdentity& id);

// The CA becomes trusted by the system's verification: natively through
// SSL_CERT_FILE (a file in the temporary folder), under Wine in the current
// user's ROOT store of the tests' private prefix. Called before the first
// check, as the chain engine reads the ROOT store once. Idempotent.
void trustTestCa();
// Takes the CA out of the ROOT store again (under Wine; natively nothing).
void untrustTestCa();

// The pin as the tests compute it: SHA-256 of the public key's DER
// SubjectPublicKeyInfo, lowercase hex.
std::string testPin(const TestIdentity& id);

// The server side of TLS over a scripted connection. With requiredName set,
// the handshake is refused unless the client names that server.
class TlsScript {
 public:
  // chainCa: a certificate sent after the server's own. The server's own
  // security level is 0 (it takes the weak key too).
  TlsScript(ScriptConnection& conn, const TestIdentity& id, const char* requiredName = nullptr,
            bool tls11Only = false, const TestIdentity* chainCa = nullptr);
  ~TlsScript();
  bool ok() const { return ok_; }
  // The name the client sent, "" when none.
  std::string serverName() const { return names_.seen; }
  void send(const std::string& bytes);
  std::string readLine();

 private:
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* tls_ = nullptr;
  bool ok_ = false;

 public:
  struct Names {
    std::string seen, required;
  };

 private:
  Names names_;
};
