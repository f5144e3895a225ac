// A guard for calls into outside code (Susie plug-ins): a hardware fault
// inside it (an access violation, a division by zero, an illegal
// instruction...) ends the call instead of the process.
//
// The guard works with a vectored exception handler, so that it also holds
// where a window procedure or the system's dispatcher sits between the
// fault and us. It sees a fault first, before the outside code's own
// handlers: code that provokes faults on purpose and catches them itself is
// treated as faulting.
#pragma once

#include <type_traits>

namespace orv {

enum class GuardKind {
  // A fault abandons the call: execution goes on after CallGuarded, which
  // returns false. The body must hold nothing that needs a destructor and
  // must not throw: the frames between the fault and the guard are dropped.
  kAbandon,
  // The system loader runs the code (LoadLibrary, FreeLibrary: DllMain)
  // with its lock held and handles a fault there itself; abandoning its
  // frames would leave that lock taken. The fault is only noted, and
  // CallGuarded returns false once the call is back.
  kNoteOnly,
};

// Runs body(context). True when it ran without a hardware fault.
bool CallGuarded(void (*body)(void*), void* context, GuardKind kind = GuardKind::kAbandon) noexcept;

template <typename F>
bool Guarded(F&& f, GuardKind kind = GuardKind::kAbandon) noexcept {
  using Fn = std::remove_reference_t<F>;
  return CallGuarded([](void* c) { (*static_cast<Fn*>(c))(); }, &f, kind);
}

// From here on every guard just runs its body, and no vectored handler is
// installed: for the decoder process, which its saver may lose. A plug-in
// that provokes and catches a fault of its own (IsBadReadPtr, its own
// exception handling) then gets to catch it; one that does not ends the
// process, and its saver reports the picture.
void TurnFaultGuardsOff() noexcept;

// How many faults the guards of this process have caught (diagnostics and
// tests).
int GuardedFaultCount() noexcept;

}  // namespace orv
