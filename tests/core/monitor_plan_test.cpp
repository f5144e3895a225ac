// The show on several monitors: window order, per-monitor layout and DPI
// arithmetic, staggered starts, and which picture each monitor takes.
#include "slideshow/MonitorPlan.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "toolkit/Exceptions.h"

namespace orv {
namespace {

IntRect R(int l, int t, int r, int b) { return IntRect{l, t, r, b}; }

TEST(MonitorOrder, PrimaryFirstThenTheOthersAsListed) {
  struct Case {
    const char* name;
    std::vector<MonitorInfo> in;
    std::vector<int> lefts;  // of the result, in order
  };
  const std::vector<Case> cases = {
      {"one monitor", {{R(0, 0, 1024, 768), 96, true}}, {0}},
      {"primary right of a portrait one",
       {{R(-600, 0, 0, 800), 96, false}, {R(0, 0, 1024, 768), 96, true}},
       {0, -600}},
      {"three, primary in the middle",
       {{R(-1280, 0, 0, 1024), 96, false},
        {R(0, 0, 1920, 1080), 144, true},
        {R(1920, -200, 3120, 1720), 96, false}},
       {0, -1280, 1920}},
      {"no primary reported: the one at the origin",
       {{R(1920, 0, 3840, 1080), 96, false}, {R(0, 0, 1920, 1080), 96, false}},
       {0, 1920}},
      {"no primary and none at the origin: the first",
       {{R(100, 0, 900, 600), 96, false}, {R(900, 0, 1700, 600), 96, false}},
       {100, 900}},
      {"empty rectangles are dropped",
       {{R(0, 0, 0, 0), 96, false}, {R(0, 0, 800, 600), 96, true}, {R(5, 5, 5, 9), 96, false}},
       {0}},
  };
  for (const Case& c : cases) {
    const std::vector<MonitorInfo> out = OrderPrimaryFirst(c.in);
    std::vector<int> lefts;
    for (const MonitorInfo& m : out) lefts.push_back(m.rect.left);
    EXPECT_EQ(lefts, c.lefts) << c.name;
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].primary, i == 0) << c.name;
  }
  EXPECT_TRUE(OrderPrimaryFirst({}).empty());
}

TEST(MonitorDpi, CaptionFontPointsBecomePixelsOfItsMonitor) {
  struct Case {
    int points, dpi, pixels;
  };
  const Case cases[] = {
      {9, 96, -12},  {9, 144, -18},  {12, 96, -16},  {12, 120, -20}, {8, 96, -11},
      {8, 144, -16}, {10, 168, -23}, {18, 192, -48}, {9, 0, -12},    {9, -5, -12},
      {0, 144, 0},   {-12, 96, 16},  {7, 120, -12},  {11, 144, -22}, {72, 96, -96},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FontPixelHeight(c.points, c.dpi), c.pixels) << c.points << " pt at " << c.dpi;
  EXPECT_EQ(UsableDpi(0), 96);
  EXPECT_EQ(UsableDpi(144), 144);
}

TEST(MonitorLayoutPlan, EachMonitorHasItsOwnMarginFromItsOwnSize) {
  struct Case {
    const char* name;
    IntRect monitor;
    int border;
    IntRect bounds;
    Margin margin;
    IntRect area;  // client coordinates of that window
  };
  // clang-format off
  const Case cases[] = {
      {"primary 1024 x 768, border 10", R(0, 0, 1024, 768), 10, R(0, 0, 1024, 768), {38, 38, 51, 51}, R(51, 38, 973, 730)},
      {"portrait left of it", R(-600, 0, 0, 800), 10, R(-600, 0, 0, 800), {40, 40, 30, 30}, R(30, 40, 570, 760)},
      {"above and left, border 0", R(-1920, -1080, 0, 0), 0, R(-1920, -1080, 0, 0), {0, 0, 0, 0}, R(0, 0, 1920, 1080)},
      {"4K at 150 %, border 5", R(1024, 0, 4864, 2160), 5, R(1024, 0, 4864, 2160), {54, 54, 96, 96}, R(96, 54, 3744, 2106)},
      {"border 100: nothing left inside", R(0, 0, 800, 600), 100, R(0, 0, 800, 600), {300, 300, 400, 400}, R(400, 300, 400, 300)},
      {"border 101 counts as none", R(0, 0, 800, 600), 101, R(0, 0, 800, 600), {0, 0, 0, 0}, R(0, 0, 800, 600)},
  };
  // clang-format on
  for (const Case& c : cases) {
    const MonitorLayout l = PlanMonitor(MonitorInfo{c.monitor, 96, false}, c.border);
    EXPECT_EQ(l.bounds, c.bounds) << c.name;
    EXPECT_EQ(l.margin.top, c.margin.top) << c.name;
    EXPECT_EQ(l.margin.bottom, c.margin.bottom) << c.name;
    EXPECT_EQ(l.margin.left, c.margin.left) << c.name;
    EXPECT_EQ(l.margin.right, c.margin.right) << c.name;
    EXPECT_EQ(l.area, c.area) << c.name;
  }
}

