// The PNG reader: chunk by chunk, then the image rows through zlib and the
// row functions.
#include <algorithm>
#include <cstring>

#include "imaging/GldpngFormat.h"
#include "imaging/Gldpngstream.h"
#include "toolkit/Exceptions.h"

namespace orv {

using namespace pngformat;

namespace {

// One raw row may not need more than this; keeps row buffers sane for
// headers that claim absurd widths.
constexpr int64_t kMaxRowBytes = tk::kMaxBitmapBytes / 4;
constexpr uint32_t kMaxSide = 1000000;
// What one tEXt comment contributes at most.
constexpr size_t kMaxCommentText = 64 * 1024;
constexpr size_t kInflateInput = 32768;

}  // namespace

// ---------------------------------------------------------------------------
// Reader

struct TGLDPNGReadStream::Rows {
  std::unique_ptr<uint8_t[]> block;
  uint8_t* prev = nullptr;
  uint8_t* cur = nullptr;
  uint8_t* conv = nullptr;
  uint8_t* alpha = nullptr;
};

TGLDPNGReadStream::TGLDPNGReadStream(TGLDPNG& owner, tk::TBitmap& image, tk::TBitmap& alpha,
                                     bool withHooks)
    : owner_(owner), image_(image), alpha_(alpha), with_hooks_(withHooks) {
  if (withHooks && owner.OnProgress) {
    OnProgress = [this](TProgressStage stage, int percent) {
      owner_.OnProgress(owner_, stage, percent);
    };
  }
}

TGLDPNGReadStream::~TGLDPNGReadStream() = default;

void TGLDPNGReadStream::Load(tk::TStream& stream) {
  std::fill(std::begin(pal_alpha_), std::end(pal_alpha_), uint8_t(255));
  Progress(TProgressStage::psStarting, 0);

  if (owner_.DetectMacBinary) {
    const int64_t pos = stream.Position();
    if (stream.Size() - pos > 128) {
      uint8_t head[75];
      const size_t got = stream.Read(head, sizeof head);
      const bool macBinary = got == sizeof head && head[0] == 0 && head[74] == 0;
      stream.SetPosition(macBinary ? pos + 128 : pos);
    }
  }
  Attach(stream);
  struct DetachGuard {
    TGLDPNGReadStream* self;
    ~DetachGuard() {
      self->inflater_.End();
      self->Detach();
    }
  } guard{this};

  uint8_t signature[8];
  if (!ReadBytes(signature, 8) || std::memcmp(signature, kSignature, 8) != 0)
    RaisePng(PngError::NotPng);

  ReadChunks();

  if (!Halted() && image_done_ && !has_alpha_ && trans_color_ != TGLDPNG::kNoColor) {
    image_.SetTransparent(true);
    image_.SetTransparentColor(trans_color_);
  }
  if (use_palette_alpha_ && image_done_) ApplyPaletteAlpha();
  Progress(TProgressStage::psEnding, 100);
}

void TGLDPNGReadStream::ReadChunks() {
  while (!Halted() && !end_seen_) {
    const uint32_t length = ReadBE32();
    const uint32_t type = ReadBE32();
    if (Halted()) break;
    // Lengths above 2^31 - 1 are invalid; neither may a chunk claim more
    // data than the source holds.
    if (length > kMaxChunkLength || int64_t(length) > Remaining()) RaisePng(PngError::ChunkTooLong);
    chunk_left_ = length;
    switch (type) {
      case kIHDR:
        ReadIHDR();
        break;
      case kPLTE:
        ReadPLTE();
        break;
      case kIDAT:
        if (!header_seen_) RaisePng(PngError::ImageBeforeHeader);
        if (!image_done_) ReadImage();
        break;
      case kIEND:
        end_seen_ = true;
        break;
      case ktRNS:
        ReadtRNS();
        break;
      case kbKGD:
        ReadbKGD();
        break;
      case kgAMA:
        ReadgAMA();
        break;
      case kcHRM:
        ReadcHRM();
        break;
      case ksBIT:
        ReadsBIT();
        break;
      case kpHYs:
        ReadpHYs();
        break;
      case ktEXt:
        ReadtEXt();
        break;
      case ktIME:
        ReadtIME();
        break;
      case kgIFg:
        ReadgIFg();
        break;
      case ktpNG:
        ReadtpNG();
        break;
      default:
        break;
    }
    if (Halted()) break;
    Skip(chunk_left_);
    chunk_left_ = 0;
    // CRCs are not checked; a file may also end without the last one.
    Skip(std::min<int64_t>(4, Remaining()));
    if (OnProgress && Available() > 0) {
      const int64_t done = Consumed() * 100 / Available();
      if (!image_done_)
        Progress(TProgressStage::psRunning, static_cast<int>(done * 29 / 100));
      else
        Progress(TProgressStage::psRunning, static_cast<int>(97 + done * 2 / 100));
    }
  }
}

bool TGLDPNGReadStream::ChunkRead(void* out, size_t count) {
  // Reading nothing would set the stream's stop flag: an empty chunk is
  // simply an empty chunk.
  if (count == 0) return true;
  if (count > chunk_left_) return false;
  if (!ReadBytes(out, count)) return false;
  chunk_left_ -= static_cast<uint32_t>(count);
  return true;
}

uint8_t TGLDPNGReadStream::ChunkByte() {
  uint8_t v = 0;
  return ChunkRead(&v, 1) ? v : 0;
}

uint16_t TGLDPNGReadStream::ChunkBE16() {
  uint8_t b[2] = {0, 0};
  if (!ChunkRead(b, 2)) return 0;
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TGLDPNGReadStream::ChunkBE32() {
  uint8_t b[4] = {0, 0, 0, 0};
  if (!ChunkRead(b, 4)) return 0;
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

void TGLDPNGReadStream::ReadIHDR() {
  if (header_seen_) RaisePng(PngError::TwoHeaders);
  if (chunk_left_ != 13) RaisePng(PngError::BadHeaderLength);
  uint8_t h[13];
  if (!ChunkRead(h, 13)) return;
  const PngHeader header = PngHeader::Parse(h);
  header.Validate();
  // libpng's default limit: no real picture is a million pixels on a side,
  // and a 74-byte file must not cost hundreds of megabytes of rows.
  if (header.width > kMaxSide || header.height > kMaxSide) RaisePng(PngError::ImageTooLarge);
  const int colorType = header.colorType & 7;
  width_ = header.width;
  height_ = header.height;
  depth_ = header.depth;
  color_type_ = colorType & 3;
  has_alpha_ = (colorType & 4) != 0;
  gray_ = color_type_ == 0;
  interlace_ = header.interlace;
  header_seen_ = true;
}

void TGLDPNGReadStream::ReadPLTE() {
  if (!BetweenHeaderAndImage() || palette_seen_ || gray_) return;
  const int count = static_cast<int>(std::min<uint32_t>(chunk_left_ / 3, 256));
  // A palette without entries is no palette: a later PLTE may still come.
  if (count == 0) return;
  uint8_t rgb[768];
  if (!ChunkRead(rgb, static_cast<size_t>(count) * 3)) return;
  for (int i = 0; i < count; ++i) {
    colors_[i].Red = rgb[3 * i];
    colors_[i].Green = rgb[3 * i + 1];
    colors_[i].Blue = rgb[3 * i + 2];
    colors_[i].Reserved = 0;
  }
  color_count_ = count;
  palette_seen_ = true;
}

// A gray sample as the level of the image's gray ramp: the high byte at
// 16 bits, the sample itself at 8, and at 1, 2 and 4 bits the ramp entry
// the sample indexes, so the colour matches the pixels that carry it.
int TGLDPNGReadStream::SampleToLevel(uint16_t sample) const {
  if (depth_ == 16) return sample >> 8;
  // The depth is validated only when the image starts.
  if (depth_ != 1 && depth_ != 2 && depth_ != 4) return sample & 0xFF;
  const int max = (1 << depth_) - 1;
  return (sample & max) * 255 / max;
}

void TGLDPNGReadStream::ReadtRNS() {
  if (!BetweenHeaderAndImage() || has_alpha_) return;
  if (color_type_ == 3) {
    // Before PLTE (no entries yet) or when empty the chunk says nothing
    // and is skipped; the image still loads.
    const size_t count = std::min<size_t>(chunk_left_, static_cast<size_t>(color_count_));
    if (count == 0 || !ChunkRead(pal_alpha_, count)) return;
    pal_transparent_ = true;
    return;
  }
  if (color_type_ == 0) {
    if (chunk_left_ < 2) return;
    const int level = SampleToLevel(ChunkBE16());
    trans_color_ = tk::RGBColor(level, level, level);
    return;
  }
  if (chunk_left_ < 6) return;
  trans_color_ = ChunkRgbSamples();
}

// Three 16-bit samples as a colour: the high bytes at 16 bits, the low
// bytes below.
tk::TColor TGLDPNGReadStream::ChunkRgbSamples() {
  const uint16_t r = ChunkBE16(), g = ChunkBE16(), b = ChunkBE16();
  const int shift = depth_ == 16 ? 8 : 0;
  return tk::RGBColor(uint8_t(r >> shift), uint8_t(g >> shift), uint8_t(b >> shift));
}

void TGLDPNGReadStream::ReadbKGD() {
  if (!BetweenHeaderAndImage()) return;
  if (color_type_ == 3) {
    if (chunk_left_ < 1) return;
    bg_color_ = TGLDPNG::kPaletteIndexColor + ChunkByte();
  } else if (color_type_ == 0) {
    if (chunk_left_ < 2) return;
    const int level = SampleToLevel(ChunkBE16());
    bg_color_ = tk::RGBColor(level, level, level);
  } else {
    if (chunk_left_ < 6) return;
    bg_color_ = ChunkRgbSamples();
  }
}

void TGLDPNGReadStream::ReadgAMA() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ < 4) return;
  gamma_ = ChunkBE32() / 100000.0;
}

void TGLDPNGReadStream::ReadcHRM() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ != 32) return;
  TPNGChromaticities& c = owner_.Chrm;
  c.WhiteX = ChunkBE32();
  c.WhiteY = ChunkBE32();
  c.RedX = ChunkBE32();
  c.RedY = ChunkBE32();
  c.GreenX = ChunkBE32();
  c.GreenY = ChunkBE32();
  c.BlueX = ChunkBE32();
  c.BlueY = ChunkBE32();
}

