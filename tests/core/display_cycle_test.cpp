#include "slideshow/DisplayCycle.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace orv {
namespace {

// Records what the cycle asks of the window.
class RecordingActions : public ICycleActions {
 public:
  std::vector<std::string> calls;
  bool backgroundEnabled = false;
  // How many more looks the next picture takes before it is decoded.
  int loadsUntilReady = 0;
  void StartShow() override { calls.push_back("start"); }
  void HideLayout() override { calls.push_back("hide"); }
  void ShowLayout() override { calls.push_back("show"); }
  void SetBackgroundVisible(bool v) override { calls.push_back(v ? "bg+" : "bg-"); }
  bool BackgroundEnabled() const override { return backgroundEnabled; }
  bool LoadNextPicture() override {
    if (loadsUntilReady > 0) {
      --loadsUntilReady;
      calls.push_back("not yet");
      return false;
    }
    calls.push_back("load");
    return true;
  }
  bool NextPictureReady() override {
    if (loadsUntilReady == 0) return true;
    --loadsUntilReady;
    calls.push_back("still up");
    return false;
  }
  void ArmExit() override { calls.push_back("arm"); }
};

// Returns a fixed sequence of values, then repeats the last one.
class ScriptedRandom : public TRandom {
 public:
  explicit ScriptedRandom(std::vector<int> values) : values_(std::move(values)) {}
  int Next() override {
    const int v = values_[pos_ < values_.size() ? pos_ : values_.size() - 1];
    ++pos_;
    return v;
  }
  size_t drawn() const { return pos_; }

 private:
  std::vector<int> values_;
  size_t pos_ = 0;
};

struct Tick {
  CycleState state;
  uint32_t delay;
};

std::vector<Tick> RunTicks(DisplayCycle& cycle, const CycleTiming& timing, int ticks) {
  std::vector<Tick> out;
  uint32_t delay = DisplayCycle::kStartInterval;
  for (int i = 0; i < ticks; ++i) {
    delay = cycle.Step(timing, delay);
    out.push_back({cycle.State(), delay});
  }
  return out;
}

TEST(DisplayCycle, FirstPictureGoesThroughBlankWithHalfPauses) {
  RecordingActions actions;
  ScriptedRandom random({99});
  DisplayCycle cycle(actions, random);
  const auto ticks = RunTicks(cycle, CycleTiming{5, 2}, 6);
  // start keeps 100 ms; blank half pause; load asap; backdrop other half;
  // show for Interval; end asap.
  EXPECT_EQ(ticks[0].state, CycleState::Blank);
  EXPECT_EQ(ticks[0].delay, 100u);
  EXPECT_EQ(ticks[1].state, CycleState::Load);
  EXPECT_EQ(ticks[1].delay, 1000u);
  EXPECT_EQ(ticks[2].state, CycleState::Backdrop);
  EXPECT_EQ(ticks[2].delay, 0u);
  EXPECT_EQ(ticks[3].state, CycleState::Show);
  EXPECT_EQ(ticks[3].delay, 1000u);
  EXPECT_EQ(ticks[4].state, CycleState::End);
  EXPECT_EQ(ticks[4].delay, 5000u);
  EXPECT_EQ(ticks[5].state, CycleState::Load);  // 99 >= 15: no full blank
  EXPECT_EQ(ticks[5].delay, 0u);
  const std::vector<std::string> expected = {"start", "hide", "bg-",  "arm",
                                             "load",  "hide", "show", "hide"};
  EXPECT_EQ(actions.calls, expected);
}

// A start that fails (memory running out while the caption file is read)
// must not keep the show at its start, where input never gets armed.
TEST(DisplayCycle, AFailedStartStillLeadsToTheArmingBlankStep) {
  class FailingStart : public RecordingActions {
   public:
    void StartShow() override {
      RecordingActions::StartShow();
      throw std::bad_alloc();
    }
  } actions;
  ScriptedRandom random({99});
  DisplayCycle cycle(actions, random);
  EXPECT_THROW(cycle.Step(CycleTiming{5, 2}, 100), std::bad_alloc);
  EXPECT_EQ(cycle.State(), CycleState::Blank);
  cycle.Step(CycleTiming{5, 2}, 100);
  EXPECT_EQ(actions.calls, (std::vector<std::string>{"start", "hide", "bg-", "arm"}));
}

TEST(DisplayCycle, LaterPicturesGetTheWholeBackdropPause) {
  RecordingActions actions;
  ScriptedRandom random({50});
  DisplayCycle cycle(actions, random);
  const auto ticks = RunTicks(cycle, CycleTiming{5, 2}, 9);
  // Second picture: load (0), backdrop 2 s, show 5 s.
  EXPECT_EQ(ticks[6].state, CycleState::Backdrop);
  EXPECT_EQ(ticks[7].state, CycleState::Show);
  EXPECT_EQ(ticks[7].delay, 2000u);
  EXPECT_EQ(ticks[8].delay, 5000u);
}

TEST(DisplayCycle, FullBlankOnlyBelowFifteenAndWithAPause) {
  for (int r : {0, 14, 15, 114, 115}) {
    RecordingActions actions;
    ScriptedRandom random({r});
    DisplayCycle cycle(actions, random);
    const auto ticks = RunTicks(cycle, CycleTiming{1, 3}, 6);
    const bool blank = (r % 100) < 15;
    EXPECT_EQ(ticks[5].state, blank ? CycleState::Blank : CycleState::Load) << r;
  }
  // Without a pause there is never a full blank.
  RecordingActions actions;
  ScriptedRandom random({0});
  DisplayCycle cycle(actions, random);
  const auto ticks = RunTicks(cycle, CycleTiming{1, 0}, 6);
  EXPECT_EQ(ticks[5].state, CycleState::Load);
  EXPECT_EQ(ticks[1].delay, 0u);  // blank and backdrop last the minimum
  EXPECT_EQ(ticks[3].delay, 0u);
}

// A next picture still in the decoder: the cycle looks again every few
// ticks, keeping the one on screen (at the end step) or the blank (at the
// load step), and goes on where it was once the picture is there.
TEST(DisplayCycle, APictureNotDecodedYetIsWaitedForByTicksWhereTheCycleStands) {
  struct Case {
    const char* name;
    int waitFrom;  // tick at which the decode is found still running
    CycleState waitingIn;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"first picture, at its load", 2, CycleState::Load,
       {"start", "hide", "bg-", "arm", "not yet", "not yet", "load", "hide", "show"}},
      {"next picture, at the end of the one up", 5, CycleState::End,
       {"start", "hide", "bg-", "arm", "load", "hide", "show", "still up", "still up", "hide"}},
  };
  for (const Case& c : cases) {
    RecordingActions actions;
    ScriptedRandom random({99});
    DisplayCycle cycle(actions, random);
    uint32_t delay = DisplayCycle::kStartInterval;
    for (int tick = 0; tick < c.waitFrom; ++tick) delay = cycle.Step(CycleTiming{5, 2}, delay);
    actions.loadsUntilReady = 2;
    for (int look = 0; look < 2; ++look) {
      EXPECT_EQ(cycle.Step(CycleTiming{5, 2}, delay), DisplayCycle::kWaitInterval) << c.name;
      EXPECT_EQ(cycle.State(), c.waitingIn) << c.name;
    }
    cycle.Step(CycleTiming{5, 2}, delay);
    EXPECT_NE(cycle.State(), c.waitingIn) << c.name;
    // From the load on to the picture shown.
    if (c.waitingIn == CycleState::Load)
      for (int tick = 0; tick < 2; ++tick) cycle.Step(CycleTiming{5, 2}, 0);
    EXPECT_EQ(actions.calls, c.calls) << c.name;
  }
}

