#include "slideshow/FrameRendererWin32.h"

#include <d2d1.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>

namespace orv {

namespace {

// Direct2D's answer when the card's surface is gone (a driver update, a
// device removed): everything made on it has to be made again.
constexpr HRESULT kRecreateTarget = static_cast<HRESULT>(0x8899000CL);

// The DLL is loaded on first use rather than linked: a Windows without it
// (or one where it will not load) still runs the show, without fades.
ID2D1Factory* Factory() {
  static ID2D1Factory* factory = [] {
    ID2D1Factory* f = nullptr;
    HMODULE dll = LoadLibraryA("d2d1.dll");
    if (!dll) return f;
    using Create = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);
    const auto create = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(dll, "D2D1CreateFactory")));
    if (!create) return f;
    D2D1_FACTORY_OPTIONS options = {D2D1_DEBUG_LEVEL_NONE};
    void* made = nullptr;
    // Single-threaded: every frame is drawn on the user-interface thread.
    if (SUCCEEDED(create(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), &options,
                         &made)))
      f = static_cast<ID2D1Factory*>(made);
    return f;
  }();
  return factory;
}

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

D2D1_RENDER_TARGET_PROPERTIES TargetProperties(D2D1_RENDER_TARGET_TYPE type) {
  D2D1_RENDER_TARGET_PROPERTIES p = {};
  p.type = type;
  p.pixelFormat.format = DXGI_FORMAT_B8G8R8A8_UNORM;
  p.pixelFormat.alphaMode = D2D1_ALPHA_MODE_PREMULTIPLIED;
  // One unit is one pixel whatever the monitor's scale: the layout works
  // in pixels of the window's own monitor.
  p.dpiX = p.dpiY = 96;
  p.usage = D2D1_RENDER_TARGET_USAGE_NONE;
  p.minLevel = D2D1_FEATURE_LEVEL_DEFAULT;
  return p;
}

ID2D1Bitmap* MakeBitmap(ID2D1RenderTarget* target, const tk::TBitmap& source) {
  std::vector<uint32_t> pixels;
  if (!target || !TopDownBgrx(source, pixels)) return nullptr;
  D2D1_BITMAP_PROPERTIES props = {};
  props.pixelFormat.format = DXGI_FORMAT_B8G8R8A8_UNORM;
  props.pixelFormat.alphaMode = D2D1_ALPHA_MODE_IGNORE;
  props.dpiX = props.dpiY = 96;
  const D2D1_SIZE_U size = {static_cast<UINT32>(source.Width()),
                            static_cast<UINT32>(source.Height())};
  ID2D1Bitmap* bitmap = nullptr;
  if (FAILED(target->CreateBitmap(size, pixels.data(), size.width * 4, &props, &bitmap)))
    return nullptr;
  return bitmap;
}

D2D1_RECT_F ToD2D(const RectF& r) {
  return D2D1_RECT_F{static_cast<FLOAT>(r.left), static_cast<FLOAT>(r.top),
                     static_cast<FLOAT>(r.right), static_cast<FLOAT>(r.bottom)};
}

}  // namespace

std::unique_ptr<TFrameRenderer> TFrameRenderer::ForWindow(HWND window, bool mirrored) {
  if (!window || !Factory()) return nullptr;
  std::unique_ptr<TFrameRenderer> r(new TFrameRenderer());
  r->window_ = window;
  RECT client = {};
  GetClientRect(window, &client);
  r->width_ = client.right;
  r->height_ = client.bottom;
  if (!r->MakeTarget()) return nullptr;
  if (mirrored) r->mirror_ = InMemory(r->width_, r->height_);
  return r;
}

