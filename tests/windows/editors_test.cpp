// The accounts page, the two rule-list pages and their editors under Wine:
// every change saved at once, the limits, and the refusals.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mailcheck/error_code.h"
#include "resources/resource_ids.h"
#include "settings/win32/property_sheet.h"
#include "settings/settings.h"
#include "tests/support/kel_fixture.h"
#include "tests/windows/dialog_driver.h"

namespace {

constexpr int kAccountsTab = 0, kDeleteTab = 4, kIgnoreTab = 5;

struct Typed {
  std::string mailaddr, server, user, pass;
  bool apop = false, ssl = false;
};

// Fills the open account editor and presses its OK.
void fillAccount(Driver& d, HWND editor, const Typed& t) {
  d.setText(editor, IDC_ACCOUNT_ADDRESS, t.mailaddr);
  d.setText(editor, IDC_ACCOUNT_SERVER, t.server);
  d.setText(editor, IDC_ACCOUNT_USER, t.user);
  d.setText(editor, IDC_ACCOUNT_PASSWORD, t.pass);
  if (d.checked(editor, IDC_ACCOUNT_APOP) != t.apop) d.click(editor, IDC_ACCOUNT_APOP);
  if (d.checked(editor, IDC_ACCOUNT_SSL) != t.ssl) d.click(editor, IDC_ACCOUNT_SSL);
  d.post(editor, IDC_ACCOUNT_OK);
}

Typed account(int i) {
  std::string n = std::to_string(i);
  return {"user" + n + "@example.jp", "pop" + n + ".example.jp", "user" + n, "pass" + n};
}

// Opens the editor with the page's button, fills it and waits until it has
// closed; false when it stayed open.
bool addAccount(Driver& d, HWND page, const Typed& t) {
  d.post(page, IDC_ACCOUNTS_ADD);
  HWND editor = d.window("メールアカウント");
  if (!editor) return false;
  fillAccount(d, editor, t);
  return d.gone(editor);
}

void selectLine(HWND page, int line) { SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_SETCURSEL, static_cast<WPARAM>(line), 0); }

void selectItem(HWND page, int item) {
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendDlgItemMessageW(page, IDC_RULES_LIST, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
}

std::vector<std::string> run(DialogFixture& f, int tab, const std::function<void(Driver&, HWND page)>& script) {
  return drive([&] { runSettingsSheet(*f.kel, f.kel->popupWindow); },
               [&](Driver& d) {
                 HWND sheet = d.window("プロパティ");
                 if (!sheet) return;
                 if (HWND page = d.page(sheet, tab)) script(d, page);
                 d.post(sheet, IDCANCEL);
                 d.gone(sheet);
               });
}

const std::vector<std::string> kNone;

}  // namespace

TEST(AccountEditor, NineAccountsFitAndTheTenthIsRefusedWithTheEditorLeftOpen) {
  DialogFixture f;
  std::string refusal;
  bool stayed = false;
  std::vector<std::string> lines;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    for (int i = 0; i < 9; ++i) addAccount(d, page, account(i));
    d.post(page, IDC_ACCOUNTS_ADD);
    if (HWND editor = d.window("メールアカウント")) {
      fillAccount(d, editor, account(9));
      refusal = d.dismissMessage();
      stayed = IsWindowVisible(editor) != FALSE;
      d.post(editor, IDC_ACCOUNT_CANCEL);
      d.gone(editor);
    }
    lines = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("メールアカウントは９個までしか登録できません！", refusal);
  EXPECT_TRUE(stayed);
  ASSERT_EQ(9u, lines.size());
  EXPECT_EQ("user0@example.jp", lines[0]);
  EXPECT_EQ("user8@example.jp", lines[8]);
  f.reload();
  EXPECT_STREQ("user8@example.jp", f.kel->accounts[8].mailaddr);
  EXPECT_STREQ("pass8", f.kel->accounts[8].pass);
  EXPECT_EQ(4, f.kel->accounts[8].ipver);
  EXPECT_EQ(0, f.kel->accounts[8].protocol);
}