void TGLDPNGReadStream::ReadsBIT() {
  if (!BetweenHeaderAndImage() || palette_seen_ || color_type_ == 0) return;
  const size_t need = has_alpha_ ? 4 : 3;
  uint8_t b[4] = {0, 0, 0, 0};
  if (chunk_left_ < need || !ChunkRead(b, need)) return;
  sbit_ = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void TGLDPNGReadStream::ReadpHYs() {
  if (!BetweenHeaderAndImage() || chunk_left_ != 9) return;
  phys_x_ = static_cast<int32_t>(ChunkBE32());
  phys_y_ = static_cast<int32_t>(ChunkBE32());
  phys_unit_ = ChunkByte();
  phys_seen_ = true;
}

void TGLDPNGReadStream::ReadtEXt() {
  // Only "Comment" followed by its zero byte is kept, and of its text no
  // more than kMaxCommentText bytes: a chunk may claim up to 2 GiB, which a
  // 32-bit process cannot hold in one string. The rest is skipped.
  static constexpr char kKeyword[] = "Comment";
  char keyword[sizeof kKeyword];
  if (chunk_left_ < sizeof keyword || !ChunkRead(keyword, sizeof keyword)) return;
  if (std::memcmp(keyword, kKeyword, sizeof keyword) != 0) return;
  std::string text(std::min<size_t>(chunk_left_, kMaxCommentText), '\0');
  if (text.empty() || !ChunkRead(&text[0], text.size())) return;
  if (!comment_.empty()) comment_ += "\r\n";
  comment_ += text;
  comment_ += "\r\n";
}

void TGLDPNGReadStream::ReadtIME() {
  if (chunk_left_ != 7) return;
  TPNGTime& t = owner_.Time;
  t.Year = ChunkBE16();
  t.Month = ChunkByte();
  t.Day = ChunkByte();
  t.Hour = ChunkByte();
  t.Minute = ChunkByte();
  t.Second = ChunkByte();
}

void TGLDPNGReadStream::ReadgIFg() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ != 4) return;
  ChunkRead(owner_.GIFExt.Data, 4);
}

