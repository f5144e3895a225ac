// Scoped owners of Win32 handles, so no control code calls DeleteObject,
// DeleteDC or CloseHandle by hand.
#pragma once

#include <windows.h>

#include <utility>

namespace tk {

// Live GDI objects and memory DCs made by the program: GDI leaks show here
// even where the system does not report per-process GDI counts.
long LiveGdiObjects();
void CountGdiObject(long delta);

template <typename T, typename Traits>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(T h) : h_(h) {
    if (h_ != Traits::Null()) Traits::Acquired();
  }
  ~ScopedHandle() { Reset(); }
  ScopedHandle(ScopedHandle&& o) noexcept : h_(std::exchange(o.h_, Traits::Null())) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, Traits::Null());
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  T Get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Null(); }
  void Reset(T h = Traits::Null()) {
    if (h_ != Traits::Null()) {
      Traits::Close(h_);
      Traits::Released();
    }
    h_ = h;
    if (h_ != Traits::Null()) Traits::Acquired();
  }
  // Gives up ownership (the handle no longer counts as ours).
  T Release() {
    if (h_ != Traits::Null()) Traits::Released();
    return std::exchange(h_, Traits::Null());
  }

 private:
  T h_ = Traits::Null();
};

struct UncountedTraits {
  static void Acquired() {}
  static void Released() {}
};
struct CountedTraits {
  static void Acquired() { CountGdiObject(1); }
  static void Released() { CountGdiObject(-1); }
};
struct GdiObjectTraits : CountedTraits {
  static HGDIOBJ Null() { return nullptr; }
  static void Close(HGDIOBJ h) { DeleteObject(h); }
};
struct MemoryDcTraits : CountedTraits {
  static HDC Null() { return nullptr; }
  static void Close(HDC h) { DeleteDC(h); }
};
struct KernelHandleTraits : UncountedTraits {
  static HANDLE Null() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
// CreateFile reports failure as INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits : UncountedTraits {
  static HANDLE Null() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits : UncountedTraits {
  static HANDLE Null() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
struct ModuleTraits : UncountedTraits {
  static HMODULE Null() { return nullptr; }
  static void Close(HMODULE h) { FreeLibrary(h); }
};

struct MenuTraits : UncountedTraits {
  static HMENU Null() { return nullptr; }
  static void Close(HMENU h) { DestroyMenu(h); }
};

using ScopedGdiObject = ScopedHandle<HGDIOBJ, GdiObjectTraits>;
using ScopedMemoryDc = ScopedHandle<HDC, MemoryDcTraits>;
using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<HANDLE, FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<HANDLE, FindHandleTraits>;
using ScopedModule = ScopedHandle<HMODULE, ModuleTraits>;
using ScopedMenu = ScopedHandle<HMENU, MenuTraits>;

// Selects an object into a DC for the lifetime of the guard.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~SelectGuard() {
    if (old_) SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A window DC released with the window.
class WindowDc {
 public:
  explicit WindowDc(HWND wnd) : wnd_(wnd), dc_(GetDC(wnd)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(wnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND wnd_;
  HDC dc_;
};

}  // namespace tk
