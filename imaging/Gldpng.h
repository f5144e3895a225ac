// TGLDPNG: a PNG picture as a colour bitmap (the image) plus an optional
// 8-bit alpha bitmap, with the ancillary data of the file. The codec is
// the program's own (Gldpngstream); zlib does the (de)compression.
//
// The image in use is the external image when one is set (SetImage), else
// the own one; likewise for the alpha bitmap (SetABmp). External bitmaps
// are not owned and must outlive their use here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Gldstream.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Graphics.h"
#include "toolkit/Streams.h"

namespace orv {

class EGLDPNG : public tk::Exception {
  using tk::Exception::Exception;
};

enum TGLDPNGFilterType : uint8_t { gpfJust, gpfNone, gpfSub, gpfUp, gpfAvg, gpfPaeth };
enum TGLDPNGInterlaceType : uint8_t { gptNone, gptAdam7 };
enum TGLDPNGUnitSpecifier : uint8_t { gpuAspect, gpuMeter, gpuInch };

struct TPNGTime {
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  bool operator==(const TPNGTime& o) const {
    return Year == o.Year && Month == o.Month && Day == o.Day && Hour == o.Hour &&
           Minute == o.Minute && Second == o.Second;
  }
};

// cHRM order: white point, red, green, blue (x then y), times 100000.
struct TPNGChromaticities {
  uint32_t WhiteX = 0, WhiteY = 0, RedX = 0, RedY = 0, GreenX = 0, GreenY = 0, BlueX = 0, BlueY = 0;
  bool operator==(const TPNGChromaticities& o) const {
    return WhiteX == o.WhiteX && WhiteY == o.WhiteY && RedX == o.RedX && RedY == o.RedY &&
           GreenX == o.GreenX && GreenY == o.GreenY && BlueX == o.BlueX && BlueY == o.BlueY;
  }
};

// The four bytes of gIFg as stored (disposal method, user input flag,
// delay time big-endian).
struct TPNGGIFExtension {
  uint8_t Data[4] = {0, 0, 0, 0};
};

// Current time in UTC.
TPNGTime SystemPNGTime();

class TGLDPNG;
using TGLDPNGPasswordEvent = std::function<void(TGLDPNG& sender, std::string& password)>;
// Transforms one row in place: pbuf holds buflen pixel bytes (the filter
// byte excluded); lineno counts rows from 0 across all interlace passes.
using TGLDPNGDECodeEvent = std::function<void(TGLDPNG& sender, uint8_t* pbuf, int buflen,
                                              int lineno, const std::string& password)>;
using TGLDPNGProgressEvent =
    std::function<void(TGLDPNG& sender, TProgressStage stage, int percent)>;

class TGLDPNG {
 public:
  static constexpr int kDefaultIDATSize = 32768;
  static constexpr tk::TColor kNoColor = static_cast<tk::TColor>(-1);
  static constexpr tk::TColor kPaletteIndexColor = 0x01000000;

  TGLDPNG();
  ~TGLDPNG();
  TGLDPNG(const TGLDPNG&) = delete;
  TGLDPNG& operator=(const TGLDPNG&) = delete;

  // Decoding. Raises EGLDPNG for format errors, the toolkit's stream
  // errors for the source, EOutOfResources for pictures too large to hold.
  // A file that ends before its image data loads nothing and raises
  // nothing.
  void LoadFromFile(const std::string& fileName);
  void LoadFromStream(tk::TStream& stream);
  // Form-streaming variant: own bitmaps, no password, events or progress.
  void ReadData(tk::TStream& stream);

  // Encoding of the image in use (EGLDPNG when it is empty).
  void SaveToFile(const std::string& fileName);
  void SaveToStream(tk::TStream& stream);
  // Form-streaming variant: own bitmaps, default writer options; an empty
  // image writes nothing.
  void WriteData(tk::TStream& stream);

  // The bitmaps in use.
  tk::TBitmap& GetImage() { return ext_image_ ? *ext_image_ : image_; }
  const tk::TBitmap& GetImage() const { return ext_image_ ? *ext_image_ : image_; }
  tk::TBitmap& GetAlphaBitmap() { return ext_alpha_ ? *ext_alpha_ : alpha_; }
  const tk::TBitmap& GetAlphaBitmap() const { return ext_alpha_ ? *ext_alpha_ : alpha_; }
  tk::TBitmap& OwnImage() { return image_; }
  tk::TBitmap& OwnAlphaBitmap() { return alpha_; }
  // External bitmaps (nullptr returns to the own ones); not owned.
  void SetImage(tk::TBitmap* image) { ext_image_ = image; }
  void SetABmp(tk::TBitmap* alpha) { ext_alpha_ = alpha; }

  // Copies both bitmaps and every field.
  void Assign(const TGLDPNG& source);
  // Any other picture goes to the own image.
  void Assign(const tk::TBitmap& source);
  // The image in use into `target` (the colour picture only).
  void AssignTo(tk::TBitmap& target) const;

  bool AlphaBitmapAssign(const tk::TBitmap& source);
  // Copies the alpha bitmap in use; false when there is none.
  bool AlphaBitmapAssignTo(tk::TBitmap& target) const;
  void FreeAlphaBitmap();

  bool GetEmpty() const { return GetImage().Empty(); }
  int GetWidth() const { return GetImage().Width(); }
  int GetHeight() const { return GetImage().Height(); }
  // Resize the image and (when not empty) the alpha bitmap.
  void SetWidth(int width);
  void SetHeight(int height);
  std::vector<tk::TPalEntry> GetPalette() const { return GetImage().Palette(); }
  void SetPalette(std::vector<tk::TPalEntry> palette) { GetImage().SetPalette(std::move(palette)); }
  bool GetTransparent() const { return GetImage().Transparent(); }
  void SetTransparent(bool value);
  // kNoColor switches transparency off.
  void SetTransColor(tk::TColor color);

  // Writer options.
  int IDATSize() const { return idat_size_; }
  void SetIDATSize(int size);  // 256..100000, else EGLDPNG
  int CompressionLevel = -1;
  TGLDPNGFilterType FilterType = gpfNone;
  TGLDPNGInterlaceType Interlace = gptNone;
  bool WriteCurrentTime = true;

  // Loaded (and written) picture data.
  bool GrayScale = false;
  bool AlphaChannel = false;
  int BitDepth = 0;
  tk::TColor BGColor = kNoColor;
  tk::TColor TransColor = kNoColor;
  std::string Comment;
  double Gamma = 0.45455;
  uint32_t SignificantBits = 0;  // red, green, blue, alpha in bytes 0..3
  TGLDPNGUnitSpecifier PhysUnit = gpuAspect;
  int32_t PhysX = 0, PhysY = 0;
  TPNGTime Time;
  TPNGChromaticities Chrm;
  TPNGGIFExtension GIFExt;

  // Loading inputs.
  std::string Password;
  bool DetectMacBinary = true;
  bool Reduced16Bit = false;

  TGLDPNGPasswordEvent OnPassword;
  TGLDPNGDECodeEvent OnEncode;
  TGLDPNGDECodeEvent OnDecode;
  TGLDPNGProgressEvent OnProgress;


 private:
  void Load(tk::TStream& stream, bool withHooks);
  void Save(tk::TStream& stream, bool withOptions);

  int idat_size_ = kDefaultIDATSize;
  tk::TBitmap image_;
  tk::TBitmap alpha_;
  tk::TBitmap* ext_image_ = nullptr;
  tk::TBitmap* ext_alpha_ = nullptr;
};

}  // namespace orv