void TGLDPNGReadStream::ReadtpNG() {
  if (!BetweenHeaderAndImage() || private_seen_) return;
  private_seen_ = true;
  if (chunk_left_ <= 4 || ChunkBE32() != kPrivateTag) return;
  const uint8_t flag = ChunkByte();
  if (flag != 0 && with_hooks_) {
    password_ = owner_.Password;
    if (owner_.OnPassword) owner_.OnPassword(owner_, password_);
  }
  ChunkByte();
}

namespace {
// Gray and palette rows of 1, 2, 4 and 8 bits share their layouts: indices
// copied as they are, 2-bit values widened to 4-bit ones.
bool ChooseIndexedRows(int depth, tk::TPixelFormat& format, pngrow::ConvertFn& convert) {
  using pf = tk::TPixelFormat;
  switch (depth) {
    case 1:
      format = pf::pf1bit, convert = pngrow::CopyBits1;
      return true;
    case 2:
      format = pf::pf4bit, convert = pngrow::Widen2To4;
      return true;
    case 4:
      format = pf::pf4bit, convert = pngrow::CopyBits4;
      return true;
    case 8:
      format = pf::pf8bit, convert = pngrow::CopyBits8;
      return true;
    default:
      return false;
  }
}
}  // namespace

void TGLDPNGReadStream::ChooseFormat() {
  using pf = tk::TPixelFormat;
  stored_depth_ = depth_;
  alpha_out_ = false;
  if (color_type_ == 0) {
    if (has_alpha_) {
      if (depth_ == 1 || depth_ == 2 || depth_ == 4) RaisePng(PngError::AlphaAtLowDepth);
      if (depth_ != 8 && depth_ != 16) RaisePng(PngError::BadGrayDepth);
      format_ = pf::pf8bit;
      convert_ = depth_ == 8 ? pngrow::GrayAlpha8 : pngrow::GrayAlpha16;
      pixel_bits_ = depth_ * 2;
      alpha_out_ = true;
    } else {
      if (depth_ == 16) {
        format_ = pf::pf8bit, convert_ = pngrow::Gray16;
      } else if (!ChooseIndexedRows(depth_, format_, convert_)) {
        RaisePng(PngError::BadGrayDepth);
      }
      pixel_bits_ = depth_;
    }
    color_count_ = CreateGrayScalePalette(colors_, depth_);
  } else if (color_type_ == 2) {
    if (depth_ != 8 && depth_ != 16) RaisePng(PngError::BadColorDepth);
    const int r = sbit_ & 0xFF, g = (sbit_ >> 8) & 0xFF, b = (sbit_ >> 16) & 0xFF;
    const bool reduce =
        with_hooks_ && owner_.Reduced16Bit && depth_ == 8 && r == 5 && b == 5 && (g == 5 || g == 6);
    format_ = reduce ? pf::pf16bit : pf::pf24bit;
    if (reduce)
      convert_ = has_alpha_ ? pngrow::Rgba8To565 : pngrow::Rgb8To565;
    else if (depth_ == 8)
      convert_ = has_alpha_ ? pngrow::ConvertRgba8 : pngrow::ConvertRgb8;
    else
      convert_ = has_alpha_ ? pngrow::Rgba16 : pngrow::Rgb16;
    pixel_bits_ = depth_ * (has_alpha_ ? 4 : 3);
    alpha_out_ = has_alpha_;
    stored_depth_ = reduce ? (g == 5 ? 15 : 16) : depth_ * 3;
  } else {
    if (!ChooseIndexedRows(depth_, format_, convert_)) RaisePng(PngError::BadColorDepth);
    pixel_bits_ = depth_;
  }
  bitmap_bits_ = tk::PixelFormatBits(format_);
  if ((int64_t(width_) * pixel_bits_ + 7) / 8 > kMaxRowBytes) RaisePng(PngError::ImageTooLarge);
}

