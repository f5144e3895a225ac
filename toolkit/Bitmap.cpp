#include "toolkit/Bitmap.h"

#include <cstring>

#include "toolkit/Exceptions.h"

namespace tk {

int PixelFormatBits(TPixelFormat pf) {
  switch (pf) {
    case TPixelFormat::pf1bit:
      return 1;
    case TPixelFormat::pf4bit:
      return 4;
    case TPixelFormat::pf8bit:
      return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
      return 16;
    case TPixelFormat::pf32bit:
      return 32;
    case TPixelFormat::pfDevice:
    case TPixelFormat::pf24bit:
    case TPixelFormat::pfCustom:
      return 24;
  }
  return 24;
}

int64_t RowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

void TBitmap::Reallocate(TPixelFormat pf, int width, int height) {
  if (width < 0 || height < 0) throw EInvalidGraphic("Invalid bitmap size");
  std::unique_ptr<PixelStore> store;
  if (width > 0 && height > 0) {
    const int64_t bytes = RowBytes(width, PixelFormatBits(pf)) * height;
    if (bytes > kMaxBitmapBytes) throw EOutOfResources("Out of system resources");
    store = NewPixelStore(width, height, pf, palette_);
  }
  store_ = std::move(store);
  format_ = pf;
  width_ = width;
  height_ = height;
}

void TBitmap::SetSize(int width, int height) { Reallocate(format_, width, height); }
void TBitmap::SetPixelFormat(TPixelFormat pf) { Reallocate(pf, width_, height_); }
void TBitmap::Allocate(TPixelFormat pf, int width, int height) { Reallocate(pf, width, height); }

void TBitmap::Clear() {
  store_.reset();
  width_ = height_ = 0;
  format_ = TPixelFormat::pf24bit;
  palette_.clear();
  transparent_ = false;
  transparent_color_ = 0;
}

void TBitmap::Adopt(std::unique_ptr<PixelStore> store, int width, int height, TPixelFormat pf) {
  Clear();
  if (!store || !store->Bits() || width <= 0 || height <= 0) return;
  store_ = std::move(store);
  width_ = width;
  height_ = height;
  format_ = pf;
}

void TBitmap::SetPalette(std::vector<TPalEntry> palette) {
  if (palette.size() > 256) palette.resize(256);
  palette_ = std::move(palette);
  if (store_) store_->SetColorTable(palette_.data(), static_cast<int>(palette_.size()));
}

uint8_t* TBitmap::ScanLine(int y) {
  return store_->Bits() + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(Stride());
}

const uint8_t* TBitmap::ScanLine(int y) const {
  return store_->Bits() + static_cast<size_t>(height_ - 1 - y) * static_cast<size_t>(Stride());
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  TBitmap copy;
  copy.palette_ = source.palette_;
  copy.Reallocate(source.format_, source.width_, source.height_);
  if (!source.Empty()) {
    source.Flush();
    std::memcpy(copy.Bits(), source.Bits(), source.ImageSize());
  }
  copy.transparent_ = source.transparent_;
  copy.transparent_color_ = source.transparent_color_;
  Swap(copy);
}

void TBitmap::Swap(TBitmap& other) {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(palette_, other.palette_);
  std::swap(transparent_, other.transparent_);
  std::swap(transparent_color_, other.transparent_color_);
  std::swap(store_, other.store_);
}

}  // namespace tk
