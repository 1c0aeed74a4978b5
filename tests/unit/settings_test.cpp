#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/application.h"
#include "settings/edits.h"
#include "tests/support/kel_fixture.h"
#include "tests/unit/test_dir.h"

namespace {

struct KelInDir {
  TempDir dir;
  KelPtr kel = newKel(dir.path());
  std::string path(int n) const { return dir.file("mail" + std::to_string(n) + ".ini"); }
  void write(int n, const std::string& text) const { writeFile(path(n), text); }
  KelPtr reload() const { return loadedKel(dir.path()); }
};

}  // namespace

TEST(Settings, DefaultsWithNoFiles) {
  KelInDir t;
  loadAllSettings(*t.kel);
  const Kel& k = *t.kel;
  EXPECT_EQ(4, k.mailcbt);
  EXPECT_EQ(10, mailIntervalMinutes[k.mailcbt]);
  EXPECT_EQ(1, k.nmp);
  EXPECT_EQ(0, k.nmsnd);
  EXPECT_EQ(0, k.nmbeep);
  EXPECT_EQ(1, k.msmail);
  EXPECT_STREQ("", k.filename);
  EXPECT_STREQ("C:\\Program Files\\Outlook Express\\msimn.exe", k.mailer);
  EXPECT_EQ(0, k.hantoumei);
  EXPECT_EQ(0, k.shac);
  EXPECT_EQ(6, k.tcbt);
  EXPECT_EQ(120, clockIntervalMinutes[k.tcbt]);
  EXPECT_STREQ(kDefaultTimeServer, k.server);
  EXPECT_EQ(0, k.iconani);
  EXPECT_EQ(0, k.dicon);
  EXPECT_EQ(0, k.sicon);
  EXPECT_EQ(0, k.text);
  EXPECT_EQ(0xFFFFFF, k.textcolor);
  EXPECT_EQ(0, k.btext);
  EXPECT_EQ(0, k.btextcolor);
  for (const Account& a : k.accounts) {
    EXPECT_STREQ("", a.mailaddr);
    EXPECT_EQ(110, a.port);
    EXPECT_EQ(4, a.ipver);
  }
  for (int i = 0; i < kRuleSlots; ++i) {
    EXPECT_EQ(nullptr, k.deleteList[i]);
    EXPECT_EQ(nullptr, k.ignoreList[i]);
  }
  EXPECT_EQ(204, k.popupWidth);
  EXPECT_EQ(40, k.popupHeight);
  EXPECT_EQ(102, k.textCentreX);
  EXPECT_EQ(14, k.textTopSingle);
  EXPECT_EQ(6, k.textTopDouble);
  EXPECT_EQ(0, k.textColour);
}