void TGLDPNGReadStream::CreateImage() {
  if (pal_transparent_) {
    int zeros = 0, opaque = 0, index = 0;
    for (int i = 0; i < 256; ++i) {
      if (pal_alpha_[i] == 0) ++zeros, index = i;
      if (pal_alpha_[i] == 255) ++opaque;
    }
    if (zeros == 1 && opaque == 255) {
      trans_color_ = TGLDPNG::kPaletteIndexColor + static_cast<tk::TColor>(index);
    } else {
      trans_color_ = TGLDPNG::kNoColor;
      use_palette_alpha_ = true;
    }
  }
  std::vector<tk::TPalEntry> palette(static_cast<size_t>(color_count_));
  for (int i = 0; i < color_count_; ++i) {
    palette[i].r = colors_[i].Red;
    palette[i].g = colors_[i].Green;
    palette[i].b = colors_[i].Blue;
  }
  image_.Clear();
  image_.SetPalette(std::move(palette));
  image_.Allocate(format_, static_cast<int>(width_), static_cast<int>(height_));
  if (alpha_out_ || use_palette_alpha_) {
    std::vector<tk::TPalEntry> grays(256);
    for (int i = 0; i < 256; ++i) grays[i].r = grays[i].g = grays[i].b = static_cast<uint8_t>(i);
    alpha_.Clear();
    alpha_.SetPalette(std::move(grays));
    alpha_.Allocate(tk::TPixelFormat::pf8bit, static_cast<int>(width_), static_cast<int>(height_));
  }
}

