#include "tests/windows/dialog_driver.h"

#include <windows.h>

#include <commctrl.h>
#include <prsht.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/win32/wide_text.h"
#include "settings/settings.h"

namespace {

constexpr int kWaitMs = 10000;

struct Search {
  std::wstring title;
  HWND found;
};

BOOL CALLBACK matchTitle(HWND w, LPARAM p) {
  Search& s = *reinterpret_cast<Search*>(p);
  if (IsWindowVisible(w) && windowTitle(w) == s.title) {
    s.found = w;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK collect(HWND w, LPARAM p) {
  if (IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

std::vector<HWND> openWindows(DWORD thread) {
  std::vector<HWND> open;
  EnumThreadWindows(thread, collect, reinterpret_cast<LPARAM>(&open));
  return open;
}

}  // namespace

const char kNotShiftJis[] = "\x01(not Shift-JIS)";

std::string toShiftJis(const std::wstring& text) {
  std::vector<char> out(text.size() * 2 + 1);
  if (platform::narrow(text.c_str(), out.data(), out.size()) != platform::Narrowed::kOk) return kNotShiftJis;
  return out.data();
}

std::wstring windowTitle(HWND w) {
  wchar_t title[256] = L"";
  GetWindowTextW(w, title, 256);
  return title;
}

HWND Driver::window(const char* title) {
  for (int waited = 0; waited < kWaitMs; waited += 20) {
    Search s{platform::widen(title), nullptr};
    EnumThreadWindows(uiThread_, matchTitle, reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    Sleep(20);
  }
  std::string seen;
  for (HWND w : openWindows(uiThread_)) seen += " \"" + toShiftJis(windowTitle(w)) + "\"";
  fail(std::string("no window \"") + title + "\"; open:" + seen);
  return nullptr;
}

bool Driver::gone(HWND w) {
  for (int waited = 0; waited < kWaitMs; waited += 20) {
    if (!IsWindow(w)) return true;
    Sleep(20);
  }
  fail("a window stayed open");
  return false;
}

void Driver::click(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return fail("no control " + std::to_string(id));
  SendMessageW(button, BM_CLICK, 0, 0);
}

void Driver::mouseClick(HWND dialog, int id) {
  HWND root = GetAncestor(dialog, GA_ROOT);
  for (int waited = 0; GetForegroundWindow() != root && waited < 2000; waited += 20) {
    SetForegroundWindow(root);
    Sleep(20);
  }
  if (GetForegroundWindow() != root) fail("the dialog would not come to the front");
  RECT r;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  // Each event carries its own place: a cursor moved beforehand may not
  // have got there when the button goes down.
  LONG x = ((r.left + r.right) / 2 * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN);
  LONG y = ((r.top + r.bottom) / 2 * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN);
  INPUT events[3] = {};
  const DWORD flags[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  for (int i = 0; i < 3; ++i) {
    events[i].type = INPUT_MOUSE;
    events[i].mi.dx = x;
    events[i].mi.dy = y;
    events[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  }
  SendInput(3, events, sizeof events[0]);
}

bool Driver::becomesChecked(HWND dialog, int id) {
  for (int waited = 0; waited < kWaitMs; waited += 20) {
    if (checked(dialog, id)) return true;
    Sleep(20);
  }
  fail("control " + std::to_string(id) + " never became checked");
  return false;
}

void Driver::post(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return fail("no control " + std::to_string(id));
  PostMessageW(button, BM_CLICK, 0, 0);
}

void Driver::setText(HWND dialog, int id, const std::string& text) {
  setWideText(dialog, id, platform::widen(text.c_str()));
}

void Driver::setWideText(HWND dialog, int id, const std::wstring& text) {
  SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Driver::text(HWND dialog, int id) { return toShiftJis(wideText(dialog, id)); }

std::wstring Driver::wideText(HWND dialog, int id) {
  wchar_t buf[1024] = L"";
  SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
  return buf;
}

bool Driver::checked(HWND dialog, int id) {
  return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Driver::enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

std::string Driver::dismissMessage() {
  HWND box = window("エラ～！");
  if (!box) return "";
  std::string said = text(box, 0xFFFF);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  gone(box);
  return said;
}

std::string Driver::answerMessage(int id) {
  HWND box = window("エラ～！");
  if (!box) return "";
  std::string said = text(box, 0xFFFF);
  if (!GetDlgItem(box, id)) {
    fail("the message box has no button " + std::to_string(id));
    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
  } else {
    post(box, id);
  }
  gone(box);
  return said;
}

HWND Driver::page(HWND sheet, int index) {
  SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
  HWND p = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
  if (!p) fail("no page " + std::to_string(index));
  return p;
}

std::vector<std::string> drive(const std::function<void()>& modal, const std::function<void(Driver&)>& script) {
  Driver driver(GetCurrentThreadId());
  std::thread side([&] {
    script(driver);
    // What the script closed goes by itself; anything else is cancelled
    // until the modal call can return.
    for (int waited = 0; waited < 3000 && !openWindows(driver.uiThread()).empty(); waited += 20) Sleep(20);
    for (int round = 0; round < 50; ++round) {
      std::vector<HWND> open = openWindows(driver.uiThread());
      if (open.empty()) break;
      if (round == 0) driver.fail("windows left open");
      for (HWND w : open) PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
      Sleep(100);
    }
  });
  modal();
  side.join();
  return driver.failures;
}

DialogFixture::DialogFixture() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  static int made = 0;
  dir = std::string(temp) + "kel-dialogs-" + std::to_string(GetCurrentProcessId()) + "-" +
        std::to_string(++made) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  kel = newKel(dir);
  kel->instance = GetModuleHandleA(nullptr);
  kel->popupWindow = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "Kel Ver. 1.xx", WS_POPUP, 0, 0, kPopupWidth, kPopupHeight,
                                     nullptr, nullptr, kel->instance, nullptr);
  loadAllSettings(*kel);
}

DialogFixture::~DialogFixture() {
  DestroyWindow(kel->popupWindow);
  for (int n = 1; n <= 4; ++n) DeleteFileA(file(n).c_str());
  RemoveDirectoryA(dir.c_str());
}

std::string DialogFixture::file(int n) const { return dir + "mail" + std::to_string(n) + ".ini"; }

std::string DialogFixture::read(int n) const {
  std::ifstream in(file(n), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void DialogFixture::write(int n, const std::string& text) const {
  std::ofstream(file(n), std::ios::binary) << text;
}

void DialogFixture::reload() {
  HINSTANCE instance = kel->instance;
  HWND popup = kel->popupWindow;
  kel = newKel(dir);  // the rules of the one it replaces go with it
  kel->instance = instance;
  kel->popupWindow = popup;
  loadAllSettings(*kel);
}

namespace {

// The lines of a list box or drop-down list, by its count and text messages.
std::vector<std::wstring> controlLines(HWND control, UINT countMessage, UINT textMessage) {
  std::vector<std::wstring> out;
  int n = static_cast<int>(SendMessageW(control, countMessage, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t line[512] = L"";
    SendMessageW(control, textMessage, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> allToShiftJis(const std::vector<std::wstring>& lines) {
  std::vector<std::string> out;
  for (const std::wstring& line : lines) out.push_back(toShiftJis(line));
  return out;
}

}  // namespace

std::vector<std::string> listBoxLines(HWND list) { return allToShiftJis(listBoxWideLines(list)); }

std::vector<std::wstring> listBoxWideLines(HWND list) { return controlLines(list, LB_GETCOUNT, LB_GETTEXT); }

int widestListBoxLine(HWND list) {
  int widest = 0;
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
  for (const std::wstring& l : listBoxWideLines(list)) {
    SIZE size{};
    GetTextExtentPoint32W(dc, l.c_str(), static_cast<int>(l.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  return widest;
}

std::vector<std::string> listViewColumn(HWND list, int column) {
  std::vector<std::string> out;
  int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t text[256] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    out.push_back(toShiftJis(text));
  }
  return out;
}

std::string comboSelection(HWND combo) {
  wchar_t text[256] = L"";
  LRESULT i = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (i != CB_ERR) SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
  return toShiftJis(text);
}

std::vector<std::string> comboLines(HWND combo) { return allToShiftJis(controlLines(combo, CB_GETCOUNT, CB_GETLBTEXT)); }
