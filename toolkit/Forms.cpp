#include "toolkit/Forms.h"

#include <windowsx.h>

#include <algorithm>

namespace tk {

TApplication Application;

namespace {
constexpr char kApplicationClass[] = "TApplication";

// The form whose dialog is being made: the dialog manager sends the first
// messages before CreateDialogParam returns and without the form's
// pointer, so they find it here. One user-interface thread makes forms.
TForm* g_creating_dialog = nullptr;

LRESULT CALLBACK ApplicationWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(wnd, msg, wParam, lParam);
}
}  // namespace

std::string LoadResString(UINT id, const std::string& fallback) {
  char buf[1024];
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : fallback;
}

// ---- TApplication -------------------------------------------------------

HINSTANCE TApplication::Instance() const { return GetModuleHandleA(nullptr); }

void TApplication::Initialize() {
  if (handle_) return;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ApplicationWndProc;
  wc.hInstance = Instance();
  wc.lpszClassName = kApplicationClass;
  RegisterClassA(&wc);
  handle_ = CreateWindowExA(0, kApplicationClass, Title.c_str(),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            0, 0, 0, 0, nullptr, nullptr, Instance(), nullptr);
}

void TApplication::Finalize() {
  if (handle_) DestroyWindow(handle_);
  handle_ = nullptr;
}

