// The settings sheet under Wine, driven as a user drives it: pages, enable
// rules, OK and Cancel, the Open dialog, and what reaches the members and
// mail1.ini.
#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/win32/object_count.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/win32/property_sheet.h"
#include "settings/win32/status_dialog.h"
#include "settings/settings.h"
#include "tests/windows/dialog_driver.h"

namespace {

constexpr int kAccountsTab = 0, kMailTab = 1, kOtherTab = 2, kSntpTab = 3;

void pressSheet(Driver& d, HWND sheet, int button) {
  d.post(sheet, button);
  d.gone(sheet);
}

std::vector<std::string> tabTitles(HWND sheet) {
  HWND tab = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
  std::vector<std::string> titles;
  int n = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t text[64] = L"";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    titles.push_back(toShiftJis(text));
  }
  return titles;
}

// The charset of a control's font: Shift-JIS, or Wine draws Japanese as
// boxes where the code page is not 932.
int fontCharset(HWND control) {
  LOGFONTW font{};
  HFONT h = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  if (!h || !GetObjectW(h, sizeof font, &font)) return -1;
  return font.lfCharSet;
}

std::vector<std::string> run(DialogFixture& f, const std::function<void(Driver&, HWND sheet)>& script) {
  return drive([&] { runSettingsSheet(*f.kel, f.kel->popupWindow); },
               [&](Driver& d) {
                 if (HWND sheet = d.window("プロパティ")) script(d, sheet);
               });
}

}  // namespace

TEST(SettingsSheet, SevenPagesInOrderNoApplyAndOkOnTheFirstRewritesFileOneUnchanged) {
  DialogFixture f;
  f.kel->nmsnd = 1;
  f.kel->tcbt = 3;
  strcpy(f.kel->server, "127.0.0.5");
  ASSERT_TRUE(saveSettings(*f.kel, kOptionsFile));
  std::string before = f.read(kOptionsFile);
  DeleteFileA(f.file(kOptionsFile).c_str());

  std::vector<std::string> titles;
  bool applyShown = true;
  int modalWhileOpen = 0, tabCharset = -1, listCharset = -1;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    titles = tabTitles(sheet);
    tabCharset = fontCharset(reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0)));
    listCharset = fontCharset(GetDlgItem(d.page(sheet, kAccountsTab), IDC_ACCOUNTS_LIST));
    HWND apply = GetDlgItem(sheet, 0x3021);
    applyShown = apply && IsWindowVisible(apply);
    modalWhileOpen = f.kel->modalOpen;
    pressSheet(d, sheet, IDOK);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ((std::vector<std::string>{"アカウント", "メールチェック", "その他", "SNTP", "削除リスト", "無視リスト",
                                      "バージョン情報"}),
            titles);
  EXPECT_FALSE(applyShown);
  EXPECT_EQ(SHIFTJIS_CHARSET, tabCharset);
  EXPECT_EQ(SHIFTJIS_CHARSET, listCharset);
  EXPECT_EQ(1, modalWhileOpen);
  EXPECT_EQ(0, f.kel->modalOpen);
  EXPECT_EQ(before, f.read(kOptionsFile));  // written again, byte for byte
}

TEST(SettingsSheet, CancelLeavesTheOptionsAndKeepsAnAccountAddedBeforeIt) {
  DialogFixture f;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    d.click(mail, IDC_MAILCHECK_SHOW_POPUP);  // nmp 1 -> 0
    HWND accounts = d.page(sheet, kAccountsTab);
    d.post(accounts, IDC_ACCOUNTS_ADD);
    if (HWND editor = d.window("メールアカウント")) {
      d.setText(editor, IDC_ACCOUNT_ADDRESS, "taro@example.jp");
      d.setText(editor, IDC_ACCOUNT_SERVER, "127.0.0.1");
      d.setText(editor, IDC_ACCOUNT_USER, "taro");
      d.setText(editor, IDC_ACCOUNT_PASSWORD, "taro-pass");
      d.post(editor, IDC_ACCOUNT_OK);
      d.gone(editor);
    }
    pressSheet(d, sheet, IDCANCEL);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ(1, f.kel->nmp);
  EXPECT_STREQ("taro@example.jp", f.kel->accounts[0].mailaddr);
  f.reload();
  EXPECT_EQ(1, f.kel->nmp);
  EXPECT_STREQ("taro@example.jp", f.kel->accounts[0].mailaddr);
  EXPECT_STREQ("taro-pass", f.kel->accounts[0].pass);
}

