#include "slideshow/MonitorPlan.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace orv {

std::vector<MonitorInfo> OrderPrimaryFirst(std::vector<MonitorInfo> monitors) {
  monitors.erase(std::remove_if(monitors.begin(), monitors.end(),
                                [](const MonitorInfo& m) {
                                  return m.rect.Width() <= 0 || m.rect.Height() <= 0;
                                }),
                 monitors.end());
  if (monitors.empty()) return monitors;
  auto primary = std::find_if(monitors.begin(), monitors.end(),
                              [](const MonitorInfo& m) { return m.primary; });
  if (primary == monitors.end()) {
    primary = std::find_if(monitors.begin(), monitors.end(), [](const MonitorInfo& m) {
      return m.rect.left <= 0 && m.rect.top <= 0 && m.rect.right > 0 && m.rect.bottom > 0;
    });
  }
  if (primary == monitors.end()) primary = monitors.begin();
  std::rotate(monitors.begin(), primary, primary + 1);
  for (size_t i = 0; i < monitors.size(); ++i) monitors[i].primary = i == 0;
  return monitors;
}

int UsableDpi(int dpi) { return dpi > 0 ? dpi : 96; }

int FontPixelHeight(int points, int dpi) {
  // MulDiv(points, dpi, 72): the product in 64 bits, halves away from zero.
  const int64_t product = static_cast<int64_t>(points) * UsableDpi(dpi);
  const int64_t rounded = (std::llabs(product) + 36) / 72;
  return static_cast<int>(product < 0 ? rounded : -rounded);
}

MonitorLayout PlanMonitor(const MonitorInfo& monitor, int windowBorder) {
  MonitorLayout l;
  l.bounds = monitor.rect;
  const int w = monitor.rect.Width(), h = monitor.rect.Height();
  l.margin = ComputeMargin(windowBorder, w, h);
  l.area.left = l.margin.left;
  l.area.top = l.margin.top;
  l.area.right = std::max(l.area.left, w - l.margin.right);
  l.area.bottom = std::max(l.area.top, h - l.margin.bottom);
  return l;
}

uint32_t FirstTickDelay(int index, int count, int intervalSeconds, uint32_t startDelay) {
  if (count <= 1 || index <= 0 || intervalSeconds <= 0) return startDelay;
  // Interval is at most a few minutes in any sane file; the clamp only keeps
  // absurd values from overflowing the timer's delay.
  const int64_t step = std::min<int64_t>(intervalSeconds, 3600) * 1000 / count;
  return startDelay + static_cast<uint32_t>(step * std::min(index, count - 1));
}

PictureShape ShapeOf(int width, int height) {
  if (width <= 0 || height <= 0) return PictureShape::Undecodable;
  return height > width ? PictureShape::Portrait : PictureShape::Landscape;
}

std::vector<ShapeWish> WishesFor(const std::vector<IntRect>& monitors) {
  bool portrait = false, landscape = false;
  for (const IntRect& r : monitors) (r.Height() > r.Width() ? portrait : landscape) = true;
  std::vector<ShapeWish> wishes;
  for (const IntRect& r : monitors) {
    if (!(portrait && landscape))
      wishes.push_back(ShapeWish::Any);
    else
      wishes.push_back(r.Height() > r.Width() ? ShapeWish::Portrait : ShapeWish::Landscape);
  }
  return wishes;
}

PictureRouter::PictureRouter(int count, int monitors, int probeLimit)
    : count_(std::max(count, 0)),
      probe_limit_(std::max(probeLimit, 0)),
      shapes_(static_cast<size_t>(count_), PictureShape::Unknown),
      is_waiting_(static_cast<size_t>(count_), false),
      showing_(static_cast<size_t>(std::max(monitors, 1)), -1),
      leaving_(showing_.size(), -1),
      pick_probes_(showing_.size(), 0) {}

void PictureRouter::SetMonitorCount(int monitors) {
  const size_t n = static_cast<size_t>(std::max(monitors, 1));
  showing_.resize(n, -1);
  leaving_.resize(n, -1);
  pick_probes_.resize(n, 0);
  for (size_t m = 1; m < n; ++m) showing_[m] = leaving_[m] = -1;
}

