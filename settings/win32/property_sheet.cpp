#include "settings/win32/property_sheet.h"

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "app/application.h"
#include "app/win32/popup_dpi.h"
#include "notify/win32/sound.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/win32/dialog_controls.h"
#include "settings/win32/pages.h"

namespace {

// The sheet's apply notification, sent on OK to every page shown so far.
bool isApply(UINT message, LPARAM lParam) {
  return message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == PSN_APPLY;
}

BOOL accepted(HWND page) {
  SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
  return TRUE;
}

// OK with a field the page cannot keep: the sheet stays open on this page.
BOOL refused(HWND page) {
  SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
  return TRUE;
}

// OK and a change of tab first ask the page being left; a field it cannot
// keep holds the user there, before any page has applied anything.
bool isLeaving(UINT message, LPARAM lParam) {
  return message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == PSN_KILLACTIVE;
}

BOOL leave(HWND page, bool ok) {
  SetWindowLongPtrW(page, DWLP_MSGRESULT, ok ? FALSE : TRUE);
  return TRUE;
}

// The field names the warnings give, as the pages label them.
const char kSoundFileField[] = "サウンドファイル";
const char kMailerField[] = "メーラの場所";
const char kTimeServerField[] = "SNTP サーバ";

bool clicked(WPARAM wParam, int id) { return LOWORD(wParam) == id && HIWORD(wParam) == BN_CLICKED; }

// "メールチェック": the account name follows the popup box, the beep follows
// the sound box, and the wave file is there only when the beep is not chosen.
void mailPageEnables(HWND page) {
  enable(page, IDC_MAILCHECK_SHOW_ACCOUNT, isChecked(page, IDC_MAILCHECK_SHOW_POPUP));
  bool sound = isChecked(page, IDC_MAILCHECK_SOUND);
  enable(page, IDC_MAILCHECK_BEEP, sound);
  enable(page, IDC_MAILCHECK_SOUND_FILE, sound && !isChecked(page, IDC_MAILCHECK_BEEP));
}

INT_PTR CALLBACK mailPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Kel& kel = keepPageKel(page, lParam);
    fillDropDown(page, IDC_MAILCHECK_INTERVAL, mailIntervalLabels, kMailIntervals, kel.mailcbt);
    setChecked(page, IDC_MAILCHECK_SHOW_POPUP, kel.nmp);
    setChecked(page, IDC_MAILCHECK_SHOW_ACCOUNT, kel.shac);
    setChecked(page, IDC_MAILCHECK_SOUND, kel.nmsnd);
    setChecked(page, IDC_MAILCHECK_BEEP, kel.nmbeep);
    showText(page, IDC_MAILCHECK_SOUND_FILE, kel.filename);
    mailPageEnables(page);
    return TRUE;
  }
  if (message == WM_COMMAND) {
    if (clicked(wParam, IDC_MAILCHECK_SHOW_POPUP) || clicked(wParam, IDC_MAILCHECK_SOUND) ||
        clicked(wParam, IDC_MAILCHECK_BEEP)) {
      mailPageEnables(page);
    } else if (clicked(wParam, IDC_MAILCHECK_BROWSE)) {
      char path[260];
      if (chooseFile(page, FileKind::kWave, path, kSoundFileField)) showText(page, IDC_MAILCHECK_SOUND_FILE, path);
    } else if (clicked(wParam, IDC_MAILCHECK_PLAY)) {
      char path[260];
      if (readField(page, IDC_MAILCHECK_SOUND_FILE, path, sizeof path, kSoundFileField)) playWaveFile(path);
    }
    return FALSE;
  }
  if (isLeaving(message, lParam)) {
    char path[260];
    return leave(page, readField(page, IDC_MAILCHECK_SOUND_FILE, path, sizeof path, kSoundFileField));
  }
  if (isApply(message, lParam)) {
    Kel& kel = dialogKel(page);
    char filename[sizeof kel.filename];
    if (!readField(page, IDC_MAILCHECK_SOUND_FILE, filename, sizeof filename, kSoundFileField)) return refused(page);
    std::lock_guard<std::mutex> g(kel.checkLock);  // a check may be reading them
    kel.mailcbt = dropDownSelection(page, IDC_MAILCHECK_INTERVAL, kel.mailcbt);
    kel.nmp = isChecked(page, IDC_MAILCHECK_SHOW_POPUP);
    kel.shac = isChecked(page, IDC_MAILCHECK_SHOW_ACCOUNT);
    kel.nmsnd = isChecked(page, IDC_MAILCHECK_SOUND);
    memcpy(kel.filename, filename, sizeof filename);
    kel.nmbeep = isChecked(page, IDC_MAILCHECK_BEEP);
    return accepted(page);
  }
  return FALSE;
}