TEST(Settings, AllFourFilesRoundTrip) {
  KelInDir t;
  Kel& k = *t.kel;
  loadAllSettings(k);
  k.mailcbt = 8;
  k.nmp = 0;
  k.nmsnd = 1;
  k.nmbeep = 1;
  k.msmail = 77;
  strcpy(k.filename, "C:\\サウンド\\新着.wav");
  strcpy(k.mailer, "C:\\Mail\\mailer.exe");
  k.hantoumei = 1;
  k.shac = 1;
  k.tcbt = 9;
  strcpy(k.server, "192.0.2.5");
  k.iconani = 1;
  k.sicon = 3;
  k.text = 4;
  k.textcolor = 123456;
  k.btext = -5;
  k.btextcolor = 654321;
  Account& a = k.accounts[0];
  strcpy(a.mailaddr, "taro@example.jp");
  strcpy(a.pop3server, "pop.example.jp");
  strcpy(a.user, "taro");
  strcpy(a.pass, "p@ss ワード");
  a.apop = 1;
  a.port = 995;
  a.ssl = 1;
  a.ipver = 6;
  a.protocol = -2;
  strcpy(k.accounts[1].mailaddr, "hanako@example.jp");
  putRule(k.deleteList, 0, "spam@example.com", kSenderAddressEquals);
  putRule(k.deleteList, 1, "未承諾広告", kSubjectContains);
  putRule(k.ignoreList, 0, "メルマガ", kSenderNameContains);
  for (int f = 1; f <= 4; ++f) ASSERT_TRUE(saveSettings(k, f)) << f;

  KelPtr back = t.reload();
  const Kel& b = *back;
  EXPECT_EQ(8, b.mailcbt);
  EXPECT_EQ(0, b.nmp);
  EXPECT_EQ(1, b.nmsnd);
  EXPECT_EQ(1, b.nmbeep);
  EXPECT_EQ(77, b.msmail);
  EXPECT_STREQ(k.filename, b.filename);
  EXPECT_STREQ(k.mailer, b.mailer);
  EXPECT_EQ(1, b.hantoumei);
  EXPECT_EQ(1, b.shac);
  EXPECT_EQ(9, b.tcbt);
  EXPECT_STREQ("192.0.2.5", b.server);
  EXPECT_EQ(1, b.iconani);
  EXPECT_EQ(3, b.sicon);
  EXPECT_EQ(4, b.text);
  EXPECT_EQ(123456, b.textcolor);
  EXPECT_EQ(-5, b.btext);
  EXPECT_EQ(654321, b.btextcolor);
  const Account& c = b.accounts[0];
  EXPECT_STREQ("taro@example.jp", c.mailaddr);
  EXPECT_STREQ("pop.example.jp", c.pop3server);
  EXPECT_STREQ("taro", c.user);
  EXPECT_STREQ("p@ss ワード", c.pass);
  EXPECT_EQ(1, c.apop);
  EXPECT_EQ(995, c.port);
  EXPECT_EQ(1, c.ssl);
  EXPECT_EQ(6, c.ipver);
  EXPECT_EQ(-2, c.protocol);
  EXPECT_STREQ("hanako@example.jp", b.accounts[1].mailaddr);
  EXPECT_EQ(110, b.accounts[1].port);
  EXPECT_STREQ("", b.accounts[2].mailaddr);
  ASSERT_NE(nullptr, b.deleteList[1]);
  EXPECT_STREQ("未承諾広告", b.deleteList[1]->keyword);
  EXPECT_EQ(kSubjectContains, b.deleteList[1]->kind);
  EXPECT_EQ(nullptr, b.deleteList[2]);
  ASSERT_NE(nullptr, b.ignoreList[0]);
  EXPECT_STREQ("メルマガ", b.ignoreList[0]->keyword);
  EXPECT_EQ(kSenderNameContains, b.ignoreList[0]->kind);
  EXPECT_FALSE(fileExists(t.path(1) + ".new"));
}

TEST(Settings, FilesKeepTheirKeyOrder) {
  KelInDir t;
  Kel& k = *t.kel;
  loadAllSettings(k);
  strcpy(k.accounts[0].mailaddr, "a@example.jp");
  strcpy(k.accounts[0].pop3server, "pop");
  putRule(k.deleteList, 0, "x", 1);
  putRule(k.deleteList, 1, "y", 5);
  for (int f = 1; f <= 3; ++f) ASSERT_TRUE(saveSettings(k, f));

  std::vector<std::string> options = fileLines(t.path(1));
  const char* expected[] = {
      "[mail]",     "mailcbt=4",    "nmp=1",       "nmsnd=0",
      "nmbeep=0",   "msmail=1",     "filename=",   "mailer=C:\\Program Files\\Outlook Express\\msimn.exe",
      "hantoumei=0", "shac=0",      "[sntp]",      "tcbt=6",
      "server=ntp.nict.jp", "[tasktray]", "iconani=0", "[desktop]",
      "dicon=0",    "sicon=0",      "text=0",      "textcolor=16777215",
      "btext=0",    "btextcolor=0",
  };
  ASSERT_EQ(sizeof expected / sizeof *expected, options.size());
  for (size_t i = 0; i < options.size(); ++i) EXPECT_EQ(expected[i], options[i]) << i;

  std::vector<std::string> accounts = fileLines(t.path(2));
  ASSERT_EQ(10u, accounts.size());
  const char* keys[] = {"[account00]", "mailaddr=", "pop3server=", "user=", "pass=",
                        "apop=",       "port=110",  "ssl=",        "ipver=4", "protocol="};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(0u, accounts[i].find(keys[i])) << accounts[i];

  std::vector<std::string> rules = fileLines(t.path(3));
  std::vector<std::string> want = {"[kill]", "key00-1=x", "key00-2=1", "key01-1=y", "key01-2=5"};
  EXPECT_EQ(want, rules);
}