TEST(MonitorStart, CyclesStartStaggeredByIntervalOverMonitors) {
  struct Case {
    int index, count, interval;
    uint32_t delay;
  };
  const Case cases[] = {
      {0, 1, 5, 100},           {0, 2, 5, 100}, {1, 2, 5, 2600}, {1, 3, 6, 2100},
      {2, 3, 6, 4100},          {1, 2, 0, 100}, {1, 2, -4, 100}, {3, 4, 59, 44350},
      {5, 3, 6, 4100},  // an index past the last counts as the last
      {1, 2, 1000000, 1800100},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FirstTickDelay(c.index, c.count, c.interval, 100), c.delay)
        << c.index << "/" << c.count << " at " << c.interval << " s";
}

TEST(MonitorShapes, PortraitOnlyWhenTallerThanWide) {
  EXPECT_EQ(ShapeOf(600, 800), PictureShape::Portrait);
  EXPECT_EQ(ShapeOf(800, 600), PictureShape::Landscape);
  EXPECT_EQ(ShapeOf(500, 500), PictureShape::Landscape);
  EXPECT_EQ(ShapeOf(0, 0), PictureShape::Undecodable);
  EXPECT_EQ(ShapeOf(10, 0), PictureShape::Undecodable);

  using W = ShapeWish;
  struct Case {
    const char* name;
    std::vector<IntRect> monitors;
    std::vector<W> wishes;
  };
  const std::vector<Case> cases = {
      {"one monitor", {R(0, 0, 600, 800)}, {W::Any}},
      {"landscape and portrait",
       {R(0, 0, 1024, 768), R(-600, 0, 0, 800)},
       {W::Landscape, W::Portrait}},
      {"two landscape", {R(0, 0, 1024, 768), R(1024, 0, 2048, 768)}, {W::Any, W::Any}},
      {"two portrait", {R(0, 0, 600, 800), R(600, 0, 1200, 800)}, {W::Any, W::Any}},
      {"three, one portrait",
       {R(0, 0, 1920, 1080), R(1920, 0, 3000, 1920), R(-1920, 0, 0, 1080)},
       {W::Landscape, W::Portrait, W::Landscape}},
      {"none", {}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(WishesFor(c.monitors), c.wishes) << c.name;
}

// A list whose shapes the test knows; probing counts how often each entry
// was decoded.
struct FakeList {
  std::string shapes;  // L landscape, P portrait, X undecodable
  std::map<int, int> probes;
  PictureRouter::Probe Probe() {
    return [this](int i) {
      ++probes[i];
      switch (shapes[static_cast<size_t>(i)]) {
        case 'P':
          return PictureShape::Portrait;
        case 'L':
          return PictureShape::Landscape;
        default:
          return PictureShape::Undecodable;
      }
    };
  }
};

struct Pick {
  int monitor;
  ShapeWish wish;
  int expected;
};

void RunPicks(const char* name, const std::string& shapes, int monitors,
              const std::vector<Pick>& picks) {
  FakeList list{shapes, {}};
  PictureRouter router(static_cast<int>(shapes.size()), monitors);
  int n = 0;
  for (const Pick& p : picks) {
    EXPECT_EQ(router.Take(p.monitor, p.wish, list.Probe()), p.expected)
        << name << ", pick " << n << " by monitor " << p.monitor;
    router.Shown(p.monitor);
    ++n;
  }
  for (const auto& [index, times] : list.probes)
    EXPECT_EQ(times, 1) << name << ": entry " << index << " decoded more than once to route it";
}

constexpr ShapeWish Any = ShapeWish::Any, Land = ShapeWish::Landscape, Port = ShapeWish::Portrait;

TEST(PictureRouting, OneMonitorTakesTheListInOrderWithoutLookingAtShapes) {
  FakeList list{"LPLXP", {}};
  PictureRouter router(5, 1);
  std::vector<int> order;
  for (int i = 0; i < 11; ++i) order.push_back(router.Take(0, Any, list.Probe()));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0}));
  EXPECT_TRUE(list.probes.empty());
  EXPECT_TRUE(router.Waiting().empty());
}