TEST(SettingsSheet, MailPageEnablesFollowTheirBoxesAndDisabledFieldsStillCount) {
  DialogFixture f;
  f.kel->nmsnd = 0;
  f.kel->nmbeep = 0;
  f.kel->shac = 1;
  strcpy(f.kel->filename, "C:\\sounds\\old.wav");
  struct Seen {
    bool fileAtStart, beepAtStart, fileWithSound, beepWithSound, fileWithBeep, beepWithBeep;
    bool accountAfterUntick, accountStillTicked;
    std::string interval;
  } seen{};
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    seen.interval = comboSelection(GetDlgItem(mail, IDC_MAILCHECK_INTERVAL));
    seen.fileAtStart = d.enabled(mail, IDC_MAILCHECK_SOUND_FILE);
    seen.beepAtStart = d.enabled(mail, IDC_MAILCHECK_BEEP);
    d.click(mail, IDC_MAILCHECK_SOUND);
    seen.fileWithSound = d.enabled(mail, IDC_MAILCHECK_SOUND_FILE);
    seen.beepWithSound = d.enabled(mail, IDC_MAILCHECK_BEEP);
    d.click(mail, IDC_MAILCHECK_BEEP);
    seen.fileWithBeep = d.enabled(mail, IDC_MAILCHECK_SOUND_FILE);
    seen.beepWithBeep = d.enabled(mail, IDC_MAILCHECK_BEEP);
    d.click(mail, IDC_MAILCHECK_SHOW_POPUP);
    seen.accountAfterUntick = d.enabled(mail, IDC_MAILCHECK_SHOW_ACCOUNT);
    seen.accountStillTicked = d.checked(mail, IDC_MAILCHECK_SHOW_ACCOUNT);
    d.setText(mail, IDC_MAILCHECK_SOUND_FILE, "C:\\sounds\\new.wav");  // typed while disabled
    SendDlgItemMessageW(mail, IDC_MAILCHECK_INTERVAL, CB_SETCURSEL, 8, 0);
    pressSheet(d, sheet, IDOK);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ("10 分", seen.interval);
  EXPECT_FALSE(seen.fileAtStart);
  EXPECT_FALSE(seen.beepAtStart);
  EXPECT_TRUE(seen.fileWithSound);
  EXPECT_TRUE(seen.beepWithSound);
  EXPECT_FALSE(seen.fileWithBeep);  // the beep disables only the file field
  EXPECT_TRUE(seen.beepWithBeep);
  EXPECT_FALSE(seen.accountAfterUntick);
  EXPECT_TRUE(seen.accountStillTicked);
  EXPECT_EQ(8, f.kel->mailcbt);
  EXPECT_EQ(0, f.kel->nmp);
  EXPECT_EQ(1, f.kel->shac);
  EXPECT_EQ(1, f.kel->nmsnd);
  EXPECT_EQ(1, f.kel->nmbeep);
  EXPECT_STREQ("C:\\sounds\\new.wav", f.kel->filename);
  f.reload();
  EXPECT_EQ(8, f.kel->mailcbt);
  EXPECT_EQ(1, f.kel->nmbeep);
}

TEST(SettingsSheet, MailPageStartsWithTheBeepDisablingTheFileField) {
  DialogFixture f;
  f.kel->nmsnd = 1;
  f.kel->nmbeep = 1;
  f.kel->nmp = 0;
  bool file = true, beep = false, account = true;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    file = d.enabled(mail, IDC_MAILCHECK_SOUND_FILE);
    beep = d.enabled(mail, IDC_MAILCHECK_BEEP);
    account = d.enabled(mail, IDC_MAILCHECK_SHOW_ACCOUNT);
    pressSheet(d, sheet, IDCANCEL);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_FALSE(file);
  EXPECT_TRUE(beep);
  EXPECT_FALSE(account);
}

TEST(SettingsSheet, PlayTakesWhatTheFieldHoldsBeforeAnyOk) {
  DialogFixture f;
  static std::vector<std::string> played;
  played.clear();
  auto* saved = playWaveFile;
  playWaveFile = [](const char* path) { played.push_back(path); };
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    d.setWideText(mail, IDC_MAILCHECK_SOUND_FILE, L"C:\\\u97F3\\\u8A66\u3057.wav");
    d.click(mail, IDC_MAILCHECK_PLAY);
    pressSheet(d, sheet, IDCANCEL);
  });
  playWaveFile = saved;
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ(std::vector<std::string>{"C:\\音\\試し.wav"}, played);  // Shift-JIS, as the setting is
  EXPECT_STREQ("", f.kel->filename);
}

