// Timer component over the multimedia timer service. The system raises its
// callback on a timer-service thread; the callback only posts a message to
// a hidden window of the thread that created the timer, and OnTimer runs
// there, so handlers may touch controls freely.
#pragma once

#include <windows.h>

#include <functional>

namespace orv {

class TMMTimer {
 public:
  TMMTimer();
  virtual ~TMMTimer();
  TMMTimer(const TMMTimer&) = delete;
  TMMTimer& operator=(const TMMTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void ChangeEnabled(bool value);
  UINT Interval() const { return interval_; }
  void ChangeInterval(UINT value);
  UINT Resolution() const { return resolution_; }
  void ChangeResolution(UINT value);

  UINT GetMinPeriod() const;
  UINT GetMaxPeriod() const;

  // Free for the owner's use; the slideshow keeps its cycle state here.
  int Tag = 0;
  std::function<void(TMMTimer* sender)> OnTimer;

  // Whether a system timer event is running, and the period it began with.
  bool Running() const { return event_id_ != 0; }
  UINT BegunPeriod() const { return period_; }

 protected:
  virtual void Timer();

 private:
  void SetMMTimer();
  void KillMMTimer();
  void Restart();
  static void CALLBACK Callback(UINT id, UINT msg, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

  bool enabled_ = true;
  UINT interval_ = 1000;
  UINT resolution_ = 0;
  UINT event_id_ = 0;
  UINT period_ = 0;
  HWND window_ = nullptr;
};

}  // namespace orv
