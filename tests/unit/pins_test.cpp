// An account's trusted server key: its key in mail2.ini, the hand-over of a
// key a check learned, and what the editor's changes do to it.
#include "settings/pins.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "app/application.h"
#include "mailcheck/error_code.h"
#include "mailcheck/server_trust.h"
#include "settings/edits.h"
#include "settings/settings.h"
#include "tests/support/kel_fixture.h"
#include "tests/unit/test_dir.h"

namespace {

const std::string kPinA = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kPinB = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";

struct KelInDir {
  TempDir dir;
  KelPtr kel = newKel(dir.path());
  std::string path() const { return dir.file("mail2.ini"); }
  void write(const std::string& text) const { writeFile(path(), text); }
  KelPtr reload() const { return loadedKel(dir.path()); }
};

void setAccount(Account& a, const char* mailaddr, const char* server, uint16_t port, const char* user) {
  a = Account{};
  strcpy(a.mailaddr, mailaddr);
  strcpy(a.pop3server, server);
  strcpy(a.user, user);
  strcpy(a.pass, "pw");
  a.port = port;
  a.ssl = port == 995;
  a.ipver = 4;
}

PinOffer offerFor(int slot, const Account& a, const std::string& pin) {
  PinOffer o{};
  o.slot = slot;
  strcpy(o.server, a.pop3server);
  o.port = a.port;
  strcpy(o.user, a.user);
  strcpy(o.pin, pin.c_str());
  return o;
}

const char kOlderFile[] =
    "[account00]\r\nmailaddr=taro@example.jp\r\npop3server=pop.example.jp\r\nuser=taro\r\npass=\r\n"
    "apop=0\r\nport=995\r\nssl=1\r\nipver=4\r\nprotocol=0\r\n";

}  // namespace

TEST(Pins, APinIsTheLastKeyOfItsSectionAndReadsBack) {
  KelInDir t;
  setAccount(t.kel->accounts[0], "taro@example.jp", "pop.example.jp", 995, "taro");
  strcpy(t.kel->accounts[0].pin, kPinA.c_str());
  setAccount(t.kel->accounts[1], "hanako@example.jp", "pop.example.jp", 110, "hanako");
  ASSERT_TRUE(saveSettings(*t.kel, kAccountsFile));
  std::vector<std::string> lines = fileLines(t.path());
  ASSERT_EQ(21u, lines.size());  // a section of nine keys and a pin, then one of nine
  EXPECT_EQ("protocol=0", lines[9]);
  EXPECT_EQ("pin=" + kPinA, lines[10]);
  EXPECT_EQ("[account01]", lines[11]);
  EXPECT_EQ("protocol=0", lines[20]);  // no pin: no key

  KelPtr back = t.reload();
  EXPECT_EQ(kPinA, back->accounts[0].pin);
  EXPECT_STREQ("", back->accounts[1].pin);
  EXPECT_STREQ("taro", back->accounts[0].user);
}

TEST(Pins, AFileWithoutPinsLoadsAndSavesAsBefore) {
  KelInDir t;
  t.write(kOlderFile);
  loadAllSettings(*t.kel);
  EXPECT_STREQ("", t.kel->accounts[0].pin);
  EXPECT_EQ(995, t.kel->accounts[0].port);
  ASSERT_TRUE(saveSettings(*t.kel, kAccountsFile));
  EXPECT_EQ(kOlderFile, readFile(t.path()));
}

TEST(Pins, OnlySixtyFourHexadecimalDigitsAreAPin) {
  const std::string bad[] = {
      kPinA.substr(0, 63),              // one digit short
      kPinA + "0",                      // one too many
      kPinA + std::string(40, '0'),     // would fit if cut
      kPinA.substr(0, 63) + "g",        // not a digit
      kPinA.substr(0, 32) + " " + kPinA.substr(33),
      "",
  };
  for (const std::string& pin : bad) {
    KelInDir t;
    t.write(std::string(kOlderFile) + "pin=" + pin + "\r\n");
    loadAllSettings(*t.kel);
    EXPECT_STREQ("", t.kel->accounts[0].pin) << pin;
    EXPECT_STREQ("taro@example.jp", t.kel->accounts[0].mailaddr);
  }
  std::string upper = kPinB;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  KelInDir t;
  t.write(std::string(kOlderFile) + "pin=" + upper + "\r\n");
  loadAllSettings(*t.kel);
  EXPECT_EQ(kPinB, t.kel->accounts[0].pin);  // as the sessions compute it
}

TEST(Pins, AnOfferIsStoredAndSavedOnlyOnce) {
  KelInDir t;
  setAccount(t.kel->accounts[0], "a@example.jp", "pop.example.jp", 995, "a");
  setAccount(t.kel->accounts[1], "b@example.jp", "pop.example.jp", 995, "b");
  setAccount(t.kel->accounts[2], "c@example.jp", "pop.example.jp", 995, "c");
  EXPECT_EQ(PinStored::kStored, acceptPinOffer(*t.kel, offerFor(2, t.kel->accounts[2], kPinA)));
  EXPECT_EQ(kPinA, t.kel->accounts[2].pin);
  EXPECT_EQ(kPinA, t.reload()->accounts[2].pin);

  writeFile(t.path(), "");  // a second save would show
  EXPECT_EQ(PinStored::kAlreadyHeld, acceptPinOffer(*t.kel, offerFor(2, t.kel->accounts[2], kPinA)));
  EXPECT_EQ("", readFile(t.path()));

  // A key that verifies refreshes the pin.
  EXPECT_EQ(PinStored::kStored, acceptPinOffer(*t.kel, offerFor(2, t.kel->accounts[2], kPinB)));
  EXPECT_EQ(kPinB, t.reload()->accounts[2].pin);
}

