#include "config/CooldlgWin32.h"

#include <commctrl.h>
#include <dlgs.h>
#include <shlobj.h>

#include <vector>

#include "search/Dirsearch.h"
#include "toolkit/Forms.h"

namespace orv {

// ---- TSelectFolderDialog --------------------------------------------------

namespace {

int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
  const char* initial = reinterpret_cast<const char*>(data);
  if (msg == BFFM_INITIALIZED && initial && *initial)
    SendMessageA(wnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initial));
  return 0;
}

}  // namespace

bool TSelectFolderDialog::Execute(HWND owner) {
  const UINT flags = BrowseFlags(Options);
  if (OnShow) OnShow();
  BROWSEINFOA bi = {};
  bi.hwndOwner = owner;
  bi.pidlRoot = nullptr;
  bi.pszDisplayName = nullptr;
  bi.lpszTitle = Title.c_str();
  bi.ulFlags = flags;
  bi.lpfn = BrowseCallback;
  bi.lParam = reinterpret_cast<LPARAM>(InitialDir.c_str());
  LPITEMIDLIST list = SHBrowseForFolderA(&bi);
  if (!list) {
    DirectoryName.clear();
    return false;
  }
  // Asked in UTF-16: a folder whose name the code page cannot carry comes
  // back under its short name, which opens it, instead of a look-alike
  // that does not.
  wchar_t wide[MAX_PATH] = {};
  std::string path;
  if (!SHGetPathFromIDListW(list, wide) || !AnsiPath(wide, path)) path.clear();
  IMalloc* malloc = nullptr;
  if (SUCCEEDED(SHGetMalloc(&malloc)) && malloc) {
    malloc->Free(list);
    malloc->Release();
  }
  DirectoryName = path;
  if (OnClose) OnClose();
  return true;
}

// ---- TCoolOpenDialog ------------------------------------------------------

int TCoolOpenDialog::CoolDlgWidth = 0;
int TCoolOpenDialog::CoolDlgHeight = 0;

namespace {

constexpr UINT kShowResize = WM_USER + 100;
// One open dialog at a time: the one being shown and whether its first
// size change (the system placing it) is still to come.
TCoolOpenDialog* g_shown = nullptr;
bool g_first_show = false;

bool NewShellControls() { return LOBYTE(LOWORD(GetVersion())) >= 4; }

SIZE ClientSize(HWND wnd) {
  RECT r = {};
  GetClientRect(wnd, &r);
  return SIZE{r.right, r.bottom};
}

// The window size whose client area is `client` under the window's
// current styles, without a menu.
SIZE WindowSizeFor(HWND wnd, SIZE client) {
  RECT r = {0, 0, client.cx, client.cy};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(wnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(wnd, GWL_EXSTYLE)));
  return SIZE{r.right - r.left, r.bottom - r.top};
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lp) {
  auto* d = reinterpret_cast<std::pair<HWND, std::vector<HWND>*>*>(lp);
  if (GetParent(child) == d->first) d->second->push_back(child);
  return TRUE;
}

void DirectChildren(HWND parent, std::vector<HWND>& out) {
  std::pair<HWND, std::vector<HWND>*> d(parent, &out);
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&d));
}

IntRect ScreenRect(HWND wnd) {
  RECT r = {};
  GetWindowRect(wnd, &r);
  return IntRect{r.left, r.top, r.right, r.bottom};
}

void MoveTo(HWND wnd, HWND parent, const IntRect& screen) {
  POINT p[2] = {{screen.left, screen.top}, {screen.right, screen.bottom}};
  MapWindowPoints(nullptr, parent, p, 2);
  MoveWindow(wnd, p[0].x, p[0].y, p[1].x - p[0].x, p[1].y - p[0].y, TRUE);
}

}  // namespace

TCoolOpenDialog::TCoolOpenDialog() = default;

TCoolOpenDialog::~TCoolOpenDialog() {
  if (g_shown == this) g_shown = nullptr;
}

bool TCoolOpenDialog::OldStyle() const { return OldStyleDialog || !NewShellControls(); }