INT_PTR CALLBACK otherPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Kel& kel = keepPageKel(page, lParam);
    showText(page, IDC_OTHER_MAILER, kel.mailer);
    setChecked(page, IDC_OTHER_TRANSLUCENT, kel.hantoumei);
    setChecked(page, IDC_OTHER_DESKTOP_ICONS, kel.dicon);
    setChecked(page, IDC_OTHER_NO_ANIMATION, kel.iconani);
    return TRUE;
  }
  if (message == WM_COMMAND) {
    char path[260];
    if (clicked(wParam, IDC_OTHER_BROWSE) && chooseFile(page, FileKind::kProgram, path, kMailerField))
      showText(page, IDC_OTHER_MAILER, path);
    return FALSE;
  }
  if (isLeaving(message, lParam)) {
    char path[260];
    return leave(page, readField(page, IDC_OTHER_MAILER, path, sizeof path, kMailerField));
  }
  if (isApply(message, lParam)) {
    Kel& kel = dialogKel(page);
    char mailer[sizeof kel.mailer];
    if (!readField(page, IDC_OTHER_MAILER, mailer, sizeof mailer, kMailerField)) return refused(page);
    {
      std::lock_guard<std::mutex> g(kel.checkLock);
      kel.hantoumei = isChecked(page, IDC_OTHER_TRANSLUCENT);
      kel.dicon = isChecked(page, IDC_OTHER_DESKTOP_ICONS);
      kel.iconani = isChecked(page, IDC_OTHER_NO_ANIMATION);
      memcpy(kel.mailer, mailer, sizeof mailer);
    }
    applyPopupTranslucency(kel);
    return accepted(page);
  }
  return FALSE;
}

INT_PTR CALLBACK sntpPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Kel& kel = keepPageKel(page, lParam);
    fillDropDown(page, IDC_SNTP_INTERVAL, clockIntervalLabels, kClockIntervals, kel.tcbt);
    showText(page, IDC_SNTP_SERVER, kel.server);
    return TRUE;
  }
  if (isLeaving(message, lParam)) {
    char server[sizeof dialogKel(page).server];
    return leave(page, readField(page, IDC_SNTP_SERVER, server, sizeof server, kTimeServerField));
  }
  if (isApply(message, lParam)) {
    Kel& kel = dialogKel(page);
    char server[sizeof kel.server];
    if (!readField(page, IDC_SNTP_SERVER, server, sizeof server, kTimeServerField)) return refused(page);
    std::lock_guard<std::mutex> g(kel.checkLock);  // the clock thread reads the server
    kel.tcbt = dropDownSelection(page, IDC_SNTP_INTERVAL, kel.tcbt);
    memcpy(kel.server, server, sizeof server);
    return accepted(page);
  }
  return FALSE;
}

INT_PTR CALLBACK versionPageProc(HWND page, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  useJapaneseFont(page);
  return TRUE;
}

struct PageSpec {
  int templateId;
  const char* title;
  DLGPROC proc;
};

HINSTANCE pageInstance;  // where the page templates are, for measuring them

const PageSpec kPages[] = {
    {IDD_ACCOUNTS_PAGE, "アカウント", accountsPageProc},
    {IDD_MAIL_PAGE, "メールチェック", mailPageProc},
    {IDD_OTHER_PAGE, "その他", otherPageProc},
    {IDD_SNTP_PAGE, "SNTP", sntpPageProc},
    {IDD_DELETE_LIST_PAGE, "削除リスト", deleteListPageProc},
    {IDD_IGNORE_LIST_PAGE, "無視リスト", ignoreListPageProc},
    {IDD_VERSION_PAGE, "バージョン情報", versionPageProc},
};
constexpr int kPageCount = sizeof kPages / sizeof kPages[0];