TEST(AccountEditor, SslChoosesThePortTooLongIsRefusedAndThePasswordIsMasked) {
  DialogFixture f;
  f.write(kAccountsFile,
          "[account00]\r\nmailaddr=old@example.jp\r\npop3server=pop.example.jp\r\nuser=old\r\npass=\r\n"
          "apop=0\r\nport=2110\r\nssl=0\r\nipver=6\r\nprotocol=2\r\n");
  f.reload();
  strcpy(f.kel->accounts[0].pass, "old-pass");
  // The longest each field holds; one byte more is refused, not cut.
  Typed longOne{std::string(127, 'a'), "pop.example.jp", "u", std::string(31, 'p'), true, true};
  bool masked = false, topmost = false;
  std::string shownPassword, emptyRefusal, addressRefusal, passwordRefusal;
  std::vector<std::string> lines;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.post(page, IDC_ACCOUNTS_ADD);
    if (HWND editor = d.window("メールアカウント")) {
      masked = (GetWindowLongW(GetDlgItem(editor, IDC_ACCOUNT_PASSWORD), GWL_STYLE) & ES_PASSWORD) != 0;
      topmost = (GetWindowLongW(editor, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      Typed missing = longOne;
      missing.user = "  ";  // would read back empty
      fillAccount(d, editor, missing);
      emptyRefusal = d.dismissMessage();
      Typed tooLong = longOne;
      tooLong.mailaddr += "a";
      fillAccount(d, editor, tooLong);
      addressRefusal = d.dismissMessage();
      tooLong = longOne;
      tooLong.pass += "p";
      fillAccount(d, editor, tooLong);
      passwordRefusal = d.dismissMessage();
      fillAccount(d, editor, longOne);
      d.gone(editor);
    }
    selectLine(page, 0);
    d.post(page, IDC_ACCOUNTS_EDIT);
    if (HWND editor = d.window("メールアカウント")) {
      shownPassword = d.text(editor, IDC_ACCOUNT_PASSWORD);
      d.post(editor, IDC_ACCOUNT_OK);  // unchanged, SSL unticked
      d.gone(editor);
    }
    lines = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_TRUE(masked);
  EXPECT_TRUE(topmost);
  EXPECT_EQ("未記入の項目があります！", emptyRefusal);
  EXPECT_EQ("「メールアドレス」が長すぎます。\n半角127文字（全角63文字）までです。", addressRefusal);
  EXPECT_EQ("「パスワード」が長すぎます。\n半角31文字（全角15文字）までです。", passwordRefusal);
  EXPECT_EQ("old-pass", shownPassword);  // in plain behind the mask
  f.reload();
  const Account& edited = f.kel->accounts[0];
  EXPECT_EQ(110, edited.port);  // the file's 2110 replaced
  EXPECT_EQ(6, edited.ipver);   // kept by an edit
  EXPECT_EQ(2, edited.protocol);  // not IMAP: kept while POP3 stays chosen
  const Account& added = f.kel->accounts[1];
  EXPECT_EQ(995, added.port);
  EXPECT_EQ(1, added.ssl);
  EXPECT_EQ(1, added.apop);
  EXPECT_EQ(std::string(127, 'a'), added.mailaddr);
  EXPECT_EQ(std::string(31, 'p'), added.pass);
  EXPECT_EQ(std::vector<std::string>({"old@example.jp", std::string(127, 'a')}), lines);
}

TEST(AccountEditor, DeletingTheFirstLineMovesTheOthersUpAndRenumbersTheFile) {
  DialogFixture f;
  for (int i = 0; i < 3; ++i) {
    Account& a = f.kel->accounts[i];
    Typed t = account(i);
    strcpy(a.mailaddr, t.mailaddr.c_str());
    strcpy(a.pop3server, t.server.c_str());
    strcpy(a.user, t.user.c_str());
    strcpy(a.pass, t.pass.c_str());
    f.kel->results[i].prevCount = 10 + i;
  }
  std::vector<std::string> lines, linesAfterBlindDelete;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.click(page, IDC_ACCOUNTS_DELETE);  // nothing selected: nothing happens
    d.click(page, IDC_ACCOUNTS_EDIT);
    linesAfterBlindDelete = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
    selectLine(page, 0);
    d.click(page, IDC_ACCOUNTS_DELETE);
    lines = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ(3u, linesAfterBlindDelete.size());
  EXPECT_EQ(std::vector<std::string>({"user1@example.jp", "user2@example.jp"}), lines);
  EXPECT_EQ(11, f.kel->results[0].prevCount);  // each result moved with its account
  EXPECT_EQ(0, f.kel->results[2].prevCount);
  std::string file = f.read(kAccountsFile);
  EXPECT_EQ(0u, file.find("[account00]\r\nmailaddr=user1@example.jp\r\n"));
  EXPECT_NE(std::string::npos, file.find("[account01]\r\nmailaddr=user2@example.jp\r\n"));
  EXPECT_EQ(std::string::npos, file.find("[account02]"));
}

namespace {

const std::string kPinA = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kPinB = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";

// Slot i holds account(i) over TLS with kPinA.
void pinnedAccounts(DialogFixture& f, int n) {
  for (int i = 0; i < n; ++i) {
    Account& a = f.kel->accounts[i];
    Typed t = account(i);
    strcpy(a.mailaddr, t.mailaddr.c_str());
    strcpy(a.pop3server, t.server.c_str());
    strcpy(a.user, t.user.c_str());
    strcpy(a.pass, t.pass.c_str());
    a.ssl = 1;
    a.port = 995;
    a.ipver = 4;
    strcpy(a.pin, kPinA.c_str());
  }
  ASSERT_TRUE(saveSettings(*f.kel, kAccountsFile));
}

// Opens the editor on line `line`, lets `edit` change it, presses OK.
HWND editLine(Driver& d, HWND page, int line, const std::function<void(HWND editor)>& edit) {
  selectLine(page, line);
  d.post(page, IDC_ACCOUNTS_EDIT);
  HWND editor = d.window("メールアカウント");
  if (!editor) return nullptr;
  edit(editor);
  d.post(editor, IDC_ACCOUNT_OK);
  return editor;
}

}  // namespace

TEST(AccountEditor, ChangingTheServerOrThePortClearsThePinAndNothingElseDoes) {
  DialogFixture f;
  pinnedAccounts(f, 3);
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.gone(editLine(d, page, 0, [&](HWND e) { d.setText(e, IDC_ACCOUNT_SERVER, "other.example.jp"); }));
    d.gone(editLine(d, page, 1, [&](HWND e) { d.click(e, IDC_ACCOUNT_SSL); }));
    d.gone(editLine(d, page, 2, [&](HWND e) {
      d.setText(e, IDC_ACCOUNT_ADDRESS, "renamed@example.jp");
      d.setText(e, IDC_ACCOUNT_USER, "renamed");
      d.setText(e, IDC_ACCOUNT_PASSWORD, "new-pass");
      d.click(e, IDC_ACCOUNT_APOP);
    }));
  });
  EXPECT_EQ(kNone, failures);  // and no question: no check refused a key
  f.reload();
  EXPECT_STREQ("", f.kel->accounts[0].pin);
  EXPECT_STREQ("", f.kel->accounts[1].pin);
  EXPECT_EQ(110, f.kel->accounts[1].port);
  EXPECT_EQ(kPinA, f.kel->accounts[2].pin);
  EXPECT_STREQ("renamed", f.kel->accounts[2].user);
  std::string file = f.read(kAccountsFile);
  EXPECT_EQ(file.find("pin="), file.rfind("pin="));  // one pin left, the last key of the file
  EXPECT_EQ(file.size() - kPinA.size() - 6, file.find("pin=" + kPinA + "\r\n"));
}

