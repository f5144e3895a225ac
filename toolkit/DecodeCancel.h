// Lets a long decode end at once when the program must stop: the screen
// saver ends on a key press, and a big or slow picture must not keep it on
// screen until the decode is through.
//
// A TDecodeCancel is made current for one thread with ScopedDecodeCancel;
// the decoders on that thread (JPEG, PNG, BMP rows, the plug-ins' progress
// callback) ask DecodeCancelled() every few rows and give up quietly
// (tk::EAbort) when it is true.
#pragma once

#include <atomic>
#include <functional>

namespace tk {

class TDecodeCancel {
 public:
  // Any thread: the decode is to stop.
  void Raise() { raised_.store(true, std::memory_order_relaxed); }
  void Reset() { raised_.store(false, std::memory_order_relaxed); }
  bool Raised() const { return raised_.load(std::memory_order_relaxed); }

  // Asked while a decode runs, on the decoding thread: true raises the
  // token. The show looks here for input that will end it, which its
  // message loop cannot see while the decode holds the thread.
  std::function<bool()> Poll;

  // Raised, or the poll says so now.
  bool Requested() noexcept;

 private:
  std::atomic<bool> raised_{false};
};

// Makes `cancel` the current token of this thread for its lifetime (null
// keeps the current one); the previous one comes back after.
class ScopedDecodeCancel {
 public:
  explicit ScopedDecodeCancel(TDecodeCancel* cancel);
  ~ScopedDecodeCancel();
  ScopedDecodeCancel(const ScopedDecodeCancel&) = delete;
  ScopedDecodeCancel& operator=(const ScopedDecodeCancel&) = delete;

 private:
  TDecodeCancel* previous_;
};

// Whether the current token of this thread asks the decode to stop; false
// without one. Never raises.
bool DecodeCancelled() noexcept;
// Throws EAbort when DecodeCancelled().
void CheckDecodeCancelled();

}  // namespace tk
