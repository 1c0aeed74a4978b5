// The account editor's OAuth2 controls under Wine: what each method enables,
// the details dialog, and what OK keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/oauth.h"
#include "settings/settings.h"
#include "settings/win32/property_sheet.h"
#include "tests/windows/dialog_driver.h"

namespace {

constexpr int kAccountsTab = 0;
const std::vector<std::string> kNone;

void selectLine(HWND page, int line) { SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0); }

// The sheet opened on the accounts page, `script` run on it, then cancelled.
std::vector<std::string> run(DialogFixture& f, const std::function<void(Driver&, HWND page)>& script) {
  return drive([&] { runSettingsSheet(*f.kel, f.kel->popupWindow); },
               [&](Driver& d) {
                 HWND sheet = d.window("プロパティ");
                 if (!sheet) return;
                 if (HWND page = d.page(sheet, kAccountsTab)) script(d, page);
                 d.post(sheet, IDCANCEL);
                 d.gone(sheet);
               });
}

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
  // What each method leaves enabled: password, APOP, client, secret, sign-in, details.
  struct Row {
    int method;
    const char* label;
    bool on[6];
  };
  const Row rows[] = {
      {0, "パスワード", {true, true, false, false, false, false}},
      {1, "OAuth2 (Microsoft)", {false, false, true, false, true, false}},
      {2, "OAuth2 (Google)", {false, false, true, true, true, false}},
      {3, "OAuth2 (その他)", {false, false, true, false, true, true}},
  };
  const int ids[] = {IDC_ACCOUNT_PASSWORD, IDC_ACCOUNT_APOP, IDC_ACCOUNT_CLIENT_ID,
                     IDC_ACCOUNT_SECRET, IDC_ACCOUNT_SIGN_IN, IDC_ACCOUNT_DETAILS};
  std::vector<std::string> labels, statuses, refusals;
  std::vector<std::vector<bool>> enabledBy;
  std::string firstMethod;
  bool newOneClosed = false;
  auto failures = run(f, [&](Driver& d, HWND page) {
    selectLine(page, 0);
    d.post(page, IDC_ACCOUNTS_EDIT);
    HWND editor = d.window("メールアカウント");
    if (!editor) return;
    firstMethod = comboSelection(GetDlgItem(editor, IDC_ACCOUNT_AUTH));
    for (const Row& r : rows) {
      chooseMethod(editor, r.method);
      labels.push_back(comboSelection(GetDlgItem(editor, IDC_ACCOUNT_AUTH)));
      std::vector<bool> on;
      for (int id : ids) on.push_back(d.enabled(editor, id));
      enabledBy.push_back(on);
      statuses.push_back(d.text(editor, IDC_ACCOUNT_SIGNED_IN));
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
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("パスワード", firstMethod);
  for (size_t i = 0; i < labels.size() && i < 4; ++i) {
    EXPECT_EQ(rows[i].label, labels[i]);
    EXPECT_EQ(std::vector<bool>(rows[i].on, rows[i].on + 6), enabledBy[i]) << rows[i].label;
    EXPECT_EQ("サインインしていません", statuses[i]);
  }
  EXPECT_EQ(std::vector<std::string>({"クライアントIDを入力してください。",
                                      "「詳細...」で認可エンドポイント、トークンエンドポイントとスコープを入力してください。",
                                      "エンドポイントには https で始まる URL を入力してください。"}),
            refusals);
  EXPECT_TRUE(newOneClosed);
  f.reload();
  EXPECT_STREQ("old-pass", f.kel->accounts[0].pass);  // set aside, not lost
  EXPECT_EQ(kOAuthOther, f.kel->oauth[0].oauth);
  EXPECT_EQ("client-3", f.kel->oauth[0].client);
  EXPECT_EQ("https://auth.example.jp/a", f.kel->oauth[0].authorize);
  EXPECT_EQ("https://auth.example.jp/t", f.kel->oauth[0].token);
  EXPECT_EQ("mail offline_access", f.kel->oauth[0].scope);
  EXPECT_EQ(kOAuthMicrosoft, f.kel->oauth[1].oauth);
  EXPECT_EQ("client-1", f.kel->oauth[1].client);
  EXPECT_STREQ("", f.kel->accounts[1].pass);
  EXPECT_TRUE(f.kel->oauth[1].refresh.empty());
}
