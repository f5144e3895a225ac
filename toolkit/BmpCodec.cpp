// BMP file input and output of TBitmap.
//
// The reader takes the variants that occur in practice: OS/2 1.x core
// headers, Windows info headers up to V5 (and the OS/2 2.x variant),
// 1/2/4/8-bit palettes (short ones too), RLE4 and RLE8, 16/24/32-bit
// pixels with or without bit-field masks, bottom-up and top-down rows.
// It parses from a byte buffer with every offset checked against its size,
// decodes into a temporary bitmap and swaps it in only when everything
// succeeded, so a bad file leaves the target untouched.
#include <algorithm>
#include <cstring>
#include <vector>

#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace tk {

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;

[[noreturn]] void Invalid(const char* what) {
  throw EInvalidGraphic(std::string("Bitmap image is not valid: ") + what);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// One colour channel of a bit-field pixel: where it sits and how wide it is.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit Channel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    uint32_t v = m >> shift;
    while (v) {
      ++bits;
      v >>= 1;
    }
  }
  // Scales the channel to 0..255; gaps inside a mask count as zero bits.
  uint8_t Extract(uint32_t pixel) const {
    if (!bits) return 0;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    const uint32_t max = (1u << bits) - 1;
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

struct Header {
  int64_t width = 0;
  int64_t height = 0;  // absolute value
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool hasMasks = false;
  std::vector<TPalEntry> palette;
  size_t pixelOffset = 0;
};

// Reads the headers and the colour table; everything below only trusts
// what this function checked.
Header ParseHeader(const uint8_t* data, size_t size) {
  if (size < kFileHeaderSize + 4 || data[0] != 'B' || data[1] != 'M') Invalid("no BMP signature");
  const uint32_t offBits = Get32(data + 10);
  const uint32_t infoSize = Get32(data + kFileHeaderSize);
  const uint8_t* info = data + kFileHeaderSize;
  if (infoSize < kCoreHeaderSize || infoSize > size - kFileHeaderSize) Invalid("bad header size");

  Header h;
  const bool core = infoSize == kCoreHeaderSize;
  size_t entrySize = 4;
  if (core) {
    // OS/2 1.x: 16-bit unsigned sizes, RGBTRIPLE colour table.
    h.width = Get16(info + 4);
    h.height = Get16(info + 6);
    h.bits = Get16(info + 10);
    entrySize = 3;
  } else {
    // Everything from 16 bytes on (OS/2 2.x, Windows info, V2..V5) shares
    // the layout of the info header; shorter OS/2 2.x headers leave the
    // missing fields zero.
    if (infoSize < 16) Invalid("bad header size");
    uint8_t full[kInfoHeaderSize] = {};
    std::memcpy(full, info, std::min<size_t>(infoSize, kInfoHeaderSize));
    h.width = static_cast<int32_t>(Get32(full + 4));
    const int32_t height = static_cast<int32_t>(Get32(full + 8));
    if (height == INT32_MIN) Invalid("bad height");
    h.topDown = height < 0;
    h.height = height < 0 ? -int64_t(height) : height;
    h.bits = Get16(full + 14);
    h.compression = Get32(full + 16);
    const bool os2v2 = infoSize != kInfoHeaderSize && infoSize != 52 && infoSize != 56 &&
                       infoSize != 108 && infoSize != 124;
    if (os2v2 && h.compression > kBiRle4) Invalid("unsupported OS/2 compression");
    uint32_t clrUsed = Get32(full + 32);
    if (h.bits <= 8) {
      const uint32_t max = 1u << (h.bits ? h.bits : 1);
      h.palette.resize(clrUsed == 0 || clrUsed > max ? max : clrUsed);
    }
  }
  if (h.width <= 0 || h.height <= 0) Invalid("bad size");

  size_t tableStart = kFileHeaderSize + infoSize;
  if (h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
    if (h.bits != 16 && h.bits != 24 && h.bits != 32) Invalid("bit fields need 16, 24 or 32 bits");
    const int count = h.compression == kBiAlphaBitfields ? 4 : 3;
    if (infoSize >= kInfoHeaderSize + 4u * count) {
      for (int i = 0; i < count; ++i) h.masks[i] = Get32(info + kInfoHeaderSize + 4 * i);
    } else {
      // A bare info header is followed by the masks.
      if (size - tableStart < 4u * count) Invalid("truncated masks");
      for (int i = 0; i < count; ++i) h.masks[i] = Get32(data + tableStart + 4 * i);
      tableStart += 4u * count;
    }
    if (infoSize >= 56 && count == 3) h.masks[3] = Get32(info + 52);
    // Some writers declare bit fields and leave the masks zero: the
    // format's default layout is what they meant.
    h.hasMasks = h.masks[0] || h.masks[1] || h.masks[2];
    h.compression = kBiRgb;
  }

  switch (h.bits) {
    case 1:
    case 2:
    case 4:
    case 8:
      if (h.compression == kBiRle8 && h.bits != 8) Invalid("RLE8 needs 8 bits");
      if (h.compression == kBiRle4 && h.bits != 4) Invalid("RLE4 needs 4 bits");
      break;
    case 16:
    case 24:
    case 32:
      if (h.compression != kBiRgb) Invalid("unsupported compression");
      break;
    default:
      Invalid("unsupported bit count");
  }
  if (core && h.bits <= 8) h.palette.resize(size_t(1) << h.bits);
  if (h.compression != kBiRgb && h.compression != kBiRle8 && h.compression != kBiRle4)
    Invalid("unsupported compression");

  // The colour table ends where the pixels start; writers that declared a
  // full table but stored a shorter one are common.
  size_t paletteCount = h.palette.size();
  if (offBits >= tableStart && offBits <= size) {
    paletteCount = std::min(paletteCount, (offBits - tableStart) / entrySize);
    h.pixelOffset = offBits;
  } else {
    h.pixelOffset = tableStart + paletteCount * entrySize;
  }
  if (tableStart > size || (size - tableStart) / entrySize < paletteCount)
    Invalid("truncated palette");
  for (size_t i = 0; i < paletteCount; ++i) {
    const uint8_t* e = data + tableStart + i * entrySize;
    h.palette[i] = TPalEntry{e[0], e[1], e[2], 0};
  }
  // Indexes beyond a short table show black rather than reading past it.
  if (h.bits <= 8) h.palette.resize(size_t(1) << h.bits);
  std::fill(h.palette.begin() + static_cast<std::ptrdiff_t>(paletteCount), h.palette.end(),
            TPalEntry{});
  if (h.pixelOffset > size) Invalid("no pixel data");
  return h;
}

// Row y of the file (0 = first stored) is picture row TargetRow(y).
int TargetRow(const Header& h, int64_t fileRow) {
  return static_cast<int>(h.topDown ? fileRow : h.height - 1 - fileRow);
}

void DecodeRle(const Header& h, const uint8_t* src, size_t size, TBitmap& bmp) {
  const bool rle4 = h.compression == kBiRle4;
  const int64_t w = h.width, rows = h.height;
  int64_t x = 0, y = 0;  // y counts file rows
  size_t p = 0;
  auto put = [&](uint8_t index) {
    if (x < w && y < rows) {
      uint8_t* line = bmp.ScanLine(TargetRow(h, y));
      if (rle4) {
        uint8_t& b = line[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | index)
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
      } else {
        line[x] = index;
      }
    }
    ++x;
  };
  while (y < rows) {
    if (size - p < 2) Invalid("truncated RLE data");
    const uint8_t count = src[p], value = src[p + 1];
    p += 2;
    if (count) {
      for (int i = 0; i < count && x < w; ++i)
        put(rle4 ? static_cast<uint8_t>((i & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // delta
        if (size - p < 2) Invalid("truncated RLE delta");
        x += src[p];
        y += src[p + 1];
        p += 2;
        break;
      }
      default: {  // absolute run, padded to a 16-bit boundary
        const size_t bytes = rle4 ? (value + 1u) / 2 : value;
        const size_t padded = (bytes + 1) & ~size_t(1);
        if (size - p < bytes) Invalid("truncated RLE run");
        for (int i = 0; i < value; ++i) {
          const uint8_t b = src[p + (rle4 ? i / 2 : i)];
          put(rle4 ? static_cast<uint8_t>((i & 1) ? b & 0x0F : b >> 4) : b);
        }
        p += std::min(padded, size - p);
        break;
      }
    }
  }
}

bool MasksAre(const uint32_t* m, uint32_t r, uint32_t g, uint32_t b) {
  return m[0] == r && m[1] == g && m[2] == b;
}

void DecodeMasked(const Header& h, const uint8_t* src, size_t fileStride, TBitmap& bmp) {
  const Channel r(h.masks[0]), g(h.masks[1]), b(h.masks[2]), a(h.masks[3]);
  const int bytes = h.bits / 8;
  const bool alpha = bmp.PixelFormat() == TPixelFormat::pf32bit;
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* in = src + y * fileStride;
    uint8_t* out = bmp.ScanLine(TargetRow(h, y));
    for (int64_t x = 0; x < h.width; ++x, in += bytes) {
      uint32_t v = bytes == 2   ? Get16(in)
                   : bytes == 3 ? (Get16(in) | uint32_t(in[2]) << 16)
                                : Get32(in);
      *out++ = b.Extract(v);
      *out++ = g.Extract(v);
      *out++ = r.Extract(v);
      if (alpha) *out++ = a.Extract(v);
    }
  }
}

// Widens 2-bit rows to the 4-bit format the toolkit has.
void Decode2Bit(const Header& h, const uint8_t* src, size_t fileStride, TBitmap& bmp) {
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* in = src + y * fileStride;
    uint8_t* out = bmp.ScanLine(TargetRow(h, y));
    for (int64_t x = 0; x < h.width; ++x) {
      const uint8_t v = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
      out[x >> 1] |= static_cast<uint8_t>((x & 1) ? v : v << 4);
    }
  }
}

void Decode(const uint8_t* data, size_t size, TBitmap& result) {
  const Header h = ParseHeader(data, size);
  const uint8_t* pixels = data + h.pixelOffset;
  const size_t available = size - h.pixelOffset;

  TPixelFormat pf;
  bool direct = true;  // rows can be copied as stored
  switch (h.bits) {
    case 1:
      pf = TPixelFormat::pf1bit;
      break;
    case 2:
      pf = TPixelFormat::pf4bit;
      direct = false;
      break;
    case 4:
      pf = TPixelFormat::pf4bit;
      break;
    case 8:
      pf = TPixelFormat::pf8bit;
      break;
    case 16:
      pf = TPixelFormat::pf15bit;
      if (h.hasMasks && !MasksAre(h.masks, 0x7C00, 0x03E0, 0x001F)) {
        if (MasksAre(h.masks, 0xF800, 0x07E0, 0x001F)) {
          pf = TPixelFormat::pf16bit;
        } else {
          direct = false;
        }
      }
      break;
    case 24:
      pf = TPixelFormat::pf24bit;
      direct = !h.hasMasks || MasksAre(h.masks, 0xFF0000, 0x00FF00, 0x0000FF);
      break;
    default:
      pf = TPixelFormat::pf32bit;
      direct = !h.hasMasks || MasksAre(h.masks, 0xFF0000, 0x00FF00, 0x0000FF);
      break;
  }
  if (!direct && h.bits >= 16) pf = h.masks[3] ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;

  // Checked before any arithmetic on the size can overflow and before any
  // allocation: the bitmap would refuse it anyway.
  const int64_t fileStride = RowBytes(h.width, h.bits);
  if (fileStride > kMaxBitmapBytes || h.height > kMaxBitmapBytes / fileStride)
    throw EOutOfResources("Out of system resources");
  const bool rle = h.compression != kBiRgb;
  if (!rle) {
    // The last row may lack its padding; anything shorter is truncated.
    const int64_t needed = fileStride * (h.height - 1) + (h.width * h.bits + 7) / 8;
    if (needed > static_cast<int64_t>(available)) Invalid("truncated pixel data");
  }

  TBitmap bmp;
  if (h.bits <= 8) {
    std::vector<TPalEntry> palette = h.palette;
    if (h.bits == 2) palette.resize(16);
    bmp.SetPalette(std::move(palette));
  }
  bmp.Allocate(pf, static_cast<int>(h.width), static_cast<int>(h.height));

  if (rle) {
    DecodeRle(h, pixels, available, bmp);
  } else if (h.bits == 2) {
    Decode2Bit(h, pixels, static_cast<size_t>(fileStride), bmp);
  } else if (!direct) {
    DecodeMasked(h, pixels, static_cast<size_t>(fileStride), bmp);
  } else {
    const size_t rowBytes = static_cast<size_t>((h.width * h.bits + 7) / 8);
    for (int64_t y = 0; y < h.height; ++y) {
      std::memcpy(bmp.ScanLine(TargetRow(h, y)), pixels + y * fileStride, rowBytes);
    }
  }
  result.Swap(bmp);
}

}  // namespace