TEST(Settings, DiconIsNeverReadBackAndSavedAsZero) {
  KelInDir t;
  t.write(1, "[desktop]\r\ndicon=1\r\nsicon=2\r\n");
  loadAllSettings(*t.kel);
  EXPECT_EQ(0, t.kel->dicon);
  EXPECT_EQ(2, t.kel->sicon);
  ASSERT_TRUE(saveSettings(*t.kel, kOptionsFile));
  EXPECT_NE(std::string::npos, readFile(t.path(1)).find("dicon=0"));
}

TEST(Settings, HandEditedRulesAreLoadedPacked) {
  KelInDir t;
  t.write(3,
          "[kill]\r\nkey00-1=only keyword\r\n"   // no kind: dropped
          "key01-2=3\r\n"                        // no keyword: empty keyword
          "key04-1=after gap\r\nkey04-2=4\r\n"
          "key07-1=negative\r\nkey07-2=-1\r\n");
  t.write(4, "[mushi]\r\nkey10-1=late\r\nkey10-2=0\r\n");
  loadAllSettings(*t.kel);
  Kel& k = *t.kel;
  ASSERT_NE(nullptr, k.deleteList[0]);
  EXPECT_STREQ("", k.deleteList[0]->keyword);
  EXPECT_EQ(3, k.deleteList[0]->kind);
  ASSERT_NE(nullptr, k.deleteList[1]);
  EXPECT_STREQ("after gap", k.deleteList[1]->keyword);
  EXPECT_EQ(nullptr, k.deleteList[2]);
  ASSERT_NE(nullptr, k.ignoreList[0]);
  EXPECT_STREQ("late", k.ignoreList[0]->keyword);

  ASSERT_TRUE(saveSettings(k, kDeleteListFile));
  std::vector<std::string> want = {"[kill]", "key00-1=", "key00-2=3", "key01-1=after gap",
                                   "key01-2=4"};
  EXPECT_EQ(want, fileLines(t.path(3)));
}

TEST(Settings, RuleKeywordIsCutTo61Bytes) {
  KelInDir t;
  t.write(3, "[kill]\r\nkey00-1=" + std::string(100, 'k') + "\r\nkey00-2=4\r\n");
  loadAllSettings(*t.kel);
  ASSERT_NE(nullptr, t.kel->deleteList[0]);
  EXPECT_EQ(std::string(61, 'k'), t.kel->deleteList[0]->keyword);
}

// What the profile reader would strip (blanks, a pair of quotes) is kept:
// every text reads back as it was saved, also one that fills its field.
TEST(Settings, TextsWithEdgeBlanksAndQuotesReadBackAsTyped) {
  KelInDir t;
  Kel& k = *t.kel;
  const std::string keywords[] = {" lead", "trail ", "\tboth\t", "\"quoted\"", "'single'", "\"", "a\"",
                                   " \"\" ", " " + std::string(60, 'f'), std::string(60, 'f') + "'",
                                   "\vtab", "feed\f", "\f\v"};
  constexpr int kKeywords = sizeof keywords / sizeof keywords[0];
  for (int i = 0; i < kKeywords; ++i) putRule(k.deleteList, i, keywords[i].c_str(), i % 6);
  strcpy(k.accounts[0].mailaddr, " taro@example.jp ");
  strcpy(k.accounts[0].pop3server, "'pop.example.jp'");
  strcpy(k.accounts[0].user, "taro ");
  strcpy(k.accounts[0].pass, " pass\" ");
  strcpy(k.server, " ntp.example.jp");
  ASSERT_TRUE(saveSettings(k, kOptionsFile));
  ASSERT_TRUE(saveSettings(k, kAccountsFile));
  ASSERT_TRUE(saveSettings(k, kDeleteListFile));
  auto back = t.reload();
  for (int i = 0; i < kKeywords; ++i) {
    ASSERT_NE(nullptr, back->deleteList[i]);
    EXPECT_EQ(keywords[i], back->deleteList[i]->keyword) << i;
  }
  EXPECT_STREQ(" taro@example.jp ", back->accounts[0].mailaddr);
  EXPECT_STREQ("'pop.example.jp'", back->accounts[0].pop3server);
  EXPECT_STREQ("taro ", back->accounts[0].user);
  EXPECT_STREQ(" pass\" ", back->accounts[0].pass);
  EXPECT_STREQ(" ntp.example.jp", back->server);
}

