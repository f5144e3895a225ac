// Photo-like test pictures for the JPEG benchmarks: a sky-to-ground
// gradient, soft large shapes, fine texture and sensor-like noise, so the
// entropy decoder and the transforms have realistic work (a flat picture
// would decode too fast), encoded at quality 90 as a camera would.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace benchphoto {

// `fineDetail` adds per-pixel sensor noise and a fine texture; without it
// the picture has detail only a few pixels wide and up.
inline std::vector<uint8_t> SyntheticPhoto(int width, int height, bool fineDetail = true) {
  std::vector<uint8_t> px(size_t(width) * height * 3);
  std::vector<int> waveX(width), waveY(height);
  for (int x = 0; x < width; ++x)
    waveX[x] = int(40 * std::sin(x * 0.0021) + 18 * std::sin(x * 0.037));
  for (int y = 0; y < height; ++y)
    waveY[y] = int(40 * std::cos(y * 0.0017) + 15 * std::sin(y * 0.051));
  uint32_t state = 2463534242u;
  uint8_t* p = px.data();
  for (int y = 0; y < height; ++y) {
    const int sky = 255 * y / height;
    for (int x = 0; x < width; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int noise = fineDetail ? int(state & 15) - 8 : 0;
      const int shape = waveX[x] + waveY[y];
      const int texture = fineDetail ? ((x ^ y) & 31) / 4 : 0;
      *p++ = static_cast<uint8_t>(std::clamp(90 + sky / 2 + shape + noise + texture, 0, 255));
      *p++ = static_cast<uint8_t>(std::clamp(120 + shape / 2 - sky / 4 + noise, 0, 255));
      *p++ = static_cast<uint8_t>(std::clamp(220 - sky + shape / 3 + noise - texture, 0, 255));
    }
  }
  return px;
}

inline std::vector<uint8_t> EncodeQuality90(const std::vector<uint8_t>& rgb, int width,
                                            int height) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(c.next_scanline) * width * 3);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<uint8_t> file(out, out + size);
  std::free(out);
  return file;
}

// The file with an Exif APP1 segment holding Orientation `value` (one
// little-endian IFD0 entry) after its start of image.
inline std::vector<uint8_t> WithOrientation(const std::vector<uint8_t>& jpeg, int value) {
  const uint8_t body[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 1,
                          3,   0,   1,   0,   0, 0, uint8_t(value), 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), {0xFF, 0xE1, 0, uint8_t(sizeof body + 2)});
  out.insert(out.end(), body, body + sizeof body);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

}  // namespace benchphoto
