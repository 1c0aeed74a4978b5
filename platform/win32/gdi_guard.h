// Scope guards for GDI objects made and given back within one call, so that
// each one's release sits where it was made and no early return forgets it.
// Handles that outlive the call (those kept in Kel) do not use these.
#pragma once

#include <windows.h>

// A window's drawing context, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  operator HDC() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// The context of a WM_PAINT, ended with EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &ps_)) {}
  ~PaintDc() { EndPaint(window_, &ps_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  operator HDC() const { return dc_; }
  const RECT& dirty() const { return ps_.rcPaint; }

 private:
  HWND window_;
  PAINTSTRUCT ps_;
  HDC dc_;
};

// A memory context made with CreateCompatibleDC, deleted with DeleteDC.
class MemoryDc {
 public:
  explicit MemoryDc(HDC like) : dc_(CreateCompatibleDC(like)) {}
  ~MemoryDc() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  operator HDC() const { return dc_; }

 private:
  HDC dc_;
};

// A bitmap, font, region or brush of one's own, deleted with DeleteObject
// unless released to a new owner.
template <typename Handle>
class GdiObject {
 public:
  explicit GdiObject(Handle object = nullptr) : object_(object) {}
  ~GdiObject() {
    if (object_) DeleteObject(object_);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  operator Handle() const { return object_; }
  Handle release() {
    Handle h = object_;
    object_ = nullptr;
    return h;
  }

 private:
  Handle object_;
};

// An object selected into a context; what it replaced goes back in at the
// end of the scope, or earlier by restore().
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() { restore(); }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  void restore() {
    if (previous_) SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};
