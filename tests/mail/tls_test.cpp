// The transport's TLS: the server's name sent, the chain and the name
// verified by the system, the key's pin, the protocol's floor.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "mailcheck/transport.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"
#include "tests/mail/test_tls.h"

namespace {

// Under Wine the test CA is trusted before the first check of the process:
// Windows' chain engine reads the ROOT store once. Natively each test that
// needs it makes it (every case runs in a process of its own there).
class TestCaTrust : public ::testing::Environment {
 public:
  void SetUp() override {
#ifdef _WIN32
    trustTestCa();
#endif
  }
  void TearDown() override { untrustTestCa(); }
};
::testing::Environment* const testCaTrust = ::testing::AddGlobalTestEnvironment(new TestCaTrust);

class TlsTransport : public ::testing::Test {
 protected:
  void SetUp() override { trustTestCa(); }
};

Connection fresh() {
  Connection c{};
  c.sock = kNoSocket;
  return c;
}

// A server that greets over TLS with `id`, and records the name asked for.
class GreetingTlsServer {
 public:
  GreetingTlsServer(const TestIdentity& id, const char* requiredName = nullptr, bool tls11Only = false,
                    const TestIdentity* chainCa = nullptr)
      : server_(new ScriptServer([this, &id, requiredName, tls11Only, chainCa](ScriptConnection& s) {
          TlsScript tls(s, id, requiredName, tls11Only, chainCa);
          name_ = tls.ok() ? tls.serverName() : "(refused)";
          tls.send("+OK hello\r\n");
          tls.readLine();
        })) {}
  int port() const { return server_->port(); }
  // Ends the server (its scripts first): the name the client asked for.
  std::string name() {
    server_.reset();
    return name_;
  }

 private:
  std::string name_ = "(no handshake)";
  std::unique_ptr<ScriptServer> server_;
};

// Connects over TLS and reads the greeting: the connect code, and key.
// why: what the connection says of a failed handshake.
int greeted(const char* host, int port, ServerKey* key, std::string* why = nullptr) {
  Connection c = fresh();
  int rc = connectServer(c, host, port, 1, key);
  if (why) *why = linkFailure(c).tls;
  if (rc == kErrorNone) {
    char line[kLineBudget];
    if (readLine(c, line) != 11 || memcmp(line, "+OK hello\r\n", 11) != 0) rc = -1;
  }
  closeConnection(c);
  return rc;
}

bool isPin(const char* pin) {
  if (strlen(pin) != 64) return false;
  for (const char* p = pin; *p; ++p)
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
  return true;
}

}  // namespace

TEST_F(TlsTransport, NamesTheServerItReachesByName) {
  GreetingTlsServer server(testPki().localhost, "localhost");
  ServerKey key{};
  EXPECT_EQ(kErrorNone, greeted("localhost", server.port(), &key));
  EXPECT_EQ("localhost", server.name());
}

TEST_F(TlsTransport, NamesNoServerReachedByAddress) {
  {
    GreetingTlsServer server(testPki().localhost);
    EXPECT_EQ(kErrorNone, greeted("127.0.0.1", server.port(), nullptr));
    EXPECT_EQ("", server.name());
  }
  // A server that insists on a name refuses the handshake.
  GreetingTlsServer strict(testPki().localhost, "localhost");
  EXPECT_EQ(kErrorTlsFailed, greeted("127.0.0.1", strict.port(), nullptr));
  EXPECT_EQ("(refused)", strict.name());
}

TEST_F(TlsTransport, CertificateOfATrustedAuthorityVerifiesForItsName) {
  GreetingTlsServer server(testPki().localhost);
  ServerKey key{};
  key.verified = false;
  ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &key));
  EXPECT_TRUE(key.verified);
  EXPECT_EQ(testPin(testPki().localhost), key.pin);
}

// The intermediate comes from the server, as most servers send theirs.
TEST_F(TlsTransport, ChainThroughAnIntermediateTheServerSentVerifies) {
  GreetingTlsServer server(testPki().viaIntermediate, nullptr, false, &testPki().intermediate);
  ServerKey key{};
  ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &key));
  EXPECT_TRUE(key.verified);
  EXPECT_EQ(testPin(testPki().viaIntermediate), key.pin);
}

