// The "アカウント" page and the account editor "メールアカウント".
#include <cstdio>
#include <cstring>
#include <string>

#include "app/application.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/win32/account_sign_in.h"
#include "settings/win32/dialog_controls.h"
#include "settings/edits.h"
#include "settings/pins.h"
#include "settings/win32/pages.h"

namespace {

// After a check refused the server's key (code 1), OK asks whether to
// trust the new one; the default answer keeps the old key.
bool trustNewKey(HWND editor, const char* stored, const char* seen) {
  char text[512];
  snprintf(text, sizeof text,
           "サーバーの鍵が登録済みのものと違います。\n"
           "別のサーバーが応答している恐れがあります。\n\n"
           "登録済みの鍵:\n%s\n\n今回の鍵:\n%s\n\n"
           "新しい鍵を信頼して登録しますか？\n"
           "（いいえ: 登録済みの鍵のままにします）",
           stored, seen);
  return showMessage(editor, text, MB_ICONWARNING | MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

bool imapChosen(HWND editor) {
  return SendDlgItemMessageW(editor, IDC_ACCOUNT_PROTOCOL, CB_GETCURSEL, 0, 0) == 1;
}

// The labels name the protocol chosen; APOP is POP3's alone.
void showProtocol(HWND editor) {
  bool imap = imapChosen(editor);
  SetDlgItemTextW(editor, IDC_ACCOUNT_SERVER_LABEL, platform::widen(imap ? "受信サーバーIMAP：" : "受信サーバーPOP3：").c_str());
  SetDlgItemTextW(editor, IDC_ACCOUNT_SSL, platform::widen(imap ? "IMAP over SSL" : "POP3 over SSL").c_str());
  EnableWindow(GetDlgItem(editor, IDC_ACCOUNT_APOP), !imap);
}

void accountOk(HWND editor) {
  Kel& kel = dialogKel(editor);
  Account typed{};
  // An account being edited gives back the stored bytes of every field the
  // user left as it was shown.
  const Account* editing = kel.accountEditIndex >= 0 && kel.accountEditIndex < kAccountSlots
                              ? &kel.accounts[kel.accountEditIndex]
                              : nullptr;
  // A refused field leaves the editor open and the account as it was.
  bool read =
      readField(editor, IDC_ACCOUNT_ADDRESS, editing ? editing->mailaddr : nullptr, typed.mailaddr,
                sizeof typed.mailaddr, "メールアドレス") &&
      readField(editor, IDC_ACCOUNT_SERVER, editing ? editing->pop3server : nullptr, typed.pop3server,
                sizeof typed.pop3server, imapChosen(editor) ? "受信サーバーIMAP" : "受信サーバーPOP3") &&
      readField(editor, IDC_ACCOUNT_USER, editing ? editing->user : nullptr, typed.user, sizeof typed.user,
                "ユーザー名") &&
      readField(editor, IDC_ACCOUNT_PASSWORD, editing ? editing->pass : nullptr, typed.pass, sizeof typed.pass,
                "パスワード");
  if (!read) {
    SecureZeroMemory(typed.pass, sizeof typed.pass);
    return;
  }
  // The password is stored scrambled: its blanks and quotes survive. An
  // account that signs in with OAuth2 keeps the one it has, if any.
  if (saysNothing(typed.mailaddr) || saysNothing(typed.pop3server) || saysNothing(typed.user) ||
      (!typed.pass[0] && usesPassword(editor))) {
    SecureZeroMemory(typed.pass, sizeof typed.pass);
    showError(editor, "未記入の項目があります！");
    return;
  }
  if (!signInReady(editor)) {
    SecureZeroMemory(typed.pass, sizeof typed.pass);
    return;
  }
  AccountFields f{typed.mailaddr,
                  typed.pop3server,
                  typed.user,
                  typed.pass,
                  isChecked(editor, IDC_ACCOUNT_APOP),
                  isChecked(editor, IDC_ACCOUNT_SSL),
                  imapChosen(editor)};
  SaveOutcome saved = SaveOutcome::kSaved;
  int r = storeAccount(kel, kel.accountEditIndex, f, &saved);
  SecureZeroMemory(typed.pass, sizeof typed.pass);
  if (r == 0) {
    showError(editor, "メールアカウントは９個までしか登録できません！");
    return;
  }
  if (storeSignIn(editor, kel, r - 1) == SaveOutcome::kNotWritten) saved = SaveOutcome::kNotWritten;
  char stored[kPinSize], seen[kPinSize];
  if (kel.accountEditIndex >= 0 && refusedKey(kel, r - 1, stored, seen) && trustNewKey(editor, stored, seen) &&
      trustKey(kel, r - 1, seen) == SaveOutcome::kNotWritten)
    saved = SaveOutcome::kNotWritten;
  if (saved == SaveOutcome::kNotWritten) reportUnsaved(editor);
  EndDialog(editor, r);
}

INT_PTR CALLBACK accountEditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      Kel& kel = *reinterpret_cast<Kel*>(lParam);
      keepKel(editor, kel);
      useJapaneseFont(editor);
      SetWindowPos(editor, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      for (const char* name : {"POP3", "IMAP"})
        SendDlgItemMessageW(editor, IDC_ACCOUNT_PROTOCOL, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(platform::widen(name).c_str()));
      int s = kel.accountEditIndex;
      bool imap = s >= 0 && s < kAccountSlots && kel.accounts[s].protocol == kProtocolImap;
      SendDlgItemMessageW(editor, IDC_ACCOUNT_PROTOCOL, CB_SETCURSEL, imap ? 1 : 0, 0);
      showProtocol(editor);
      if (s >= 0 && s < kAccountSlots) {
        const Account& a = kel.accounts[s];
        showText(editor, IDC_ACCOUNT_ADDRESS, a.mailaddr);
        showText(editor, IDC_ACCOUNT_SERVER, a.pop3server);
        showText(editor, IDC_ACCOUNT_USER, a.user);
        showText(editor, IDC_ACCOUNT_PASSWORD, a.pass);
        setChecked(editor, IDC_ACCOUNT_APOP, a.apop);
        setChecked(editor, IDC_ACCOUNT_SSL, a.ssl);
      }
      initSignIn(editor, kel, s);
      return TRUE;
    }
    case WM_DESTROY:
      endSignIn(editor);
      return FALSE;
    case WM_COMMAND:
      if (signInCommand(editor, wParam)) return TRUE;
      switch (LOWORD(wParam)) {
        case IDC_ACCOUNT_OK:
        case IDOK: accountOk(editor); return TRUE;  // Enter comes as IDOK
        case IDC_ACCOUNT_PROTOCOL:
          if (HIWORD(wParam) == CBN_SELCHANGE) showProtocol(editor);
          return TRUE;
        case IDC_ACCOUNT_CANCEL:
        case IDCANCEL: EndDialog(editor, 0); return TRUE;  // Esc and the close box
        default: return FALSE;
      }
    default: return FALSE;
  }
}

int runAccountEditor(HWND page, int editIndex) {
  Kel& kel = dialogKel(page);
  kel.accountEditIndex = editIndex;
  INT_PTR r = DialogBoxParamW(kel.instance, MAKEINTRESOURCEW(IDD_ACCOUNT_EDITOR), page, accountEditorProc,
                              reinterpret_cast<LPARAM>(&kel));
  return r > 0 ? static_cast<int>(r) : 0;
}

int selectedLine(HWND page) {
  LRESULT s = SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_GETCURSEL, 0, 0);
  return s == LB_ERR ? -1 : static_cast<int>(s);
}