std::unique_ptr<TFrameRenderer> TFrameRenderer::InMemory(int width, int height) {
  if (width <= 0 || height <= 0 || !Factory()) return nullptr;
  // The imaging component's class: the SDK's import library that names it
  // is not one we link.
  static const CLSID kWicFactory = {
      0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
  static const GUID kPremultipliedBgra = {
      0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IWICImagingFactory* wic = nullptr;
  if (FAILED(CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(IWICImagingFactory), reinterpret_cast<void**>(&wic))))
    return nullptr;
  std::unique_ptr<TFrameRenderer> r(new TFrameRenderer());
  r->width_ = width;
  r->height_ = height;
  const HRESULT made = wic->CreateBitmap(static_cast<UINT>(width), static_cast<UINT>(height),
                                         kPremultipliedBgra, WICBitmapCacheOnLoad, &r->memory_);
  wic->Release();
  if (FAILED(made) || !r->MakeTarget()) return nullptr;
  return r;
}

TFrameRenderer::~TFrameRenderer() {
  ReleaseTarget();
  Release(memory_);
}

bool TFrameRenderer::MakeTarget() {
  if (target_) return true;
  ID2D1Factory* f = Factory();
  if (!f || width_ <= 0 || height_ <= 0) return false;
  if (memory_) {
    const D2D1_RENDER_TARGET_PROPERTIES p = TargetProperties(D2D1_RENDER_TARGET_TYPE_SOFTWARE);
    if (FAILED(f->CreateWicBitmapRenderTarget(memory_, &p, &target_))) target_ = nullptr;
    hardware_ = false;
    return target_ != nullptr;
  }
  D2D1_HWND_RENDER_TARGET_PROPERTIES hp = {};
  hp.hwnd = window_;
  hp.pixelSize = D2D1_SIZE_U{static_cast<UINT32>(width_), static_cast<UINT32>(height_)};
  // The pacer waits for the display's refresh once for every window
  // together; a target that waited too would halve the rate of two.
  hp.presentOptions = D2D1_PRESENT_OPTIONS_IMMEDIATELY;
  for (D2D1_RENDER_TARGET_TYPE type :
       {D2D1_RENDER_TARGET_TYPE_HARDWARE, D2D1_RENDER_TARGET_TYPE_SOFTWARE}) {
    const D2D1_RENDER_TARGET_PROPERTIES p = TargetProperties(type);
    if (SUCCEEDED(f->CreateHwndRenderTarget(&p, &hp, &hwnd_target_))) {
      hardware_ = type == D2D1_RENDER_TARGET_TYPE_HARDWARE;
      target_ = hwnd_target_;
      target_->AddRef();
      return true;
    }
    hwnd_target_ = nullptr;
  }
  return false;
}

void TFrameRenderer::ReleaseTarget() {
  for (Slot& s : slots_) {
    Release(s.scene);
    Release(s.picture);
  }
  Release(hwnd_target_);
  Release(target_);
}

bool TFrameRenderer::SetSlide(int slot, const tk::TBitmap& scene, const tk::TBitmap* picture) {
  if (slot < 0 || slot > 1) return false;
  DropSlide(slot);
  if (mirror_) mirror_->SetSlide(slot, scene, picture);
  if (!MakeTarget()) return false;
  Slot& s = slots_[slot];
  s.scene = MakeBitmap(target_, scene);
  if (picture) s.picture = MakeBitmap(target_, *picture);
  if (!s.scene || (picture && !s.picture)) {
    DropSlide(slot);
    return false;
  }
  return true;
}

void TFrameRenderer::DropSlide(int slot) {
  if (slot < 0 || slot > 1) return;
  // The mirror's slot goes with this one's.
  if (mirror_) mirror_->DropSlide(slot);
  Release(slots_[slot].scene);
  Release(slots_[slot].picture);
}

void TFrameRenderer::Resize(int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  if (mirror_) mirror_ = InMemory(width, height);
  if (hwnd_target_ && width > 0 && height > 0) {
    const D2D1_SIZE_U size = {static_cast<UINT32>(width), static_cast<UINT32>(height)};
    if (SUCCEEDED(hwnd_target_->Resize(&size))) return;
  }
  ReleaseTarget();
}

void TFrameRenderer::DrawLayer(const FrameLayer& layer) {
  const Slot& s = slots_[layer.slot];
  if (!s.scene) return;
  const FLOAT opacity = static_cast<FLOAT>(std::clamp(layer.opacity, 0.0, 1.0));
  const FLOAT w = static_cast<FLOAT>(width_), h = static_cast<FLOAT>(height_);
  if (!layer.picture || !s.picture) {
    const D2D1_RECT_F all = {0, 0, w, h};
    target_->DrawBitmap(s.scene, &all, opacity, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR,
                        &all);
    return;
  }
  // The scene around the picture's place, in four bands, and the picture
  // in it: the parts never overlap, so a slide drawn half opaque is half
  // of itself over what is under it, inside its place as outside.
  const D2D1_RECT_F place = ToD2D(layer.place);
  const D2D1_RECT_F bands[] = {
      {0, 0, w, place.top},
      {0, place.bottom, w, h},
      {0, place.top, place.left, place.bottom},
      {place.right, place.top, w, place.bottom},
  };
  for (const D2D1_RECT_F& b : bands) {
    if (b.right <= b.left || b.bottom <= b.top) continue;
    target_->DrawBitmap(s.scene, &b, opacity, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, &b);
  }
  // Linear filtering of a sub-pixel source: the slow pan moves by
  // fractions of a pixel without stepping.
  const D2D1_RECT_F source = ToD2D(layer.source);
  target_->DrawBitmap(s.picture, &place, opacity, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                      &source);
}

bool TFrameRenderer::Draw(const FramePlan& plan, COLORREF background) {
  if (mirror_) mirror_->Draw(plan, background);
  if (!MakeTarget()) return false;
  // Nothing to show that Windows could not paint itself.
  if (hwnd_target_ && (hwnd_target_->CheckWindowState() & D2D1_WINDOW_STATE_OCCLUDED)) return true;
  target_->BeginDraw();
  const D2D1_COLOR_F colour = {GetRValue(background) / 255.0f, GetGValue(background) / 255.0f,
                               GetBValue(background) / 255.0f, 1.0f};
  target_->Clear(&colour);
  for (int i = 0; i < plan.count; ++i) DrawLayer(plan.layers[i]);
  const HRESULT hr = target_->EndDraw(nullptr, nullptr);
  if (hr == kRecreateTarget) {
    ReleaseTarget();
    return false;
  }
  return true;
}

bool TFrameRenderer::ReadMirror(std::vector<uint32_t>& pixels, int& width, int& height) const {
  return mirror_ && mirror_->ReadPixels(pixels, width, height);
}

bool TFrameRenderer::ReadPixels(std::vector<uint32_t>& pixels, int& width, int& height) const {
  if (!memory_) return false;
  const WICRect all = {0, 0, width_, height_};
  IWICBitmapLock* lock = nullptr;
  if (FAILED(memory_->Lock(&all, WICBitmapLockRead, &lock))) return false;
  UINT stride = 0, size = 0;
  BYTE* data = nullptr;
  const bool ok = SUCCEEDED(lock->GetStride(&stride)) &&
                  SUCCEEDED(lock->GetDataPointer(&size, &data)) && data &&
                  stride >= UINT(width_) * 4 && size >= stride * UINT(height_ - 1) + width_ * 4;
  if (ok) {
    pixels.resize(size_t(width_) * size_t(height_));
    for (int y = 0; y < height_; ++y)
      std::copy_n(reinterpret_cast<const uint32_t*>(data + size_t(y) * stride), width_,
                  pixels.data() + size_t(y) * size_t(width_));
    width = width_;
    height = height_;
  }
  lock->Release();
  return ok;
}

// ---------------------------------------------------------------------------

struct TFramePacer::Shared {
  HWND window;
  UINT message;
  HANDLE wake;   // manual reset: set while running
  HANDLE taken;  // auto reset: the last message was handled
  std::atomic<bool> stop{false};
  HRESULT(WINAPI* flush)() = nullptr;
  DWORD periodMs = 16;
  ~Shared() {
    if (wake) CloseHandle(wake);
    if (taken) CloseHandle(taken);
  }
};

namespace {

DWORD RefreshPeriodMs() {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  // 0 and 1 mean the hardware's default rate.
  if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmDisplayFrequency > 1)
    return std::max<DWORD>(1, 1000 / mode.dmDisplayFrequency);
  return 16;
}

}  // namespace