TEST(Pins, AnOfferForAnAccountThatChangedOrMovedIsDropped) {
  KelInDir t;
  Kel& k = *t.kel;
  setAccount(k.accounts[0], "a@example.jp", "pop.example.jp", 995, "a");
  setAccount(k.accounts[1], "b@example.jp", "pop.example.jp", 995, "b");
  const Account checked = k.accounts[1];

  PinOffer o = offerFor(1, checked, kPinA);
  strcpy(k.accounts[1].pop3server, "other.example.jp");
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, o));
  k.accounts[1] = checked;
  k.accounts[1].port = 110;
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, o));
  k.accounts[1] = checked;
  strcpy(k.accounts[1].user, "b2");
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, o));
  k.accounts[1] = checked;

  // Slot 0 deleted: b moves to slot 0, and slot 1 is empty.
  deleteAccount(k, 0);
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, o));
  o.slot = 0;
  PinOffer forA = offerFor(0, checked, kPinA);
  strcpy(forA.user, "a");
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, forA));  // a is gone
  for (const Account& a : k.accounts) EXPECT_STREQ("", a.pin);
  EXPECT_FALSE(fileExists(t.path()) && readFile(t.path()).find("pin=") != std::string::npos);

  // The account that was checked, in its new place, takes it.
  EXPECT_EQ(PinStored::kStored, acceptPinOffer(k, o));
  EXPECT_EQ(kPinA, k.accounts[0].pin);

  PinOffer junk = o;
  strcpy(junk.pin, "not a pin");
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, junk));
  junk = o;
  junk.slot = kAccountSlots;
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, junk));
  junk.slot = -1;
  EXPECT_EQ(PinStored::kDropped, acceptPinOffer(k, junk));
  EXPECT_EQ(kPinA, k.accounts[0].pin);
}

TEST(Pins, ChangingTheServerOrThePortClearsThePinAndNothingElseDoes) {
  KelInDir t;
  Kel& k = *t.kel;
  setAccount(k.accounts[0], "a@example.jp", "pop.example.jp", 995, "a");
  auto pinned = [&] {
    strcpy(k.accounts[0].pin, kPinA.c_str());
  };
  pinned();
  AccountFields same{"a2@example.jp", "pop.example.jp", "a-other", "new-pass", true, true, false};
  EXPECT_EQ(1, storeAccount(k, 0, same, nullptr));  // address, user, password, APOP
  EXPECT_EQ(kPinA, k.accounts[0].pin);

  AccountFields otherServer = same;
  otherServer.pop3server = "pop2.example.jp";
  EXPECT_EQ(1, storeAccount(k, 0, otherServer, nullptr));
  EXPECT_STREQ("", k.accounts[0].pin);

  pinned();
  AccountFields otherPort = otherServer;
  otherPort.ssl = false;  // 995 becomes 110
  EXPECT_EQ(1, storeAccount(k, 0, otherPort, nullptr));
  EXPECT_STREQ("", k.accounts[0].pin);

  // A port the file gave that the editor replaces is a change of port too.
  pinned();
  k.accounts[0].port = 2110;
  EXPECT_EQ(1, storeAccount(k, 0, otherPort, nullptr));
  EXPECT_STREQ("", k.accounts[0].pin);

  pinned();
  AccountFields added{"new@example.jp", "pop.example.jp", "a", "pw", false, false, false};
  EXPECT_EQ(2, storeAccount(k, -1, added, nullptr));
  EXPECT_STREQ("", k.accounts[1].pin);
  EXPECT_EQ(kPinA, k.accounts[0].pin);
}

TEST(Pins, TheEditorsQuestionNeedsARefusedKeyThatIsNotThePin) {
  KelInDir t;
  Kel& k = *t.kel;
  setAccount(k.accounts[0], "a@example.jp", "pop.example.jp", 995, "a");
  strcpy(k.accounts[0].pin, kPinA.c_str());
  char stored[kPinSize], seen[kPinSize];
  EXPECT_FALSE(refusedKey(k, 0, stored, seen));  // no check yet

  k.results[0].errorCode = kErrorServerKeyChanged;
  k.results[0].failed = 1;
  std::string upper = kPinB;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  strcpy(k.results[0].seenPin, upper.c_str());
  ASSERT_TRUE(refusedKey(k, 0, stored, seen));
  EXPECT_EQ(kPinA, stored);
  EXPECT_EQ(kPinB, seen);
  EXPECT_FALSE(refusedKey(k, 1, stored, seen));  // an empty slot
  EXPECT_FALSE(refusedKey(k, -1, stored, seen));

  k.results[0].errorCode = kErrorTlsFailed;
  EXPECT_FALSE(refusedKey(k, 0, stored, seen));
  k.results[0].errorCode = kErrorServerKeyChanged;

  // The server changed since: its pin went, and there is nothing to accept.
  k.accounts[0].pin[0] = '\0';
  EXPECT_FALSE(refusedKey(k, 0, stored, seen));
  strcpy(k.accounts[0].pin, kPinA.c_str());

  EXPECT_EQ(SaveOutcome::kSaved, trustKey(k, 0, seen));
  EXPECT_EQ(kPinB, k.accounts[0].pin);
  EXPECT_EQ(kPinB, t.reload()->accounts[0].pin);
  EXPECT_FALSE(refusedKey(k, 0, stored, seen));  // already the one trusted
}
