// The trust decision after a TLS handshake, on its own.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "mailcheck/server_trust.h"

namespace {

const std::string kA(64, 'a');
const std::string kB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TrustVerdict decide(bool verified, const std::string& stored, const std::string& seen) {
  return decideTrust(verified, stored.c_str(), seen.c_str());
}

}  // namespace

TEST(ServerTrust, VerifiedKeyGoesOnAndIsStoredOrRefreshed) {
  EXPECT_EQ(TrustVerdict::kGoOnStorePin, decide(true, "", kA));
  EXPECT_EQ(TrustVerdict::kGoOnStorePin, decide(true, kB, kA));  // a new key that verifies
  EXPECT_EQ(TrustVerdict::kGoOn, decide(true, kA, kA));          // nothing to write
}

TEST(ServerTrust, UnverifiedKeyIsTrustedOnFirstUseAndHeldTo) {
  EXPECT_EQ(TrustVerdict::kGoOnStorePin, decide(false, "", kA));
  EXPECT_EQ(TrustVerdict::kGoOn, decide(false, kA, kA));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kB, kA));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kA, kB));
}

TEST(ServerTrust, PinsCompareInAnyLetterCase) {
  std::string upper = kB;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  EXPECT_EQ(TrustVerdict::kGoOn, decide(false, upper, kB));
  EXPECT_EQ(TrustVerdict::kGoOn, decide(false, kB, upper));
}

TEST(ServerTrust, NoKeySeenPassesOnlyWhereNoneIsNeeded) {
  EXPECT_EQ(TrustVerdict::kGoOn, decide(false, "", ""));
  EXPECT_EQ(TrustVerdict::kGoOn, decide(true, "", ""));
  EXPECT_EQ(TrustVerdict::kGoOn, decide(true, kA, ""));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kA, ""));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kA, kA.substr(0, 63)));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kA, kA + "a"));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decide(false, kA, std::string(64, 'g')));
  EXPECT_EQ(TrustVerdict::kKeyChanged, decideTrust(false, kA.c_str(), nullptr));
}

TEST(ServerTrust, AStoredPinThatIsNoPinCountsAsNone) {
  EXPECT_EQ(TrustVerdict::kGoOnStorePin, decide(false, "abc", kA));
  EXPECT_EQ(TrustVerdict::kGoOnStorePin, decideTrust(false, nullptr, kA.c_str()));
}
