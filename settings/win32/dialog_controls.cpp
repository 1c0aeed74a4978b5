#include "settings/win32/dialog_controls.h"

#include <windows.h>

#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/wide_text.h"

Kel& dialogKel(HWND dialog) { return *reinterpret_cast<Kel*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

void keepKel(HWND dialog, Kel& kel) { SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&kel)); }

bool isChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void setChecked(HWND dialog, int id, int32_t state) {
  CheckDlgButton(dialog, id, state != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

void showText(HWND dialog, int id, const char* text) { SetDlgItemTextW(dialog, id, platform::widen(text).c_str()); }

namespace {

// The refusal of a field, in the user's terms: what was wrong and where.
void refuseField(HWND dialog, platform::Narrowed why, const char* field, size_t size) {
  char text[256];
  if (why == platform::Narrowed::kNotShiftJis) {
    snprintf(text, sizeof text, "「%s」にShift-JISで表せない文字が含まれています。", field);
  } else {
    int bytes = static_cast<int>(size - 1);
    snprintf(text, sizeof text, "「%s」が長すぎます。\n半角%d文字（全角%d文字）までです。", field, bytes, bytes / 2);
  }
  showError(dialog, text);
}

}  // namespace

namespace {

std::wstring controlText(HWND control) {
  int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  int got = GetWindowTextW(control, &text[0], static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void wipe(std::wstring& text) { SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t)); }  // it may be a password

}  // namespace

bool readField(HWND dialog, int id, char* out, size_t size, const char* field) {
  return readField(dialog, id, nullptr, out, size, field);
}

bool readField(HWND dialog, int id, const char* stored, char* out, size_t size, const char* field) {
  std::wstring text = controlText(GetDlgItem(dialog, id));
  if (stored && strlen(stored) < size) {
    std::wstring shown = platform::widen(stored);
    bool untouched = shown == text;
    wipe(shown);
    if (untouched) {
      wipe(text);
      memcpy(out, stored, strlen(stored) + 1);
      return true;
    }
  }
  platform::Narrowed r = platform::narrow(text.c_str(), out, size);
  wipe(text);
  if (r == platform::Narrowed::kOk) return true;
  refuseField(dialog, r, field, size);
  return false;
}

void fillDropDown(HWND dialog, int id, const char* const* labels, int count, int32_t selected) {
  HWND list = GetDlgItem(dialog, id);
  for (int i = 0; i < count; ++i) {
    std::wstring label = platform::widen(labels[i]);
    SendMessageW(list, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(label.c_str()));
  }
  if (selected < 0 || selected >= count) selected = 0;
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int32_t dropDownSelection(HWND dialog, int id, int32_t fallback) {
  LRESULT i = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
  return i == CB_ERR ? fallback : static_cast<int32_t>(i);
}

int showMessage(HWND owner, const char* text, UINT type) {
  return MessageBoxW(owner, platform::widen(text).c_str(), platform::widen("エラ～！").c_str(), type);
}

void showError(HWND owner, const char* text) { showMessage(owner, text, MB_ICONWARNING | MB_OK); }

void reportUnsaved(HWND owner) { showError(owner, "設定ファイルに書き込めませんでした"); }

bool chooseFile(HWND owner, FileKind kind, char* out, const char* field) {
  // Label and pattern pairs, each ending in a NUL, the whole in two.
  static const wchar_t kWaves[] = L"wav(*.wav)\0*.wav\0all(*.*)\0*.*\0";
  static const wchar_t kPrograms[] = L"exe(*.exe)\0*.exe\0all(*.*)\0*.*\0";
  wchar_t path[MAX_PATH] = L"";
  std::wstring title = platform::widen("開く");
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = nullptr;
  ofn.lpstrFilter = kind == FileKind::kWave ? kWaves : kPrograms;
  ofn.lpstrFile = path;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&ofn)) return false;
  // The setting is Shift-JIS: a path it cannot hold would name another file.
  char sjis[260];
  platform::Narrowed r = platform::narrow(path, sjis, sizeof sjis);
  if (r != platform::Narrowed::kOk) {
    refuseField(owner, r, field, sizeof sjis);
    return false;
  }
  memcpy(out, sjis, sizeof sjis);
  return true;
}
