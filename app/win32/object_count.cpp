#include "app/win32/object_count.h"

#include <cstdint>

#include "platform/win32/gdi_guard.h"

namespace {

// One entry of the GDI handle table that the process environment block
// points to (the 64-bit layout, which Wine keeps too).
struct GdiEntry {
  uint64_t object;
  uint16_t processId;
  uint16_t lockAndCount;
  uint8_t extType;  // the type, and the stock flag in the top bit
  uint8_t generation;
  uint8_t type;     // 0: a free entry
  uint8_t flags;
  uint64_t userPointer;
};
static_assert(sizeof(GdiEntry) == 24, "GDI handle table entry");

constexpr unsigned kGdiEntries = 0x10000;
constexpr uint8_t kStockFlag = 0x80;

const GdiEntry* gdiTable() {
#ifdef _WIN64
  // The thread block's pointer to the process block; read directly, as
  // NtCurrentTeb() trips GCC's array bounds warning.
  const char* peb = nullptr;
  asm("movq %%gs:0x60, %0" : "=r"(peb));
  const GdiEntry* table = *reinterpret_cast<const GdiEntry* const*>(peb + 0xF8);
#else
  const GdiEntry* table = nullptr;
#endif
  if (!table) return nullptr;
  // Trust the layout only if a stock brush reads back as one.
  auto white = reinterpret_cast<uintptr_t>(GetStockObject(WHITE_BRUSH));
  const GdiEntry& e = table[white & 0xFFFF];
  if (e.type == 0 || !(e.extType & kStockFlag) || (e.extType & 0x7F) != 0x10) return nullptr;
  return table;
}

// The table's own objects: Wine keeps one table per process and records no
// owner (0); Windows records the process id.
LRESULT countGdi(int type) {
  const GdiEntry* table = gdiTable();
  if (!table) return -1;
  const uint16_t self = static_cast<uint16_t>(GetCurrentProcessId());
  LRESULT n = 0;
  for (unsigned i = 0; i < kGdiEntries; ++i) {
    const GdiEntry& e = table[i];
    if (e.type == 0 || (e.extType & kStockFlag)) continue;
    if (e.processId != 0 && e.processId != self) continue;
    if (type >= 0 && (e.extType & 0x7F) != type) continue;
    ++n;
  }
  return n;
}

BOOL CALLBACK countChild(HWND, LPARAM n) {
  ++*reinterpret_cast<LRESULT*>(n);
  return TRUE;
}

BOOL CALLBACK countTopLevel(HWND w, LPARAM n) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<LRESULT*>(n);
  EnumChildWindows(w, countChild, n);
  return TRUE;
}

LRESULT countWindows() {
  LRESULT n = 0;
  EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&n));
  for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;)
    countTopLevel(w, reinterpret_cast<LPARAM>(&n));
  return n;
}

// Menus and icons are found by trying every USER handle slot: Wine's own
// table answers a handle without its generation (high word 0) for objects
// of this process only, and nothing else there counts them.
constexpr uintptr_t kFirstUserHandle = 0x20, kLastUserHandle = 0xFFEE;

LRESULT countMenus() {
  LRESULT n = 0;
  for (uintptr_t h = kFirstUserHandle; h <= kLastUserHandle; h += 2)
    if (IsMenu(reinterpret_cast<HMENU>(h))) ++n;
  return n;
}

LRESULT countIcons() {
  LRESULT n = 0;
  for (uintptr_t h = kFirstUserHandle; h <= kLastUserHandle; h += 2) {
    ICONINFO info{};
    if (!GetIconInfo(reinterpret_cast<HICON>(h), &info)) continue;
    // The answer carries copies of the icon's bitmaps.
    GdiObject<HBITMAP> mask(info.hbmMask), colour(info.hbmColor);
    ++n;
  }
  return n;
}

}  // namespace

LRESULT countObjects(WPARAM what) {
  // Windows counts both itself; Wine's answer is always 0.
  if (what == kCountGdi || what == kCountUser) {
    DWORD n = GetGuiResources(GetCurrentProcess(), what == kCountGdi ? GR_GDIOBJECTS : GR_USEROBJECTS);
    if (n != 0) return n;
  }
  switch (what) {
    case kCountGdi: return countGdi(-1);
    case kCountWindows: return countWindows();
    case kCountMenus: return countMenus();
    case kCountIcons: return countIcons();
    case kCountUser: return countWindows() + countMenus() + countIcons();
    default: break;
  }
  if (what >= kCountGdiType && what < kCountGdiType + 0x80) return countGdi(static_cast<int>(what - kCountGdiType));
  return -1;
}
