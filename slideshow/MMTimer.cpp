#include "slideshow/MMTimer.h"

#include <mmsystem.h>

#include <exception>

#include "toolkit/Exceptions.h"
#include "toolkit/Forms.h"

namespace orv {

namespace {
constexpr char kTimerWindowClass[] = "TMMTimerWindow";
constexpr UINT kTickMessage = WM_APP + 1;
}  // namespace

TMMTimer::TMMTimer() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  if (!GetClassInfoA(instance, kTimerWindowClass, &wc)) {
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kTimerWindowClass;
    RegisterClassA(&wc);
  }
  window_ = CreateWindowExA(0, kTimerWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            instance, nullptr);
  // Without its window no tick could ever reach the handler: a show that
  // silently never advances is worse than an error.
  if (!window_) throw tk::EOutOfResources("TMMTimer: the timer window cannot be created");
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetMMTimer();
}

TMMTimer::~TMMTimer() {
  KillMMTimer();
  // Ticks already posted die with the window.
  if (window_) DestroyWindow(window_);
}

UINT TMMTimer::GetMinPeriod() const {
  TIMECAPS caps = {};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return 1;
  return caps.wPeriodMin;
}

UINT TMMTimer::GetMaxPeriod() const {
  TIMECAPS caps = {};
  if (timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR) return 1000000;
  return caps.wPeriodMax;
}

void TMMTimer::SetMMTimer() {
  const UINT r = resolution_ ? resolution_ : interval_;
  timeBeginPeriod(r);
  period_ = r;
  event_id_ = timeSetEvent(interval_, r, Callback, reinterpret_cast<DWORD_PTR>(this),
                           TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
  if (!event_id_) {
    timeEndPeriod(r);
    period_ = 0;
  }
}

void TMMTimer::KillMMTimer() {
  if (!event_id_) return;
  timeKillEvent(event_id_);
  timeEndPeriod(period_);
  event_id_ = 0;
}

void TMMTimer::ChangeEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (value)
    SetMMTimer();
  else
    KillMMTimer();
}

void TMMTimer::ChangeInterval(UINT value) {
  const UINT lo = GetMinPeriod(), hi = GetMaxPeriod();
  if (value < lo) value = lo;
  if (value > hi) value = hi;
  if (value == interval_) return;
  interval_ = value;
  Restart();
}

// A running event takes a new interval or resolution only by starting over.
void TMMTimer::Restart() {
  if (!event_id_) return;
  KillMMTimer();
  SetMMTimer();
}

void TMMTimer::ChangeResolution(UINT value) {
  const UINT lo = GetMinPeriod();
  if (value < lo) value = lo;
  if (value > interval_) value = interval_;
  if (value == resolution_) return;
  resolution_ = value;
  Restart();
}

void TMMTimer::Timer() {
  if (OnTimer) OnTimer(this);
}

void CALLBACK TMMTimer::Callback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  // Timer-service thread: nothing but a post. The window handle is fixed
  // for the timer's life and the event is killed before the window goes.
  auto* self = reinterpret_cast<TMMTimer*>(user);
  PostMessageA(self->window_, kTickMessage, id, 0);
}

LRESULT CALLBACK TMMTimer::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kTickMessage) {
    auto* self = reinterpret_cast<TMMTimer*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    // A tick queued before its event was killed (the handler restarts the
    // timer, so ids change every tick) is stale and dropped: ticks never
    // overlap or repeat.
    // Like any form's window procedure: an error escaping the handler is
    // shown and the loop goes on, never unwinding through the dispatcher.
    try {
      if (self && self->event_id_ != 0 && wParam == self->event_id_) self->Timer();
    } catch (const std::exception& e) {
      tk::Application.HandleException(e);
    }
    return 0;
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace orv