// Each row: the list's shapes, the monitors, and the picks in turn (the
// monitor, its wish, the entry it must get).
TEST(PictureRouting, WhoGetsWhichPicture) {
  struct Case {
    const char* name;
    std::string shapes;
    int monitors;
    std::vector<Pick> picks;
  };
  // clang-format off
  const Case cases[] = {
      // Monitor 0 landscape, monitor 1 portrait, taking turns: 1 is passed
      // over and waits, the waiting one goes first; at pick 5, entries 5,
      // 0 and 1 wait, and with only two portraits the list comes round.
      {"turns", "LLPLPL", 2, {{0, Land, 0}, {1, Port, 2}, {0, Land, 1}, {1, Port, 4}, {0, Land, 3},
                              {1, Port, 2}, {0, Land, 5}, {0, Land, 0}, {1, Port, 4}, {0, Land, 1}}},
      // A portrait monitor that starts later finds the first portrait.
      {"late start", "PLLL", 2, {{0, Land, 1}, {0, Land, 2}, {1, Port, 0}, {0, Land, 3}, {0, Land, 1}}},
      // A monitor whose shape the list lacks takes the next of any shape.
      {"no portrait", "LLL", 2, {{0, Land, 0}, {1, Port, 1}, {0, Land, 2}, {1, Port, 0}, {0, Land, 1}}},
      {"no landscape", "PP", 2, {{1, Port, 0}, {0, Land, 1}, {1, Port, 0}, {0, Land, 1}}},
      // No picture on two monitors at once unless the list is shorter.
      {"two of one shape on two monitors", "LL", 2, {{0, Any, 0}, {1, Any, 1}, {0, Any, 0}, {1, Any, 1}, {1, Any, 1}}},
      {"one picture, two monitors", "L", 2, {{0, Any, 0}, {1, Any, 0}, {0, Any, 0}}},
      {"three monitors, list of two", "LL", 3, {{0, Any, 0}, {1, Any, 1}, {2, Any, 0}}},
      // The only portrait is on the portrait monitor: the other takes landscapes.
      {"single portrait", "PL", 2, {{1, Port, 0}, {0, Land, 1}, {0, Land, 1}, {1, Port, 0}}},
      // Monitors 0 and 2 landscape, 1 portrait; at pick 7, 0 waits.
      {"three, one portrait", "LPLLPLL", 3, {{0, Land, 0}, {1, Port, 1}, {2, Land, 2}, {0, Land, 3}, {1, Port, 4},
                                            {2, Land, 5}, {0, Land, 6}, {1, Port, 1}, {2, Land, 0}, {0, Land, 2}}},
      // A shaped monitor passes over what cannot be decoded; a picture that
      // fits is always preferred to it.
      {"broken in the middle", "LXP", 2, {{0, Land, 0}, {1, Port, 2}, {0, Land, 0}}},
      {"only broken ones", "XX", 2, {{0, Land, 0}, {1, Port, 1}, {0, Land, 0}}},
  };
  // clang-format on
  for (const Case& c : cases) RunPicks(c.name, c.shapes, c.monitors, c.picks);
}

