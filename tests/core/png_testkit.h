// Helpers of the PNG codec tests: hand-made files chunk by chunk and
// generated bitmaps.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imaging/Gldpng.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Streams.h"

namespace pngtest {

using Bytes = std::vector<uint8_t>;

inline void PutBE32(Bytes& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

inline Bytes Signature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

// Appends a chunk with its length and correct CRC.
inline void AddChunk(Bytes& file, const char* type, const Bytes& data) {
  PutBE32(file, static_cast<uint32_t>(data.size()));
  const size_t typeAt = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  const uLong crc = crc32(0L, file.data() + typeAt, static_cast<uInt>(4 + data.size()));
  PutBE32(file, static_cast<uint32_t>(crc));
}

inline Bytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0) {
  Bytes d;
  PutBE32(d, w);
  PutBE32(d, h);
  d.push_back(depth);
  d.push_back(colorType);
  d.push_back(0);
  d.push_back(0);
  d.push_back(interlace);
  return d;
}

inline Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
  out.resize(size);
  return out;
}

// Filter-type-0 rows of `rowBytes` bytes each, from `pixels` (row-major).
inline Bytes RawRows(const Bytes& pixels, size_t rowBytes, size_t rows) {
  Bytes raw;
  for (size_t y = 0; y < rows; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels.begin() + y * rowBytes, pixels.begin() + (y + 1) * rowBytes);
  }
  return raw;
}

// A complete file: header, then the extra chunks, then the image, IEND.
struct FileSpec {
  uint32_t width = 4, height = 3;
  uint8_t depth = 8, colorType = 0;
  std::vector<std::pair<std::string, Bytes>> before;  // between IHDR and IDAT
  Bytes pixels;                                       // unfiltered rows, no filter bytes
};

inline Bytes MakePng(const FileSpec& desc) {
  Bytes file = Signature();
  AddChunk(file, "IHDR", Ihdr(desc.width, desc.height, desc.depth, desc.colorType));
  for (const auto& c : desc.before) AddChunk(file, c.first.c_str(), c.second);
  const size_t rowBytes = desc.height ? desc.pixels.size() / desc.height : 0;
  AddChunk(file, "IDAT", Deflate(RawRows(desc.pixels, rowBytes, desc.height)));
  AddChunk(file, "IEND", {});
  return file;
}

inline void LoadBytes(orv::TGLDPNG& png, const Bytes& file) {
  tk::TMemoryStream stream(file);
  png.LoadFromStream(stream);
}

inline Bytes SaveBytes(orv::TGLDPNG& png) {
  tk::TMemoryStream stream;
  png.SaveToStream(stream);
  return stream.Data();
}

// Pixel x of row y of any format as an integer (index, word or BGR(X)).
inline uint32_t PixelAt(const tk::TBitmap& bmp, int x, int y) {
  const uint8_t* row = bmp.ScanLine(y);
  switch (bmp.BitCount()) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    case 8:
      return row[x];
    case 16:
      return row[2 * x] | (row[2 * x + 1] << 8);
    case 24:
      return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    default:
      return row[4 * x] | (row[4 * x + 1] << 8) | (row[4 * x + 2] << 16) |
             (uint32_t(row[4 * x + 3]) << 24);
  }
}

inline void SetPixel(tk::TBitmap& bmp, int x, int y, uint32_t v) {
  uint8_t* row = bmp.ScanLine(y);
  switch (bmp.BitCount()) {
    case 1: {
      const int s = 7 - (x & 7);
      row[x >> 3] = uint8_t((row[x >> 3] & ~(1 << s)) | ((v & 1) << s));
      break;
    }
    case 4: {
      const int s = (x & 1) ? 0 : 4;
      row[x >> 1] = uint8_t((row[x >> 1] & ~(0xF << s)) | ((v & 0xF) << s));
      break;
    }
    case 8:
      row[x] = uint8_t(v);
      break;
    case 16:
      row[2 * x] = uint8_t(v), row[2 * x + 1] = uint8_t(v >> 8);
      break;
    case 24:
      row[3 * x] = uint8_t(v), row[3 * x + 1] = uint8_t(v >> 8), row[3 * x + 2] = uint8_t(v >> 16);
      break;
    default:
      std::memcpy(row + 4 * x, &v, 4);
      break;
  }
}

// A bitmap of smooth gradients plus noise, so every filter has work.
inline void FillPicture(tk::TBitmap& bmp, uint32_t seed) {
  std::mt19937 rng(seed);
  const int bits = bmp.BitCount();
  const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      uint32_t v = (rng() & 3) == 0 ? rng() : uint32_t(x * 3 + y * 5) * 0x010101u;
      SetPixel(bmp, x, y, v & mask);
    }
}

inline std::vector<tk::TPalEntry> RandomPalette(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<tk::TPalEntry> pal(static_cast<size_t>(count));
  for (auto& e : pal) e.r = uint8_t(rng()), e.g = uint8_t(rng()), e.b = uint8_t(rng());
  return pal;
}

inline std::vector<tk::TPalEntry> GrayPalette(int count) {
  std::vector<tk::TPalEntry> pal(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    pal[i].r = pal[i].g = pal[i].b = uint8_t(count > 1 ? i * 255 / (count - 1) : 0);
  return pal;
}

// Type and data of every chunk of a file, in order.
inline std::vector<std::pair<std::string, Bytes>> Chunks(const Bytes& file) {
  std::vector<std::pair<std::string, Bytes>> out;
  size_t p = 8;
  while (p + 12 <= file.size()) {
    const uint32_t len = (uint32_t(file[p]) << 24) | (uint32_t(file[p + 1]) << 16) |
                         (uint32_t(file[p + 2]) << 8) | file[p + 3];
    if (p + 12 + len > file.size()) break;
    out.emplace_back(std::string(file.begin() + p + 4, file.begin() + p + 8),
                     Bytes(file.begin() + p + 8, file.begin() + p + 8 + len));
    p += 12 + len;
  }
  return out;
}

}  // namespace pngtest
