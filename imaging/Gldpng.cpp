#include "imaging/Gldpng.h"

#include <ctime>

#include "imaging/Gldpngstream.h"

namespace orv {

TPNGTime SystemPNGTime() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  // The Windows C runtime keeps gmtime's result per thread.
  if (const std::tm* t = std::gmtime(&now)) utc = *t;
#else
  gmtime_r(&now, &utc);
#endif
  TPNGTime t;
  t.Year = static_cast<uint16_t>(utc.tm_year + 1900);
  t.Month = static_cast<uint8_t>(utc.tm_mon + 1);
  t.Day = static_cast<uint8_t>(utc.tm_mday);
  t.Hour = static_cast<uint8_t>(utc.tm_hour);
  t.Minute = static_cast<uint8_t>(utc.tm_min);
  t.Second = static_cast<uint8_t>(utc.tm_sec);
  return t;
}

TGLDPNG::TGLDPNG() : Time(SystemPNGTime()) {}
TGLDPNG::~TGLDPNG() = default;

void TGLDPNG::LoadFromFile(const std::string& fileName) {
  tk::TFileStream stream(fileName, tk::FileMode::OpenRead);
  LoadFromStream(stream);
}

void TGLDPNG::LoadFromStream(tk::TStream& stream) { Load(stream, true); }

void TGLDPNG::ReadData(tk::TStream& stream) {
  tk::TBitmap* image = ext_image_;
  tk::TBitmap* alpha = ext_alpha_;
  ext_image_ = ext_alpha_ = nullptr;
  struct Restore {
    TGLDPNG* self;
    tk::TBitmap* image;
    tk::TBitmap* alpha;
    ~Restore() { self->ext_image_ = image, self->ext_alpha_ = alpha; }
  } restore{this, image, alpha};
  Load(stream, false);
}

void TGLDPNG::Load(tk::TStream& stream, bool withHooks) {
  Time = TPNGTime{};
  Chrm = TPNGChromaticities{};
  GIFExt = TPNGGIFExtension{};
  BitDepth = 0;
  alpha_.Clear();

  TGLDPNGReadStream reader(*this, GetImage(), GetAlphaBitmap(), withHooks);
  reader.Load(stream);

  Interlace = reader.Interlace() == 1 ? gptAdam7 : gptNone;
  GrayScale = reader.Gray();
  AlphaChannel = reader.HasAlpha();
  BitDepth = reader.StoredBitDepth();
  BGColor = reader.BGColor();
  TransColor = reader.TransColor();
  Comment = reader.Comment();
  Gamma = reader.Gamma();
  SignificantBits = reader.SignificantBits();
  PhysUnit = static_cast<TGLDPNGUnitSpecifier>(reader.PhysUnit());
  PhysX = reader.PhysX();
  PhysY = reader.PhysY();
}

void TGLDPNG::SaveToFile(const std::string& fileName) {
  if (GetImage().Empty()) RaisePng(PngError::EmptyImage);
  tk::TFileStream stream(fileName, tk::FileMode::Create);
  SaveToStream(stream);
}

void TGLDPNG::SaveToStream(tk::TStream& stream) { Save(stream, true); }

void TGLDPNG::WriteData(tk::TStream& stream) {
  if (image_.Empty()) return;
  Save(stream, false);
}

void TGLDPNG::Save(tk::TStream& stream, bool withOptions) {
  const tk::TBitmap& image = withOptions ? GetImage() : image_;
  const tk::TBitmap& alpha = withOptions ? GetAlphaBitmap() : alpha_;
  TGLDPNGWriteStream writer(*this, image, alpha, withOptions);
  writer.Save(stream);
}

void TGLDPNG::SetIDATSize(int size) {
  if (size < 256 || size > 100000) RaisePng(PngError::IDATSizeParam);
  idat_size_ = size;
}

void TGLDPNG::Assign(const TGLDPNG& source) {
  if (&source == this) return;
  GetImage().Assign(source.GetImage());
  GetAlphaBitmap().Assign(source.GetAlphaBitmap());
  idat_size_ = source.idat_size_;
  CompressionLevel = source.CompressionLevel;
  FilterType = source.FilterType;
  Interlace = source.Interlace;
  WriteCurrentTime = source.WriteCurrentTime;
  GrayScale = source.GrayScale;
  AlphaChannel = source.AlphaChannel;
  BitDepth = source.BitDepth;
  BGColor = source.BGColor;
  TransColor = source.TransColor;
  Comment = source.Comment;
  Gamma = source.Gamma;
  SignificantBits = source.SignificantBits;
  PhysUnit = source.PhysUnit;
  PhysX = source.PhysX;
  PhysY = source.PhysY;
  Time = source.Time;
  Chrm = source.Chrm;
  GIFExt = source.GIFExt;
  Password = source.Password;
  DetectMacBinary = source.DetectMacBinary;
  Reduced16Bit = source.Reduced16Bit;
  OnPassword = source.OnPassword;
  OnEncode = source.OnEncode;
  OnDecode = source.OnDecode;
  OnProgress = source.OnProgress;
}

void TGLDPNG::Assign(const tk::TBitmap& source) { image_.Assign(source); }

void TGLDPNG::AssignTo(tk::TBitmap& target) const { target.Assign(GetImage()); }

bool TGLDPNG::AlphaBitmapAssign(const tk::TBitmap& source) {
  GetAlphaBitmap().Assign(source);
  return !GetAlphaBitmap().Empty();
}

bool TGLDPNG::AlphaBitmapAssignTo(tk::TBitmap& target) const {
  if (GetAlphaBitmap().Empty()) return false;
  target.Assign(GetAlphaBitmap());
  return true;
}

void TGLDPNG::FreeAlphaBitmap() { GetAlphaBitmap().Clear(); }

void TGLDPNG::SetWidth(int width) {
  GetImage().SetSize(width, GetImage().Height());
  if (!GetAlphaBitmap().Empty()) GetAlphaBitmap().SetSize(width, GetAlphaBitmap().Height());
}

void TGLDPNG::SetHeight(int height) {
  GetImage().SetSize(GetImage().Width(), height);
  if (!GetAlphaBitmap().Empty()) GetAlphaBitmap().SetSize(GetAlphaBitmap().Width(), height);
}

void TGLDPNG::SetTransparent(bool value) { GetImage().SetTransparent(value); }

void TGLDPNG::SetTransColor(tk::TColor color) {
  TransColor = color;
  if (color == kNoColor) {
    GetImage().SetTransparent(false);
  } else {
    GetImage().SetTransparent(true);
    GetImage().SetTransparentColor(color);
  }
}

}  // namespace orv