TEST(SettingsSheet, BrowseFillsTheFieldAndCancelLeavesTheFileNameAsItWas) {
  DialogFixture f;
  std::string chosen = f.dir + "chime.wav";
  std::ofstream(chosen) << "";  // any existing file will do; the dialog insists on one
  std::string title, shown;
  std::vector<std::string> filters;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    d.post(mail, IDC_MAILCHECK_BROWSE);
    if (HWND open = d.window("開く")) {
      title = "開く";
      filters = comboLines(GetDlgItem(open, 0x470));  // the file type list
      HWND name = GetDlgItem(open, 0x47C);          // the file name box
      if (!name) name = GetDlgItem(open, 0x480);
      SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(platform::widen(chosen.c_str()).c_str()));
      PostMessageW(open, WM_COMMAND, IDOK, 0);
      d.gone(open);
    }
    shown = d.text(mail, IDC_MAILCHECK_SOUND_FILE);
    pressSheet(d, sheet, IDCANCEL);
  });
  DeleteFileA(chosen.c_str());
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ((std::vector<std::string>{"wav(*.wav)", "all(*.*)"}), filters);
  EXPECT_EQ(chosen, shown);
  EXPECT_STREQ("", f.kel->filename);
}

TEST(SettingsSheet, OtherPageKeepsTheDesktopBoxAndMakesThePopupTranslucentAtOnce) {
  DialogFixture f;
  f.kel->dicon = 0;
  strcpy(f.kel->mailer, "C:\\mail\\old.exe");
  bool diconEnabled = true, diconAfterClick = true, translucentAfterClick = false;
  BYTE alphaOnOk = 0;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND other = d.page(sheet, kOtherTab);
    diconEnabled = d.enabled(other, IDC_OTHER_DESKTOP_ICONS);
    // Real clicks, handled in the order made: the first shows that they
    // reach an enabled box, the last that the one between has been handled.
    d.mouseClick(other, IDC_OTHER_TRANSLUCENT);
    translucentAfterClick = d.becomesChecked(other, IDC_OTHER_TRANSLUCENT);
    d.mouseClick(other, IDC_OTHER_DESKTOP_ICONS);
    d.mouseClick(other, IDC_OTHER_NO_ANIMATION);
    d.becomesChecked(other, IDC_OTHER_NO_ANIMATION);
    diconAfterClick = d.checked(other, IDC_OTHER_DESKTOP_ICONS);
    d.setText(other, IDC_OTHER_MAILER, "C:\\mail\\new.exe");
    pressSheet(d, sheet, IDOK);
    DWORD flags = 0;
    GetLayeredWindowAttributes(f.kel->popupWindow, nullptr, &alphaOnOk, &flags);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_FALSE(diconEnabled);
  EXPECT_FALSE(diconAfterClick);
  EXPECT_TRUE(translucentAfterClick);
  EXPECT_EQ(0, f.kel->dicon);
  EXPECT_EQ(1, f.kel->hantoumei);
  EXPECT_EQ(1, f.kel->iconani);
  EXPECT_STREQ("C:\\mail\\new.exe", f.kel->mailer);
  EXPECT_EQ(170, alphaOnOk);
  f.reload();
  EXPECT_EQ(0, f.kel->dicon);
  EXPECT_EQ(1, f.kel->hantoumei);
}

TEST(SettingsSheet, OnlyPagesShownApplyAndIndexesStayInTheirLists) {
  DialogFixture f;
  f.kel->mailcbt = 42;  // no such entry: the page shows the first
  f.kel->tcbt = -1;
  f.kel->hantoumei = 1;
  std::vector<std::string> kinds;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND sntp = d.page(sheet, kSntpTab);
    kinds = comboLines(GetDlgItem(sntp, IDC_SNTP_INTERVAL));
    d.setText(sntp, IDC_SNTP_SERVER, "");
    HWND mail = d.page(sheet, kMailTab);
    (void)mail;
    pressSheet(d, sheet, IDOK);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  ASSERT_EQ(10u, kinds.size());
  EXPECT_EQ("1 分", kinds[0]);
  EXPECT_EQ("1 日", kinds[9]);
  EXPECT_EQ(0, f.kel->mailcbt);
  EXPECT_EQ(0, f.kel->tcbt);
  EXPECT_STREQ("", f.kel->server);  // an empty server is accepted
  EXPECT_EQ(1, f.kel->hantoumei);   // "その他" was never shown
}