TFramePacer::TFramePacer(HWND window, UINT message) : shared_(std::make_shared<Shared>()) {
  shared_->window = window;
  shared_->message = message;
  shared_->wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  shared_->taken = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  shared_->periodMs = RefreshPeriodMs();
  if (HMODULE dwm = LoadLibraryA("dwmapi.dll"))
    shared_->flush = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(dwm, "DwmFlush")));
  // The thread keeps the state alive: a thread still waiting on the
  // compositor when the window goes uses nothing that was freed.
  auto* own = new std::shared_ptr<Shared>(shared_);
  HANDLE thread =
      CreateThread(nullptr, 64 * 1024, &TFramePacer::Run,
      own, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread)
    CloseHandle(thread);
  else
    delete own;
}

TFramePacer::~TFramePacer() {
  shared_->stop.store(true);
  if (shared_->wake) SetEvent(shared_->wake);
  if (shared_->taken) SetEvent(shared_->taken);
  // The event is closed by whoever lets the state go last.
}

void TFramePacer::SetRunning(bool running) {
  if (running == running_ || !shared_->wake) return;
  running_ = running;
  if (running)
    SetEvent(shared_->wake);
  else
    ResetEvent(shared_->wake);
}

DWORD WINAPI TFramePacer::Run(void* p) {
  std::unique_ptr<std::shared_ptr<Shared>> holder(static_cast<std::shared_ptr<Shared>*>(p));
  Shared& s = **holder;
  const HANDLE both[] = {s.wake, s.taken};
  while (!s.stop.load()) {
    // Running, and the last frame drawn: the refresh is waited for only
    // after it, so between a frame and the next the queue is empty and
    // input is taken, however slowly frames are drawn.
    WaitForMultipleObjects(2, both, TRUE, INFINITE);
    if (s.stop.load()) break;
    const double start = FrameClockMs();
    // The compositor's next present is the display's refresh; where there
    // is no compositor (or it answers at once), a sleep of one refresh
    // period stands in.
    const bool flushed = s.flush && SUCCEEDED(s.flush()) && FrameClockMs() - start >= 2;
    if (!flushed) Sleep(s.periodMs);
    if (!s.stop.load() && !PostMessageA(s.window, s.message, 0, 0)) SetEvent(s.taken);
  }
  return 0;
}

void TFramePacer::Taken() {
  if (shared_->taken) SetEvent(shared_->taken);
}

double FrameClockMs() {
  static const double perMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / perMs;
}

}  // namespace orv
