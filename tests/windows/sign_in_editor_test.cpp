// The account editor's OAuth2 controls under Wine: what each method enables,
// the details dialog, and what OK keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/oauth.h"
#include "settings/settings.h"
#include "settings/win32/property_sheet.h"
#include "tests/windows/dialog_driver.h"

namespace {

void chooseMethod(HWND editor, int method) {
  SendDlgItemMessageW(editor, IDC_ACCOUNT_AUTH, CB_SETCURSEL, static_cast<WPARAM>(method), 0);
  SendMessageW(editor, WM_COMMAND, MAKEWPARAM(IDC_ACCOUNT_AUTH, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(editor, IDC_ACCOUNT_AUTH)));
}

}  // namespace

TEST(AccountEditor, AnOAuthMethodSetsThePasswordAsideAndOkKeepsItsClientAndDetails) {
  DialogFixture f;
  f.write(kAccountsFile,
          "[account00]\r\nmailaddr=old@example.jp\r\npop3server=pop.example.jp\r\nuser=old\r\npass=\r\n"
          "apop=1\r\nport=110\r\nssl=0\r\n");
  f.reload();
  strcpy(f.kel->accounts[0].pass, "old-pass");
  ASSERT_TRUE(saveSettings(*f.kel, kAccountsFile));
  // What each method leaves enabled, in the order of `ids`; none is signed in.
  const int ids[] = {IDC_ACCOUNT_PASSWORD, IDC_ACCOUNT_APOP, IDC_ACCOUNT_CLIENT_ID,
                     IDC_ACCOUNT_SECRET, IDC_ACCOUNT_SIGN_IN, IDC_ACCOUNT_DETAILS};
  const std::vector<std::string> want = {
      "パスワード 110000 サインインしていません",         "OAuth2 (Microsoft) 001010 サインインしていません",
      "OAuth2 (Google) 001110 サインインしていません", "OAuth2 (その他) 001011 サインインしていません"};
  std::vector<std::string> seen, refusals;
  std::string firstMethod;
  bool newOneClosed = false;
  auto failures = drive([&] { runSettingsSheet(*f.kel, f.kel->popupWindow); }, [&](Driver& d) {
    HWND sheet = d.window("プロパティ");
    if (!sheet) return;
    HWND page = d.page(sheet, 0);  // the accounts
    if (page) {
      SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_SETCURSEL, 0, 0);
      d.post(page, IDC_ACCOUNTS_EDIT);
    }
    if (HWND editor = page ? d.window("メールアカウント") : nullptr) {
      firstMethod = comboSelection(GetDlgItem(editor, IDC_ACCOUNT_AUTH));
      for (int method = 0; method < 4; ++method) {
        chooseMethod(editor, method);
        std::string on;
        for (int id : ids) on += d.enabled(editor, id) ? '1' : '0';
        seen.push_back(comboSelection(GetDlgItem(editor, IDC_ACCOUNT_AUTH)) + " " + on + " " +
                       d.text(editor, IDC_ACCOUNT_SIGNED_IN));
      }
      // "その他" asks for its client and details before it signs in or saves.
      d.post(editor, IDC_ACCOUNT_SIGN_IN);
      refusals.push_back(d.dismissMessage());
      d.setText(editor, IDC_ACCOUNT_CLIENT_ID, "client-3");
      d.post(editor, IDC_ACCOUNT_OK);
      refusals.push_back(d.dismissMessage());
      d.post(editor, IDC_ACCOUNT_DETAILS);
      if (HWND details = d.window("OAuth2 の詳細")) {
        d.setText(details, IDC_DETAILS_AUTHORIZE, "http://auth.example.jp/a");  // not https, not loopback
        d.setText(details, IDC_DETAILS_TOKEN, "https://auth.example.jp/t");
        d.setText(details, IDC_DETAILS_SCOPE, "mail offline_access");
        d.post(details, IDOK);
        refusals.push_back(d.dismissMessage());
        d.setText(details, IDC_DETAILS_AUTHORIZE, "https://auth.example.jp/a");
        d.post(details, IDOK);
        d.gone(details);
      }
      d.post(editor, IDC_ACCOUNT_OK);
      d.gone(editor);
      // A new account needs no password once it signs in with OAuth2.
      d.post(page, IDC_ACCOUNTS_ADD);
      if (HWND added = d.window("メールアカウント")) {
        d.setText(added, IDC_ACCOUNT_ADDRESS, "new@example.jp");
        d.setText(added, IDC_ACCOUNT_SERVER, "outlook.example.jp");
        d.setText(added, IDC_ACCOUNT_USER, "new@example.jp");
        chooseMethod(added, 1);
        d.setText(added, IDC_ACCOUNT_CLIENT_ID, "client-1");
        d.post(added, IDC_ACCOUNT_OK);
        newOneClosed = d.gone(added);
      }
    }
    d.post(sheet, IDCANCEL);
    d.gone(sheet);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ("パスワード", firstMethod);
  EXPECT_EQ(want, seen);
  EXPECT_EQ(std::vector<std::string>({"クライアントIDを入力してください。",
                                      "「詳細...」で認可エンドポイント、トークンエンドポイントとスコープを入力してください。",
                                      "エンドポイントには https で始まる URL を入力してください。"}),
            refusals);
  EXPECT_TRUE(newOneClosed);
  f.reload();
  const OAuthSettings* o = f.kel->oauth;  // the first set aside its password, not lost; the new one has none
  EXPECT_EQ(std::vector<std::string>({"old-pass", "client-3", "https://auth.example.jp/a", "https://auth.example.jp/t",
                                      "mail offline_access", "", "client-1", ""}),
            std::vector<std::string>({f.kel->accounts[0].pass, o[0].client, o[0].authorize, o[0].token, o[0].scope,
                                      f.kel->accounts[1].pass, o[1].client, o[1].refresh}));
  EXPECT_EQ(kOAuthOther, f.kel->oauth[0].oauth);
  EXPECT_EQ(kOAuthMicrosoft, f.kel->oauth[1].oauth);
}
