// Forms (top-level or child windows holding windowless controls) and the
// application object (title, message loop, terminate, message boxes and the
// default exception display).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Graphics.h"
#include "toolkit/Win32Handles.h"

namespace tk {

enum TFormStyle { fsNormal, fsStayOnTop };

// A system control (an edit, a list view, a button) on a form hears its own
// WM_COMMAND and WM_NOTIFY: the form passes them back to the control that
// sent them, so the control's logic stays with the control.
class TReflectTarget {
 public:
  virtual ~TReflectTarget() = default;
  // True when handled; otherwise the form's own handler gets the message.
  virtual bool ReflectedCommand(WORD /*code*/) { return false; }
  virtual bool ReflectedNotify(NMHDR& /*header*/, LRESULT& /*result*/) { return false; }
};

struct TCreateParams {
  std::string Caption;
  DWORD Style = WS_POPUP | WS_CLIPCHILDREN;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;

  // A fixed dialog frame with a caption and close box around a client area
  // of the given size, centred on the screen.
  void DialogFrame(int clientWidth, int clientHeight);
  // When set, the window is made from this dialog template of the module
  // (whose CLASS names the form's class): caption, style, size and the
  // controls then come from the template, and unhandled messages go to the
  // dialog manager's default procedure.
  LPCSTR DialogTemplate = nullptr;
};

class TForm {
 public:
  TForm();
  virtual ~TForm();
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  // Creates the window (CreateParams, then the window, then FormCreate).
  void CreateForm();
  HWND Handle() const { return handle_; }
  // Destroys the window: FormDestroy runs first. Derived classes call this
  // from their destructor so handlers never see half-destroyed members.
  void DestroyForm();

  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  int ClientWidth() const;
  int ClientHeight() const;
  void SetBounds(int left, int top, int width, int height);
  void SetLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), Width(), v); }

  TColor Color() const { return color_; }
  void SetColor(TColor c);
  TFont Font;
  void SetFormStyle(TFormStyle style);
  TFormStyle FormStyle() const { return form_style_; }
  void Show();
  void Close();  // sends WM_CLOSE
  void Invalidate();
  void InvalidateRect(const RECT& r, bool erase);
  void Update();
  void Realign();

  const std::vector<TControl*>& Controls() const { return controls_; }

  // True when made from a dialog template.
  bool IsDialog() const { return is_dialog_; }
  // The message loop offers every message to the main form first; true
  // when the form took it. A dialog form gives its keys to the dialog
  // manager here (Tab, arrows in a radio run, Enter, Esc, mnemonics).
  virtual bool PreProcessMessage(MSG& msg);

  // Where WM_COMMAND and WM_NOTIFY from the child window `control` go
  // first; null removes the entry.
  void SetReflectTarget(HWND control, TReflectTarget* target);

  // Events; by default they do nothing.
  TNotifyEvent OnClick;
  TMouseMoveEvent OnMouseMove;

 protected:
  virtual const char* ClassName() const = 0;
  virtual void CreateParams(TCreateParams& params);
  virtual void FormCreate() {}
  virtual void FormDestroy() {}
  virtual void FormPaint() {}
  // Return false to refuse the close request.
  virtual bool FormClose() { return true; }
  virtual void FormKeyDown(WORD /*key*/) {}
  virtual void FormActivate(bool /*active*/) {}
  // Commands and notifications no reflect target took (menus, accelerators,
  // controls without one). FormNotify's result is the message's result.
  virtual void FormCommand(WORD /*id*/, WORD /*code*/, HWND /*control*/) {}
  virtual LRESULT FormNotify(NMHDR& /*header*/) { return 0; }
  // Messages not handled here; call the base for default processing.
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual void PaintBackground(TCanvas& canvas, const RECT& clip);

 private:
  friend class TControl;
  static LRESULT CALLBACK StaticWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnPaintMessage();
  // Paints `clip` of the client area into `dc`: the back buffer, the
  // background, then every visible control. WM_PAINT and WM_PRINTCLIENT
  // share it, so a form prints exactly as it paints.
  void PaintTo(HDC dc, const RECT& clip);
  TReflectTarget* ReflectTargetOf(HWND control) const;
  void OnMouseMessage(UINT msg, int x, int y);
  TControl* ControlAt(int x, int y) const;
  void RegisterControl(TControl* control);
  void UnregisterControl(TControl* control);
  void RegisterWindowClass();

  HWND handle_ = nullptr;
  TColor color_ = clBtnFace;
  TFormStyle form_style_ = fsNormal;
  std::vector<TControl*> controls_;
  std::vector<std::pair<HWND, TReflectTarget*>> reflect_targets_;
  bool created_ = false;
  bool destroying_ = false;
  bool is_dialog_ = false;
  TControl* pressed_ = nullptr;
  bool form_pressed_ = false;
  // Back buffer of the client area, reused across paints.
  ScopedGdiObject back_buffer_;
  int back_width_ = 0, back_height_ = 0;
};

class TApplication {
 public:
  // Creates the hidden owner window (the one that would carry a task-bar
  // button); forms are owned by it.
  void Initialize();
  void Finalize();
  HWND Handle() const { return handle_; }
  HINSTANCE Instance() const;

  std::string Title;
  TForm* MainForm = nullptr;

  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Lets a new main form run after an earlier one ended (tests host several
  // windows one after another); drops a pending quit message.
  void ClearTerminated();
  void ProcessMessages();
  int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);
  // The default exception display: a message box with the message; the
  // silent abort shows nothing.
  void ShowException(const Exception& e);
  // Where errors caught at a window procedure go: OnException when set
  // (tests watch them there), else the default display.
  void HandleException(const std::exception& e);
  std::function<void(const std::exception&)> OnException;

  // The hourglass over every form of this thread until the matching end,
  // mouse moves included; nested calls count.
  void BeginWaitCursor();
  void EndWaitCursor();
  bool WaitCursorActive() const { return wait_cursor_ > 0; }

 private:
  HWND handle_ = nullptr;
  bool terminated_ = false;
  int wait_cursor_ = 0;
  HCURSOR saved_cursor_ = nullptr;
};

extern TApplication Application;

// Makes `form` the main form, creates it, calls `afterCreate` and runs the
// message loop until the application ends. An error on the way is shown
// (HandleException) only after the form's window is gone and the main form
// cleared: a message box must neither be owned by a window being torn down
// nor hide behind a top-most one. MainForm is null afterwards.
void RunMainForm(TForm& form, const std::function<void()>& afterCreate = nullptr);

// A string of the module's string table; `fallback` when it has none.
std::string LoadResString(UINT id, const std::string& fallback = std::string());

}  // namespace tk
