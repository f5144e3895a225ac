// The six-state display cycle of the slideshow, free of any window code:
// the window supplies the actions, the cycle decides their order and the
// delay before the next tick.
#pragma once

#include <cstdint>

#include "slideshow/Random.h"

namespace orv {

enum class CycleState : int { Start = 0, Blank = 1, Load = 2, Backdrop = 3, Show = 4, End = 5 };

// What one tick may do to the window. Each call is one step of the table.
class ICycleActions {
 public:
  virtual ~ICycleActions() = default;
  virtual void StartShow() = 0;
  virtual void HideLayout() = 0;                        // layout Show(false), errors swallowed
  virtual void ShowLayout() = 0;                        // layout Show(true), errors swallowed
  virtual void SetBackgroundVisible(bool visible) = 0;  // only called with true when enabled
  virtual bool BackgroundEnabled() const = 0;           // UseBGImageCheck
  // Takes the next picture (NextPicture + SetPicture/SetText + Arrange);
  // false when it is not decoded yet: nothing changed, ask again soon.
  virtual bool LoadNextPicture() = 0;
  // Whether the next picture is decoded (or known not to be): until it is,
  // the one on screen stays up.
  virtual bool NextPictureReady() = 0;
  virtual void ArmExit() = 0;          // ExitArmed := true
};

struct CycleTiming {
  int Interval = 5;             // seconds a picture stays on screen
  int BlankScreenInterval = 2;  // seconds of pause between pictures
};

class DisplayCycle {
 public:
  static constexpr uint32_t kStartInterval = 100;  // ms, first tick and start step
  // ms between looks at a next picture that is still being decoded.
  static constexpr uint32_t kWaitInterval = 40;

  DisplayCycle(ICycleActions& actions, TRandom& random) : actions_(actions), random_(random) {}

  CycleState State() const { return state_; }
  void SetState(CycleState s) { state_ = s; }
  bool AfterBlank() const { return after_blank_; }

  // Performs the step of the current state, moves to the next state and
  // returns the delay (ms) before the next tick; `current` is the delay
  // in force, which the start step keeps. 0 means "as soon as possible".
  uint32_t Step(const CycleTiming& timing, uint32_t current);

 private:
  ICycleActions& actions_;
  TRandom& random_;
  CycleState state_ = CycleState::Start;
  bool after_blank_ = false;
};

// Milliseconds for `seconds` x `factor`, clamped so absurd INI values cannot
// overflow the timer's unsigned delay; negative values mean 0.
uint32_t SecondsToDelay(int64_t seconds, int64_t msPerSecond);

}  // namespace orv