// Hand-edited values a save must not change: a kind past what a rule's byte
// holds, and a text that ends in a byte the reader strips.
TEST(Settings, HandEditedOddValuesSurviveASave) {
  KelInDir t;
  t.write(3, "[kill]\r\nkey00-1=a\r\nkey00-2=200\r\nkey01-1=b\r\nkey01-2=1\r\n");
  t.write(1, std::string("[sntp]\r\nserver=\"ntp.example.jp\x1a\"\r\n"));  // ^Z: DOS's end of file
  loadAllSettings(*t.kel);
  ASSERT_NE(nullptr, t.kel->deleteList[0]);
  EXPECT_EQ(127, t.kel->deleteList[0]->kind);  // still unknown: matches nothing
  EXPECT_STREQ("ntp.example.jp\x1a", t.kel->server);
  ASSERT_TRUE(saveSettings(*t.kel, kDeleteListFile));
  ASSERT_TRUE(saveSettings(*t.kel, kOptionsFile));
  auto back = t.reload();
  ASSERT_NE(nullptr, back->deleteList[1]);
  EXPECT_STREQ("a", back->deleteList[0]->keyword);
  EXPECT_EQ(127, back->deleteList[0]->kind);
  EXPECT_STREQ("b", back->deleteList[1]->keyword);
  EXPECT_STREQ("ntp.example.jp\x1a", back->server);
}

TEST(Settings, AccountsWithGapsArePackedAndPortsDefault) {
  KelInDir t;
  t.write(2,
          "[account01]\r\nmailaddr=first@example.jp\r\nport=995\r\n"
          "[account03]\r\npop3server=no address\r\n"
          "[account05]\r\nmailaddr=second@example.jp\r\n");
  loadAllSettings(*t.kel);
  Kel& k = *t.kel;
  EXPECT_STREQ("first@example.jp", k.accounts[0].mailaddr);
  EXPECT_EQ(995, k.accounts[0].port);
  EXPECT_STREQ("second@example.jp", k.accounts[1].mailaddr);
  EXPECT_EQ(110, k.accounts[1].port);
  EXPECT_STREQ("", k.accounts[2].mailaddr);
  EXPECT_STREQ("", k.accounts[2].pop3server);

  ASSERT_TRUE(saveSettings(k, kAccountsFile));
  std::string text = readFile(t.path(2));
  EXPECT_NE(std::string::npos, text.find("[account00]"));
  EXPECT_NE(std::string::npos, text.find("[account01]"));
  EXPECT_EQ(std::string::npos, text.find("[account02]"));
  EXPECT_EQ(std::string::npos, text.find("no address"));
}

TEST(Settings, OutOfRangeIndexesLoadAsDefaults) {
  KelInDir t;
  t.write(1, "[mail]\r\nmailcbt=9\r\n[sntp]\r\ntcbt=-1\r\n");
  loadAllSettings(*t.kel);
  EXPECT_EQ(4, t.kel->mailcbt);
  EXPECT_EQ(6, t.kel->tcbt);
  EXPECT_EQ(10, mailIntervalFor(42));
  EXPECT_EQ(120, clockIntervalFor(10));
  EXPECT_STREQ("", matchKindLabel(6));
  EXPECT_STREQ("宛先に含まれる", matchKindLabel(5));
}

TEST(Settings, LongTextsAreCutOnLoading) {
  KelInDir t;
  t.write(1, "[mail]\r\nfilename=" + std::string(400, 'f') + "\r\n[sntp]\r\nserver=" +
                 std::string(200, 's') + "\r\n");
  t.write(2, "[account00]\r\nmailaddr=" + std::string(300, 'm') + "\r\nuser=" +
                 std::string(100, 'u') + "\r\n");
  loadAllSettings(*t.kel);
  EXPECT_EQ(259u, strlen(t.kel->filename));
  EXPECT_EQ(127u, strlen(t.kel->server));
  EXPECT_EQ(127u, strlen(t.kel->accounts[0].mailaddr));
  EXPECT_EQ(63u, strlen(t.kel->accounts[0].user));
}

