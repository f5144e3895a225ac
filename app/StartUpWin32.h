// The first steps of the module, before any window exists: the DPI
// awareness each mode's windows are made with, the common controls, the
// application window.
#pragma once

#include <functional>

#include "app/RunMode.h"
#include "toolkit/Forms.h"

namespace orv {

// The awareness the calling thread's windows get. The process default
// comes from the manifest (per-monitor v2 where Windows has it, system
// awareness before), which Windows applies before the first instruction
// runs: the show is sharp on every monitor. The settings dialog is laid out
// once for the system DPI and stays system aware on its own thread; the
// preview stays unaware, as it always was, inside a window of another
// process.
enum class ThreadDpi { ProcessDefault, SystemAware, Unaware };
ThreadDpi ThreadDpiFor(RunMode mode);

// Puts `dpi` in force for the calling thread (SetThreadDpiAwarenessContext,
// Windows 10 1607 and later; earlier systems keep the process default).
// Windows documents that a thread's windows keep the awareness they were
// made with, so this must come before the thread's first window.
void EnterThreadDpi(ThreadDpi dpi);
// Tests replace the system call to see when and with what it is made;
// null restores it.
void UseThreadDpiSetter(std::function<void(ThreadDpi)> setter);

// Everything the module does before its first window, in the only order
// that works: the thread's awareness, then the common controls (whose
// windows and message boxes take it), then the application window.
void StartUp(RunMode mode, tk::TApplication& app, const char* title);

}  // namespace orv
