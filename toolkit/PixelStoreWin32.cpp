// DIB-section storage of bitmap pixels: GDI can draw into the same memory
// the decoders write, so no copy is needed to put a picture on screen.
#include <windows.h>

#include <atomic>

#include "toolkit/Bitmap.h"
#include "toolkit/DibInfo.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Win32Handles.h"

namespace tk {

namespace {
void FillColors(RGBQUAD* out, const TPalEntry* pal, int n) {
  for (int i = 0; i < n; ++i) out[i] = RGBQUAD{pal[i].b, pal[i].g, pal[i].r, 0};
}
}  // namespace

void FillDibInfo(DibInfo& info, int width, int height, TPixelFormat pf,
                 const std::vector<TPalEntry>& palette) {
  const int bits = PixelFormatBits(pf);
  info = {};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bits);
  info.header.biCompression = BI_RGB;
  if (pf == TPixelFormat::pf16bit) {
    info.header.biCompression = BI_BITFIELDS;
    DWORD* masks = reinterpret_cast<DWORD*>(info.colors);
    masks[0] = 0xF800;
    masks[1] = 0x07E0;
    masks[2] = 0x001F;
  } else if (bits <= 8) {
    const int n = static_cast<int>(palette.size() > 256 ? 256 : palette.size());
    FillColors(info.colors, palette.data(), n);
    info.header.biClrUsed = 1u << bits;
  }
}

namespace {

class DibSectionStore : public PixelStore {
 public:
  DibSectionStore(int width, int height, TPixelFormat pf, const std::vector<TPalEntry>& palette) {
    const int bits = PixelFormatBits(pf);
    DibInfo info;
    FillDibInfo(info, width, height, pf, palette);
    void* bits_ptr = nullptr;
    handle_ = CreateDIBSection(nullptr, info.Get(), DIB_RGB_COLORS,
                               &bits_ptr, nullptr, 0);
    if (!handle_ || !bits_ptr) {
      if (handle_) DeleteObject(handle_);
      throw EOutOfResources("Out of system resources");
    }
    bits_ = static_cast<uint8_t*>(bits_ptr);
    bits_count_ = bits;
    CountGdiObject(1);
  }
  ~DibSectionStore() override {
    DeleteObject(handle_);
    CountGdiObject(-1);
  }

  void* Handle() const override { return handle_; }
  void Flush() const override { GdiFlush(); }

  void SetColorTable(const TPalEntry* pal, int n) override {
    if (bits_count_ > 8) return;
    RGBQUAD colors[256] = {};
    FillColors(colors, pal, n);
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, handle_);
    SetDIBColorTable(dc, 0, 1u << bits_count_, colors);
    SelectObject(dc, old);
    DeleteDC(dc);
  }

 private:
  HBITMAP handle_ = nullptr;
  int bits_count_ = 0;
};
}  // namespace

namespace {
std::atomic<long> g_live_gdi_objects{0};
}  // namespace

long LiveGdiObjects() { return g_live_gdi_objects.load(); }
void CountGdiObject(long delta) { g_live_gdi_objects += delta; }

std::unique_ptr<PixelStore> NewPixelStore(int width, int height, TPixelFormat pf,
                                          const std::vector<TPalEntry>& palette) {
  return std::make_unique<DibSectionStore>(width, height, pf, palette);
}

}  // namespace tk