bool TGLDPNGReadStream::RefillInflate() {
  while (chunk_left_ == 0) {
    // This IDAT is used up: the image continues only in the next chunk.
    Skip(4);
    const uint32_t length = ReadBE32();
    const uint32_t type = ReadBE32();
    if (Halted() || type != kIDAT) return false;
    if (length > kMaxChunkLength || int64_t(length) > Remaining()) return false;
    chunk_left_ = length;
  }
  const uint8_t* data = nullptr;
  const size_t n = ReadSpan(&data, std::min<size_t>(chunk_left_, kInflateInput));
  if (n == 0) return false;
  chunk_left_ -= static_cast<uint32_t>(n);
  inflater_.SetInput(data, n);
  return true;
}

void TGLDPNGReadStream::InflateRow(uint8_t* out, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    if (inflate_ended_) RaisePng(PngError::ReadImage);
    if (!inflater_.HasInput() && !RefillInflate()) RaisePng(PngError::ReadImage);
    bool ended = false;
    const long n = inflater_.Inflate(out + filled, size - filled, ended);
    if (n < 0) RaisePng(PngError::ReadImage);
    filled += static_cast<size_t>(n);
    inflate_ended_ = ended;
  }
}

void TGLDPNGReadStream::DecodePass(int pass, Rows& rows, int& lineNo, int totalRows) {
  const bool interlaced = pass >= 0;
  const pngrow::PassInfo geometry =
      interlaced ? pngrow::kAdam7[pass] : pngrow::PassInfo{0, 0, 1, 1};
  const int width = static_cast<int>(width_), height = static_cast<int>(height_);
  const int passWidth = pngrow::PassExtent(width, geometry.x0, geometry.dx);
  const int passHeight = pngrow::PassExtent(height, geometry.y0, geometry.dy);
  if (passWidth == 0 || passHeight == 0) return;
  const size_t rowLen = (static_cast<size_t>(passWidth) * pixel_bits_ + 7) / 8;
  const int bpp = std::max(1, (pixel_bits_ + 7) / 8);
  const bool decodeHook = with_hooks_ && !password_.empty() && owner_.OnDecode;
  std::memset(rows.prev, 0, rowLen + 1);
  for (int r = 0; r < passHeight; ++r) {
    InflateRow(rows.cur, rowLen + 1);
    if (!pngrow::UnfilterRow(rows.cur[0], rows.cur + 1, rows.prev + 1, rowLen, bpp))
      RaisePng(PngError::ReadImage);
    if (decodeHook) {
      std::memcpy(rows.prev, rows.cur, rowLen + 1);
      owner_.OnDecode(owner_, rows.cur + 1, static_cast<int>(rowLen), lineNo, password_);
    }
    const int y = geometry.y0 + r * geometry.dy;
    if (!interlaced) {
      convert_(rows.cur + 1, image_.ScanLine(y), alpha_out_ ? alpha_.ScanLine(y) : rows.alpha,
               passWidth);
    } else {
      convert_(rows.cur + 1, rows.conv, rows.alpha, passWidth);
      pngrow::PlacePixels(rows.conv, image_.ScanLine(y), passWidth, bitmap_bits_, geometry.x0,
                          geometry.dx);
      if (alpha_out_)
        pngrow::PlacePixels(rows.alpha, alpha_.ScanLine(y), passWidth, 8, geometry.x0, geometry.dx);
    }
    if (!decodeHook) std::swap(rows.prev, rows.cur);
    ++lineNo;
    if (OnProgress && (totalRows < 4 || (lineNo & 3) == 0))
      Progress(TProgressStage::psRunning,
               static_cast<int>(29 + int64_t(lineNo) * 68 / std::max(1, totalRows)));
    if (Stopped()) return;
  }
}

