// Device-independent bitmap: the target of every decoder.
//
// Rows are stored bottom-up as in a Windows DIB, each padded to 4 bytes;
// ScanLine(0) is the top row. On Windows the pixels live in a DIB section,
// so GDI can draw into them (Handle() is the HBITMAP); natively they live
// on the heap. An empty bitmap (width or height 0) means "not decoded".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tk {

class TStream;

enum class TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};

// One colour-table entry, RGBQUAD layout: blue, green, red, reserved.
struct TPalEntry {
  uint8_t b = 0, g = 0, r = 0, reserved = 0;
  bool operator==(const TPalEntry& o) const { return b == o.b && g == o.g && r == o.r; }
};

// Bits per pixel a format is stored with (pfDevice and pfCustom: 24).
int PixelFormatBits(TPixelFormat pf);
// Bytes of one stored row: ceil(width * bits / 8) rounded up to 4.
int64_t RowBytes(int64_t width, int bits);

// Bitmaps above this many pixel bytes are refused with EOutOfResources
// rather than attempted: a header claiming 60000 x 60000 must not take the
// process's address space.
constexpr int64_t kMaxBitmapBytes = int64_t(512) << 20;

// Platform storage of the pixels; created by NewPixelStore (one
// implementation per platform). Throws EOutOfResources when it cannot.
class PixelStore {
 public:
  virtual ~PixelStore() = default;
  uint8_t* Bits() const { return bits_; }
  virtual void* Handle() const { return nullptr; }
  virtual void SetColorTable(const TPalEntry*, int) {}
  // Makes pending GDI drawing visible in Bits() (no-op off Windows).
  virtual void Flush() const {}

 protected:
  uint8_t* bits_ = nullptr;
};
std::unique_ptr<PixelStore> NewPixelStore(int width, int height, TPixelFormat pf,
                                          const std::vector<TPalEntry>& palette);

class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  TPixelFormat PixelFormat() const { return format_; }
  int BitCount() const { return PixelFormatBits(format_); }
  int Stride() const { return static_cast<int>(RowBytes(width_, BitCount())); }

  // Each of these reallocates the pixels, zero-filled; the palette stays.
  void SetSize(int width, int height);
  void SetPixelFormat(TPixelFormat pf);
  void Allocate(TPixelFormat pf, int width, int height);
  // Back to the empty state (no pixels, no palette, not transparent).
  void Clear();
  // Takes pixels made elsewhere (`width` x `height` at `pf`, bottom-up rows
  // of Stride bytes: a picture another process wrote into a shared
  // section) as this bitmap's own, without a copy.
  void Adopt(std::unique_ptr<PixelStore> store, int width, int height, TPixelFormat pf);

  const std::vector<TPalEntry>& Palette() const { return palette_; }
  void SetPalette(std::vector<TPalEntry> palette);

  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // The whole pixel block (bottom-up rows) and its size.
  uint8_t* Bits() { return store_ ? store_->Bits() : nullptr; }
  const uint8_t* Bits() const { return store_ ? store_->Bits() : nullptr; }
  size_t ImageSize() const { return static_cast<size_t>(Stride()) * static_cast<size_t>(height_); }

  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v) { transparent_ = v; }
  uint32_t TransparentColor() const { return transparent_color_; }
  void SetTransparentColor(uint32_t c) { transparent_color_ = c; }

  // Deep copy of pixels, format, palette and transparency.
  void Assign(const TBitmap& source);
  void Swap(TBitmap& other);

  // HBITMAP of the DIB section on Windows; nullptr natively or when empty.
  void* Handle() const { return store_ ? store_->Handle() : nullptr; }
  void Flush() const {
    if (store_) store_->Flush();
  }

  // BMP file input and output (see BmpCodec.cpp). Loading throws an
  // Exception (EInvalidGraphic, EReadError, EOutOfResources, EFOpenError) and
  // leaves the bitmap unchanged on failure.
  void LoadFromFile(const std::string& path);
  void LoadFromStream(TStream& stream);
  void LoadFromMemory(const uint8_t* data, size_t size);
  // Writes an uncompressed BMP in the bitmap's own format and palette.
  void SaveToFile(const std::string& path) const;
  void SaveToStream(TStream& stream) const;

 private:
  void Reallocate(TPixelFormat pf, int width, int height);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::vector<TPalEntry> palette_;
  bool transparent_ = false;
  uint32_t transparent_color_ = 0;
  std::unique_ptr<PixelStore> store_;
};

}  // namespace tk
