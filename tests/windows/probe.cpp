// kelprobe: a console helper for the end-to-end tests. It finds windows by
// class or title and reports on them, sends and posts messages, and reads
// list box lines, list view items and the texts of a window's controls,
// reads kel.exe's object counts, and times an exit, printing one
// "key=value" line per fact.
//
// Texts go in and out as UTF-8 and are read with the wide calls, so that
// the probe reads the same whatever its own ANSI code page is.
//
//   kelprobe find [--class C] [--title T] [--timeout MS]
//   kelprobe post|send HWND MSG [WPARAM [LPARAM]]
//   kelprobe lblines HWND [CONTROL_ID]
//   kelprobe lvitems HWND [CONTROL_ID]
//   kelprobe texts HWND
//   kelprobe settext HWND CONTROL_ID TEXT
//   kelprobe control HWND CONTROL_ID
//   kelprobe acp
//   kelprobe gone HWND [--timeout MS]
//   kelprobe counts HWND
//   kelprobe exitwait HWND|--class C MSG WPARAM [--timeout MS]
//   kelprobe protect TEXT | unprotect BASE64  (as kel.exe keeps a refresh token)
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/win32/object_count.h"

namespace {

unsigned long long number(const char* text) { return strtoull(text, nullptr, 0); }

HWND handleArg(const char* text) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(number(text))); }

std::string utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::wstring wide(const char* text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// A window's text through a wide WM_GETTEXT, which the system carries
// across processes whole (an edit control's text too).
std::wstring windowText(HWND w) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return std::wstring();
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(got < text.size() ? static_cast<size_t>(got) : 0);
  return text;
}

