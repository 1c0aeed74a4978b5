// kelprobe: a console helper for the end-to-end tests. It finds windows by
// class or title and reports on them, sends and posts messages, and reads
// list box lines, reads kel.exe's object counts, and times an exit,
// printing one "key=value" line per fact.
//
//   kelprobe find [--class C] [--title T] [--timeout MS]
//   kelprobe post|send HWND MSG [WPARAM [LPARAM]]
//   kelprobe lblines HWND [CONTROL_ID]
//   kelprobe gone HWND [--timeout MS]
//   kelprobe counts HWND
//   kelprobe exitwait HWND|--class C MSG WPARAM [--timeout MS]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/win32/object_count.h"

namespace {

unsigned long long number(const char* text) { return strtoull(text, nullptr, 0); }

HWND handleArg(const char* text) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(number(text))); }

void report(HWND w) {
  char cls[256] = {}, title[512] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  RECT r{};
  GetWindowRect(w, &r);
  BYTE alpha = 255;
  DWORD flags = 0;
  COLORREF key = 0;
  bool layered = (GetWindowLongPtrA(w, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
  if (layered && !GetLayeredWindowAttributes(w, &key, &alpha, &flags)) alpha = 255;
  printf("hwnd=0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
  printf("class=%s\ntitle=%s\n", cls, title);
  printf("visible=%d\n", IsWindowVisible(w) ? 1 : 0);
  printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  printf("layered=%d\nalpha=%u\n", layered ? 1 : 0, alpha);
  printf("exstyle=0x%llx\n", static_cast<unsigned long long>(GetWindowLongPtrA(w, GWL_EXSTYLE)));
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  printf("pid=%lu\n", pid);
}

int find(int argc, char** argv) {
  const char* cls = nullptr;
  const char* title = nullptr;
  DWORD timeout = 0;
  for (int i = 0; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--class")) cls = argv[i + 1];
    else if (!strcmp(argv[i], "--title")) title = argv[i + 1];
    else if (!strcmp(argv[i], "--timeout")) timeout = static_cast<DWORD>(number(argv[i + 1]));
  }
  DWORD start = GetTickCount();
  for (;;) {
    HWND w = FindWindowA(cls, title);
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
    BOOL ok = PostMessageA(w, msg, wp, lp);
    printf("posted=%d\n", ok ? 1 : 0);
    return ok ? 0 : 1;
  }
  DWORD_PTR result = 0;
  LRESULT ok = SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result);
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
    char bytes[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof bytes - 1, nullptr, nullptr);
    printf("line=%s\n", bytes);
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
    if (!SendMessageTimeoutA(w, KEL_COUNT_OBJECTS, item.what, 0, SMTO_ABORTIFHUNG, 10000, &result)) {
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
  for (DWORD start = GetTickCount(); cls && !(w = FindWindowA(cls, nullptr));) {
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
  BOOL posted = PostMessageA(w, msg, wp, 0);
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

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) {
    fprintf(stderr, "usage: kelprobe find|post|send|lblines|gone|counts|exitwait ...\n");
    return 2;
  }
  const char* verb = argv[1];
  if (!strcmp(verb, "find")) return find(argc - 2, argv + 2);
  if (!strcmp(verb, "post")) return message(true, argc - 2, argv + 2);
  if (!strcmp(verb, "send")) return message(false, argc - 2, argv + 2);
  if (!strcmp(verb, "lblines")) return listBoxLines(argc - 2, argv + 2);
  if (!strcmp(verb, "gone")) return gone(argc - 2, argv + 2);
  if (!strcmp(verb, "counts")) return counts(argc - 2, argv + 2);
  if (!strcmp(verb, "exitwait")) return exitWait(argc - 2, argv + 2);
  fprintf(stderr, "kelprobe: unknown verb %s\n", verb);
  return 2;
}