TEST(Settings, EmptyFilesAreLeftDeleted) {
  KelInDir t;
  Kel& k = *t.kel;
  loadAllSettings(k);
  strcpy(k.accounts[0].mailaddr, "a@example.jp");
  putRule(k.ignoreList, 0, "x", 0);
  ASSERT_TRUE(saveSettings(k, kAccountsFile));
  ASSERT_TRUE(saveSettings(k, kIgnoreListFile));
  ASSERT_TRUE(fileExists(t.path(2)));
  ASSERT_TRUE(fileExists(t.path(4)));

  k.accounts[0].mailaddr[0] = '\0';
  strcpy(k.accounts[0].pop3server, "still set");
  freeRuleList(k.ignoreList);
  ASSERT_TRUE(saveSettings(k, kAccountsFile));
  ASSERT_TRUE(saveSettings(k, kIgnoreListFile));
  ASSERT_TRUE(saveSettings(k, kDeleteListFile));
  EXPECT_FALSE(fileExists(t.path(2)));
  EXPECT_FALSE(fileExists(t.path(3)));
  EXPECT_FALSE(fileExists(t.path(4)));
}

TEST(Settings, SavingAgainReplacesWhatTheFileHeld) {
  KelInDir t;
  Kel& k = *t.kel;
  t.write(1, "[mail]\r\nstray=1\r\n[other]\r\nkey=value\r\n");
  loadAllSettings(k);
  k.mailcbt = 1;
  ASSERT_TRUE(saveSettings(k, kOptionsFile));
  k.mailcbt = 2;
  ASSERT_TRUE(saveSettings(k, kOptionsFile));
  std::string text = readFile(t.path(1));
  EXPECT_EQ(std::string::npos, text.find("stray"));
  EXPECT_EQ(std::string::npos, text.find("[other]"));
  EXPECT_EQ(2, t.reload()->mailcbt);
}

namespace {

// Letters that Shift-JIS cannot name: a Latin one, a Chinese-only one and
// one outside the BMP.
const char* const kOddFolder = reinterpret_cast<const char*>(u8" José 你\U0001F600");

void fillAll(Kel& k) {
  loadAllSettings(k);
  k.mailcbt = 7;
  strcpy(k.filename, "C:\\サウンド\\表示.wav");
  strcpy(k.server, "ntp.example.jp");
  strcpy(k.accounts[0].mailaddr, "taro@example.jp");
  strcpy(k.accounts[0].pass, "p@ss ワード");
  putRule(k.deleteList, 0, "未承諾広告", kSubjectContains);
  putRule(k.ignoreList, 0, "メルマガ", kSenderNameContains);
}

}  // namespace

// The four files go beside a program whose folder has no Shift-JIS name, are
// byte for byte what they are in a plain folder, and load back.
TEST(Settings, FolderOutsideShiftJisHoldsTheSameFiles) {
  TempDir plain;
  TempDir odd(kOddFolder);
  ASSERT_NE(std::string::npos, odd.path().find(kOddFolder));
  KelPtr a = newKel(plain.path()), b = newKel(odd.path());
  fillAll(*a);
  fillAll(*b);
  for (int f = 1; f <= 4; ++f) {
    ASSERT_TRUE(saveSettings(*a, f)) << f;
    ASSERT_TRUE(saveSettings(*b, f)) << f;
    std::string name = "mail" + std::to_string(f) + ".ini";
    std::string want = readFile(plain.file(name));
    ASSERT_FALSE(want.empty()) << f;
    EXPECT_EQ(want, readFile(odd.file(name))) << f;
    EXPECT_FALSE(fileExists(odd.file(name + ".new"))) << f;
  }
  KelPtr back = loadedKel(odd.path());
  EXPECT_EQ(7, back->mailcbt);
  EXPECT_STREQ("C:\\サウンド\\表示.wav", back->filename);
  EXPECT_STREQ("ntp.example.jp", back->server);
  EXPECT_STREQ("p@ss ワード", back->accounts[0].pass);
  ASSERT_NE(nullptr, back->deleteList[0]);
  EXPECT_STREQ("未承諾広告", back->deleteList[0]->keyword);
  ASSERT_NE(nullptr, back->ignoreList[0]);
  EXPECT_STREQ("メルマガ", back->ignoreList[0]->keyword);
}

