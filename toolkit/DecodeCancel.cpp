#include "toolkit/DecodeCancel.h"

#include "toolkit/Exceptions.h"

namespace tk {

namespace {
thread_local TDecodeCancel* t_current = nullptr;
}  // namespace

bool TDecodeCancel::Requested() noexcept {
  if (Raised()) return true;
  if (Poll) {
    try {
      if (Poll()) Raise();
    } catch (...) {
      // A poll that fails asks for nothing.
    }
  }
  return Raised();
}

ScopedDecodeCancel::ScopedDecodeCancel(TDecodeCancel* cancel) : previous_(t_current) {
  if (cancel) t_current = cancel;
}

ScopedDecodeCancel::~ScopedDecodeCancel() { t_current = previous_; }

bool DecodeCancelled() noexcept { return t_current && t_current->Requested(); }

void CheckDecodeCancelled() {
  if (DecodeCancelled()) Abort();
}

}  // namespace tk