// A path Shift-JIS cannot hold would name another file once saved: OK is
// refused with the sheet left open, and what Shift-JIS holds is taken.
TEST(SettingsSheet, OkRefusesAMailerShiftJisLacksAndTakesAJapaneseOne) {
  DialogFixture f;
  strcpy(f.kel->mailer, "C:\\mail\\old.exe");
  std::string refusal;
  bool stayed = false;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND other = d.page(sheet, kOtherTab);
    d.setWideText(other, IDC_OTHER_MAILER, L"C:\\Users\\Jos\u00E9\\mail.exe");
    d.post(sheet, IDOK);
    refusal = d.dismissMessage();
    stayed = IsWindow(sheet) && IsWindowVisible(sheet);
    d.setWideText(other, IDC_OTHER_MAILER, L"C:\\メール\\送受信.exe");
    pressSheet(d, sheet, IDOK);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ("「メーラの場所」にShift-JISで表せない文字が含まれています。", refusal);
  EXPECT_TRUE(stayed);
  EXPECT_STREQ("C:\\メール\\送受信.exe", f.kel->mailer);
  f.reload();
  EXPECT_STREQ("C:\\メール\\送受信.exe", f.kel->mailer);
}

TEST(SettingsSheet, BrowseRefusesAFileWhosePathShiftJisLacks) {
  DialogFixture f;
  strcpy(f.kel->filename, "C:\\sounds\\old.wav");
  std::wstring folder = platform::widen(f.dir.c_str()) + L"Jos\u00E9\\";
  std::wstring chosen = folder + L"chime.wav";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  HANDLE made = CreateFileW(chosen.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, made);
  CloseHandle(made);
  std::string refusal, shown;
  auto failures = run(f, [&](Driver& d, HWND sheet) {
    HWND mail = d.page(sheet, kMailTab);
    d.post(mail, IDC_MAILCHECK_BROWSE);
    if (HWND open = d.window("開く")) {
      HWND name = GetDlgItem(open, 0x47C);
      if (!name) name = GetDlgItem(open, 0x480);
      SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
      PostMessageW(open, WM_COMMAND, IDOK, 0);
      d.gone(open);
    }
    refusal = d.dismissMessage();
    shown = d.text(mail, IDC_MAILCHECK_SOUND_FILE);
    pressSheet(d, sheet, IDOK);
  });
  DeleteFileW(chosen.c_str());
  RemoveDirectoryW(folder.c_str());
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ("「サウンドファイル」にShift-JISで表せない文字が含まれています。", refusal);
  EXPECT_EQ("C:\\sounds\\old.wav", shown);
  EXPECT_STREQ("C:\\sounds\\old.wav", f.kel->filename);
}

// The status dialog's caption comes from its template and its lines from
// Shift-JIS: both read back in UTF-16 whatever the ANSI code page.
TEST(ServerStatus, TitleAndLinesReadBackAsJapanese) {
  DialogFixture f;
  strcpy(f.kel->accounts[0].mailaddr, "taro@example.jp");
  f.kel->results[0].count = 2;
  const char mail[] = "山田太郎\0会議の件";
  memcpy(f.kel->results[0].lines[0].bytes, mail, sizeof mail);
  strcpy(f.kel->accounts[1].mailaddr, "hanako@example.jp");
  f.kel->results[1].failed = 1;
  f.kel->results[1].errorCode = 8;
  // Its reason wraps: a first line of 60 bytes, the widest the list holds.
  std::string reason = "-ERR [AUTH] ";
  while (reason.size() < 60) reason += "認証";
  reason += " 確認";
  snprintf(f.kel->results[1].reason, sizeof f.kel->results[1].reason, "%s", reason.c_str());
  std::wstring title;
  std::vector<std::wstring> lines;
  int charset = -1;
  int widest = 0, room = 0;
  auto failures = drive([&] { showServerStatus(*f.kel, f.kel->popupWindow); },
                        [&](Driver& d) {
                          HWND status = d.window("メールサーバーの状態");
                          if (!status) return;
                          title = windowTitle(status);
                          HWND list = GetDlgItem(status, IDC_STATUS_LIST);
                          lines = listBoxWideLines(list);
                          charset = fontCharset(list);
                          // Every line within the list, so that no scrolling is needed.
                          RECT client;
                          GetClientRect(list, &client);
                          room = client.right;
                          widest = widestListBoxLine(list);
                          d.post(status, IDOK);
                          d.gone(status);
                        });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ(L"メールサーバーの状態", title);
  EXPECT_EQ(SHIFTJIS_CHARSET, charset);
  std::wstring firstReasonLine = L"    理由: -ERR [AUTH] ";
  for (int i = 0; i < 12; ++i) firstReasonLine += L"認証";
  // The sender is padded to 32 bytes: eight of them for four kanji.
  EXPECT_EQ((std::vector<std::wstring>{L"taro@example.jp", L"  2通の新着メールがあります",
                                       L"    山田太郎" + std::wstring(24, L' ') + L" 会議の件",
                                       L"hanako@example.jp", L"  認証失敗(E8)",
                                       firstReasonLine, std::wstring(11, L' ') + L"確認", L"    最終成功: なし"}),
            lines);
  EXPECT_GT(widest, 0);
  EXPECT_LE(widest, room);
}

