#include "mailcheck/login_delay.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LoginDelay, CapabilityLinesAndWhatTheyAskFor) {
  struct Row {
    const char* line;
    uint32_t seconds;
    bool perUser;
  } rows[] = {{"LOGIN-DELAY 900\r\n", 900, false},     {"login-delay 60 user\r\n", 60, true},
              {"LOGIN-DELAY 900 USER\r\n", 900, true}, {"LOGIN-DELAY\r\n", 0, false},
              {"LOGIN-DELAY x\r\n", 0, false},         {"LOGIN-DELAY 3601\r\n", 3600, false},
              {"LOGIN-DELAY 4294967295\r\n", 3600, false}, {"LOGIN-DELAY 99999999999999999999999 USER\r\n", 3600, true},
              {"LOGIN-DELAYS 5\r\n", 0, false}};
  for (const Row& r : rows) {
    bool perUser = !r.perUser;
    EXPECT_EQ(r.seconds, loginDelayOf(r.line, &perUser)) << r.line;
    if (r.seconds) {
      EXPECT_EQ(r.perUser, perUser) << r.line;
    }
  }
}

// The delay belongs to server, port and user together; a change of any of
// them, or no account naming them, forgets it.
TEST(LoginDelay, KeptPerServerPortAndUser) {
  LoginDelayTable t{};
  Account accounts[kAccountSlots]{};
  Account& a = accounts[0];
  strcpy(a.mailaddr, "a@example.jp");
  strcpy(a.pop3server, "pop.example.jp");
  strcpy(a.user, "taro");
  a.port = 110;
  rememberLogin(t, a, 900, 5000);
  EXPECT_EQ(900u, loginDelayLeft(t, a, 5000));
  EXPECT_EQ(1u, loginDelayLeft(t, a, 5000 + 899001));
  EXPECT_EQ(0u, loginDelayLeft(t, a, 5000 + 900000));
  for (auto change : {+[](Account& x) { x.port = 995; }, +[](Account& x) { strcpy(x.user, "jiro"); },
                      +[](Account& x) { strcpy(x.pop3server, "pop2.example.jp"); }}) {
    Account other = a;
    change(other);
    EXPECT_EQ(0u, loginDelayLeft(t, other, 5000));
  }
  forgetUnconfigured(t, accounts);
  EXPECT_EQ(900u, loginDelayLeft(t, a, 5000));
  Account was = a;
  a.port = 995;
  forgetUnconfigured(t, accounts);
  EXPECT_EQ(0u, loginDelayLeft(t, was, 5000));
  rememberLogin(t, a, 900, 5000);
  rememberLogin(t, a, 0, 6000);  // the server no longer asks for one
  EXPECT_EQ(0u, loginDelayLeft(t, a, 6000));
}
