// PNG reader and writer of TGLDPNG, and the row functions they are built
// from. Layers: byte source (Gldstream) -> chunk reader -> one parse
// function per chunk -> row pipeline (unfilter -> convert -> place).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/Gldpng.h"
#include "imaging/Gldstream.h"
#include "imaging/Gldzlib.h"
#include "imaging/Sfunc.h"

namespace orv {

// Every failure of the codec, each with one fixed message (PngErrorText).
enum class PngError {
  NotPng,
  TwoHeaders,
  BadColorType,
  BadCompression,
  BadFilterMethod,
  BadInterlace,
  AlphaAtLowDepth,
  BadGrayDepth,
  BadColorDepth,
  ZlibSetup,
  ReadImage,
  BadHeaderLength,
  BadSize,
  ImageTooLarge,
  ImageBeforeHeader,
  ChunkTooLong,
  IDATSizeParam,
  WriterIDATSizeParam,
  WriteImage,
  EmptyImage,
};
const char* PngErrorText(PngError error);
[[noreturn]] void RaisePng(PngError error);

// Row functions. Each has a plain scalar reference (suffix Ref) that the
// faster one must equal; the tests compare them.
namespace pngrow {

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAvg = 3, kPaeth = 4 };

// Undoes `filter` on cur[0..len) with `prev` the unfiltered previous row
// (zeros for the first row of a pass); bpp = bytes per complete pixel,
// at least 1. Returns false for a filter type above 4.
bool UnfilterRowRef(uint8_t filter, uint8_t* cur, const uint8_t* prev, size_t len, int bpp);
bool UnfilterRow(uint8_t filter, uint8_t* cur, const uint8_t* prev, size_t len, int bpp);

// Applies `filter` to raw[0..len) into out[0..len).
void FilterRow(uint8_t filter, const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t len,
               int bpp);

// Converts one unfiltered PNG row of `width` pixels into bitmap pixels
// (and, for the alpha formats, one alpha byte per pixel: 255 - alpha).
using ConvertFn = void (*)(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);

void ConvertRgb8Ref(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void ConvertRgb8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void ConvertRgba8Ref(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void ConvertRgba8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
// The other sample layouts: indices copied or widened (2-bit to 4-bit),
// 16-bit samples cut to their high byte, gray with alpha, 8-bit colour
// reduced to 5-6-5.
void CopyBits1(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void CopyBits4(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void CopyBits8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Widen2To4(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Gray16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void GrayAlpha8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void GrayAlpha16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Rgb16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Rgba16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Rgb8To565(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);
void Rgba8To565(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width);

// Writes `count` converted pixels of `bits` each (1, 4, 8, 16 or 24) from
// src into dst at column x0, x0 + dx, ...
void PlacePixels(const uint8_t* src, uint8_t* dst, int count, int bits, int x0, int dx);

// Adam7 geometry; pass 0..6.
struct PassInfo {
  int x0, y0, dx, dy;
};
extern const PassInfo kAdam7[7];
int PassExtent(int size, int start, int step);

}  // namespace pngrow

class TGLDPNGReadStream : public TGLDCustomGraphicReadStream {
 public:
  // `withHooks`: password, decode event and progress are used.
  TGLDPNGReadStream(TGLDPNG& owner, tk::TBitmap& image, tk::TBitmap& alpha, bool withHooks);
  ~TGLDPNGReadStream() override;

  // Decodes from the stream's position; the stream is left just after the
  // bytes consumed, also on errors.
  void Load(tk::TStream& stream);

  // Results for the owner.
  int ColorType() const { return color_type_; }
  bool HasAlpha() const { return has_alpha_; }
  bool Gray() const { return gray_; }
  int Interlace() const { return interlace_; }
  int StoredBitDepth() const { return stored_depth_; }
  tk::TColor TransColor() const { return trans_color_; }
  tk::TColor BGColor() const { return bg_color_; }
  uint32_t SignificantBits() const { return sbit_; }
  double Gamma() const { return gamma_; }
  const std::string& Comment() const { return comment_; }
  bool PhysSeen() const { return phys_seen_; }
  int32_t PhysX() const { return phys_x_; }
  int32_t PhysY() const { return phys_y_; }
  uint8_t PhysUnit() const { return phys_unit_; }

 private:
  struct Rows;

  void ReadChunks();
  bool BetweenHeaderAndImage() const { return header_seen_ && !image_done_; }
  // Chunk data readers that never pass the end of the current chunk.
  bool ChunkRead(void* out, size_t count);
  uint8_t ChunkByte();
  uint16_t ChunkBE16();
  uint32_t ChunkBE32();
  tk::TColor ChunkRgbSamples();

  void ReadIHDR();
  void ReadPLTE();
  void ReadtRNS();
  void ReadbKGD();
  void ReadgAMA();
  void ReadcHRM();
  void ReadsBIT();
  void ReadpHYs();
  void ReadtEXt();
  void ReadtIME();
  void ReadgIFg();
  void ReadtpNG();
  void ReadImage();

  void ChooseFormat();
  void CreateImage();
  bool RefillInflate();
  void InflateRow(uint8_t* out, size_t size);
  void DecodePass(int pass, Rows& rows, int& lineNo, int totalRows);
  void ApplyPaletteAlpha();
  int SampleToLevel(uint16_t sample) const;

  TGLDPNG& owner_;
  tk::TBitmap& image_;
  tk::TBitmap& alpha_;
  bool with_hooks_;

  // Header.
  uint32_t width_ = 0, height_ = 0;
  int depth_ = 0;
  int color_type_ = -1;
  bool has_alpha_ = false, gray_ = false;
  int interlace_ = 0;
  int stored_depth_ = 0;
  // Chunk state.
  bool header_seen_ = false, image_done_ = false, end_seen_ = false, palette_seen_ = false,
       private_seen_ = false;
  uint32_t chunk_left_ = 0;
  // Colour data.
  TGLDPalRGB colors_[256];
  int color_count_ = 0;
  uint8_t pal_alpha_[256];
  bool pal_transparent_ = false;
  bool use_palette_alpha_ = false;
  tk::TColor trans_color_ = TGLDPNG::kNoColor;
  tk::TColor bg_color_ = TGLDPNG::kNoColor;
  uint32_t sbit_ = 0;
  double gamma_ = 0;
  std::string comment_;
  std::string password_;
  bool phys_seen_ = false;
  int32_t phys_x_ = 0, phys_y_ = 0;
  uint8_t phys_unit_ = 0;
  // Row pipeline, chosen once per image.
  tk::TPixelFormat format_ = tk::TPixelFormat::pf24bit;
  int pixel_bits_ = 0;      // bits per pixel of the PNG row
  int bitmap_bits_ = 0;     // bits per pixel of the image
  bool alpha_out_ = false;  // the conversion writes alpha bytes
  pngrow::ConvertFn convert_ = nullptr;
  TGLDInflater inflater_;
  bool inflate_ended_ = false;
  int64_t image_start_ = 0;
};

class TGLDPNGWriteStream : public TGLDCustomGraphicWriteStream {
 public:
  // `withOptions` false: the writer's own defaults instead of the owner's
  // IDAT size, level, filter, interlace, time option, password and event.
  TGLDPNGWriteStream(TGLDPNG& owner, const tk::TBitmap& image, const tk::TBitmap& alpha,
                     bool withOptions);
  void Save(tk::TStream& stream);

  void SetIDATSize(int size);  // 256..100000

 private:
  void ChooseOutput();
  void BuildGrayTable();
  void WriteChunk(const char type[4], const uint8_t* data, size_t size);
  // One per chunk, in file order; each decides whether its chunk is due.
  void WriteHeader();
  void WriteTime();
  void WriteText(const std::string& keyword, const std::string& text);
  void WritePrivate();
  void WriteGIFExtension();
  void WriteGamma();
  void WriteChromaticities();
  void WriteSignificantBits();
  void WritePalette();
  void WriteBackground();
  void WriteTransparency();
  void WritePhysicalSize();
  void WriteImageData();
  void ConvertRow(int y, int x0, int dx, int count, uint8_t* out);
  int GrayLevel(tk::TColor c) const;
  int ReduceGray(int level) const;
  bool ResolveIndex(tk::TColor c, int& index) const;
  tk::TColor ResolveColor(tk::TColor c) const;

  TGLDPNG& owner_;
  const tk::TBitmap& image_;
  const tk::TBitmap& alpha_;
  bool with_options_;
  int idat_size_ = TGLDPNG::kDefaultIDATSize;
  int level_ = -1;
  TGLDPNGFilterType filter_ = gpfNone;
  int interlace_ = 0;

  int source_bits_ = 0;
  bool use_alpha_ = false;
  int color_type_ = 0;
  int depth_ = 0;
  int channels_ = 1;
  uint8_t gray_table_[256];
};

}  // namespace orv