void appendLine(HWND page, const char* text) {
  std::wstring line = platform::widen(text);
  SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

// Line s stays where it is and stays selected.
void replaceLine(HWND page, int s, const char* text) {
  HWND list = GetDlgItem(page, IDC_ACCOUNTS_LIST);
  std::wstring line = platform::widen(text);
  SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(s), 0);
  SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(s), reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(s), 0);
}

void accountsCommand(HWND page, int id) {
  Kel& kel = dialogKel(page);
  int s = selectedLine(page);
  switch (id) {
    case IDC_ACCOUNTS_ADD: {
      int r = runAccountEditor(page, -1);
      if (r > 0) appendLine(page, kel.accounts[r - 1].mailaddr);
      break;
    }
    case IDC_ACCOUNTS_EDIT: {
      if (s < 0) break;
      int r = runAccountEditor(page, s);
      if (r > 0) replaceLine(page, s, kel.accounts[r - 1].mailaddr);
      break;
    }
    case IDC_ACCOUNTS_DELETE:
      if (s < 0) break;
      SendDlgItemMessageW(page, IDC_ACCOUNTS_LIST, LB_DELETESTRING, static_cast<WPARAM>(s), 0);
      if (deleteAccount(kel, s) == SaveOutcome::kNotWritten) reportUnsaved(page);
      break;
    default: break;
  }
}

}  // namespace

INT_PTR CALLBACK accountsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Kel& kel = keepPageKel(page, lParam);
    for (const Account& a : kel.accounts) {
      if (a.mailaddr[0] != '\0') appendLine(page, a.mailaddr);
    }
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    accountsCommand(page, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}
