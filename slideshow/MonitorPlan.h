// The show on several monitors, free of any window code: which monitor
// gets which window and layout, how its caption font is sized for its DPI,
// when its cycle starts, and which picture of the one list it shows next.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "imaging/PictureLoader.h"
#include "slideshow/LayoutMath.h"
#include "toolkit/StringList.h"

namespace orv {

// One monitor as the system reports it: its rectangle in virtual-screen
// pixels (left or above the primary means negative), its DPI and whether it
// is the primary one.
struct MonitorInfo {
  IntRect rect;
  int dpi = 96;
  bool primary = false;
};

// The monitors in window order: the primary first (it gets the main
// window), the others as the system listed them. With no primary reported,
// the one holding the virtual-screen origin counts as primary, else the
// first. Empty rectangles are dropped.
std::vector<MonitorInfo> OrderPrimaryFirst(std::vector<MonitorInfo> monitors);

// A DPI the system could not tell (0 or less) counts as 96.
int UsableDpi(int dpi);

// Pixel height of a font of `points` on a monitor of `dpi`, negative as
// LOGFONT wants a character height: rounded like MulDiv.
int FontPixelHeight(int points, int dpi);

// One saver window's place: its bounds in virtual-screen pixels, its
// margin and the area inside the margin in its own client pixels.
struct MonitorLayout {
  IntRect bounds;
  Margin margin;
  IntRect area;
};
MonitorLayout PlanMonitor(const MonitorInfo& monitor, int windowBorder);

// Delay (ms) before the first tick of window `index` of `count`: the
// start delay plus index x Interval / count, so the monitors do not all
// change at the same instant.
uint32_t FirstTickDelay(int index, int count, int intervalSeconds, uint32_t startDelay);

// Pending is no shape: a probe's answer that the shape is being learnt
// (measured in the decoder process) and not known yet.
enum class PictureShape : uint8_t { Unknown, Landscape, Portrait, Undecodable, Pending };
// Portrait when taller than wide; a picture without pixels is undecodable.
PictureShape ShapeOf(int width, int height);

// What a monitor asks the list for.
enum class ShapeWish : uint8_t { Any, Landscape, Portrait };
// One wish per monitor, in the order given: a shape only when the monitors
// showing pictures are of both shapes; otherwise every picture suits every
// monitor (one monitor, or all of one shape).
std::vector<ShapeWish> WishesFor(const std::vector<IntRect>& monitors);

// Hands out the entries of one picture list (already in show order) to the
// monitors. A monitor takes the next entry of its shape; entries it passes
// over wait, in order, for the next monitor that wants them, so none is
// lost from the round. An entry on screen on another monitor is not taken
// while another one is free. When nothing of the wanted shape is found the
// monitor takes the first free entry of any shape.
class PictureRouter {
 public:
  // Tells entry i's shape (from its header or a decode); called once per
  // entry at most, the answer is kept. It may answer Pending: Take then
  // gives kPending, and the pick is tried again once the shape is known.
  using Probe = std::function<PictureShape(int index)>;
  static constexpr int kPending = -2;
  // At most this many entries of unknown shape are probed for one pick,
  // so a monitor never stalls the show decoding a long run of pictures of
  // the other shape; their shapes are remembered for later picks.
  static constexpr int kProbeLimit = 8;

  PictureRouter(int count, int monitors, int probeLimit = kProbeLimit);

  // The entry monitor `monitor` shows next, or -1 for an empty list, or
  // kPending when the probe is still learning a shape (nothing is taken;
  // the shapes told so far count toward this pick's probe limit). Taken
  // ahead of its turn: what the monitor still shows stays its own until
  // Shown, so no other monitor takes it meanwhile.
  int Take(int monitor, ShapeWish wish, const Probe& probe);
  // The monitor put up the entry it took last: the one before is free.
  void Shown(int monitor);
  // The monitor set changed: `monitors` now, and what every monitor but the
  // first (the primary, whose window stays) showed is no longer on screen.
  void SetMonitorCount(int monitors);
  // The entry the monitor took last (-1 before its first).
  int Showing(int monitor) const;
  PictureShape KnownShape(int index) const;
  // Entries passed over and still waiting, oldest first.
  const std::deque<int>& Waiting() const { return waiting_; }

 private:
  bool OnOtherMonitor(int index, int monitor) const;
  bool Suits(PictureShape shape, ShapeWish wish) const;

  int count_;
  int probe_limit_;
  int cursor_ = 0;
  std::vector<PictureShape> shapes_;
  std::vector<bool> is_waiting_;
  std::deque<int> waiting_;
  std::vector<int> showing_;
  // What each monitor still shows while its next entry is taken.
  std::vector<int> leaving_;
  // Probes answered so far for each monitor's pick under way.
  std::vector<int> pick_probes_;
};

}  // namespace orv