TEST(Password, StartsAtHalfTheLengthInTheTable) {
  char out[80];
  scramblePassword("abcd", out);
  ASSERT_EQ(8u, strlen(out));
  char want[9];
  for (int i = 0; i < 4; ++i)
    snprintf(want + 2 * i, 3, "%02X", static_cast<uint8_t>("abcd"[i]) ^ passwordKeyTable[2 + i]);
  EXPECT_STREQ(want, out);

  std::string plain31(31, 'z');
  scramblePassword(plain31.c_str(), out);
  ASSERT_EQ(62u, strlen(out));
  char first[3];
  snprintf(first, sizeof first, "%02X", 'z' ^ passwordKeyTable[15]);
  EXPECT_EQ(std::string(first), std::string(out, 2));
  char back[32];
  ASSERT_TRUE(unscramblePassword(out, back, sizeof back));
  EXPECT_EQ(plain31, back);

  scramblePassword("", out);
  EXPECT_STREQ("", out);
}

TEST(Password, SameTextEveryTimeAndOnlyUpperCaseDigits) {
  char a[80], b[80];
  scramblePassword("secret!", a);
  scramblePassword("secret!", b);
  EXPECT_STREQ(a, b);
  for (const char* p = a; *p; ++p) EXPECT_TRUE((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F'));
}

TEST(Password, BadStoredTextLoadsAsEmpty) {
  char out[32] = "junk";
  EXPECT_FALSE(unscramblePassword("ABC", out, sizeof out));  // odd length
  EXPECT_STREQ("", out);
  EXPECT_FALSE(unscramblePassword("GG00", out, sizeof out));  // not hexadecimal
  EXPECT_STREQ("", out);
  std::string tooLong(64, 'A');  // 32 bytes
  EXPECT_FALSE(unscramblePassword(tooLong.c_str(), out, sizeof out));
  EXPECT_STREQ("", out);

  KelInDir t;
  t.write(2, "[account00]\r\nmailaddr=a@b\r\npass=XYZ1\r\n");
  loadAllSettings(*t.kel);
  EXPECT_STREQ("", t.kel->accounts[0].pass);
}

// An IMAP account that an older version's editor saved with a POP3 port
// reads back with IMAP's; the editor's protocol choice sets port and
// protocol, and a protocol value it does not name is kept while POP3 stays.
TEST(Settings, ImapPortsOnLoadingAndInTheEditor) {
  KelInDir t;
  t.write(2,
          "[account00]\r\nmailaddr=a@example.jp\r\nprotocol=1\r\nport=110\r\n"
          "[account01]\r\nmailaddr=b@example.jp\r\nprotocol=1\r\nport=995\r\n"
          "[account02]\r\nmailaddr=c@example.jp\r\nprotocol=1\r\nport=1143\r\n"
          "[account03]\r\nmailaddr=d@example.jp\r\nprotocol=5\r\nport=110\r\n");
  loadAllSettings(*t.kel);
  Kel& k = *t.kel;
  const int ports[4] = {143, 993, 1143, 110};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ports[i], k.accounts[i].port) << i;
  struct Edit {
    int slot;
    bool ssl, imap;
    int port, protocol;
  } edits[] = {{0, true, true, 993, 1}, {1, false, true, 143, 1}, {2, true, false, 995, 0},
               {3, false, false, 110, 5}, {3, false, true, 143, 1}, {3, false, false, 110, 0}};
  for (const Edit& e : edits) {
    AccountFields f{k.accounts[e.slot].mailaddr, "mail.example.jp", "u", "pw", false, e.ssl, e.imap};
    EXPECT_EQ(e.slot + 1, storeAccount(k, e.slot, f, nullptr));
    EXPECT_EQ(e.port, k.accounts[e.slot].port) << e.slot;
    EXPECT_EQ(e.protocol, k.accounts[e.slot].protocol) << e.slot;
  }
}
