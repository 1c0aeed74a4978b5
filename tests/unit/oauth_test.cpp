// What an OAuth2 account keeps and what a token endpoint's reply means:
// the mail2.ini keys, the per-slot table's moves, the sealed refresh token,
// the replies, and the URLs and forms of the token calls.
#include "settings/oauth.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/application.h"
#include "mailcheck/token_reply.h"
#include "platform/http.h"
#include "platform/secret.h"
#include "settings/edits.h"
#include "tests/support/kel_fixture.h"
#include "tests/unit/test_dir.h"

namespace {

struct TokenCase {
  int status;
  const char* body;
  TokenReply::Outcome outcome;
  const char* access = "";
  int64_t expiresIn = 0;
  const char* refresh = "";
  const char* error = "";
};

const auto kGranted = TokenReply::kGranted, kRefused = TokenReply::kRefused, kUnreadable = TokenReply::kUnreadable;
const TokenCase kTokenCases[] = {
    {200, R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599})", kGranted, "at-1", 3599},
    {200, R"({"access_token":"at-2","token_type":"bearer","expires_in":"60","refresh_token":"rt-2"})", kGranted,
     "at-2", 60, "rt-2"},
    {200, R"({"access_token":"at-3"})", kGranted, "at-3", 3600},  // no lifetime: an hour
    {200, R"({"access_token":"at-4","expires_in":99999999})", kGranted, "at-4", 86400},
    {200, R"({"access_token":"at-5","refresh_token":null})", kGranted, "at-5", 3600},
    {400, R"({"error":"invalid_grant","error_description":"AADSTS70000: revoked\n"})", kRefused, "", 0, "",
     "invalid_grant"},
    {401, R"({"error":"invalid_client"})", kRefused, "", 0, "", "invalid_client"},
    // Nothing usable: a token type other than Bearer, a token with a blank
    // or control byte, a negative lifetime, a server error, not JSON, a
    // truncated reply, an array, an error that is no string.
    {200, R"({"access_token":"at","token_type":"MAC"})", kUnreadable},
    {200, R"({"access_token":"a t"})", kUnreadable},
    {200, R"({"access_token":"at\r\nX: y"})", kUnreadable},
    {200, R"({"access_token":""})", kUnreadable},
    {200, R"({"access_token":42})", kUnreadable},
    {200, R"({"access_token":"at","expires_in":-5})", kUnreadable},
    {200, R"({"access_token":"at","refresh_token":"r t"})", kUnreadable},
    {500, R"({"error":"server_error"})", kUnreadable},
    {200, "<html>proxy login</html>", kUnreadable},
    {200, R"({"access_token":"at")", kUnreadable},
    {200, R"(["access_token"])", kUnreadable},
    {400, R"({"error":{"code":1}})", kUnreadable},
    {200, "", kUnreadable},
};

TEST(OAuthToken, RepliesOfTheTokenEndpoint) {
  for (const TokenCase& c : kTokenCases) {
    SCOPED_TRACE(c.body);
    TokenReply r = readTokenReply(c.status, c.body);
    EXPECT_EQ(c.outcome, r.outcome);
    EXPECT_EQ(c.access, r.accessToken);
    EXPECT_EQ(c.expiresIn, r.expiresIn);
    EXPECT_EQ(c.refresh, r.refreshToken);
    EXPECT_EQ(c.error, r.error);
  }
  TokenReply said = readTokenReply(400, kTokenCases[5].body);
  EXPECT_EQ("AADSTS70000: revoked?", said.description);
  // Past the size cap, even a good reply is not read.
  std::string padded = R"({"access_token":"at","pad":")" + std::string(kTokenReplyMaxBytes, 'x') + "\"}";
  EXPECT_EQ(kUnreadable, readTokenReply(200, padded).outcome);
}