// The clock's widest lines (the largest error a reply can give, a refusal
// number of eleven characters) fit the list box: nothing is cut off.
TEST(ServerStatus, TheClocksWidestLineFitsTheList) {
  DialogFixture f;
  strcpy(f.kel->server, "ntp.example.jp");
  const ClockReport widest[] = {
      {ClockOutcome::kRefused, {2026, 12, 31, 23, 59, 0, 0}, 0x80000000u, -2147483648.0, ""},
      {ClockOutcome::kRefused, {2026, 12, 31, 23, 59, 0, 0}, platform::kPrivilegeNotHeld, -2147483648.0, ""},
      {ClockOutcome::kSynchronised, {2026, 12, 31, 23, 59, 0, 0}, 0, -2147483648.0, ""},
      {ClockOutcome::kNameNotFound, {2026, 12, 31, 23, 59, 0, 0}, 0, 0, ""}};
  for (const ClockReport& r : widest) {
    f.kel->clockReport = r;
    std::vector<std::wstring> lines;
    int room = 0, widestLine = 0;
    auto failures = drive([&] { showServerStatus(*f.kel, f.kel->popupWindow); },
                          [&](Driver& d) {
                            HWND status = d.window("メールサーバーの状態");
                            if (!status) return;
                            HWND list = GetDlgItem(status, IDC_STATUS_LIST);
                            lines = listBoxWideLines(list);
                            RECT client;
                            GetClientRect(list, &client);
                            room = client.right;
                            HDC dc = GetDC(list);
                            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
                            for (const std::wstring& line : lines) {
                              SIZE size{};
                              GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
                              widestLine = std::max(widestLine, static_cast<int>(size.cx));
                            }
                            SelectObject(dc, old);
                            ReleaseDC(list, dc);
                            d.post(status, IDOK);
                            d.gone(status);
                          });
    EXPECT_EQ(std::vector<std::string>{}, failures);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"時刻合わせ", lines[0]);
    EXPECT_EQ(0u, lines[1].find(L"  12/31 23:59 ")) << toShiftJis(lines[1]);
    EXPECT_GT(widestLine, 0);
    EXPECT_LE(widestLine, room) << toShiftJis(lines[1]);
  }
}

namespace {

// Opened once, then twelve times more: each opening finds the Shift-JIS
// charset, and none after the first makes another font.
void expectFontsMadeOnce(const std::function<int()>& openOnce) {
  EXPECT_EQ(SHIFTJIS_CHARSET, openOnce());
  LRESULT fonts = countObjects(kCountGdiType + 0x0A);
  ASSERT_GT(fonts, 0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(SHIFTJIS_CHARSET, openOnce()) << "opening " << i + 2;
  EXPECT_EQ(fonts, countObjects(kCountGdiType + 0x0A));
}

}  // namespace

TEST(SettingsSheet, OpenedAgainAndAgainMakesNoMoreFonts) {
  DialogFixture f;
  auto openOnce = [&] {
    int charset = -1;
    auto failures = run(f, [&](Driver& d, HWND sheet) {
      charset = fontCharset(GetDlgItem(d.page(sheet, kAccountsTab), IDC_ACCOUNTS_LIST));
      pressSheet(d, sheet, IDCANCEL);
    });
    EXPECT_EQ(std::vector<std::string>{}, failures);
    return charset;
  };
  expectFontsMadeOnce(openOnce);
}

// The Shift-JIS fonts the dialogs are given are made once and shared: a
// dialog opened again and again makes no more of them, and the last one
// opened still has its Japanese font.
TEST(StatusDialog, OpenedAgainAndAgainSharesItsFontAndKeepsTheShiftJisCharset) {
  DialogFixture f;
  auto openOnce = [&] {
    int charset = -1;
    auto failures = drive([&] { showServerStatus(*f.kel, f.kel->popupWindow); },
                          [&](Driver& d) {
                            HWND status = d.window("メールサーバーの状態");
                            if (!status) return;
                            charset = fontCharset(GetDlgItem(status, IDC_STATUS_LIST));
                            d.post(status, IDOK);
                            d.gone(status);
                          });
    EXPECT_EQ(std::vector<std::string>{}, failures);
    return charset;
  };
  expectFontsMadeOnce(openOnce);
}