BOOL TCoolOpenDialog::RunSystemDialog(OPENFILENAMEA& ofn) { return GetOpenFileNameA(&ofn); }

BOOL TCoolSaveDialog::RunSystemDialog(OPENFILENAMEA& ofn) { return GetSaveFileNameA(&ofn); }

bool TCoolOpenDialog::Execute(HWND owner) {
  std::string filter = Filter;
  for (char& c : filter)
    if (c == '|') c = '\0';
  filter.append(2, '\0');
  std::vector<char> file(MAX_PATH * 4, '\0');
  FileName.copy(file.data(), file.size() - 1);

  OPENFILENAMEA ofn = {};
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
  ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
  ofn.Flags = Options | OFN_ENABLEHOOK | (OldStyle() ? 0 : OFN_EXPLORER);
  ofn.lpfnHook = OldStyle() ? OldStyleHook : ExplorerHook;
  ofn.lCustData = reinterpret_cast<LPARAM>(this);

  g_shown = this;
  g_first_show = true;
  // Systems from version 5 on show the places bar for the longer
  // description; older ones only know the short one.
  const bool longForm = LOBYTE(LOWORD(GetVersion())) >= 5 && PlaceBar;
  ofn.lStructSize = longForm ? sizeof(OPENFILENAMEA) : OPENFILENAME_SIZE_VERSION_400A;
  const BOOL ok = RunSystemDialog(ofn);
  g_shown = nullptr;
  if (ok) FileName = file.data();
  return ok != FALSE;
}

UINT_PTR CALLBACK TCoolOpenDialog::OldStyleHook(HWND wnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG && g_shown) {
    g_shown->hook_dialog_ = wnd;
    if (g_shown->OnShow) g_shown->OnShow();
    g_shown->SetPosition(wnd);
  } else if (msg == WM_DESTROY && g_shown && g_shown->hook_dialog_ == wnd) {
    g_shown->DoClose();
  }
  return 0;
}

UINT_PTR CALLBACK TCoolOpenDialog::ExplorerHook(HWND wnd, UINT msg, WPARAM, LPARAM lParam) {
  TCoolOpenDialog* self = g_shown;
  if (!self) return 0;
  switch (msg) {
    case WM_INITDIALOG:
      self->DoShow(wnd);
      return 0;
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(lParam)->code == CDN_INITDONE) {
        if (self->window_ && (CoolDlgWidth > 0 || CoolDlgHeight > 0)) {
          RECT r = {};
          GetWindowRect(self->window_, &r);
          SetWindowPos(self->window_, nullptr, 0, 0, r.right - r.left + CoolDlgWidth,
                       r.bottom - r.top + CoolDlgHeight,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
        }
        self->SetPosition(GetParent(wnd));
      }
      return 0;
    case kShowResize:
      self->WMShowResize();
      return 0;
    case WM_DESTROY:
      self->DoClose();
      return 0;
    default:
      return 0;
  }
}