void TGLDPNGReadStream::ReadImage() {
  ChooseFormat();
  if (!inflater_.Init()) RaisePng(PngError::ZlibSetup);
  inflate_ended_ = false;
  CreateImage();

  const size_t rawRow = (static_cast<size_t>(width_) * pixel_bits_ + 7) / 8 + 1;
  const size_t rawSize = ((rawRow + 3) & ~size_t(3)) + 4;
  const size_t convSize = static_cast<size_t>(image_.Stride()) + 4;
  // The alpha row exists only for pictures that carry alpha: a 1-bit
  // picture 2^30 pixels wide must not cost a gigabyte of alpha. Only the
  // raw rows start zeroed (the first row's "previous row" is all zeros);
  // the converted rows are written before they are read.
  const size_t alphaSize = alpha_out_ ? (static_cast<size_t>(width_) + 3) & ~size_t(3) : 0;
  Rows rows;
  rows.block.reset(new uint8_t[2 * rawSize + convSize + alphaSize]);
  std::memset(rows.block.get(), 0, 2 * rawSize);
  rows.prev = rows.block.get();
  rows.cur = rows.prev + rawSize;
  rows.conv = rows.cur + rawSize;
  rows.alpha = alpha_out_ ? rows.conv + convSize : nullptr;

  int totalRows = 0;
  const int width = static_cast<int>(width_), height = static_cast<int>(height_);
  if (interlace_ == 0) {
    totalRows = height;
  } else {
    for (const pngrow::PassInfo& p : pngrow::kAdam7)
      if (pngrow::PassExtent(width, p.x0, p.dx) > 0)
        totalRows += pngrow::PassExtent(height, p.y0, p.dy);
  }
  int lineNo = 0;
  if (interlace_ == 0) {
    DecodePass(-1, rows, lineNo, totalRows);
  } else {
    for (int pass = 0; pass < 7 && !Stopped(); ++pass) DecodePass(pass, rows, lineNo, totalRows);
  }
  image_done_ = true;
  inflater_.End();
}

void TGLDPNGReadStream::ApplyPaletteAlpha() {
  if (alpha_.Empty() || image_.Empty()) return;
  const int width = image_.Width(), height = image_.Height();
  const int bits = image_.BitCount();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = image_.ScanLine(y);
    uint8_t* dst = alpha_.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      int index;
      if (bits == 8)
        index = src[x];
      else if (bits == 4)
        index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
      else
        index = (src[x >> 3] >> (7 - (x & 7))) & 1;
      dst[x] = static_cast<uint8_t>(255 - pal_alpha_[index]);
    }
  }
}

}  // namespace orv
