// Where the show learns the desktop's monitors: one small function, so
// tests can hand it a desktop that Wine cannot make (monitors of different
// DPI, three of them, a changed set).
#pragma once

#include <functional>
#include <vector>

#include "slideshow/MonitorPlan.h"

namespace orv {

// The monitors as the system reports them (EnumDisplayMonitors), each with
// its effective DPI (GetDpiForMonitor where Windows has it, else the
// system's), in physical pixels of a per-monitor aware process.
std::vector<MonitorInfo> SystemMonitors();

// The monitors the show covers: SystemMonitors(), or what a test set.
std::vector<MonitorInfo> ListMonitors();

// Replaces the system's answer; an empty function puts it back.
using MonitorSource = std::function<std::vector<MonitorInfo>()>;
void SetMonitorSource(MonitorSource source);

}  // namespace orv
