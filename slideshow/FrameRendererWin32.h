// Draws a window's frames with Direct2D: each slide's scene and picture,
// blended and moved as a FramePlan says. One renderer per monitor's window,
// over a render target of its own on the graphics card (Direct2D's own
// software rasteriser where the card offers none). Direct2D is loaded when
// first asked for; where it cannot be had, no renderer is made and the
// window paints as it always has, without transitions.
//
// The pacer wakes the user-interface thread once per refresh of the
// display while frames move, by a posted message it posts again only a
// refresh after the last was handled, so input is never starved behind
// frames.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "slideshow/FramePlan.h"
#include "toolkit/Bitmap.h"

struct ID2D1RenderTarget;
struct ID2D1HwndRenderTarget;
struct ID2D1Bitmap;
struct IWICBitmap;

namespace orv {

class TFrameRenderer {
 public:
  // The renderer of a window, or null when Direct2D cannot draw into it.
  // `mirrored`: every slide and frame also goes to a copy in memory, read
  // back with ReadMirror (tests: GDI does not read what Direct2D drew).
  static std::unique_ptr<TFrameRenderer> ForWindow(HWND window, bool mirrored);
  ~TFrameRenderer();
  TFrameRenderer(const TFrameRenderer&) = delete;
  TFrameRenderer& operator=(const TFrameRenderer&) = delete;

  // Gives `slot` (0 or 1) a new slide: `scene` (the window's size: what it
  // shows around the picture, or everything when `picture` is null) and
  // the picture drawn on its own. False when the pixels could not be
  // handed to the card; the slot is then empty and draws nothing.
  bool SetSlide(int slot, const tk::TBitmap& scene, const tk::TBitmap* picture);
  void DropSlide(int slot);
  // Draws one frame over `background`. False when the card's surface was
  // lost: every slide is gone (the window makes them again), and the next
  // call makes a new surface.
  bool Draw(const FramePlan& plan, COLORREF background);
  // The window changed its size. A mirror is made anew at the new size,
  // without the slides: the window gives them again.
  void Resize(int width, int height);

  bool OnHardware() const { return hardware_; }
  // The mirror's last frame as top-down 32-bit pixels; false without one.
  bool ReadMirror(std::vector<uint32_t>& pixels, int& width, int& height) const;

 private:
  TFrameRenderer() = default;
  // A renderer into memory of `width` x `height` (software).
  static std::unique_ptr<TFrameRenderer> InMemory(int width, int height);
  bool ReadPixels(std::vector<uint32_t>& pixels, int& width, int& height) const;
  bool MakeTarget();
  void ReleaseTarget();
  void DrawLayer(const FrameLayer& layer);

  HWND window_ = nullptr;
  int width_ = 0, height_ = 0;
  bool hardware_ = false;
  ID2D1RenderTarget* target_ = nullptr;
  ID2D1HwndRenderTarget* hwnd_target_ = nullptr;
  IWICBitmap* memory_ = nullptr;
  std::unique_ptr<TFrameRenderer> mirror_;
  struct Slot {
    ID2D1Bitmap* scene = nullptr;
    ID2D1Bitmap* picture = nullptr;
  } slots_[2];
};

class TFramePacer {
 public:
  // Posts `message` to `window` once per display refresh while running.
  TFramePacer(HWND window, UINT message);
  ~TFramePacer();
  TFramePacer(const TFramePacer&) = delete;
  TFramePacer& operator=(const TFramePacer&) = delete;

  void SetRunning(bool running);
  bool Running() const { return running_; }
  // The user-interface thread drew the frame: the next may be posted.
  void Taken();

 private:
  struct Shared;
  static DWORD WINAPI Run(void* shared);
  std::shared_ptr<Shared> shared_;
  bool running_ = false;
};

// Milliseconds of a steady clock, sub-millisecond: the frames' time.
double FrameClockMs();

}  // namespace orv