void report(HWND w) {
  wchar_t wcls[256] = {};
  GetClassNameW(w, wcls, 256);
  std::string cls = utf8(wcls), title = utf8(windowText(w).c_str());
  RECT r{};
  GetWindowRect(w, &r);
  BYTE alpha = 255;
  DWORD flags = 0;
  COLORREF key = 0;
  bool layered = (GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
  if (layered && !GetLayeredWindowAttributes(w, &key, &alpha, &flags)) alpha = 255;
  printf("hwnd=0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
  printf("class=%s\ntitle=%s\n", cls.c_str(), title.c_str());
  printf("visible=%d\n", IsWindowVisible(w) ? 1 : 0);
  printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  printf("layered=%d\nalpha=%u\n", layered ? 1 : 0, alpha);
  printf("exstyle=0x%llx\n", static_cast<unsigned long long>(GetWindowLongPtrA(w, GWL_EXSTYLE)));
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  printf("pid=%lu\n", pid);
}

int find(int argc, char** argv) {
  std::wstring cls, title;
  bool byClass = false, byTitle = false;
  DWORD timeout = 0;
  for (int i = 0; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--class")) byClass = true, cls = wide(argv[i + 1]);
    else if (!strcmp(argv[i], "--title")) byTitle = true, title = wide(argv[i + 1]);
    else if (!strcmp(argv[i], "--timeout")) timeout = static_cast<DWORD>(number(argv[i + 1]));
  }
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = FindWindowW(byClass ? cls.c_str() : nullptr, byTitle ? title.c_str() : nullptr);
    if (w) {
      report(w);
      return 0;
    }
    if (GetTickCount() - start >= timeout) break;
    Sleep(100);
  }
  printf("found=0\n");
  return 1;
}

int message(bool post, int argc, char** argv) {
  if (argc < 2) return 2;
  HWND w = handleArg(argv[0]);
  UINT msg = static_cast<UINT>(number(argv[1]));
  WPARAM wp = argc > 2 ? static_cast<WPARAM>(number(argv[2])) : 0;
  LPARAM lp = argc > 3 ? static_cast<LPARAM>(number(argv[3])) : 0;
  if (post) {
    BOOL ok = PostMessageW(w, msg, wp, lp);
    printf("posted=%d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
  }
  DWORD_PTR result = 0;
  LRESULT ok = SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result);
  printf("sent=%d\nresult=%lld\n", ok ? 1 : 0, static_cast<long long>(result));
  return ok ? 0 : 1;
}

int listBoxLines(int argc, char** argv) {
  if (argc < 1) return 2;
  HWND w = handleArg(argv[0]);
  if (argc > 1) w = GetDlgItem(w, static_cast<int>(number(argv[1])));
  if (!w) return 1;
  LRESULT n = SendMessageW(w, LB_GETCOUNT, 0, 0);
  printf("count=%lld\n", static_cast<long long>(n));
  // Wide messages: the system carries those across processes whole.
  for (LRESULT i = 0; i < n; ++i) {
    LRESULT len = SendMessageW(w, LB_GETTEXTLEN, i, 0);
    if (len < 0) continue;
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    SendMessageW(w, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
    printf("line=%s\n", utf8(text.c_str()).c_str());
  }
  return 0;
}

// A list view's items, a line each with its columns apart by tabs. Its
// texts are read through a buffer in the list's own process.
int listViewItems(int argc, char** argv) {
  if (argc < 1) return 2;
  HWND w = handleArg(argv[0]);
  if (argc > 1) w = GetDlgItem(w, static_cast<int>(number(argv[1])));
  if (!w) return 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return 1;
  constexpr int kChars = 512;
  struct Remote {
    LVITEMW item;
    wchar_t text[kChars];
  };
  auto* remote = static_cast<Remote*>(VirtualAllocEx(process, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
  if (!remote) return 1;
  HWND header = reinterpret_cast<HWND>(SendMessageW(w, LVM_GETHEADER, 0, 0));
  LRESULT columns = header ? SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) : 1;
  LRESULT n = SendMessageW(w, LVM_GETITEMCOUNT, 0, 0);
  printf("count=%lld\n", static_cast<long long>(n));
  for (LRESULT i = 0; i < n; ++i) {
    std::string line;
    for (LRESULT c = 0; c < columns; ++c) {
      Remote local{};
      local.item.iSubItem = static_cast<int>(c);
      local.item.pszText = remote->text;
      local.item.cchTextMax = kChars;
      SIZE_T done = 0;
      WriteProcessMemory(process, remote, &local, sizeof local, &done);
      SendMessageW(w, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&remote->item));
      ReadProcessMemory(process, remote, &local, sizeof local, &done);
      local.text[kChars - 1] = L'\0';
      line += (c ? "\t" : "") + utf8(local.text);
    }
    printf("line=%s\n", line.c_str());
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return 0;
}

// The texts of a window's controls (a message box's too), a line each:
// control ID, class and text, apart by tabs, in the order of the windows.
BOOL CALLBACK addControl(HWND w, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

int texts(int argc, char** argv) {
  if (argc < 1) return 2;
  HWND w = handleArg(argv[0]);
  if (!IsWindow(w)) return 1;
  printf("title=%s\n", utf8(windowText(w).c_str()).c_str());
  std::vector<HWND> controls;
  EnumChildWindows(w, addControl, reinterpret_cast<LPARAM>(&controls));
  for (HWND c : controls) {
    wchar_t cls[256] = {};
    GetClassNameW(c, cls, 256);
    printf("line=%d\t%s\t%s\n", GetDlgCtrlID(c), utf8(cls).c_str(), utf8(windowText(c).c_str()).c_str());
  }
  return 0;
}

int gone(int argc, char** argv) {
  if (argc < 1) return 2;
  HWND w = handleArg(argv[0]);
  DWORD timeout = argc > 2 && !strcmp(argv[1], "--timeout") ? static_cast<DWORD>(number(argv[2])) : 5000;
  DWORD start = GetTickCount();
  while (IsWindow(w)) {
    if (GetTickCount() - start >= timeout) {
      printf("gone=0\n");
      return 1;
    }
    Sleep(100);
  }
  printf("gone=1\n");
  return 0;
}

// kel.exe's answer to its object count message (app/win32/object_count.h).
int counts(int argc, char** argv) {
  if (argc < 1) return 2;
  HWND w = handleArg(argv[0]);
  struct Item {
    const char* key;
    WPARAM what;
  };
  static const Item items[] = {
      {"gdi", kCountGdi},
      {"user", kCountUser},
      {"windows", kCountWindows},
      {"menus", kCountMenus},
      {"icons", kCountIcons},
      {"gdi_dc", kCountGdiType + 0x01},
      {"gdi_region", kCountGdiType + 0x04},
      {"gdi_surface", kCountGdiType + 0x05},
      {"gdi_bitmap", kCountGdiType + 0x09},
      {"gdi_font", kCountGdiType + 0x0A},
      {"gdi_brush", kCountGdiType + 0x10},
      {"gdi_pen", kCountGdiType + 0x30},
      {"gdi_memdc", kCountGdiType + 0x41},
      {"gdi_palette", kCountGdiType + 0x08},
  };
  for (const Item& item : items) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, KEL_COUNT_OBJECTS, item.what, 0, SMTO_ABORTIFHUNG, 10000, &result)) {
      printf("sent=0\n");
      return 1;
    }
    printf("%s=%lld\n", item.key, static_cast<long long>(static_cast<LONG_PTR>(result)));
  }
  return 0;
}

// Posts a message (the exit command) to a window and waits for its process
// to end: how long that took after the post, and the exit code. Given a
// class instead of a handle, it waits for such a window first: started
// before kel.exe, it posts as soon as the window exists (a probe started
// while kel.exe starts up can stall at its own start under Wine).
int exitWait(int argc, char** argv) {
  if (argc < 3) return 2;
  int at = 0;
  const char* cls = nullptr;
  if (!strcmp(argv[0], "--class") && argc >= 4) cls = argv[++at];
  HWND w = cls ? nullptr : handleArg(argv[0]);
  UINT msg = static_cast<UINT>(number(argv[at + 1]));
  WPARAM wp = static_cast<WPARAM>(number(argv[at + 2]));
  DWORD timeout = argc > at + 4 && !strcmp(argv[at + 3], "--timeout") ? static_cast<DWORD>(number(argv[at + 4])) : 15000;
  std::wstring wideClass = cls ? wide(cls) : std::wstring();
  for (DWORD start = GetTickCount(); cls && !(w = FindWindowW(wideClass.c_str(), nullptr));) {
    if (GetTickCount() - start >= timeout) {
      printf("found=0\n");
      return 1;
    }
    Sleep(5);
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
  if (!process) {
    printf("opened=0\n");
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  BOOL posted = PostMessageW(w, msg, wp, 0);
  DWORD waited = posted ? WaitForSingleObject(process, timeout) : WAIT_FAILED;
  QueryPerformanceCounter(&end);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  printf("posted=%d\nended=%d\n", posted ? 1 : 0, waited == WAIT_OBJECT_0 ? 1 : 0);
  printf("elapsed_ms=%lld\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
  printf("exit_code=%lu\n", code);
  return waited == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

// Types a text into a control, as WM_SETTEXT in its wide form.
int setText(int argc, char** argv) {
  if (argc < 3) return 2;
  HWND w = GetDlgItem(handleArg(argv[0]), static_cast<int>(number(argv[1])));
  std::wstring text = wide(argv[2]);
  DWORD_PTR result = 0;
  LRESULT ok = w ? SendMessageTimeoutW(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                                       5000, &result)
                 : 0;
  printf("sent=%d\nresult=%lld\n", ok ? 1 : 0, static_cast<long long>(result));
  return ok && result ? 0 : 1;
}

// A dialog's control, reported as find reports a window.
int control(int argc, char** argv) {
  if (argc < 2) return 2;
  HWND w = GetDlgItem(handleArg(argv[0]), static_cast<int>(number(argv[1])));
  if (!w) {
    printf("found=0\n");
    return 1;
  }
  report(w);
  return 0;
}

// The probe's own code pages: a program built with a manifest of its own
// shows what the system gives such a program.
int codePages() {
  printf("acp=%u\noemcp=%u\n", GetACP(), GetOEMCP());
  return 0;
}

// A secret sealed for this user as kel.exe seals a refresh token
// (CryptProtectData, no entropy, no prompt), printed in base64; and back.
int protect(int argc, char** argv, bool seal) {
  if (argc < 1) return 2;
  std::string in = argv[0];
  if (!seal) {
    DWORD n = 0;
    if (!CryptStringToBinaryA(argv[0], 0, CRYPT_STRING_BASE64, nullptr, &n, nullptr, nullptr)) return 1;
    in.assign(n, '\0');
    CryptStringToBinaryA(argv[0], 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&in[0]), &n, nullptr, nullptr);
  }
  DATA_BLOB input{static_cast<DWORD>(in.size()), reinterpret_cast<BYTE*>(&in[0])};
  DATA_BLOB output{};
  BOOL ok = seal ? CryptProtectData(&input, L"", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output)
                 : CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &output);
  if (!ok) return 1;
  std::string out(reinterpret_cast<char*>(output.pbData), output.cbData);
  LocalFree(output.pbData);
  if (!seal) {
    printf("plain=%s\n", out.c_str());
    return 0;
  }
  DWORD n = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(out.data()), static_cast<DWORD>(out.size()), flags, nullptr, &n);
  std::string text(n, '\0');
  CryptBinaryToStringA(reinterpret_cast<const BYTE*>(out.data()), static_cast<DWORD>(out.size()), flags, &text[0], &n);
  printf("sealed=%s\n", text.c_str());
  return 0;
}

// The arguments as UTF-8, from the wide command line: the narrow argv the
// runtime makes goes through the ANSI code page and loses what it lacks.
std::vector<std::string> utf8Arguments() {
  int n = 0;
  LPWSTR* wideArgs = CommandLineToArgvW(GetCommandLineW(), &n);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(utf8(wideArgs[i]));
  LocalFree(wideArgs);
  return out;
}

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  std::vector<std::string> args = utf8Arguments();
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(&a[0]);
  int argc = static_cast<int>(pointers.size());
  char** argv = pointers.data();
  if (argc < 2) {
    fprintf(stderr, "usage: kelprobe find|post|send|lblines|lvitems|texts|settext|control|gone|counts|exitwait|acp|protect|unprotect ...\n");
    return 2;
  }
  const char* verb = argv[1];
  if (!strcmp(verb, "find")) return find(argc - 2, argv + 2);
  if (!strcmp(verb, "post")) return message(true, argc - 2, argv + 2);
  if (!strcmp(verb, "send")) return message(false, argc - 2, argv + 2);
  if (!strcmp(verb, "lblines")) return listBoxLines(argc - 2, argv + 2);
  if (!strcmp(verb, "lvitems")) return listViewItems(argc - 2, argv + 2);
  if (!strcmp(verb, "texts")) return texts(argc - 2, argv + 2);
  if (!strcmp(verb, "settext")) return setText(argc - 2, argv + 2);
  if (!strcmp(verb, "control")) return control(argc - 2, argv + 2);
  if (!strcmp(verb, "acp")) return codePages();
  if (!strcmp(verb, "protect")) return protect(argc - 2, argv + 2, true);
  if (!strcmp(verb, "unprotect")) return protect(argc - 2, argv + 2, false);
  if (!strcmp(verb, "gone")) return gone(argc - 2, argv + 2);
  if (!strcmp(verb, "counts")) return counts(argc - 2, argv + 2);
  if (!strcmp(verb, "exitwait")) return exitWait(argc - 2, argv + 2);
  fprintf(stderr, "kelprobe: unknown verb %s\n", verb);
  return 2;
}
