#include "mailcheck/pop3/apop.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string md5(const std::string& s) {
  char out[36];
  md5Hex(s.c_str(), out);
  return out;
}
}  // namespace

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", md5(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", md5("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", md5("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", md5("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            md5("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            md5("1234567890123456789012345678901234567890"
                "1234567890123456789012345678901234567890"));
}

TEST(Md5, BlockBoundaries) {
  // 55, 56 and 64 bytes put the length into the same or a further block.
  EXPECT_EQ("ef1772b6dff9a122358552954ad0df65", md5(std::string(55, 'a')));
  EXPECT_EQ("3b0c8ac703f828b04c6c197006d17218", md5(std::string(56, 'a')));
  EXPECT_EQ("014842d480b571495a4a0363793f7367", md5(std::string(64, 'a')));
  // Bytes above 0x7F are hashed as unsigned.
  EXPECT_EQ("00594fd4f42ba43fc1ca0427a0576295", md5("\xFF"));
}

TEST(Apop, Rfc1939Example) {
  char input[kApopInputSize];
  ASSERT_TRUE(apopDigestInput("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
                              "tanstaaf", input));
  EXPECT_STREQ("<1896.697170952@dbc.mtview.ca.us>tanstaaf", input);
  EXPECT_EQ("c4c9334bac560ecc979e58001b3e22fb", md5(input));
}

TEST(Apop, TimestampRules) {
  char input[kApopInputSize];
  ASSERT_TRUE(apopDigestInput("+OK <a@b> and <c@d>\r\n", "pw", input));
  EXPECT_STREQ("<a@b>pw", input);
  ASSERT_TRUE(apopDigestInput("+OK <x>\r\n", "", input));
  EXPECT_STREQ("<x>", input);
  EXPECT_FALSE(apopDigestInput("+OK ready\r\n", "pw", input));
  EXPECT_FALSE(apopDigestInput("+OK <unclosed\r\n", "pw", input));
  EXPECT_FALSE(apopDigestInput("+OK > before <\r\n", "pw", input));

  // Any timestamp a greeting line can hold is taken whole: USER and PASS
  // would send the password in clear.
  std::string stamp = "<" + std::string(8190 - 8, 'x') + ">";
  std::string pass(31, 'p');
  std::string greeting = "+OK " + stamp + "\r\n";
  ASSERT_EQ(8190u, greeting.size());
  ASSERT_TRUE(apopDigestInput(greeting.c_str(), pass.c_str(), input));
  EXPECT_EQ(stamp + pass, input);
}