void TBitmap::LoadFromFile(const std::string& path) {
  TMemoryStream file;
  file.LoadFromFile(path);
  LoadFromMemory(file.Memory(), file.Data().size());
}

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t size = stream.Size() - start;
  if (size <= 0) Invalid("empty stream");
  if (const uint8_t* mem = stream.Memory()) {
    LoadFromMemory(mem + start, static_cast<size_t>(size));
  } else {
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    stream.ReadBuffer(buffer.data(), buffer.size());
    LoadFromMemory(buffer.data(), buffer.size());
  }
  stream.Seek(0, SeekOrigin::End);
}

void TBitmap::LoadFromMemory(const uint8_t* data, size_t size) {
  if (!data) Invalid("no data");
  TBitmap decoded;
  Decode(data, size, decoded);
  Swap(decoded);
}

void TBitmap::SaveToStream(TStream& stream) const {
  if (Empty()) throw EInvalidGraphic("Cannot save an empty bitmap");
  const int bits = BitCount();
  uint32_t colors = 0;
  std::vector<TPalEntry> table;
  if (bits <= 8) {
    table = palette_;
    if (table.size() > (size_t(1) << bits)) table.resize(size_t(1) << bits);
    // No palette at all would make readers expect a full one.
    if (table.empty()) table.resize(size_t(1) << bits);
    colors = static_cast<uint32_t>(table.size());
  }
  const bool bitfields = format_ == TPixelFormat::pf16bit;
  const uint32_t extra = bitfields ? 12 : colors * 4;
  const uint32_t offBits = static_cast<uint32_t>(kFileHeaderSize + kInfoHeaderSize + extra);
  const uint32_t imageSize = static_cast<uint32_t>(ImageSize());

  std::vector<uint8_t> head(offBits, 0);
  head[0] = 'B';
  head[1] = 'M';
  Put32(&head[2], offBits + imageSize);
  Put32(&head[10], offBits);
  uint8_t* info = &head[kFileHeaderSize];
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, static_cast<uint32_t>(width_));
  Put32(info + 8, static_cast<uint32_t>(height_));
  Put16(info + 12, 1);
  Put16(info + 14, static_cast<uint32_t>(bits));
  Put32(info + 16, bitfields ? kBiBitfields : kBiRgb);
  Put32(info + 20, imageSize);
  Put32(info + 32, colors);
  uint8_t* rest = info + kInfoHeaderSize;
  if (bitfields) {
    Put32(rest, 0xF800);
    Put32(rest + 4, 0x07E0);
    Put32(rest + 8, 0x001F);
  } else {
    for (const TPalEntry& e : table) {
      *rest++ = e.b;
      *rest++ = e.g;
      *rest++ = e.r;
      *rest++ = 0;
    }
  }
  stream.WriteBuffer(head.data(), head.size());
  Flush();
  // Stored rows are bottom-up and padded exactly like a BMP's.
  stream.WriteBuffer(Bits(), ImageSize());
}

void TBitmap::SaveToFile(const std::string& path) const {
  if (Empty()) throw EInvalidGraphic("Cannot save an empty bitmap");
  TFileStream file(path, FileMode::Create);
  SaveToStream(file);
}

}  // namespace tk
