// Test pictures encoded with libjpeg itself, so JPEG tests need no binary
// fixtures: colour, grayscale, progressive and Adobe CMYK/YCCK files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <jpeglib.h>

namespace jpegtest {

struct Options {
  J_COLOR_SPACE input = JCS_RGB;       // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
  J_COLOR_SPACE stored = JCS_UNKNOWN;  // JCS_UNKNOWN: libjpeg's default for the input
  bool adobeMarker = true;             // only matters for CMYK/YCCK
  bool progressive = false;
  int quality = 95;
  bool fullChroma = false;  // 1x1 sampling everywhere
};

inline int ComponentsOf(J_COLOR_SPACE cs) {
  return cs == JCS_GRAYSCALE ? 1 : cs == JCS_CMYK ? 4 : 3;
}

// `pixels` holds the rows top to bottom, components interleaved.
inline std::vector<uint8_t> Encode(int width, int height, const std::vector<uint8_t>& pixels,
                                   const Options& o = Options()) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = ComponentsOf(o.input);
  c.in_color_space = o.input;
  jpeg_set_defaults(&c);
  if (o.stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, o.stored);
  if (!o.adobeMarker) c.write_Adobe_marker = FALSE;
  if (o.fullChroma)
    for (int i = 0; i < c.num_components; ++i)
      c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  jpeg_set_quality(&c, o.quality, TRUE);
  if (o.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  const size_t stride = size_t(width) * c.input_components;
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + c.next_scanline * stride);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> file(out, out + outSize);
  std::free(out);
  return file;
}

// Four solid quadrants, top-left red, top-right green, bottom-left blue,
// bottom-right white: wrong row order or channel order shows at once.
inline std::vector<uint8_t> QuadrantsRgb(int width, int height) {
  std::vector<uint8_t> px;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      const uint8_t r = (!right && !bottom) || (right && bottom) ? 255 : 0;
      const uint8_t g = (right && !bottom) || (right && bottom) ? 255 : 0;
      const uint8_t b = (!right && bottom) || (right && bottom) ? 255 : 0;
      px.insert(px.end(), {r, g, b});
    }
  return px;
}

// Deterministic texture with detail at every frequency.
inline std::vector<uint8_t> Texture(int width, int height, int components) {
  std::vector<uint8_t> px;
  uint32_t state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        state = state * 1103515245u + 12345u;
        px.push_back(static_cast<uint8_t>((x * 4 + y * 3 + c * 60 + ((state >> 16) & 63)) & 0xFF));
      }
  return px;
}

// Offset just past the first start-of-scan header: from here on a file
// holds only entropy-coded data.
inline size_t ScanDataStart(const std::vector<uint8_t>& f) {
  for (size_t i = 2; i + 3 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] == 0xDA) return i + 2 + ((f[i + 2] << 8) | f[i + 3]);
  return f.size();
}

// Offset of the first marker `code` (0xC0 start of frame, 0xC4 Huffman
// table...), or the size when there is none.
inline size_t FindMarker(const std::vector<uint8_t>& f, uint8_t code) {
  for (size_t i = 2; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] == code) return i;
  return f.size();
}

// `jpeg` with an APP1 segment holding `body` right after the start of image.
inline std::vector<uint8_t> WithApp1(const std::vector<uint8_t>& jpeg,
                                     const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  const size_t length = body.size() + 2;
  out.insert(out.end(), {0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length & 0xFF)});
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// The body of an Exif APP1 segment whose IFD0 holds one entry: Orientation
// `value` as a SHORT.
inline std::vector<uint8_t> ExifOrientationBody(int value, bool bigEndian) {
  auto u16 = [&](std::vector<uint8_t>& v, unsigned x) {
    if (bigEndian)
      v.insert(v.end(), {uint8_t(x >> 8), uint8_t(x)});
    else
      v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)});
  };
  auto u32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    if (bigEndian) {
      u16(v, x >> 16);
      u16(v, x & 0xFFFF);
    } else {
      u16(v, x & 0xFFFF);
      u16(v, x >> 16);
    }
  };
  std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0};
  b.insert(b.end(), bigEndian ? std::initializer_list<uint8_t>{'M', 'M'}
                              : std::initializer_list<uint8_t>{'I', 'I'});
  u16(b, 42);
  u32(b, 8);
  u16(b, 1);
  u16(b, 0x0112);
  u16(b, 3);
  u32(b, 1);
  u16(b, unsigned(value));
  u16(b, 0);
  u32(b, 0);
  return b;
}

}  // namespace jpegtest
