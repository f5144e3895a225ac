// What the PNG reader and writer share of the file format: the signature,
// the chunk tags, the header record with its one validation, and the
// sample packings both sides use. Internal to the codec.
#pragma once

#include <cstdint>

#include "imaging/Gldpngstream.h"
#include "toolkit/Graphics.h"

namespace orv {
namespace pngformat {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;

constexpr uint32_t ChunkTag(char a, char b, char c, char d) {
  return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) |
         uint32_t(uint8_t(d));
}
constexpr uint32_t kIHDR = ChunkTag('I', 'H', 'D', 'R'), kPLTE = ChunkTag('P', 'L', 'T', 'E'),
                   kIDAT = ChunkTag('I', 'D', 'A', 'T'), kIEND = ChunkTag('I', 'E', 'N', 'D'),
                   ktRNS = ChunkTag('t', 'R', 'N', 'S'), kbKGD = ChunkTag('b', 'K', 'G', 'D'),
                   kgAMA = ChunkTag('g', 'A', 'M', 'A'), kcHRM = ChunkTag('c', 'H', 'R', 'M'),
                   ksBIT = ChunkTag('s', 'B', 'I', 'T'), kpHYs = ChunkTag('p', 'H', 'Y', 's'),
                   ktEXt = ChunkTag('t', 'E', 'X', 't'), ktIME = ChunkTag('t', 'I', 'M', 'E'),
                   kgIFg = ChunkTag('g', 'I', 'F', 'g'), ktpNG = ChunkTag('t', 'p', 'N', 'G');
constexpr uint32_t kPrivateTag = 0x474C4433;  // "GLD3"

inline uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
inline void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }

// The codec's one gray formula (weights 77, 150, 29 of 256), for palette
// entries, pixels and colours alike.
inline int GrayOf(int r, int g, int b) { return (r * 77 + g * 150 + b * 29) / 256; }

// A colour as three 16-bit samples, red first: bKGD and tRNS of truecolour
// images.
inline void PutRgbSamples(uint8_t* p, tk::TColor c) {
  PutBE16(p, tk::RedOf(c));
  PutBE16(p + 2, tk::GreenOf(c));
  PutBE16(p + 4, tk::BlueOf(c));
}

// The 13 bytes of IHDR. The reader validates what it read, the writer what
// it is about to write, with the same rules.
struct PngHeader {
  uint32_t width = 0, height = 0;
  uint8_t depth = 0, colorType = 0, compression = 0, filter = 0, interlace = 0;

  static PngHeader Parse(const uint8_t* h) {
    PngHeader r;
    r.width = GetBE32(h);
    r.height = GetBE32(h + 4);
    r.depth = h[8], r.colorType = h[9], r.compression = h[10], r.filter = h[11];
    r.interlace = h[12];
    return r;
  }
  void Serialize(uint8_t* h) const {
    PutBE32(h, width);
    PutBE32(h + 4, height);
    h[8] = depth, h[9] = colorType, h[10] = compression, h[11] = filter, h[12] = interlace;
  }
  // Raises the error of the first field that is out of range. Colour types
  // are taken modulo 8, as they always were; the depth is checked against
  // the colour type only when the image starts.
  void Validate() const {
    const int type = colorType & 7;
    if (type == 1 || type == 5 || type == 7) RaisePng(PngError::BadColorType);
    if (compression >= 2) RaisePng(PngError::BadCompression);
    if (filter >= 2) RaisePng(PngError::BadFilterMethod);
    if (interlace >= 2) RaisePng(PngError::BadInterlace);
    if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength)
      RaisePng(PngError::BadSize);
  }
};

}  // namespace pngformat
}  // namespace orv