TEST(PictureRouting, ProbingIsBoundedPerPickAndRemembered) {
  // Ten landscapes before the only portrait: with a limit of 4 the portrait
  // monitor gives up after 4 decodes and takes the first free picture.
  FakeList list{"LLLLLLLLLLP", {}};
  PictureRouter router(11, 2, 4);
  EXPECT_EQ(router.Take(1, Port, list.Probe()), 0);
  EXPECT_EQ(list.probes.size(), 4u);
  EXPECT_EQ(router.KnownShape(3), PictureShape::Landscape);
  EXPECT_EQ(router.KnownShape(4), PictureShape::Unknown);
  // Known shapes cost nothing: the next pick goes 4 further.
  EXPECT_EQ(router.Take(1, Port, list.Probe()), 1);
  EXPECT_EQ(list.probes.size(), 8u);
  // Now the portrait is within reach.
  EXPECT_EQ(router.Take(1, Port, list.Probe()), 10);
  for (const auto& [index, times] : list.probes) EXPECT_EQ(times, 1) << index;
  // Everything passed over waits for the landscape monitor, in order.
  EXPECT_EQ(router.Waiting(), (std::deque<int>{2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(router.Take(0, Land, list.Probe()), 2);
  EXPECT_EQ(router.Showing(0), 2);
  EXPECT_EQ(router.Showing(1), 10);
}

TEST(PictureRouting, AChangedMonitorSetFreesWhatTheOldWindowsShowed) {
  FakeList list{"LLL", {}};
  PictureRouter router(3, 3);
  EXPECT_EQ(router.Take(0, Any, list.Probe()), 0);
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 1);
  EXPECT_EQ(router.Take(2, Any, list.Probe()), 2);
  router.SetMonitorCount(2);
  EXPECT_EQ(router.Showing(0), 0);
  EXPECT_EQ(router.Showing(1), -1);
  EXPECT_EQ(router.Showing(2), -1);
  // 0 is still up on the primary; 1 and 2 are free again.
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 1);
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 2);
}


// The show learns shapes in its decoder process, one answer at a time: a
// probe that answers Pending takes nothing, and the pick goes on where it
// stopped once the shape is told, within one probe limit for the pick.
TEST(PictureRouting, APickWaitsForShapesBeingLearntAndKeepsItsProbeLimit) {
  const std::string shapes = "LLLLLLP";
  PictureRouter router(static_cast<int>(shapes.size()), 2, 4);
  std::map<int, PictureShape> told;
  std::vector<int> asked;
  const PictureRouter::Probe probe = [&](int i) {
    const auto f = told.find(i);
    if (f != told.end()) return f->second;
    asked.push_back(i);
    return PictureShape::Pending;
  };
  auto learn = [&](int i) {
    told[i] = shapes[size_t(i)] == 'P' ? PictureShape::Portrait : PictureShape::Landscape;
  };
  std::vector<int> results;
  for (int round = 0; round < 6; ++round) {
    const int r = router.Take(1, Port, probe);
    results.push_back(r);
    if (r != PictureRouter::kPending) break;
    EXPECT_TRUE(router.Waiting().empty()) << "a pending pick passed entries over";
    EXPECT_EQ(router.Showing(1), -1) << "a pending pick took an entry";
    learn(asked.back());
  }
  // Four shapes learnt (the limit), then the first free entry.
  const int P = PictureRouter::kPending;
  EXPECT_EQ(results, (std::vector<int>{P, P, P, P, 0}));
  EXPECT_EQ(asked, (std::vector<int>{0, 1, 2, 3}));
  // The next pick has a limit of its own: 4, 5 and then the portrait.
  results.clear();
  for (int round = 0; round < 6; ++round) {
    const int r = router.Take(1, Port, probe);
    results.push_back(r);
    if (r != P) break;
    learn(asked.back());
  }
  EXPECT_EQ(results, (std::vector<int>{P, P, P, 6}));
  EXPECT_EQ(router.Waiting(), (std::deque<int>{1, 2, 3, 4, 5}));
}

// Monitors take their next entry ahead of its turn, while the one before
// is still up: that one is not free for another monitor until the next
// is shown.
TEST(PictureRouting, WhatAMonitorStillShowsIsNotTakenWhileItsNextWaits) {
  FakeList list{"LLL", {}};
  PictureRouter router(3, 2);
  EXPECT_EQ(router.Take(0, Any, list.Probe()), 0);
  router.Shown(0);
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 1);
  router.Shown(1);
  EXPECT_EQ(router.Take(0, Any, list.Probe()), 2);  // monitor 0 still shows 0
  // Monitor 1's next: 0 is still up on monitor 0, 2 is its next.
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 1);
  router.Shown(0);  // 2 is up on monitor 0 now; 0 is free
  EXPECT_EQ(router.Take(1, Any, list.Probe()), 0);
}

TEST(PictureRouting, EmptyListGivesNothing) {
  PictureRouter router(0, 2);
  EXPECT_EQ(router.Take(0, Any, nullptr), -1);
  EXPECT_EQ(router.Take(1, Port, nullptr), -1);
  EXPECT_EQ(router.Showing(1), -1);
}

}  // namespace
}  // namespace orv
