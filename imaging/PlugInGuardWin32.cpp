#include "imaging/PlugInGuardWin32.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace orv {

namespace {

struct GuardFrame {
  void* jump[5];  // __builtin_setjmp's buffer
  void* stack;    // the stack pointer just before the body was called
  // The exception list at the head of the thread's information block as it
  // was at entry: the structured-exception chain of a 32-bit thread. A
  // 64-bit Windows dispatches by tables and leaves it alone, but Wine keeps
  // the frames of its own guarded blocks there in either build, and a fault
  // inside one (GlobalLock on a bad handle) abandons that frame with the
  // rest.
  void* sehHead;
  GuardKind kind;
  bool faulted;
  GuardFrame* outer;
};

// The innermost guard of each thread. A system TLS slot rather than
// thread_local: the handler runs on whatever thread faults, and emulated
// thread-locals may allocate on a thread's first use, possibly while the
// fault holds the heap's lock.
DWORD g_slot = TLS_OUT_OF_INDEXES;
std::atomic<int> g_faults{0};

GuardFrame* CurrentFrame() {
  return g_slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<GuardFrame*>(TlsGetValue(g_slot));
}

bool IsHardwareFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case 0xC00002B4:  // STATUS_FLOAT_MULTIPLE_FAULTS
    case 0xC00002B5:  // STATUS_FLOAT_MULTIPLE_TRAPS
      return true;
    default:
      // Software exceptions (a C++ or Delphi raise) are the outside code's
      // own business: it may well catch them itself.
      return false;
  }
}

// Entered instead of the faulting instruction, once the system has finished
// dispatching the fault: back to the guard's setjmp.
[[noreturn]] __attribute__((noinline)) void Recover() {
  __builtin_longjmp(CurrentFrame()->jump, 1);
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* ep) {
  GuardFrame* f = CurrentFrame();
  if (!f || !IsHardwareFault(ep->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  f->faulted = true;
  g_faults.fetch_add(1);
  if (f->kind == GuardKind::kNoteOnly) return EXCEPTION_CONTINUE_SEARCH;
  // Resume in Recover on the guard's own part of the stack (the outside
  // code's stack pointer may be anything by now), as if it had been
  // called there: aligned to 16 before the return address.
  const uintptr_t sp =
      ((reinterpret_cast<uintptr_t>(f->stack) - 512) & ~uintptr_t(15)) - sizeof(void*);
  CONTEXT* c = ep->ContextRecord;
#if defined(__i386__)
  c->Esp = static_cast<DWORD>(sp);
  c->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(&Recover));
#elif defined(__x86_64__)
  c->Rsp = sp;
  c->Rip = reinterpret_cast<DWORD64>(&Recover);
#else
#error "CallGuarded knows the x86 and x86-64 contexts only"
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Once per process, on the first guarded call.
bool InstallHandler() {
  static const bool ready = [] {
    g_slot = TlsAlloc();
    return g_slot != TLS_OUT_OF_INDEXES && AddVectoredExceptionHandler(1, FaultHandler) != nullptr;
  }();
  return ready;
}

std::atomic<bool> g_guardsOff{false};

}  // namespace

void TurnFaultGuardsOff() noexcept { g_guardsOff = true; }

__attribute__((noinline)) bool CallGuarded(void (*body)(void*), void* context,
                                           GuardKind kind) noexcept {
  if (g_guardsOff || !InstallHandler()) {
    // Without the handler a fault ends the process, as it would anyway.
    body(context);
    return true;
  }
  GuardFrame frame;
  frame.kind = kind;
  frame.faulted = false;
  frame.outer = CurrentFrame();
#ifdef __i386__
  __asm__ volatile("movl %%fs:0, %0" : "=r"(frame.sehHead));
  __asm__ volatile("movl %%esp, %0" : "=r"(frame.stack));
#else
  __asm__ volatile("movq %%gs:0, %0" : "=r"(frame.sehHead));
  __asm__ volatile("movq %%rsp, %0" : "=r"(frame.stack));
#endif
  TlsSetValue(g_slot, &frame);
  if (__builtin_setjmp(frame.jump) == 0) {
    body(context);
    TlsSetValue(g_slot, frame.outer);
    return !frame.faulted;
  }
  // Back from a fault. The frames below are gone: so are the handlers the
  // outside code (or the system code it called) registered in them, and
  // whatever it left on the x87 stack.
#ifdef __i386__
  __asm__ volatile("movl %0, %%fs:0" : : "r"(frame.sehHead) : "memory");
#else
  __asm__ volatile("movq %0, %%gs:0" : : "r"(frame.sehHead) : "memory");
#endif
  __asm__ volatile("fninit");
  TlsSetValue(g_slot, frame.outer);
  return false;
}

int GuardedFaultCount() noexcept { return g_faults.load(); }

}  // namespace orv