// After a check failed because the server showed another key, OK asks with
// both keys: yes trusts the new key, no keeps the old one; either way the
// editor then closes with the account saved.
TEST(AccountEditor, AfterARefusedKeyOkAsksAndOnlyYesTrustsTheNewKey) {
  DialogFixture f;
  pinnedAccounts(f, 2);
  for (int i = 0; i < 2; ++i) {
    f.kel->results[i].failed = 1;
    f.kel->results[i].errorCode = kErrorServerKeyChanged;
    strcpy(f.kel->results[i].seenPin, kPinB.c_str());
  }
  std::string yesQuestion, noQuestion;
  bool stayedDuringQuestion = false;
  int defaultAnswer = -1;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    HWND editor = editLine(d, page, 0, [&](HWND e) { d.setText(e, IDC_ACCOUNT_PASSWORD, "changed"); });
    if (!editor) return;
    HWND box = d.window("エラ～！");
    stayedDuringQuestion = box && IsWindow(editor) && IsWindowVisible(editor);
    for (int id : {IDYES, IDNO}) {
      HWND button = box ? GetDlgItem(box, id) : nullptr;
      if (button && (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) defaultAnswer = id;
    }
    yesQuestion = d.answerMessage(IDYES);
    d.gone(editor);
    editor = editLine(d, page, 1, [](HWND) {});
    noQuestion = d.answerMessage(IDNO);
    d.gone(editor);
    // Asked again on the next OK: the refused key is still not trusted.
    editor = editLine(d, page, 1, [](HWND) {});
    d.answerMessage(IDNO);
    d.gone(editor);
    // Yes was said for line 0: nothing more to ask there.
    d.gone(editLine(d, page, 0, [](HWND) {}));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_TRUE(stayedDuringQuestion);
  EXPECT_EQ(IDNO, defaultAnswer);  // Enter keeps the old key
  EXPECT_NE(std::string::npos, yesQuestion.find(kPinA));
  EXPECT_NE(std::string::npos, yesQuestion.find(kPinB));
  EXPECT_LT(yesQuestion.find(kPinA), yesQuestion.find(kPinB));  // the stored key first
  EXPECT_NE(std::string::npos, yesQuestion.find("信頼"));
  EXPECT_EQ(yesQuestion, noQuestion);
  EXPECT_EQ(kPinB, f.kel->accounts[0].pin);
  EXPECT_EQ(kPinA, f.kel->accounts[1].pin);
  f.reload();
  EXPECT_EQ(kPinB, f.kel->accounts[0].pin);
  EXPECT_STREQ("changed", f.kel->accounts[0].pass);
  EXPECT_EQ(kPinA, f.kel->accounts[1].pin);
}

// A check that refused the key of a server the user has since changed
// leaves nothing to accept: the pin is gone with the old server.
TEST(AccountEditor, ARefusedKeyOfAServerChangedSinceAsksNothing) {
  DialogFixture f;
  pinnedAccounts(f, 1);
  f.kel->results[0].failed = 1;
  f.kel->results[0].errorCode = kErrorServerKeyChanged;
  strcpy(f.kel->results[0].seenPin, kPinB.c_str());
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.gone(editLine(d, page, 0, [&](HWND e) { d.setText(e, IDC_ACCOUNT_SERVER, "moved.example.jp"); }));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_STREQ("", f.kel->accounts[0].pin);
}

TEST(ConditionEditor, TheSixtyFourthRuleFitsTheNextIsRefusedAndTheLastCanBeDeleted) {
  DialogFixture f;
  for (int i = 0; i < 63; ++i) putRule(f.kel->deleteList, i, "k" + std::to_string(i), i % 6);
  putRule(f.kel->ignoreList, 0, "kept", 2);
  ASSERT_TRUE(saveSettings(*f.kel, kIgnoreListFile));
  std::string ignoreFile = f.read(kIgnoreListFile);
  std::string startKind, emptyRefusal, quotesRefusal, fullRefusal;
  size_t itemsAfterAdd = 0, itemsAfterDelete = 0;
  std::vector<std::string> kindColumn;
  auto failures = run(f, kDeleteTab, [&](Driver& d, HWND page) {
    d.post(page, IDC_RULES_ADD);
    if (HWND editor = d.window("条件追加")) {
      startKind = comboSelection(GetDlgItem(editor, IDC_CONDITION_KIND));
      d.post(editor, IDOK);
      emptyRefusal = d.dismissMessage();
      d.setText(editor, IDC_CONDITION_KEYWORD, " \"\" ");  // the profile reader would strip it all
      d.post(editor, IDOK);
      quotesRefusal = d.dismissMessage();
      d.setText(editor, IDC_CONDITION_KEYWORD, "last");
      SendDlgItemMessageW(editor, IDC_CONDITION_KIND, CB_SETCURSEL, kSubjectContains, 0);
      d.post(editor, IDOK);
      d.gone(editor);
    }
    HWND list = GetDlgItem(page, IDC_RULES_LIST);
    itemsAfterAdd = listViewColumn(list, 0).size();
    kindColumn = listViewColumn(list, 1);
    d.post(page, IDC_RULES_ADD);
    if (HWND editor = d.window("条件追加")) {
      d.setText(editor, IDC_CONDITION_KEYWORD, "one too many");
      d.post(editor, IDOK);
      fullRefusal = d.dismissMessage();
      d.post(editor, IDCANCEL);
      d.gone(editor);
    }
    selectItem(page, 63);
    d.click(page, IDC_RULES_DELETE);
    itemsAfterDelete = listViewColumn(list, 0).size();
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("送信者のメールアドレスと一致", startKind);
  EXPECT_EQ("キーワードが未記入です！", emptyRefusal);
  EXPECT_EQ("キーワードが未記入です！", quotesRefusal);
  EXPECT_EQ("これ以上条件を追加できません", fullRefusal);
  EXPECT_EQ(64u, itemsAfterAdd);
  ASSERT_EQ(64u, kindColumn.size());
  EXPECT_EQ(matchKindLabels[kSubjectContains], kindColumn[63]);
  EXPECT_EQ(63u, itemsAfterDelete);
  EXPECT_EQ(nullptr, f.kel->deleteList[63]);
  EXPECT_STREQ("k62", f.kel->deleteList[62]->keyword);
  EXPECT_EQ(std::string::npos, f.read(kDeleteListFile).find("key63-1"));
  EXPECT_EQ(ignoreFile, f.read(kIgnoreListFile));
}

TEST(ConditionEditor, EditingKeepsThePlaceAndAnUnknownKindCanBeMadeValid) {
  DialogFixture f;
  putRule(f.kel->ignoreList, 0, "first", kSenderNameEquals);
  putRule(f.kel->ignoreList, 1, "odd", 9);  // only a hand-edited file holds this
  putRule(f.kel->ignoreList, 2, "third", kToContains);
  std::vector<std::string> keywords, kinds, kindsBefore, titles;
  std::string oddShows, oddKeyword;
  int columnWidth = 0;
  bool wholeRow = false;
  auto failures = run(f, kIgnoreTab, [&](Driver& d, HWND page) {
    HWND list = GetDlgItem(page, IDC_RULES_LIST);
    kindsBefore = listViewColumn(list, 1);
    columnWidth = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0));
    wholeRow = (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT) != 0;
    for (int c = 0; c < 2; ++c) {
      wchar_t text[64] = L"";
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT;
      column.pszText = text;
      column.cchTextMax = 64;
      SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
      titles.push_back(toShiftJis(text));
    }
    selectItem(page, 1);
    d.post(page, IDC_RULES_EDIT);
    if (HWND editor = d.window("条件追加")) {
      oddShows = comboSelection(GetDlgItem(editor, IDC_CONDITION_KIND));
      oddKeyword = d.text(editor, IDC_CONDITION_KEYWORD);
      d.setText(editor, IDC_CONDITION_KEYWORD, "changed");
      SendDlgItemMessageW(editor, IDC_CONDITION_KIND, CB_SETCURSEL, kSubjectContains, 0);
      d.post(editor, IDOK);
      d.gone(editor);
    }
    keywords = listViewColumn(list, 0);
    kinds = listViewColumn(list, 1);
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ(std::vector<std::string>({"キーワード", "無視条件"}), titles);
  EXPECT_EQ(170, columnWidth);
  EXPECT_TRUE(wholeRow);
  EXPECT_EQ("", kindsBefore[1]);
  EXPECT_EQ("odd", oddKeyword);
  EXPECT_EQ("送信者のメールアドレスと一致", oddShows);
  EXPECT_EQ(std::vector<std::string>({"first", "changed", "third"}), keywords);
  EXPECT_EQ(matchKindLabels[kSubjectContains], kinds[1]);
  f.reload();
  EXPECT_STREQ("changed", f.kel->ignoreList[1]->keyword);
  EXPECT_EQ(kSubjectContains, f.kel->ignoreList[1]->kind);
  EXPECT_STREQ("third", f.kel->ignoreList[2]->keyword);
}

// On a Windows that is not Japanese a user can type what Shift-JIS lacks;
// OK refuses it, names the field and keeps the editor and the account.
TEST(AccountEditor, ACharacterShiftJisLacksIsRefusedAndTheAccountKept) {
  DialogFixture f;
  Typed t = account(0);
  Account& a = f.kel->accounts[0];
  strcpy(a.mailaddr, t.mailaddr.c_str());
  strcpy(a.pop3server, t.server.c_str());
  strcpy(a.user, t.user.c_str());
  strcpy(a.pass, t.pass.c_str());
  ASSERT_TRUE(saveSettings(*f.kel, kAccountsFile));
  const std::string before = f.read(kAccountsFile);
  std::string userRefusal, passwordRefusal, fileAfterRefusal, userAfterRefusal;
  std::wstring stillTyped;
  bool stayed = false, addStayed = false;
  std::vector<std::string> lines;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    HWND editor = editLine(d, page, 0, [&](HWND e) { d.setWideText(e, IDC_ACCOUNT_USER, L"Jos\u00E9"); });
    if (editor) {
      userRefusal = d.dismissMessage();
      stayed = IsWindow(editor) && IsWindowVisible(editor);
      stillTyped = d.wideText(editor, IDC_ACCOUNT_USER);
      fileAfterRefusal = f.read(kAccountsFile);
      userAfterRefusal = f.kel->accounts[0].user;
      // What Shift-JIS holds is taken, kana included.
      d.setWideText(editor, IDC_ACCOUNT_USER, L"\u3084\u307E\u3060");
      d.post(editor, IDC_ACCOUNT_OK);
      d.gone(editor);
    }
    d.post(page, IDC_ACCOUNTS_ADD);
    if (HWND added = d.window("メールアカウント")) {
      Typed next = account(1);
      d.setText(added, IDC_ACCOUNT_ADDRESS, next.mailaddr);
      d.setText(added, IDC_ACCOUNT_SERVER, next.server);
      d.setText(added, IDC_ACCOUNT_USER, next.user);
      d.setWideText(added, IDC_ACCOUNT_PASSWORD, L"caf\u00E9");
      d.post(added, IDC_ACCOUNT_OK);
      passwordRefusal = d.dismissMessage();
      addStayed = IsWindow(added) && IsWindowVisible(added);
      d.post(added, IDC_ACCOUNT_CANCEL);
      d.gone(added);
    }
    lines = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("「ユーザー名」にShift-JISで表せない文字が含まれています。", userRefusal);
  EXPECT_TRUE(stayed);
  EXPECT_EQ(L"Jos\u00E9", stillTyped);
  EXPECT_EQ(before, fileAfterRefusal);
  EXPECT_EQ("user0", userAfterRefusal);
  EXPECT_EQ("「パスワード」にShift-JISで表せない文字が含まれています。", passwordRefusal);
  EXPECT_TRUE(addStayed);
  EXPECT_EQ(std::vector<std::string>({"user0@example.jp"}), lines);
  EXPECT_STREQ("", f.kel->accounts[1].mailaddr);
  f.reload();
  EXPECT_STREQ("やまだ", f.kel->accounts[0].user);  // Shift-JIS in the file
  EXPECT_STREQ("pass0", f.kel->accounts[0].pass);
}

// A wide edit control counts characters: 128 kanji pass its limit but are
// 256 bytes, more than the field keeps; they are refused, not cut.
TEST(AccountEditor, AHundredAndTwentyEightKanjiAreRefusedWhereTheyDoNotFit) {
  DialogFixture f;
  std::string refusal;
  bool stayed = false;
  std::vector<std::string> lines;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.post(page, IDC_ACCOUNTS_ADD);
    if (HWND editor = d.window("メールアカウント")) {
      d.setWideText(editor, IDC_ACCOUNT_ADDRESS, std::wstring(128, L'\u6F22'));
      d.setText(editor, IDC_ACCOUNT_SERVER, "pop.example.jp");
      d.setText(editor, IDC_ACCOUNT_USER, "u");
      d.setText(editor, IDC_ACCOUNT_PASSWORD, "p");
      d.post(editor, IDC_ACCOUNT_OK);
      refusal = d.dismissMessage();
      stayed = IsWindow(editor) && IsWindowVisible(editor);
      // 63 kanji are 126 bytes: they fit.
      d.setWideText(editor, IDC_ACCOUNT_ADDRESS, std::wstring(63, L'\u6F22'));
      d.post(editor, IDC_ACCOUNT_OK);
      d.gone(editor);
    }
    lines = listBoxLines(GetDlgItem(page, IDC_ACCOUNTS_LIST));
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("「メールアドレス」が長すぎます。\n半角127文字（全角63文字）までです。", refusal);
  EXPECT_TRUE(stayed);
  std::string kanji;
  for (int i = 0; i < 63; ++i) kanji += "漢";
  EXPECT_EQ(std::vector<std::string>({kanji}), lines);
  EXPECT_EQ(kanji, f.kel->accounts[0].mailaddr);
}

TEST(ConditionEditor, AKeywordIsRefusedWhenItsBytesDoNotFitOrShiftJisLacksThem) {
  DialogFixture f;
  std::string tooLong, notShiftJis;
  std::vector<std::string> keywords;
  auto failures = run(f, kDeleteTab, [&](Driver& d, HWND page) {
    d.post(page, IDC_RULES_ADD);
    if (HWND editor = d.window("条件追加")) {
      d.setWideText(editor, IDC_CONDITION_KEYWORD, std::wstring(31, L'\u5B57'));  // 62 bytes, 61 fit
      d.post(editor, IDOK);
      tooLong = d.dismissMessage();
      d.setWideText(editor, IDC_CONDITION_KEYWORD, L"\u4F60\u597D");  // Chinese only
      d.post(editor, IDOK);
      notShiftJis = d.dismissMessage();
      d.setWideText(editor, IDC_CONDITION_KEYWORD, std::wstring(30, L'\u5B57'));
      d.post(editor, IDOK);
      d.gone(editor);
    }
    keywords = listViewColumn(GetDlgItem(page, IDC_RULES_LIST), 0);
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_EQ("「キーワード」が長すぎます。\n半角61文字（全角30文字）までです。", tooLong);
  EXPECT_EQ("「キーワード」にShift-JISで表せない文字が含まれています。", notShiftJis);
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "字";
  EXPECT_EQ(std::vector<std::string>({thirty}), keywords);
  ASSERT_NE(nullptr, f.kel->deleteList[0]);
  EXPECT_EQ(thirty, f.kel->deleteList[0]->keyword);
  EXPECT_EQ(nullptr, f.kel->deleteList[1]);
}

// Stored bytes that are no Shift-JIS (a password saved on an English
// Windows) show as U+30FB and would come back as other bytes: a field the
// user leaves as shown keeps its stored bytes, in both editors, while an
// edited one takes what was typed.
TEST(Editors, AFieldLeftAsShownKeepsItsStoredBytes) {
  DialogFixture f;
  const char* const odd[] = {"pw\x81\x7F", "x\xFD", "\xA0ok\x81"};
  Account& a = f.kel->accounts[0];
  snprintf(a.mailaddr, sizeof a.mailaddr, "%s@example.jp", odd[1]);
  strcpy(a.pop3server, "pop.example.jp");
  strcpy(a.user, odd[2]);
  strcpy(a.pass, odd[0]);
  ASSERT_TRUE(saveSettings(*f.kel, kAccountsFile));
  putRule(f.kel->deleteList, 0, odd[0], kSubjectContains);
  putRule(f.kel->deleteList, 1, odd[1], kSubjectContains);
  std::wstring shownPassword;
  auto failures = run(f, kAccountsTab, [&](Driver& d, HWND page) {
    d.gone(editLine(d, page, 0, [&](HWND e) {
      shownPassword = d.wideText(e, IDC_ACCOUNT_PASSWORD);
      d.setText(e, IDC_ACCOUNT_SERVER, "other.example.jp");
    }));
  });
  EXPECT_EQ(kNone, failures);
  failures = run(f, kDeleteTab, [&](Driver& d, HWND page) {
    for (int item = 0; item < 2; ++item) {
      selectItem(page, item);
      d.post(page, IDC_RULES_EDIT);
      if (HWND editor = d.window("条件追加")) {
        SendDlgItemMessageW(editor, IDC_CONDITION_KIND, CB_SETCURSEL, kToContains, 0);
        if (item == 1) d.setText(editor, IDC_CONDITION_KEYWORD, "typed");
        d.post(editor, IDOK);
        d.gone(editor);
      }
    }
  });
  EXPECT_EQ(kNone, failures);
  EXPECT_NE(std::wstring::npos, shownPassword.find(L'\u30FB'));  // the case this is about
  f.reload();
  const Account& back = f.kel->accounts[0];
  EXPECT_EQ(std::string(odd[0]), back.pass);
  EXPECT_EQ(std::string(odd[1]) + "@example.jp", back.mailaddr);
  EXPECT_EQ(std::string(odd[2]), back.user);
  EXPECT_STREQ("other.example.jp", back.pop3server);
  ASSERT_NE(nullptr, f.kel->deleteList[1]);
  EXPECT_EQ(std::string(odd[0]), f.kel->deleteList[0]->keyword);
  EXPECT_EQ(kToContains, f.kel->deleteList[0]->kind);
  EXPECT_STREQ("typed", f.kel->deleteList[1]->keyword);
}