void TApplication::Run() {
  MSG msg;
  while (!terminated_) {
    BOOL r = GetMessageA(&msg, nullptr, 0, 0);
    if (r == 0 || r == -1) break;
    if (MainForm && MainForm->Handle() && MainForm->PreProcessMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  terminated_ = true;
}

void TApplication::Terminate() {
  if (!terminated_) PostQuitMessage(0);
  terminated_ = true;
}

void TApplication::ClearTerminated() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  terminated_ = false;
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    if (MainForm && MainForm->Handle() && MainForm->PreProcessMessage(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

int TApplication::ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) {
  HWND owner = MainForm && MainForm->Handle() ? MainForm->Handle() : handle_;
  return ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
}

void TApplication::ShowException(const Exception& e) {
  if (dynamic_cast<const EAbort*>(&e)) return;
  std::string msg = e.Message();
  if (!msg.empty() && msg.back() != '.') msg += '.';
  ShowMessageBox(msg, Title, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(const std::exception& e) {
  if (OnException) {
    OnException(e);
    return;
  }
  if (auto* te = dynamic_cast<const Exception*>(&e)) {
    ShowException(*te);
    return;
  }
  ShowMessageBox(e.what(), Title, MB_OK | MB_ICONSTOP);
}

void TApplication::BeginWaitCursor() {
  if (wait_cursor_++ == 0) saved_cursor_ = SetCursor(LoadCursor(nullptr, IDC_WAIT));
}

void TApplication::EndWaitCursor() {
  if (wait_cursor_ > 0 && --wait_cursor_ == 0) SetCursor(saved_cursor_);
}

void RunMainForm(TForm& form, const std::function<void()>& afterCreate) {
  Application.MainForm = &form;
  try {
    form.CreateForm();
    if (afterCreate) afterCreate();
    Application.Run();
  } catch (const std::exception& e) {
    Application.MainForm = nullptr;
    form.DestroyForm();
    Application.HandleException(e);
  }
  Application.MainForm = nullptr;
}

// ---- TForm --------------------------------------------------------------

TForm::TForm() = default;

TForm::~TForm() { DestroyForm(); }

void TForm::RegisterWindowClass() {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(Application.Instance(), ClassName(), &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = StaticWndProc;
  // Dialog windows keep the dialog manager's data in their extra bytes.
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = Application.Instance();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIconA(Application.Instance(), MAKEINTRESOURCEA(1));
  wc.lpszClassName = ClassName();
  RegisterClassExA(&wc);
}

void TForm::CreateParams(TCreateParams& params) { params.WndParent = Application.Handle(); }

void TCreateParams::DialogFrame(int clientWidth, int clientHeight) {
  Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, Style, FALSE, ExStyle);
  Width = r.right - r.left;
  Height = r.bottom - r.top;
  X = (GetSystemMetrics(SM_CXSCREEN) - Width) / 2;
  Y = (GetSystemMetrics(SM_CYSCREEN) - Height) / 2;
}

void TForm::CreateForm() {
  RegisterWindowClass();
  TCreateParams params;
  CreateParams(params);
  if (params.DialogTemplate) {
    is_dialog_ = true;
    g_creating_dialog = this;
    handle_ = CreateDialogParamA(Application.Instance(), params.DialogTemplate, params.WndParent,
                                 nullptr, 0);
    g_creating_dialog = nullptr;
  } else {
    handle_ = CreateWindowExA(params.ExStyle, ClassName(), params.Caption.c_str(), params.Style,
                              params.X, params.Y, params.Width, params.Height, params.WndParent,
                              nullptr, Application.Instance(), this);
  }
  if (!handle_) throw Exception("Error creating window");
  created_ = true;
  FormCreate();
}

void TForm::DestroyForm() {
  // Also when the window was already destroyed from outside: the handlers
  // still have to release what the form holds, timer first.
  if (!created_ || destroying_) return;
  destroying_ = true;
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    Application.HandleException(e);
  }
  if (handle_) DestroyWindow(handle_);
  handle_ = nullptr;
}

LRESULT CALLBACK TForm::StaticWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TForm* self;
  if (msg == WM_NCCREATE) {
    // A dialog's creation data belong to the dialog manager.
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    self = g_creating_dialog && !g_creating_dialog->handle_
               ? g_creating_dialog
               : static_cast<TForm*>(cs->lpCreateParams);
    self->handle_ = wnd;
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TForm*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self && g_creating_dialog && !g_creating_dialog->handle_) {
      self = g_creating_dialog;
      self->handle_ = wnd;
      SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  if (!self) return DefWindowProcA(wnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
    return self->is_dialog_ ? DefDlgProcA(wnd, msg, wParam, lParam)
                            : DefWindowProcA(wnd, msg, wParam, lParam);
  }
  // No C++ exception may cross the system's frames: the default display
  // shows it and the message counts as handled.
  try {
    return self->WndProc(msg, wParam, lParam);
  } catch (const std::exception& e) {
    Application.HandleException(e);
    return 0;
  }
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return Dispatch(msg, wParam, lParam);
}

LRESULT TForm::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETCURSOR:
      // Child controls ask their parents first, so this also covers them;
      // without it the first mouse move would bring back the class cursor.
      if (Application.WaitCursorActive()) {
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_ERASEBKGND:
      return 1;  // the paint handler fills everything through its back buffer
    case WM_PAINT:
      OnPaintMessage();
      return 0;
    case WM_PRINTCLIENT: {
      RECT client;
      GetClientRect(handle_, &client);
      PaintTo(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_ACTIVATE:
      FormActivate(LOWORD(wParam) != WA_INACTIVE);
      break;
    case WM_COMMAND: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      if (TReflectTarget* t = ReflectTargetOf(control)) {
        if (t->ReflectedCommand(HIWORD(wParam))) return 0;
      }
      FormCommand(LOWORD(wParam), HIWORD(wParam), control);
      return 0;
    }
    case WM_NOTIFY: {
      NMHDR& header = *reinterpret_cast<NMHDR*>(lParam);
      LRESULT result = 0;
      if (TReflectTarget* t = ReflectTargetOf(header.hwndFrom)) {
        if (t->ReflectedNotify(header, result)) return result;
      }
      return FormNotify(header);
    }
    case WM_SIZE:
      Realign();
      return 0;
    case WM_CLOSE:
      if (FormClose() && Application.MainForm == this) Application.Terminate();
      return 0;
    case WM_DESTROY:
      // Destroyed from outside (a preview's parent window closing takes its
      // children with it): the application has nothing left to show.
      if (!destroying_ && Application.MainForm == this) Application.Terminate();
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      FormKeyDown(static_cast<WORD>(wParam));
      if (msg == WM_SYSKEYDOWN) break;
      return 0;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
      OnMouseMessage(msg, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    default:
      break;
  }
  return DefaultProc(msg, wParam, lParam);
}

LRESULT TForm::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return is_dialog_ ? DefDlgProcA(handle_, msg, wParam, lParam)
                    : DefWindowProcA(handle_, msg, wParam, lParam);
}

bool TForm::PreProcessMessage(MSG& msg) { return is_dialog_ && IsDialogMessageA(handle_, &msg); }

TControl* TForm::ControlAt(int x, int y) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (!c->visible_ || c->width_ <= 0 || c->height_ <= 0) continue;
    if (x >= c->left_ && x < c->left_ + c->width_ && y >= c->top_ && y < c->top_ + c->height_)
      return c;
  }
  return nullptr;
}

void TForm::OnMouseMessage(UINT msg, int x, int y) {
  TControl* c = ControlAt(x, y);
  switch (msg) {
    case WM_MOUSEMOVE:
      if (c)
        c->MouseMove(x - c->left_, y - c->top_);
      else if (OnMouseMove)
        OnMouseMove(nullptr, x, y);
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      SetCapture(handle_);
      pressed_ = c;
      form_pressed_ = (c == nullptr);
      break;
    default: {  // button up: a click when released over what was pressed
      ReleaseCapture();
      TControl* pressed = pressed_;
      bool formPressed = form_pressed_;
      pressed_ = nullptr;
      form_pressed_ = false;
      if (c && c == pressed)
        c->Click();
      else if (!c && formPressed && OnClick)
        OnClick(nullptr);
      break;
    }
  }
}

void TForm::PaintBackground(TCanvas& canvas, const RECT& clip) {
  canvas.SetBrushColor(color_);
  canvas.FillRect(clip);
}

void TForm::OnPaintMessage() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(handle_, &ps);
  PaintTo(dc, ps.rcPaint);
  EndPaint(handle_, &ps);
  FormPaint();
}

void TForm::PaintTo(HDC dc, const RECT& clip) {
  RECT client;
  GetClientRect(handle_, &client);
  const int w = client.right, h = client.bottom;
  if (w <= 0 || h <= 0) return;
  if (!back_buffer_ || back_width_ != w || back_height_ != h) {
    back_buffer_.Reset(CreateCompatibleBitmap(dc, w, h));
    back_width_ = w;
    back_height_ = h;
  }
  ScopedMemoryDc mem(CreateCompatibleDC(dc));
  if (!mem || !back_buffer_) return;
  SelectGuard selectBuffer(mem.Get(), back_buffer_.Get());
  {
    TCanvas canvas(mem.Get());
    IntersectClipRect(mem.Get(), clip.left, clip.top, clip.right, clip.bottom);
    PaintBackground(canvas, clip);
  }
  for (TControl* c : controls_) {
    if (!c->visible_ || c->width_ <= 0 || c->height_ <= 0) continue;
    RECT bounds = c->BoundsRect(), overlap;
    if (!IntersectRect(&overlap, &bounds, &clip)) continue;
    int saved = SaveDC(mem.Get());
    IntersectClipRect(mem.Get(), overlap.left, overlap.top, overlap.right, overlap.bottom);
    SetViewportOrgEx(mem.Get(), c->left_, c->top_, nullptr);
    {
      TCanvas canvas(mem.Get());
      canvas.SetFont(c->parent_ ? c->parent_->Font : TFont());
      try {
        c->Paint(canvas);
      } catch (const std::exception&) {
        // One control failing to paint must not stop the others.
      }
    }
    RestoreDC(mem.Get(), saved);
  }
  BitBlt(dc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, mem.Get(),
         clip.left, clip.top, SRCCOPY);
}

void TForm::SetReflectTarget(HWND control, TReflectTarget* target) {
  for (auto it = reflect_targets_.begin(); it != reflect_targets_.end(); ++it) {
    if (it->first != control) continue;
    if (target)
      it->second = target;
    else
      reflect_targets_.erase(it);
    return;
  }
  if (control && target) reflect_targets_.emplace_back(control, target);
}

TReflectTarget* TForm::ReflectTargetOf(HWND control) const {
  if (!control) return nullptr;
  for (const auto& entry : reflect_targets_)
    if (entry.first == control) return entry.second;
  return nullptr;
}

void TForm::Realign() {
  if (!handle_) return;
  RECT client;
  GetClientRect(handle_, &client);
  RECT rest = client;
  auto place = [](TControl* c, int l, int t, int w, int h) {
    if (c->left_ == l && c->top_ == t && c->width_ == w && c->height_ == h) return;
    c->Invalidate();
    c->left_ = l;
    c->top_ = t;
    c->width_ = std::max(w, 0);
    c->height_ = std::max(h, 0);
    c->Invalidate();
  };
  for (TControl* c : controls_)
    if (c->fill_parent_) place(c, 0, 0, client.right, client.bottom);
  // The toolkit's order: top, bottom, left, right, then client; each
  // aligned control takes its slice off the remaining rectangle.
  for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
    for (TControl* c : controls_) {
      if (c->align_ != pass || !c->visible_ || c->fill_parent_) continue;
      const int rw = rest.right - rest.left, rh = rest.bottom - rest.top;
      switch (pass) {
        case alTop:
          place(c, rest.left, rest.top, rw, c->height_);
          rest.top += c->height_;
          break;
        case alBottom:
          place(c, rest.left, rest.bottom - c->height_, rw, c->height_);
          rest.bottom -= c->height_;
          break;
        case alLeft:
          place(c, rest.left, rest.top, c->width_, rh);
          rest.left += c->width_;
          break;
        case alRight:
          place(c, rest.right - c->width_, rest.top, c->width_, rh);
          rest.right -= c->width_;
          break;
        case alClient:
          place(c, rest.left, rest.top, rw, rh);
          break;
        case alNone:
          break;
      }
    }
  }
}