TEST(DisplayCycle, AfterAFullBlankTheBackdropIsHalved) {
  RecordingActions actions;
  ScriptedRandom random({3});
  DisplayCycle cycle(actions, random);
  const auto ticks = RunTicks(cycle, CycleTiming{5, 2}, 10);
  ASSERT_EQ(ticks[5].state, CycleState::Blank);
  EXPECT_EQ(ticks[6].delay, 1000u);  // blank: half
  EXPECT_EQ(ticks[8].delay, 1000u);  // backdrop: the other half
  EXPECT_EQ(ticks[9].delay, 5000u);
}

TEST(DisplayCycle, BackgroundPictureShownOnlyWhenEnabled) {
  RecordingActions actions;
  actions.backgroundEnabled = true;
  ScriptedRandom random({99});
  DisplayCycle cycle(actions, random);
  RunTicks(cycle, CycleTiming{5, 2}, 4);
  const std::vector<std::string> expected = {"start", "hide", "bg-", "arm", "load", "hide", "bg+"};
  EXPECT_EQ(actions.calls, expected);
}

TEST(DisplayCycle, AbsurdIntervalsStayDefined) {
  EXPECT_EQ(SecondsToDelay(-3, 1000), 0u);
  EXPECT_EQ(SecondsToDelay(5, 500), 2500u);
  EXPECT_EQ(SecondsToDelay(2147483647, 1000), 0x7FFFFFFFu);
}

TEST(Random, SameSeedSameSequenceAndNeverNegative) {
  TRandom a(12345), b(12345);
  for (int i = 0; i < 1000; ++i) {
    const int x = a.Next();
    EXPECT_EQ(x, b.Next());
    EXPECT_GE(x, 0);
  }
  TRandom c(1), d(2);
  EXPECT_NE(c.Next(), d.Next());
}

}  // namespace
}  // namespace orv