TEST(OAuthToken, UrlsAndForms) {
  const struct {
    const char* url;
    bool allowed;
  } urls[] = {
      {"https://login.microsoftonline.com/common/oauth2/v2.0/token", true},
      {"http://127.0.0.1:8080/token", true},
      {"http://localhost/token", true},
      {"http://[::1]:99/token", true},
      {"http://login.microsoftonline.com/token", false},
      {"http://127.0.0.1.example.com/token", false},
      {"http://127.0.0.1@example.com/token", false},
      {"http://localhost.example.com/", false},
      {"https://", false},
      {"https://host/a b", false},
      {"ftp://127.0.0.1/", false},
      {"", false},
  };
  for (const auto& u : urls) EXPECT_EQ(u.allowed, platform::httpUrlAllowed(u.url)) << u.url;
  std::string form;
  platform::addFormField(form, "grant_type", "refresh_token");
  platform::addFormField(form, "scope", "https://mail.google.com/ offline_access");
  platform::addFormField(form, "refresh_token", "a+b/c=d&e~");
  EXPECT_EQ("grant_type=refresh_token&scope=https%3A%2F%2Fmail.google.com%2F%20offline_access&"
            "refresh_token=a%2Bb%2Fc%3Dd%26e~",
            form);
}

TEST(OAuthToken, Base64AndTheSealedRefreshToken) {
  const std::pair<const char*, const char*> pairs[] = {{"", ""},          {"f", "Zg=="},         {"fo", "Zm8="},
                                                        {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                                        {"foobar", "Zm9vYmFy"}};
  for (const auto& [text, coded] : pairs) {
    std::string back;
    EXPECT_EQ(coded, platform::base64Encode(text));
    EXPECT_TRUE(platform::base64Decode(coded, back));
    EXPECT_EQ(text, back);
  }
  std::string junk;
  for (const char* bad : {"Zg=", "Zg===", "Z===", "Zm9v\n", "Zm 9", "Zm=v", "Zm9v!A=="})
    EXPECT_FALSE(platform::base64Decode(bad, junk)) << bad;

  std::string stored, token;
  ASSERT_TRUE(sealRefreshToken("M.C5_BAY.0.U.-refresh!", stored));
  EXPECT_EQ(std::string::npos, stored.find("refresh"));
  EXPECT_TRUE(openRefreshToken(stored, token));
  EXPECT_EQ("M.C5_BAY.0.U.-refresh!", token);
  // Damaged, cut, or not base64: no token, and no crash.
  std::string damaged = stored;
  damaged[damaged.size() / 2] = damaged[damaged.size() / 2] == 'A' ? 'B' : 'A';
  for (const std::string& bad : {platform::base64Encode("another user's blob"), stored.substr(0, 8), std::string("%%"),
                                 std::string("")})
    EXPECT_FALSE(openRefreshToken(bad, token)) << bad;
  if (platform::kSecretsProtected) {
    EXPECT_FALSE(openRefreshToken(damaged, token));
  }
}

struct KelInDir {
  TempDir dir;
  KelPtr kel = newKel(dir.path());
  std::string path() const { return dir.file("mail2.ini"); }
  KelPtr reload() const { return loadedKel(dir.path()); }
};

// The keys of one section, in the file's order.
std::vector<std::string> keysOf(const std::string& path, const std::string& section) {
  std::vector<std::string> keys;
  bool inside = false;
  for (const std::string& l : fileLines(path)) {
    if (l[0] == '[') inside = l == section;
    else if (inside) keys.push_back(l.substr(0, l.find('=')));
  }
  return keys;
}

void addAccount(Kel& k, const std::string& user) {
  const std::string address = user + "@example.jp";
  AccountFields f{address.c_str(), "pop.example.jp", user.c_str(), "", false, true, false};
  ASSERT_GT(storeAccount(k, -1, f, nullptr), 0);
}

TEST(OAuthSettings, KeysAfterTheDesignedOnesReadBackAndMoveWithTheAccount) {
  KelInDir t;
  Kel& k = *t.kel;
  for (const char* user : {"plain", "ms", "other"}) addAccount(k, user);
  const OAuthSettings ms{kOAuthMicrosoft, "client-ms", "", "", "", "", "", "", 0, false};
  EXPECT_EQ(SaveOutcome::kSaved, storeOAuthSettings(k, 1, ms));
  const OAuthSettings other{kOAuthOther, "c3", "s3", "https://id.example.jp/auth", "https://id.example.jp/token", "mail",
                            "", "", 0, false};
  EXPECT_EQ(SaveOutcome::kSaved, storeOAuthSettings(k, 2, other));
  std::string sealed;
  ASSERT_TRUE(sealRefreshToken("rt-ms", sealed));
  const TokenOffer offer{1, "pop.example.jp", 995, "ms", "client-ms", sealed};
  const TokenOffer oldClient{1, "pop.example.jp", 995, "ms", "client-old", sealed};
  EXPECT_EQ(TokenStored::kDropped, acceptTokenOffer(k, oldClient));
  EXPECT_EQ(TokenStored::kStored, acceptTokenOffer(k, offer));

  EXPECT_EQ(std::string::npos, readFile(t.path()).find("rt-ms"));
  const std::vector<std::string> order = {"mailaddr", "pop3server", "user", "pass", "apop", "port", "ssl",
                                          "ipver", "protocol", "oauth", "oauthclient", "oauthrefresh"};
  EXPECT_EQ(order, keysOf(t.path(), "[account01]"));
  EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 9), keysOf(t.path(), "[account00]"));

  KelPtr back = t.reload();
  EXPECT_EQ(kOAuthNone, back->oauth[0].oauth);
  EXPECT_EQ(kOAuthMicrosoft, back->oauth[1].oauth);
  EXPECT_EQ("client-ms", back->oauth[1].client);
  EXPECT_STREQ("https://login.microsoftonline.com/common/oauth2/v2.0/token", oauthEndpoints(back->oauth[1]).token);
  std::string token;
  EXPECT_TRUE(openRefreshToken(back->oauth[1].refresh, token));
  EXPECT_EQ("rt-ms", token);
  EXPECT_EQ("https://id.example.jp/token", std::string(oauthEndpoints(back->oauth[2]).token));
  EXPECT_EQ("s3", back->oauth[2].secret);
  EXPECT_STREQ("access_type=offline&prompt=consent",
               oauthEndpoints(OAuthSettings{kOAuthGoogle, "", "", "", "", "", "", "", 0, false}).authorizeExtra);

  // The table moves with its accounts; the emptied last slot keeps nothing.
  deleteAccount(k, 0);
  EXPECT_EQ(kOAuthMicrosoft, k.oauth[0].oauth);
  EXPECT_EQ(sealed, k.oauth[0].refresh);
  EXPECT_EQ(kOAuthOther, k.oauth[1].oauth);
  EXPECT_EQ(kOAuthNone, k.oauth[kAccountSlots - 1].oauth);
  EXPECT_EQ(sealed, t.reload()->oauth[0].refresh);
  // An offer for the slot the account left is dropped.
  EXPECT_EQ(TokenStored::kDropped, acceptTokenOffer(k, offer));
}