void TForm::RegisterControl(TControl* control) { controls_.push_back(control); }

void TForm::UnregisterControl(TControl* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  if (pressed_ == control) pressed_ = nullptr;
}

int TForm::Left() const {
  RECT r = {};
  GetWindowRect(handle_, &r);
  HWND parent = GetParent(handle_);
  if (parent && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD))
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r.left;
}

int TForm::Top() const {
  RECT r = {};
  GetWindowRect(handle_, &r);
  HWND parent = GetParent(handle_);
  if (parent && (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD))
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r.top;
}

int TForm::Width() const {
  RECT r = {};
  GetWindowRect(handle_, &r);
  return r.right - r.left;
}

int TForm::Height() const {
  RECT r = {};
  GetWindowRect(handle_, &r);
  return r.bottom - r.top;
}

int TForm::ClientWidth() const {
  RECT r = {};
  GetClientRect(handle_, &r);
  return r.right;
}

int TForm::ClientHeight() const {
  RECT r = {};
  GetClientRect(handle_, &r);
  return r.bottom;
}

void TForm::SetBounds(int left, int top, int width, int height) {
  if (!handle_) return;
  SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  Realign();
}

void TForm::SetColor(TColor c) {
  color_ = c;
  Invalidate();
}

void TForm::SetFormStyle(TFormStyle style) {
  form_style_ = style;
  if (!handle_ || (GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD)) return;
  SetWindowPos(handle_, style == fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TForm::Show() {
  if (handle_) ShowWindow(handle_, SW_SHOW);
}

void TForm::Close() {
  if (handle_) SendMessageA(handle_, WM_CLOSE, 0, 0);
}

void TForm::Invalidate() {
  if (handle_) ::InvalidateRect(handle_, nullptr, FALSE);
}

void TForm::InvalidateRect(const RECT& r, bool erase) {
  if (handle_) ::InvalidateRect(handle_, &r, erase ? TRUE : FALSE);
}

void TForm::Update() {
  if (handle_) UpdateWindow(handle_);
}

}  // namespace tk