void PictureRouter::Shown(int monitor) {
  if (monitor >= 0 && monitor < static_cast<int>(leaving_.size()))
    leaving_[static_cast<size_t>(monitor)] = -1;
}

int PictureRouter::Showing(int monitor) const {
  return monitor >= 0 && monitor < static_cast<int>(showing_.size())
             ? showing_[static_cast<size_t>(monitor)]
             : -1;
}

PictureShape PictureRouter::KnownShape(int index) const {
  return index >= 0 && index < count_ ? shapes_[static_cast<size_t>(index)] : PictureShape::Unknown;
}

bool PictureRouter::OnOtherMonitor(int index, int monitor) const {
  for (size_t m = 0; m < showing_.size(); ++m)
    if (static_cast<int>(m) != monitor && (showing_[m] == index || leaving_[m] == index))
      return true;
  return false;
}

bool PictureRouter::Suits(PictureShape shape, ShapeWish wish) const {
  switch (wish) {
    case ShapeWish::Any:
      return true;
    case ShapeWish::Landscape:
      return shape == PictureShape::Landscape;
    case ShapeWish::Portrait:
      return shape == PictureShape::Portrait;
  }
  return false;
}

int PictureRouter::Take(int monitor, ShapeWish wish, const Probe& probe) {
  if (count_ == 0) return -1;
  if (monitor < 0) monitor = 0;
  if (monitor >= static_cast<int>(showing_.size())) {
    showing_.resize(static_cast<size_t>(monitor) + 1, -1);
    leaving_.resize(showing_.size(), -1);
    pick_probes_.resize(showing_.size(), 0);
  }

  // The candidates in order: the waiting entries, then the round from the
  // cursor on. Nothing changes until one is chosen.
  struct Candidate {
    int index;
    bool waiting;
  };
  std::vector<Candidate> seen;
  int chosen = -1, fallback = -1;
  int probes = pick_probes_[static_cast<size_t>(monitor)];
  bool stopped = false, pending = false;
  auto consider = [&](int index, bool waiting) {
    seen.push_back({index, waiting});
    const int at = static_cast<int>(seen.size()) - 1;
    if (OnOtherMonitor(index, monitor)) return;
    if (fallback < 0) fallback = at;
    PictureShape& shape = shapes_[static_cast<size_t>(index)];
    if (wish != ShapeWish::Any && shape == PictureShape::Unknown) {
      if (probes >= probe_limit_ || !probe) {
        stopped = true;
        return;
      }
      const PictureShape told = probe(index);
      if (told == PictureShape::Pending) {
        pending = stopped = true;
        return;
      }
      ++probes;
      shape = told == PictureShape::Unknown ? PictureShape::Undecodable : told;
    }
    if (Suits(shape, wish)) chosen = at;
  };
  for (int index : waiting_) {
    consider(index, true);
    if (chosen >= 0 || stopped) break;
  }
  for (int step = 0; chosen < 0 && !stopped && step < count_; ++step) {
    const int index = (cursor_ + step) % count_;
    if (is_waiting_[static_cast<size_t>(index)]) continue;
    consider(index, false);
  }
  if (pending) {
    pick_probes_[static_cast<size_t>(monitor)] = probes;
    return kPending;
  }
  pick_probes_[static_cast<size_t>(monitor)] = 0;
  if (chosen < 0) chosen = fallback >= 0 ? fallback : 0;

  const Candidate pick = seen[static_cast<size_t>(chosen)];
  if (pick.waiting) {
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), pick.index));
    is_waiting_[static_cast<size_t>(pick.index)] = false;
  } else {
    // Entries of the round passed over on the way wait for another monitor.
    for (int i = 0; i < chosen; ++i) {
      const Candidate& c = seen[static_cast<size_t>(i)];
      if (c.waiting) continue;
      waiting_.push_back(c.index);
      is_waiting_[static_cast<size_t>(c.index)] = true;
    }
    cursor_ = (pick.index + 1) % count_;
  }
  leaving_[static_cast<size_t>(monitor)] = showing_[static_cast<size_t>(monitor)];
  showing_[static_cast<size_t>(monitor)] = pick.index;
  return pick.index;
}

}  // namespace orv