TEST(OAuthSettings, TheServerTheUserOrTheMethodChangedForgetTheTokens) {
  KelInDir t;
  Kel& k = *t.kel;
  addAccount(k, "ms");
  const OAuthSettings ms{kOAuthMicrosoft, "client-ms", "", "", "", "", "", "", 0, false};
  storeOAuthSettings(k, 0, ms);
  OAuthSettings google = ms;
  google.oauth = kOAuthGoogle;
  OAuthSettings another = google;  // only the client differs
  another.client = "another";
  // Each row is signed in, then edited: the account, then the method.
  const struct {
    const char* server;
    const char* user;
    bool ssl;
    const OAuthSettings& method;
    bool kept;
  } edits[] = {{"pop.example.jp", "ms", true, ms, true},
               {"pop.example.jp", "ms", false, ms, true},  // only the port
               {"pop2.example.jp", "ms", true, ms, false},
               {"pop.example.jp", "ms2", true, ms, false},
               {"pop.example.jp", "ms2", true, google, false},
               {"pop.example.jp", "ms2", true, google, true},
               {"pop.example.jp", "ms2", true, another, false}};
  for (const auto& e : edits) {
    k.oauth[0].refresh = "sealed";
    k.oauth[0].accessToken = "at";
    k.oauth[0].signInAgain = true;
    storeAccount(k, 0, AccountFields{"ms@example.jp", e.server, e.user, "", false, e.ssl, false}, nullptr);
    storeOAuthSettings(k, 0, e.method);
    SCOPED_TRACE(std::string(e.server) + " " + e.user + " " + e.method.client);
    EXPECT_EQ(e.kept ? "sealed" : "", k.oauth[0].refresh);
    EXPECT_EQ(e.kept ? "at" : "", k.oauth[0].accessToken);
    EXPECT_EQ(e.kept, k.oauth[0].signInAgain);
    EXPECT_EQ(e.method.oauth, k.oauth[0].oauth);
  }
}

}  // namespace
