// The PNG writer: the header and one small function per ancillary chunk,
// then the rows, filtered and deflated into IDAT chunks.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

#include "imaging/GldpngFormat.h"
#include "imaging/Gldpngstream.h"
#include "toolkit/Exceptions.h"

namespace orv {

using namespace pngformat;

// ---------------------------------------------------------------------------
// Writer

namespace {

constexpr int kImmediateTake = 0x7FFFFFFF;

// Fewer distinct byte values and more weight on the most frequent ones
// score higher; a row that is nearly uniform is taken at once.
int ScoreRow(const uint8_t* row, size_t n, bool wide, uint32_t* counts) {
  std::memset(counts, 0, 256 * sizeof(uint32_t));
  for (size_t i = 0; i < n; ++i) ++counts[row[i]];
  int distinct = 0;
  uint32_t c1 = 0, c2 = 0, c3 = 0;
  for (int v = 0; v < 256; ++v) {
    const uint32_t c = counts[v];
    if (c == 0) continue;
    ++distinct;
    if (c > c1) {
      c3 = c2, c2 = c1, c1 = c;
    } else if (c > c2) {
      c3 = c2, c2 = c;
    } else if (c > c3) {
      c3 = c;
    }
  }
  if (distinct <= 8 || uint64_t(c1) * 10 >= uint64_t(n) * 9) return kImmediateTake;
  const double len = static_cast<double>(n);
  const double score = wide ? len / 1.5 / distinct * 1000 + double(c1 + c2 + c3) / len * 1000
                            : len / 1.5 / distinct * 1500 + double(c1 + c2) / len * 1000;
  return static_cast<int>(std::lround(score));
}

}  // namespace

TGLDPNGWriteStream::TGLDPNGWriteStream(TGLDPNG& owner, const tk::TBitmap& image,
                                       const tk::TBitmap& alpha, bool withOptions)
    : owner_(owner), image_(image), alpha_(alpha), with_options_(withOptions) {
  if (withOptions) {
    idat_size_ = owner.IDATSize();
    level_ = owner.CompressionLevel;
    filter_ = owner.FilterType;
    interlace_ = owner.Interlace == gptAdam7 ? 1 : 0;
  }
}

void TGLDPNGWriteStream::SetIDATSize(int size) {
  if (size < 256 || size > 100000) RaisePng(PngError::WriterIDATSizeParam);
  idat_size_ = size;
}

void TGLDPNGWriteStream::WriteChunk(const char type[4], const uint8_t* data, size_t size) {
  WriteBE32(static_cast<uint32_t>(size));
  WriteBytes(type, 4);
  if (size) WriteBytes(data, size);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
  if (size) crc = crc32(crc, data, static_cast<uInt>(size));
  WriteBE32(static_cast<uint32_t>(crc));
}

int TGLDPNGWriteStream::GrayLevel(tk::TColor c) const {
  return GrayOf(tk::RedOf(c), tk::GreenOf(c), tk::BlueOf(c));
}

int TGLDPNGWriteStream::ReduceGray(int level) const {
  if (color_type_ != 0 && color_type_ != 4) return level;
  if (depth_ == 1) return level >= 128 ? 1 : 0;
  if (depth_ == 4) return level / 16;
  return level;
}

bool TGLDPNGWriteStream::ResolveIndex(tk::TColor c, int& index) const {
  const auto& pal = image_.Palette();
  if ((c & 0xFF000000u) == TGLDPNG::kPaletteIndexColor) {
    index = static_cast<int>(c & 0xFF);
    return true;
  }
  if (pal.empty()) return false;
  TGLDPalRGB table[256];
  for (size_t i = 0; i < pal.size(); ++i) {
    table[i].Red = pal[i].r, table[i].Green = pal[i].g, table[i].Blue = pal[i].b;
  }
  index = GetNearestColorTableIndex(table, c, static_cast<int>(pal.size()));
  return true;
}

// The colour a value stands for: palette-index values through the palette.
tk::TColor TGLDPNGWriteStream::ResolveColor(tk::TColor c) const {
  if ((c & 0xFF000000u) != TGLDPNG::kPaletteIndexColor) return c & 0xFFFFFF;
  const auto& pal = image_.Palette();
  const size_t index = c & 0xFF;
  if (index >= pal.size()) return 0;
  return tk::RGBColor(pal[index].r, pal[index].g, pal[index].b);
}

void TGLDPNGWriteStream::ConvertRow(int y, int x0, int dx, int count, uint8_t* out) {
  const uint8_t* src = image_.ScanLine(y);
  const uint8_t* alpha = use_alpha_ ? alpha_.ScanLine(y) : nullptr;
  const bool grayOut = color_type_ == 0 || color_type_ == 4;
  if (source_bits_ <= 8) {
    // Indices (or gray codes through gray_table_) of the same depth, or
    // 8-bit gray with alpha.
    const int bits = source_bits_;
    if (bits == 8) {
      uint8_t* o = out;
      for (int k = 0, x = x0; k < count; ++k, x += dx) {
        *o++ = grayOut ? gray_table_[src[x]] : src[x];
        if (use_alpha_) *o++ = static_cast<uint8_t>(255 - alpha[x]);
      }
      return;
    }
    const size_t bytes = (static_cast<size_t>(count) * bits + 7) / 8;
    std::memset(out, 0, bytes);
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    for (int k = 0, x = x0; k < count; ++k, x += dx) {
      int v = (src[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & mask;
      if (grayOut) v = gray_table_[v];
      out[k / perByte] |= static_cast<uint8_t>(v << ((perByte - 1 - k % perByte) * bits));
    }
    return;
  }
  uint8_t* o = out;
  for (int k = 0, x = x0; k < count; ++k, x += dx) {
    int r, g, b;
    if (source_bits_ == 15 || source_bits_ == 16) {
      const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
      if (source_bits_ == 16) {
        const unsigned r5 = v >> 11, g6 = (v >> 5) & 63, b5 = v & 31;
        r = int(r5 << 3 | r5 >> 2), g = int(g6 << 2 | g6 >> 4), b = int(b5 << 3 | b5 >> 2);
      } else {
        const unsigned r5 = (v >> 10) & 31, g5 = (v >> 5) & 31, b5 = v & 31;
        r = int(r5 << 3 | r5 >> 2), g = int(g5 << 3 | g5 >> 2), b = int(b5 << 3 | b5 >> 2);
      }
    } else {
      const int step = source_bits_ == 32 ? 4 : 3;
      b = src[step * x], g = src[step * x + 1], r = src[step * x + 2];
    }
    if (grayOut) {
      *o++ = static_cast<uint8_t>(GrayOf(r, g, b));
    } else {
      *o++ = static_cast<uint8_t>(r);
      *o++ = static_cast<uint8_t>(g);
      *o++ = static_cast<uint8_t>(b);
    }
    if (use_alpha_) *o++ = static_cast<uint8_t>(255 - alpha[x]);
  }
}

void TGLDPNGWriteStream::Save(tk::TStream& stream) {
  if (image_.Empty()) RaisePng(PngError::EmptyImage);
  Attach(stream);
  image_.Flush();
  ChooseOutput();
  WriteBytes(kSignature, 8);
  WriteHeader();
  WriteTime();
  if (!owner_.Comment.empty()) WriteText("Comment", owner_.Comment);
  WriteText("Software", "GLDPNG ver 3.4");
  WritePrivate();
  WriteGIFExtension();
  WriteGamma();
  WriteChromaticities();
  WriteSignificantBits();
  WritePalette();
  WriteBackground();
  WriteTransparency();
  WritePhysicalSize();
  WriteImageData();
  WriteChunk("IEND", nullptr, 0);
  Flush();
}

// Colour type, depth and channels from the picture's format and the gray
// option; for gray output the table from the picture's codes to gray codes.
void TGLDPNGWriteStream::ChooseOutput() {
  source_bits_ = GLDBitCount(image_.PixelFormat());
  const bool gray = owner_.GrayScale;
  use_alpha_ = owner_.AlphaChannel && !alpha_.Empty() && &alpha_ != &image_ &&
               alpha_.Width() == image_.Width() && alpha_.Height() == image_.Height() &&
               alpha_.BitCount() == 8 && alpha_.PixelFormat() == tk::TPixelFormat::pf8bit;
  if (source_bits_ <= 4 || (!gray && source_bits_ <= 8)) use_alpha_ = false;
  if (!gray) {
    if (source_bits_ <= 8) {
      color_type_ = 3, depth_ = source_bits_, channels_ = 1;
    } else {
      color_type_ = use_alpha_ ? 6 : 2, depth_ = 8, channels_ = use_alpha_ ? 4 : 3;
    }
  } else if (source_bits_ <= 4) {
    color_type_ = 0, depth_ = source_bits_, channels_ = 1;
  } else {
    color_type_ = use_alpha_ ? 4 : 0, depth_ = 8, channels_ = use_alpha_ ? 2 : 1;
  }
  if (gray && source_bits_ <= 8) BuildGrayTable();
}

void TGLDPNGWriteStream::BuildGrayTable() {
  const auto& pal = image_.Palette();
  for (int i = 0; i < 256; ++i) {
    if (pal.empty() || i >= static_cast<int>(pal.size())) {
      gray_table_[i] = static_cast<uint8_t>(source_bits_ == 4 ? (i & 15) : i);
      if (!pal.empty() && source_bits_ == 8) gray_table_[i] = static_cast<uint8_t>(i);
      continue;
    }
    const int level = GrayLevel(tk::RGBColor(pal[i].r, pal[i].g, pal[i].b));
    gray_table_[i] = static_cast<uint8_t>(source_bits_ == 4 ? level / 16 : level);
  }
  if (source_bits_ == 1) {
    // 0 must stay the darker entry in the file.
    const bool invert =
        pal.size() >= 2 && GrayLevel(tk::RGBColor(pal[1].r, pal[1].g, pal[1].b)) <
                               GrayLevel(tk::RGBColor(pal[0].r, pal[0].g, pal[0].b));
    gray_table_[0] = invert ? 1 : 0;
    gray_table_[1] = invert ? 0 : 1;
  }
}

void TGLDPNGWriteStream::WriteHeader() {
  PngHeader header;
  header.width = static_cast<uint32_t>(image_.Width());
  header.height = static_cast<uint32_t>(image_.Height());
  header.depth = static_cast<uint8_t>(depth_);
  header.colorType = static_cast<uint8_t>(color_type_);
  header.interlace = static_cast<uint8_t>(interlace_);
  header.Validate();
  uint8_t ihdr[13];
  header.Serialize(ihdr);
  WriteChunk("IHDR", ihdr, 13);
}

void TGLDPNGWriteStream::WriteTime() {
  const TPNGTime t =
      (with_options_ ? owner_.WriteCurrentTime : true) ? SystemPNGTime() : owner_.Time;
  if (t.Year == 0 || t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 || t.Hour > 23 ||
      t.Minute > 59 || t.Second > 60)
    return;
  uint8_t b[7];
  PutBE16(b, t.Year);
  b[2] = t.Month, b[3] = t.Day, b[4] = t.Hour, b[5] = t.Minute, b[6] = t.Second;
  WriteChunk("tIME", b, 7);
}

void TGLDPNGWriteStream::WriteText(const std::string& keyword, const std::string& text) {
  if (keyword.size() >= 80) return;
  std::string data = keyword;
  data.push_back('\0');
  data += text;
  WriteChunk("tEXt", reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

void TGLDPNGWriteStream::WritePrivate() {
  uint8_t b[8] = {'G', 'L', 'D', '3', 0, 0, 0, 0};
  b[4] = with_options_ && !owner_.Password.empty() && owner_.OnEncode ? 1 : 0;
  WriteChunk("tpNG", b, 8);
}

void TGLDPNGWriteStream::WriteGIFExtension() {
  const uint8_t* gif = owner_.GIFExt.Data;
  if (gif[0] || gif[1] || gif[2]) WriteChunk("gIFg", gif, 4);
}

void TGLDPNGWriteStream::WriteGamma() {
  if (owner_.Gamma <= 0) return;
  uint8_t b[4];
  PutBE32(b, static_cast<uint32_t>(std::lround(owner_.Gamma * 100000)));
  WriteChunk("gAMA", b, 4);
}

void TGLDPNGWriteStream::WriteChromaticities() {
  const TPNGChromaticities& c = owner_.Chrm;
  if (c.WhiteX == 0 || c.WhiteY == 0) return;
  const uint32_t v[8] = {c.WhiteX, c.WhiteY, c.RedX, c.RedY, c.GreenX, c.GreenY, c.BlueX, c.BlueY};
  uint8_t b[32];
  for (int i = 0; i < 8; ++i) PutBE32(b + 4 * i, v[i]);
  WriteChunk("cHRM", b, 32);
}

void TGLDPNGWriteStream::WriteSignificantBits() {
  if (color_type_ == 0 || color_type_ == 4) return;
  uint8_t b[4] = {0, 0, 0, 8};
  size_t n = 0;
  if (source_bits_ == 15 || source_bits_ == 16) {
    b[0] = 5, b[1] = source_bits_ == 16 ? 6 : 5, b[2] = 5;
    n = use_alpha_ ? 4 : 3;
  } else if (static_cast<int32_t>(owner_.SignificantBits) > 0) {
    const uint32_t s = owner_.SignificantBits;
    b[0] = uint8_t(s), b[1] = uint8_t(s >> 8), b[2] = uint8_t(s >> 16), b[3] = uint8_t(s >> 24);
    n = use_alpha_ ? 4 : 3;
    // Counts outside 1..8 would make the chunk invalid for 8-bit samples.
    for (size_t i = 0; i < n; ++i)
      if (b[i] == 0 || b[i] > 8) n = 0;
  }
  if (n) WriteChunk("sBIT", b, n);
}

void TGLDPNGWriteStream::WritePalette() {
  if (color_type_ != 3) return;
  const auto& pal = image_.Palette();
  const size_t maxEntries = size_t(1) << depth_;
  std::vector<uint8_t> plte;
  if (!pal.empty()) {
    for (size_t i = 0; i < pal.size() && i < maxEntries; ++i) {
      plte.push_back(pal[i].r);
      plte.push_back(pal[i].g);
      plte.push_back(pal[i].b);
    }
  } else {
    // A palette image needs PLTE; without entries the indices are taken
    // as gray levels.
    TGLDPalRGB ramp[256];
    const int count = CreateGrayScalePalette(ramp, depth_);
    for (int i = 0; i < count; ++i) {
      plte.push_back(ramp[i].Red);
      plte.push_back(ramp[i].Green);
      plte.push_back(ramp[i].Blue);
    }
  }
  WriteChunk("PLTE", plte.data(), plte.size());
}

void TGLDPNGWriteStream::WriteBackground() {
  if (owner_.BGColor == TGLDPNG::kNoColor) return;
  if (color_type_ == 3) {
    int index;
    if (ResolveIndex(owner_.BGColor, index)) {
      const uint8_t b = static_cast<uint8_t>(index);
      WriteChunk("bKGD", &b, 1);
    }
  } else if (color_type_ == 0 || color_type_ == 4) {
    uint8_t b[2];
    PutBE16(b, static_cast<uint16_t>(ReduceGray(GrayLevel(ResolveColor(owner_.BGColor)))));
    WriteChunk("bKGD", b, 2);
  } else {
    uint8_t b[6];
    PutRgbSamples(b, ResolveColor(owner_.BGColor));
    WriteChunk("bKGD", b, 6);
  }
}

void TGLDPNGWriteStream::WriteTransparency() {
  if (owner_.TransColor == TGLDPNG::kNoColor || use_alpha_) return;
  if (color_type_ == 3) {
    int index;
    if (ResolveIndex(owner_.TransColor, index)) {
      std::vector<uint8_t> alpha(static_cast<size_t>(index) + 1, 255);
      alpha[static_cast<size_t>(index)] = 0;
      WriteChunk("tRNS", alpha.data(), alpha.size());
    }
  } else if (color_type_ == 0) {
    uint8_t b[2];
    PutBE16(b, static_cast<uint16_t>(ReduceGray(GrayLevel(ResolveColor(owner_.TransColor)))));
    WriteChunk("tRNS", b, 2);
  } else if (color_type_ == 2) {
    uint8_t b[6];
    PutRgbSamples(b, ResolveColor(owner_.TransColor));
    WriteChunk("tRNS", b, 6);
  }
}

void TGLDPNGWriteStream::WritePhysicalSize() {
  if (owner_.PhysX <= 0 || owner_.PhysY <= 0) return;
  uint8_t unit = owner_.PhysUnit;
  int64_t x = owner_.PhysX, y = owner_.PhysY;
  if (unit == gpuInch) {
    x = (x * 10000 + 127) / 254;
    y = (y * 10000 + 127) / 254;
    unit = gpuMeter;
  } else if (unit != gpuAspect && unit != gpuMeter) {
    unit = gpuAspect;
  }
  uint8_t b[9];
  PutBE32(b, static_cast<uint32_t>(std::min<int64_t>(x, kMaxChunkLength)));
  PutBE32(b + 4, static_cast<uint32_t>(std::min<int64_t>(y, kMaxChunkLength)));
  b[8] = unit;
  WriteChunk("pHYs", b, 9);
}

void TGLDPNGWriteStream::WriteImageData() {
  const int width = image_.Width(), height = image_.Height();
  const int pixelBits = depth_ * channels_;
  const int bpp = std::max(1, pixelBits / 8);
  const size_t maxRow = (static_cast<size_t>(width) * pixelBits + 7) / 8;
  const size_t rowSize = (maxRow + 1 + 31) & ~size_t(31);
  std::unique_ptr<uint8_t[]> block(new uint8_t[4 * rowSize]());
  uint8_t* raw = block.get();     // [0] filter byte, then the raw row
  uint8_t* prev = raw + rowSize;  // previous raw row, same layout
  uint8_t* filtered = prev + rowSize;
  uint8_t* trial = filtered + rowSize;
  uint32_t counts[256];

  int outSize = idat_size_;
  if (outSize < 1 || outSize > 262143) outSize = TGLDPNG::kDefaultIDATSize;
  std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(outSize)]);
  TGLDDeflater deflater;
  deflater.Init(level_, (filter_ > gpfPaeth ? gpfNone : filter_) != gpfNone);
  deflater.SetOutput(out.get(), static_cast<size_t>(outSize));
  auto pump = [&](const uint8_t* data, size_t size, bool finish) {
    bool first = true, done = false;
    for (;;) {
      if (!deflater.Deflate(first ? data : nullptr, first ? size : 0, finish, done))
        RaisePng(PngError::WriteImage);
      first = false;
      if (deflater.OutputLeft() == 0) {
        WriteChunk("IDAT", out.get(), static_cast<size_t>(outSize));
        deflater.SetOutput(out.get(), static_cast<size_t>(outSize));
        continue;
      }
      if (finish ? done : deflater.InputLeft() == 0) break;
    }
  };

  const bool encodeHook = with_options_ && !owner_.Password.empty() && owner_.OnEncode;
  const bool lowDepthIndexed = (color_type_ == 3 || color_type_ == 0 || color_type_ == 4);
  const bool wide = pixelBits >= 8;
  int lineNo = 0;
  const int passes = interlace_ ? 7 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const pngrow::PassInfo g = interlace_ ? pngrow::kAdam7[pass] : pngrow::PassInfo{0, 0, 1, 1};
    const int passWidth = pngrow::PassExtent(width, g.x0, g.dx);
    const int passHeight = pngrow::PassExtent(height, g.y0, g.dy);
    if (passWidth == 0 || passHeight == 0) continue;
    const size_t len = (static_cast<size_t>(passWidth) * pixelBits + 7) / 8;
    std::memset(prev, 0, len + 1);
    for (int r = 0; r < passHeight; ++r) {
      ConvertRow(g.y0 + r * g.dy, g.x0, g.dx, passWidth, raw + 1);
      if (encodeHook)
        owner_.OnEncode(owner_, raw + 1, static_cast<int>(len), lineNo, owner_.Password);
      uint8_t choice = pngrow::kNone;
      TGLDPNGFilterType mode = filter_ > gpfPaeth ? gpfNone : filter_;
      if (mode == gpfJust) {
        raw[0] = 0;
        if (lowDepthIndexed && depth_ == 4) {
          choice = pngrow::kNone;
        } else {
          int best = ScoreRow(raw, len + 1, wide, counts);
          if (best != kImmediateTake) {
            if (lowDepthIndexed && (depth_ == 1 || depth_ == 8)) best *= 2;
            for (uint8_t f = pngrow::kSub; f <= pngrow::kPaeth; ++f) {
              trial[0] = f;
              pngrow::FilterRow(f, raw + 1, prev + 1, trial + 1, len, bpp);
              const int score = ScoreRow(trial, len + 1, wide, counts);
              if (score == kImmediateTake) {
                choice = f;
                break;
              }
              if (score > best) {
                best = score;
                choice = f;
              }
            }
          }
        }
      } else {
        choice = static_cast<uint8_t>(mode - gpfNone);
      }
      filtered[0] = choice;
      if (choice == pngrow::kNone)
        std::memcpy(filtered + 1, raw + 1, len);
      else
        pngrow::FilterRow(choice, raw + 1, prev + 1, filtered + 1, len, bpp);
      pump(filtered, len + 1, false);
      std::swap(raw, prev);
      ++lineNo;
    }
  }
  pump(nullptr, 0, true);
  const size_t rest = static_cast<size_t>(outSize) - deflater.OutputLeft();
  if (rest > 0) WriteChunk("IDAT", out.get(), rest);
}

}  // namespace orv
