// The screen-saver window of run and preview mode. In run mode it covers
// the primary monitor, stays on top, hides the cursor and steps the display
// cycle over the stored picture list; it also makes one window of its own
// kind for every other monitor, which it leads: they share its settings,
// picture list, caption rows, plug-ins and exit rules, and each has its own
// layout, caption, picture surface and cycle. In preview mode it fills the
// small window of the display-properties page with the background and the
// name. Every picture comes from a decoder process of the window's own,
// asked ahead of its turn; the window never waits for it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "decoder/DecoderClientWin32.h"
#include "settings/ApplicationIniFile.h"
#include "slideshow/DisplayCycle.h"
#include "slideshow/FramePlan.h"
#include "slideshow/FrameRendererWin32.h"
#include "slideshow/Layout.h"
#include "slideshow/MMTimer.h"
#include "slideshow/MonitorPlan.h"
#include "slideshow/Pboxex.h"
#include "slideshow/Random.h"
#include "slideshow/ShadoLbl.h"
#include "toolkit/Forms.h"

namespace orv {

class TPrimaryWindow : public tk::TForm, private ICycleActions {
 public:
  // parentHandle: the preview parent, or nullptr in run mode.
  TPrimaryWindow(HWND parentHandle, SettingsFactory settingsFactory);
  // Run mode: the window of another monitor, made and owned by `lead`.
  // `slot` is its place in the monitor order (the lead is 0); `pictures`
  // false makes it show the background only.
  TPrimaryWindow(TPrimaryWindow& lead, const MonitorInfo& monitor, int slot, bool pictures);
  ~TPrimaryWindow() override;

  // Controls, in creation (z-) order.
  tk::TImage PrimaryBGImage{this};
  tk::TShape TopShape{this};
  tk::TShape LeftShape{this};
  tk::TShape BottomShape{this};
  tk::TShape RightShape{this};
  TPaintBoxEx PicturePaintBoxEx{this};
  TShadowLabel TextLabel{this};
  TMMTimer DrawIntervalTimer;

  bool ExitArmed = false;
  bool KeyDownExit = false;
  bool MouseMoveExit = false;
  bool MouseClickExit = false;

  // Observable state for tests and diagnostics.
  TApplicationIniFile* Settings() { return Lead().settings_.get(); }
  // The windows of the other monitors, in monitor order after this one.
  size_t MonitorWindowCount() const { return others_.size(); }
  TPrimaryWindow& MonitorWindow(size_t i) { return *others_[i]; }
  const MonitorInfo& Monitor() const { return monitor_; }
  bool ShowsPictures() const { return pictures_; }
  // The file-list entry this window took last (-1 before its first).
  int ShownIndex() const { return shown_index_; }
  // Pictures loaded by every window of the show together.
  int AllPicturesLoaded() const { return Lead().all_loaded_; }
  const tk::TStringList& FileList() const;
  int PictureIndex() const { return picture_index_; }
  int TextRowIndex() const { return text_row_index_; }
  const std::string& CaptionText() const { return caption_text_; }
  const tk::TBitmap* PictureBitmap() const { return picture_bitmap_.get(); }
  int PicturesLoaded() const { return pictures_loaded_; }
  CycleState State() const { return static_cast<CycleState>(DrawIntervalTimer.Tag); }
  const CLayout& Layout() const { return layout_; }
  // Fixes the generator's seed before the show starts (tests).
  void SeedRandom(uint32_t seed) {
    random_.Seed(seed);
    seeded_ = true;
  }

  // Raised after each picture of the list has been loaded (diagnostics);
  // the lead's hears every window's, with that window as sender.
  std::function<void(TPrimaryWindow* sender)> OnPictureLoaded;
  // Raised by this window's show step (true) and hide steps (false)
  // (diagnostics and tests).
  std::function<void(TPrimaryWindow* sender, bool shown)> OnPictureShown;

  // Message the lead posts itself when the monitors changed.
  static constexpr UINT kMonitorsChangedMessage = WM_APP + 18;
  // The pacer's message to the lead: draw the next frame of every window.
  static constexpr UINT kFrameMessage = WM_APP + 19;

  // Whether this window draws its frames with Direct2D: transitions are on
  // and Direct2D could be had. Otherwise it paints as it always has.
  bool DrawsFrames() const { return frames_ != nullptr; }
  // Set on the lead before the show starts (tests): every frame any window
  // draws is drawn once more into memory and handed here, with the frame
  // clock's time (ms).
  std::function<void(TPrimaryWindow* sender, const std::vector<uint32_t>& pixels, int width,
                     int height, double ms)>
      OnFrameDrawn;

  // What every window's decoder is told: the extension list and the
  // plug-in files of the show, in the order they are asked.
  const DecodeSetup& DecoderSetup() const { return Lead().decoder_setup_; }
  // This window's decoder, null before the show asked it anything.
  const TDecoderClient* Decoder() const { return decoder_.get(); }
  // The list entry decoded and waiting for its turn, -1 when none.
  int NextReadyIndex() const { return next_index_; }

  void DrawIntervalTimerTimer(TMMTimer* sender);
  void StartShow();
  // Puts the next picture in place when the decoder has it; false when
  // it has not yet (nothing changes).
  bool NextPicture();