INT_PTR CALLBACK measureProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The sheet sizes itself from the page templates in its own (smaller)
// font, while the pages are laid out in theirs: the tab control and the
// sheet grow until the largest page fits, and the buttons move with them.
void fitPages(HWND sheet) {
  SIZE need{0, 0};
  for (const PageSpec& spec : kPages) {
    HWND probe = CreateDialogParamW(pageInstance, MAKEINTRESOURCEW(spec.templateId), sheet, measureProc, 0);
    if (!probe) continue;
    RECT r;
    GetWindowRect(probe, &r);
    DestroyWindow(probe);
    need.cx = std::max(need.cx, r.right - r.left);
    need.cy = std::max(need.cy, r.bottom - r.top);
  }
  HWND tab = PropSheet_GetTabControl(sheet);
  SIZE grown{0, 0};
  for (int round = 0; round < 3; ++round) {  // more width may mean fewer rows of tabs
    RECT shown;
    GetClientRect(tab, &shown);
    TabCtrl_AdjustRect(tab, FALSE, &shown);
    int dx = std::max(0L, need.cx - (shown.right - shown.left));
    int dy = std::max(0L, need.cy - (shown.bottom - shown.top));
    if (dx == 0 && dy == 0) break;
    RECT t;
    GetWindowRect(tab, &t);
    SetWindowPos(tab, nullptr, 0, 0, t.right - t.left + dx, t.bottom - t.top + dy, SWP_NOMOVE | SWP_NOZORDER);
    grown.cx += dx;
    grown.cy += dy;
  }
  for (HWND child = GetWindow(tab, GW_HWNDFIRST); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[16] = L"";
    GetClassNameW(child, cls, 16);
    if (child == tab || lstrcmpiW(cls, L"Button") != 0) continue;
    RECT b;
    GetWindowRect(child, &b);
    MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&b), 2);
    SetWindowPos(child, nullptr, b.left + grown.cx, b.top + grown.cy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  RECT own;
  GetWindowRect(sheet, &own);
  SetWindowPos(sheet, nullptr, 0, 0, own.right - own.left + grown.cx, own.bottom - own.top + grown.cy,
               SWP_NOMOVE | SWP_NOZORDER);
}

// The owner is the popup in the screen's corner, which would put much of
// the sheet off the screen: it opens in the middle of the work area instead.
void centre(HWND sheet) {
  RECT area, own;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(sheet, &own);
  int w = own.right - own.left, h = own.bottom - own.top;
  SetWindowPos(sheet, nullptr, area.left + (area.right - area.left - w) / 2,
               area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED) {
    useJapaneseFont(sheet);  // the tabs
    fitPages(sheet);
    centre(sheet);
  }
  return 0;
}

}  // namespace

void (*playWaveFile)(const char* path) = playWaveInBackground;

Kel& keepPageKel(HWND page, LPARAM initParam) {
  Kel& kel = *reinterpret_cast<Kel*>(reinterpret_cast<const PROPSHEETPAGEW*>(initParam)->lParam);
  keepKel(page, kel);
  useJapaneseFont(page);
  return kel;
}

void showPropertySheet(Kel& kel, HWND owner) {
  pageInstance = kel.instance;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);

  HPROPSHEETPAGE pages[kPageCount];
  std::wstring titles[kPageCount];  // kept until the sheet has closed
  int made = 0;
  for (const PageSpec& spec : kPages) {
    titles[made] = platform::widen(spec.title);
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE;
    page.hInstance = kel.instance;
    page.pszTemplate = MAKEINTRESOURCEW(spec.templateId);
    page.pszTitle = titles[made].c_str();
    page.pfnDlgProc = spec.proc;
    page.lParam = reinterpret_cast<LPARAM>(&kel);
    HPROPSHEETPAGE made_page = CreatePropertySheetPageW(&page);
    if (!made_page) break;
    pages[made++] = made_page;
  }
  if (made < kPageCount) {
    for (int i = 0; i < made; ++i) DestroyPropertySheetPage(pages[i]);
    return;
  }

  std::wstring caption = platform::widen("プロパティ");
  PROPSHEETHEADERW sheet{};
  sheet.dwSize = sizeof sheet;
  sheet.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK;
  sheet.pfnCallback = sheetCallback;
  sheet.hwndParent = owner;
  sheet.hInstance = kel.instance;
  sheet.pszCaption = caption.c_str();
  sheet.nPages = kPageCount;
  sheet.nStartPage = 0;
  sheet.phpage = pages;
  PropertySheetW(&sheet);
}

void runSettingsSheet(Kel& kel, HWND owner) {
  {
    ModalScope modal(kel);
    showPropertySheet(kel, owner);
  }
  if (!saveSettings(kel, kOptionsFile)) reportUnsaved(nullptr);
}
