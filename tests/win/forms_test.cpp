// The form's message dispatch: commands and notifications reach the control
// that sent them before the form, activation and printing reach their
// handlers.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "toolkit/Canvas.h"
#include "tests/win/test_form.h"
#include "toolkit/Forms.h"

namespace {

class DispatchForm : public orvtest::TestForm {
 public:
  DispatchForm() : TestForm(120, 80) {}
  std::vector<std::string> heard;

 protected:
  void FormActivate(bool active) override { heard.push_back(active ? "active" : "inactive"); }
  void FormCommand(WORD id, WORD code, HWND) override {
    heard.push_back("form command " + std::to_string(id) + "/" + std::to_string(code));
  }
  LRESULT FormNotify(NMHDR& header) override {
    heard.push_back("form notify " + std::to_string(header.code));
    return 5;
  }
  void PaintBackground(tk::TCanvas& canvas, const RECT& clip) override {
    canvas.SetBrushColor(RGB(10, 200, 30));
    canvas.FillRect(clip);
  }
};

class Target : public tk::TReflectTarget {
 public:
  bool take = true;
  std::vector<std::string>* heard = nullptr;
  bool ReflectedCommand(WORD code) override {
    heard->push_back("control command " + std::to_string(code));
    return take;
  }
  bool ReflectedNotify(NMHDR& header, LRESULT& result) override {
    heard->push_back("control notify " + std::to_string(header.code));
    result = 7;
    return take;
  }
};

TEST(FormDispatch, CommandsAndNotificationsGoToTheirControlFirst) {
  tk::Application.Initialize();
  DispatchForm form;
  form.CreateForm();
  HWND button = CreateWindowExA(0, "BUTTON", "b", WS_CHILD, 0, 0, 10, 10, form.Handle(),
                                reinterpret_cast<HMENU>(41), nullptr, nullptr);
  ASSERT_NE(button, nullptr);
  Target target;
  target.heard = &form.heard;
  form.SetReflectTarget(button, &target);
  NMHDR header = {button, 41, 1234};

  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(41, BN_CLICKED), LPARAM(button));
  EXPECT_EQ(SendMessageA(form.Handle(), WM_NOTIFY, 41, LPARAM(&header)), 7);
  target.take = false;  // not handled there: the form hears it next
  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(41, BN_CLICKED), LPARAM(button));
  EXPECT_EQ(SendMessageA(form.Handle(), WM_NOTIFY, 41, LPARAM(&header)), 5);
  form.SetReflectTarget(button, nullptr);  // gone: only the form
  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(41, BN_CLICKED), LPARAM(button));
  // A menu or accelerator command has no control at all.
  SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  SendMessageA(form.Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
  SendMessageA(form.Handle(), WM_ACTIVATE, WA_CLICKACTIVE, 0);

  form.heard.erase(std::remove(form.heard.begin(), form.heard.end(), "active"),
                   form.heard.end());  // the window's own first activation
  const std::vector<std::string> want = {
      "control command 0", "control notify 1234", "control command 0", "form command 41/0",
      "control notify 1234", "form notify 1234", "form command 41/0", "form command 1/0",
      "inactive"};
  ASSERT_GE(form.heard.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(form.heard.begin(), form.heard.begin() + want.size()), want);
  DestroyWindow(button);
}

// WM_PRINTCLIENT paints what WM_PAINT paints, into the DC it is given.
TEST(FormDispatch, PrintClientDrawsTheFormIntoTheGivenDc) {
  tk::Application.Initialize();
  DispatchForm form;
  form.CreateForm();
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, 120, 80);
  {
    tk::TBitmapCanvas canvas(b);
    HDC dc = canvas.Canvas().Handle();
    SendMessageA(form.Handle(), WM_PRINTCLIENT, WPARAM(dc), PRF_CLIENT);
  }
  const uint8_t* p = b.ScanLine(40) + 3 * 60;
  EXPECT_EQ(p[0], 30);
  EXPECT_EQ(p[1], 200);
  EXPECT_EQ(p[2], 10);
}

}  // namespace

namespace {

// A top-most form whose creation handler fails, as a window that cannot get
// its timer or settings does.
class FailingForm : public orvtest::TestForm {
 public:
  HWND made = nullptr;
  bool destroyed = false;

 protected:
  void CreateParams(tk::TCreateParams& p) override {
    orvtest::TestForm::CreateParams(p);
    p.ExStyle |= WS_EX_TOPMOST;
  }
  void FormCreate() override {
    made = Handle();
    throw tk::Exception("creation failed");
  }
  void FormDestroy() override { destroyed = true; }
};

TEST(RunMainForm, AnErrorIsShownOnlyOnceTheFormIsGoneAndNoLongerTheMainForm) {
  tk::Application.Initialize();
  tk::Application.ClearTerminated();
  FailingForm form;
  std::string message;
  tk::TForm* mainFormThen = &form;
  bool windowThen = true;
  tk::Application.OnException = [&](const std::exception& e) {
    message = e.what();
    mainFormThen = tk::Application.MainForm;
    windowThen = form.made && IsWindow(form.made);
  };
  bool ranAfterCreate = false;
  tk::RunMainForm(form, [&] { ranAfterCreate = true; });
  tk::Application.OnException = nullptr;
  EXPECT_EQ(message, "creation failed");
  EXPECT_EQ(mainFormThen, nullptr);
  EXPECT_FALSE(windowThen) << "the message would be owned by a window being torn down";
  EXPECT_TRUE(form.destroyed);
  EXPECT_FALSE(ranAfterCreate);
  EXPECT_EQ(tk::Application.MainForm, nullptr);
  tk::Application.ClearTerminated();
}

}  // namespace

namespace {

// What a mouse move over `w` does to the cursor.
HCURSOR CursorAfterMoveOver(HWND w) {
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return GetCursor();
}

TEST(WaitCursor, TheHourglassOutlivesMouseMovesOverFormsAndTheirControlsUntilItEnds) {
  tk::Application.Initialize();
  orvtest::TestForm form;
  form.CreateForm();
  HWND button = CreateWindowExA(0, "Button", "キャンセル", WS_CHILD | WS_VISIBLE, 5, 5, 80, 24,
                                form.Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(button, nullptr);
  const HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);

  tk::Application.BeginWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  tk::Application.BeginWaitCursor();  // nested: a run inside a run
  tk::Application.EndWaitCursor();
  EXPECT_TRUE(tk::Application.WaitCursorActive());
  EXPECT_EQ(CursorAfterMoveOver(form.Handle()), wait);
  EXPECT_EQ(CursorAfterMoveOver(button), wait);
  tk::Application.EndWaitCursor();
  EXPECT_FALSE(tk::Application.WaitCursorActive());
  EXPECT_NE(CursorAfterMoveOver(form.Handle()), wait);
  EXPECT_NE(CursorAfterMoveOver(button), wait);
  form.DestroyForm();
}

}  // namespace
