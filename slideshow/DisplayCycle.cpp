#include "slideshow/DisplayCycle.h"

#include <algorithm>

namespace orv {

uint32_t SecondsToDelay(int64_t seconds, int64_t msPerSecond) {
  const int64_t ms = seconds * msPerSecond;
  // The timer's maximum period is far below this; the clamp only keeps the
  // arithmetic defined.
  return static_cast<uint32_t>(std::clamp<int64_t>(ms, 0, 0x7FFFFFFF));
}

uint32_t DisplayCycle::Step(const CycleTiming& timing, uint32_t current) {
  switch (state_) {
    case CycleState::Start:
      // On to the blank step, which arms the exit, even when the start
      // fails: a start tried again on every tick would never arm it.
      state_ = CycleState::Blank;
      actions_.StartShow();
      return current;
    case CycleState::Blank:
      actions_.HideLayout();
      actions_.SetBackgroundVisible(false);
      after_blank_ = true;
      actions_.ArmExit();
      state_ = CycleState::Load;
      return SecondsToDelay(timing.BlankScreenInterval, 500);
    case CycleState::Load:
      // A picture still in the decoder is waited for by ticks, never here.
      if (!actions_.LoadNextPicture()) return kWaitInterval;
      state_ = CycleState::Backdrop;
      return 0;
    case CycleState::Backdrop: {
      actions_.HideLayout();
      if (actions_.BackgroundEnabled()) actions_.SetBackgroundVisible(true);
      state_ = CycleState::Show;
      if (after_blank_) {
        after_blank_ = false;
        return SecondsToDelay(timing.BlankScreenInterval, 500);
      }
      return SecondsToDelay(timing.BlankScreenInterval, 1000);
    }
    case CycleState::Show:
      actions_.ShowLayout();
      state_ = CycleState::End;
      return SecondsToDelay(timing.Interval, 1000);
    case CycleState::End: {
      if (!actions_.NextPictureReady()) return kWaitInterval;
      actions_.HideLayout();
      const int r = random_.Next() % 100;
      state_ = (r < 15 && timing.BlankScreenInterval > 0) ? CycleState::Blank : CycleState::Load;
      return 0;
    }
  }
  return current;
}

}  // namespace orv