// A server that sends its certificate without the intermediate, and names
// a URL to fetch it from: the chain is built from what is at hand, nothing
// is fetched, and the key is not verified (it is trusted on first use).
TEST_F(TlsTransport, AnIntermediateLeftToAUrlIsNotFetched) {
  std::atomic<int> requests{0};
  ScriptServer web([&](ScriptConnection& s) {
    if (s.readLine().rfind("GET ", 0) != 0) return;
    ++requests;
    std::string der = derOf(testPki().intermediate);
    s.send("HTTP/1.0 200 OK\r\nContent-Type: application/pkix-cert\r\nContent-Length: " +
           std::to_string(der.size()) + "\r\n\r\n" + der);
  });
  TestIdentity leaf = leafWithIssuerAt("http://127.0.0.1:" + std::to_string(web.port()) + "/issuer.cer");
  GreetingTlsServer server(leaf);
  ServerKey key{};
  ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &key));
  EXPECT_FALSE(key.verified);
  EXPECT_EQ(testPin(leaf), key.pin);
  EXPECT_EQ(0, requests.load());
}

TEST_F(TlsTransport, CertificateOfAnUntrustedAuthorityIsNotVerifiedYetConnects) {
  GreetingTlsServer server(testPki().strangerLocalhost, nullptr, false, &testPki().stranger);
  ServerKey key{};
  key.verified = true;
  ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &key));
  EXPECT_FALSE(key.verified);
  EXPECT_EQ(testPin(testPki().strangerLocalhost), key.pin);
}

TEST_F(TlsTransport, AddressTheCertificateDoesNotNameIsNotVerifiedYetConnects) {
  GreetingTlsServer server(testPki().localhost);
  ServerKey key{};
  key.verified = true;
  ASSERT_EQ(kErrorNone, greeted("127.0.0.1", server.port(), &key));
  EXPECT_FALSE(key.verified);
  EXPECT_EQ(testPin(testPki().localhost), key.pin);
}

TEST_F(TlsTransport, SelfSignedKeyIsNotVerifiedAndHasItsOwnPin) {
  ServerKey first{}, second{};
  {
    GreetingTlsServer server(testPki().selfSigned);
    ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &first));
  }
  GreetingTlsServer server(testPki().other);
  ASSERT_EQ(kErrorNone, greeted("localhost", server.port(), &second));
  EXPECT_FALSE(first.verified);
  EXPECT_FALSE(second.verified);
  EXPECT_TRUE(isPin(first.pin)) << first.pin;
  EXPECT_EQ(testPin(testPki().selfSigned), first.pin);
  EXPECT_EQ(testPin(testPki().other), second.pin);
  EXPECT_STRNE(first.pin, second.pin);
}

TEST_F(TlsTransport, RefusesAServerBelowTls12) {
  GreetingTlsServer server(testPki().localhost, nullptr, /*tls11Only=*/true);
  ServerKey key{};
  EXPECT_EQ(kErrorTlsFailed, greeted("localhost", server.port(), &key));
  EXPECT_STREQ("", key.pin);
}

// Security level 2: a key of fewer than 2048 bits is refused.
TEST_F(TlsTransport, RefusesAServerKeyOfFewerThan2048Bits) {
  GreetingTlsServer server(testPki().weak);
  ServerKey key{};
  std::string why;
  EXPECT_EQ(kErrorTlsFailed, greeted("localhost", server.port(), &key, &why));
  EXPECT_STREQ("", key.pin);
  EXPECT_EQ("EE certificate key too weak", why);  // the chain's error, as OpenSSL words it
}

// Dovecot's self-signed certificate passes the security level, and its
// key's pin is the same at every connection.
TEST_F(TlsTransport, DovecotSelfSignedKeyIsPinnedAlike) {
  int port = envPort("KEL_POP3S_PORT");
  ASSERT_NE(0, port);
  ServerKey first{}, second{};
  for (ServerKey* key : {&first, &second}) {
    Connection c = fresh();
    ASSERT_EQ(kErrorNone, connectServer(c, "127.0.0.1", port, 1, key));
    char line[kLineBudget];
    EXPECT_GT(readLine(c, line), 3);
    EXPECT_EQ(0, memcmp(line, "+OK", 3));
    closeConnection(c);
  }
  EXPECT_FALSE(first.verified);
  EXPECT_TRUE(isPin(first.pin)) << first.pin;
  EXPECT_STREQ(first.pin, second.pin);
}