 protected:
  const char* ClassName() const override { return "TPrimaryWindow"; }
  void CreateParams(tk::TCreateParams& params) override;
  void FormCreate() override;
  void FormDestroy() override;
  void FormPaint() override;
  bool FormClose() override;
  void FormKeyDown(WORD key) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool Preview() const { return parent_handle_ != nullptr; }
  void Init();
  TPrimaryWindow& Lead() { return lead_ ? *lead_ : *this; }
  const TPrimaryWindow& Lead() const { return lead_ ? *lead_ : *this; }
  void PrepareShow();
  void CreateMonitorWindows(const std::vector<MonitorInfo>& monitors);
  void MonitorsChanged();
  void DpiChanged(int dpi);
  void PlaceOnMonitor();
  void ApplyMargin();
  void ApplyCaptionFont();
  void FormMouseMove(int screenX, int screenY);
  void FormClick();
  void ArrangeForPicture();
  // Ends the show at once: every window's decoder is ended with its job,
  // whatever it is doing.
  void EndShow();
  void MakeDecoderSetup();
  // Asks for the background at this window's size; it is put up when the
  // decoder has it.
  void LoadBackground();
  // Takes what the decoder answered and asks the next thing this window
  // needs; never waits. Runs on every tick and, while a request is out, on
  // a short window timer.
  void PumpDecoder();
  bool AskNext();
  bool AskPicture();
  bool Ask(DecodeMessage kind, int index, const std::string& path, int width, int height);
  void TakeAnswer(const DecodeAnswer* answer, std::unique_ptr<DecodedDib> dib);
  void PutBackground(std::unique_ptr<DecodedDib> dib, const DecodeAnswer& answer);
  void SetPolling(bool on);
  // Frames: the window's scene after a change of the cycle becomes a new
  // slide, which fades in over the one before; the pacer then wakes the
  // lead once a refresh while any window's frames move.
  void StartFrames();
  void BeginSlide();
  void DrawFrame();
  void DrawFrames();
  void KeepFramesMoving(bool moving);

  // ICycleActions
  void HideLayout() override;
  void ShowLayout() override;
  void SetBackgroundVisible(bool visible) override;
  bool BackgroundEnabled() const override;
  bool LoadNextPicture() override;
  bool NextPictureReady() override;
  void ArmExit() override;

  HWND parent_handle_;
  // The primary window for the others; null in the primary (and preview).
  TPrimaryWindow* lead_ = nullptr;
  std::vector<std::unique_ptr<TPrimaryWindow>> others_;
  MonitorInfo monitor_;
  int slot_ = 0;
  bool pictures_ = true;
  ShapeWish wish_ = ShapeWish::Any;
  int shown_index_ = -1;
  // Lead only: the shared part of the show.
  bool prepared_ = false;
  std::unique_ptr<PictureRouter> router_;
  int all_loaded_ = 0;
  // The own size of the picture shown (its bitmap may be smaller).
  PictureSize picture_size_;
  // Lead only: what every window's decoder is set up with.
  DecodeSetup decoder_setup_;
  // This window's decoder and the one request it has out.
  std::unique_ptr<TDecoderClient> decoder_;
  enum class Asked { kNothing, kShape, kOwnSize, kPicture, kBackground };
  Asked asked_ = Asked::kNothing;
  int asked_index_ = -1;
  // The entry chosen to show next, while it is measured or decoded.
  int chosen_index_ = -1;
  // The last size learnt by a measure, for the entry it was of: the
  // router's probe, and the box of a picture shown at its own size.
  int measured_index_ = -1;
  PictureSize measured_size_;
  bool measured_ok_ = false;
  // The next picture, decoded ahead of its turn (an empty bitmap when it
  // did not decode); next_index_ is -1 while there is none.
  std::unique_ptr<tk::TBitmap> next_bitmap_;
  PictureSize next_size_;
  int next_index_ = -1;
  bool background_wanted_ = false;
  bool polling_ = false;
  SettingsFactory settings_factory_;
  std::unique_ptr<TApplicationIniFile> settings_;
  tk::TStringList text_rows_;
  std::string caption_text_;
  std::unique_ptr<tk::TBitmap> picture_bitmap_;
  int text_row_index_ = 0;
  int picture_index_ = 0;
  bool side_chosen_ = false;
  bool show_started_ = false;
  int pictures_loaded_ = 0;
  TRandom random_;
  bool seeded_ = false;
  // One generator per show: the lead's.
  TRandom& rng_;
  CLayout layout_{rng_};
  DisplayCycle cycle_{*this, rng_};
  // Where the cursor was when input was armed: only real movement ends the
  // show, not the moves the system synthesises when windows change.
  POINT armed_cursor_ = {-1, -1};
  // This window's frames; all null when it paints itself through GDI.
  std::unique_ptr<TFrameRenderer> frames_;
  std::unique_ptr<TTransitionPlayer> player_;
  // Lead only: one pacer for every window.
  std::unique_ptr<TFramePacer> pacer_;
  // The cycle changed what the window shows since the last slide.
  bool scene_changed_ = false;
  bool frames_moving_ = false;
  bool armed_cursor_known_ = false;
};

}  // namespace orv