void TCoolOpenDialog::DoShow(HWND hookDialog) {
  hook_dialog_ = hookDialog;
  if (OnShow) OnShow();
  if (OldStyle() || !(Options & OFN_ENABLESIZING)) return;
  window_ = GetParent(hookDialog);
  const LONG style = GetWindowLongA(window_, GWL_STYLE);
  system_sizing_ = (style & WS_THICKFRAME) != 0;
  if (!system_sizing_) {
    grip_ = CreateWindowExA(0, "SCROLLBAR", "",
                            WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 0,
                            0, 16, 16, window_, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongA(window_, GWL_STYLE, style | WS_THICKFRAME);
    const SIZE client = ClientSize(window_);
    initial_width_ = last_width_ = client.cx;
    initial_height_ = last_height_ = client.cy;
    if (grip_)
      SetWindowPos(grip_, nullptr, client.cx - 16, client.cy - 16, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const SIZE outer = WindowSizeFor(window_, client);
    SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  if (!subclassed_) {
    SetWindowSubclass(window_, CoolWndProc, 1, reinterpret_cast<DWORD_PTR>(this));
    subclassed_ = true;
  }
  PostMessageA(hookDialog, kShowResize, 0, 0);
}

void TCoolOpenDialog::WMShowResize() {
  if (!g_first_show) return;
  g_first_show = false;
  if (window_ && !system_sizing_ && (CoolDlgWidth > 0 || CoolDlgHeight > 0)) {
    const SIZE client = ClientSize(window_);
    ResizeControl(client.cx, client.cy);
  }
}

LRESULT CALLBACK TCoolOpenDialog::CoolWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TCoolOpenDialog*>(data);
  if (self->system_sizing_) {
    if (msg == WM_SIZE && g_first_show) self->SetPosition(wnd);
    return DefSubclassProc(wnd, msg, wParam, lParam);
  }
  switch (msg) {
    case WM_SIZE:
      if (g_first_show)
        self->SetPosition(wnd);
      else
        self->ResizeControl(LOWORD(lParam), HIWORD(lParam));
      if (self->grip_) {
        const SIZE client = ClientSize(wnd);
        SetWindowPos(self->grip_, nullptr, client.cx - 16, client.cy - 16, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      self->Resize();
      break;
    case WM_GETMINMAXINFO: {
      const LRESULT r = DefSubclassProc(wnd, msg, wParam, lParam);
      const SIZE min = WindowSizeFor(wnd, SIZE{self->initial_width_, self->initial_height_});
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = min.cx;
      info->ptMinTrackSize.y = min.cy;
      return r;
    }
    case WM_NCLBUTTONDOWN:
      if (wParam >= HTLEFT && wParam <= HTBOTTOMRIGHT)
        PostMessageA(wnd, WM_SYSCOMMAND, SC_SIZE + (wParam - HTLEFT + 1), lParam);
      break;
    default:
      break;
  }
  return DefSubclassProc(wnd, msg, wParam, lParam);
}

void TCoolOpenDialog::ResizeControl(int width, int height) {
  const int dw = width - last_width_, dh = height - last_height_;
  if (dw != 0 || dh != 0) {
    std::vector<HWND> children;
    DirectChildren(window_, children);
    if (HWND placeholder = GetDlgItem(hook_dialog_, stc32))
      DirectChildren(GetParent(placeholder), children);
    HWND view = nullptr;
    for (auto it = children.begin(); it != children.end(); ++it) {
      char cls[64] = {};
      GetClassNameA(*it, cls, sizeof cls);
      if (lstrcmpA(cls, "SHELLDLL_DefView") == 0) {
        view = *it;
        children.erase(it);
        break;
      }
    }
    if (view) {
      IntRect v = ScreenRect(view);
      const int cx = CentreOf(v.left, v.right), cy = CentreOf(v.top, v.bottom);
      v.right += dw;
      v.bottom += dh;
      MoveTo(view, GetParent(view), v);
      for (HWND child : children) {
        IntRect r = ScreenRect(child);
        if (ResizeChild(r, cx, cy, dw, dh)) MoveTo(child, GetParent(child), r);
      }
    }
    last_width_ = width;
    last_height_ = height;
  }
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_ERASE);
}

void TCoolOpenDialog::DoClose() {
  if (OnClose) OnClose();
  if (grip_) {
    DestroyWindow(grip_);
    grip_ = nullptr;
  }
  if (window_) {
    if (subclassed_) RemoveWindowSubclass(window_, CoolWndProc, 1);
    subclassed_ = false;
    window_ = nullptr;
    CoolDlgWidth = last_width_ - initial_width_;
    CoolDlgHeight = last_height_ - initial_height_;
  }
  hook_dialog_ = nullptr;
}

void TCoolOpenDialog::SetPosition(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HMONITOR monitor = nullptr;
  if (tk::Application.MainForm && tk::Application.MainForm->Handle())
    monitor = MonitorFromWindow(tk::Application.MainForm->Handle(), MONITOR_DEFAULTTOPRIMARY);
  else
    monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  GetMonitorInfoA(monitor, &mi);
  int x = 0, y = 0;
  DialogPosition(
      IntRect{mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom}, w, h,
      x, y);
  if (OnSettingPos) OnSettingPos(this, x, y, w, h);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace orv
