#include "plugins/webp/WebpFormat.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/ExifOrientation.h"

namespace orvspi {

namespace {

SpiResult ResultOf(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OK:
      return SpiResult::kOk;
    case VP8_STATUS_OUT_OF_MEMORY:
      return SpiResult::kNoMemory;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return SpiResult::kUnknownFormat;
    case VP8_STATUS_USER_ABORT:
      return SpiResult::kAborted;
    default:
      return SpiResult::kBrokenData;
  }
}

struct DemuxFree {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};

// Decodes the bitstream `data` (a whole file, or one frame's fragment) of a
// picture `width` x `height` into DIB rows at `out`.
SpiResult DecodeInto(const uint8_t* data, size_t size, bool alpha, const DibLayout& layout,
                     uint8_t* out) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return SpiResult::kInternalError;
  config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out;
  config.output.u.RGBA.stride = int(layout.rowBytes);
  config.output.u.RGBA.size = layout.pixelBytes;
  // A DIB is stored bottom-up.
  config.options.flip = 1;
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  return ResultOf(status);
}

SpiResult Decode(const uint8_t* data, size_t size, DibTarget& target) {
  WebPBitstreamFeatures features;
  VP8StatusCode status = WebPGetFeatures(data, size, &features);
  if (status != VP8_STATUS_OK) return ResultOf(status);

  // An animation shows its first frame.
  const uint8_t* bits = data;
  size_t bitsSize = size;
  std::unique_ptr<WebPDemuxer, DemuxFree> demux;
  WebPIterator frame;
  bool haveFrame = false;
  if (features.has_animation) {
    const WebPData whole = {data, size};
    demux.reset(WebPDemux(&whole));
    if (!demux || !WebPDemuxGetFrame(demux.get(), 1, &frame)) return SpiResult::kBrokenData;
    haveFrame = true;
    bits = frame.fragment.bytes;
    bitsSize = frame.fragment.size;
    status = WebPGetFeatures(bits, bitsSize, &features);
  }
  SpiResult result = ResultOf(status);
  if (result == SpiResult::kOk) {
    const bool alpha = features.has_alpha != 0;
    const int w = features.width, h = features.height;
    const int orientation = WebpExifOrientation(data, size);
    DibLayout stored, upright;
    if (!MakeDibLayout(w, h, alpha, stored) ||
        !MakeDibLayout(orv::UprightWidth(orientation, w, h), orv::UprightHeight(orientation, w, h),
                       alpha, upright)) {
      result = SpiResult::kBrokenData;
    } else if (orientation <= 1) {
      uint8_t* pixels = target.Allocate(upright);
      result = pixels ? DecodeInto(bits, bitsSize, alpha, upright, pixels) : SpiResult::kNoMemory;
    } else {
      std::vector<uint8_t> temp(stored.pixelBytes);
      result = DecodeInto(bits, bitsSize, alpha, stored, temp.data());
      if (result == SpiResult::kOk) {
        uint8_t* pixels = target.Allocate(upright);
        if (pixels) {
          PutDibOriented(temp.data(), stored.rowBytes, w, h, alpha ? 4 : 3, orientation, upright,
                         pixels);
        } else {
          result = SpiResult::kNoMemory;
        }
      }
    }
  }
  if (haveFrame) WebPDemuxReleaseIterator(&frame);
  return result;
}

}  // namespace

namespace {

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The orientation an EXIF chunk's body gives (0: none).
int OrientationOfExifChunk(const uint8_t* body, size_t bodySize) {
  // The container format has the chunk begin with the TIFF
  // header; some writers put the JPEG segment's "Exif\0\0" before it.
  static const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (bodySize >= 6 && std::memcmp(body, kExifHeader, 6) == 0)
    return orv::ExifOrientationFromApp1(body, bodySize);
  std::vector<uint8_t> app1(kExifHeader, kExifHeader + 6);
  app1.insert(app1.end(), body, body + bodySize);
  return orv::ExifOrientationFromApp1(app1.data(), app1.size());
}

// An EXIF chunk larger than this holds no orientation worth reading.
constexpr uint32_t kMaxExifChunk = 1u << 20;

// The size and alpha of a frame's bitstream: its chunks ("ALPH", then
// "VP8 " or "VP8L") from `at` to `end`, as libwebp's WebPGetFeatures sees
// them: a lossless stream's alpha is its header's bit, a lossy one's an
// ALPH chunk. `lossless` tells which it was.
bool FrameFacts(ByteSource& src, uint64_t at, uint64_t end, PictureFacts& facts,
                bool* lossless = nullptr) {
  bool alpha = false;
  while (at + 8 <= end) {
    uint8_t head[8];
    if (!src.Read(at, 8, head)) return false;
    const uint32_t size = Le(head + 4, 4);
    if (std::memcmp(head, "ALPH", 4) == 0) {
      alpha = true;
    } else if (std::memcmp(head, "VP8 ", 4) == 0) {
      uint8_t f[10];
      if (size < 10 || !src.Read(at + 8, 10, f)) return false;
      // A key frame (bit 0 clear) with its start code.
      if ((f[0] & 1) || f[3] != 0x9d || f[4] != 0x01 || f[5] != 0x2a) return false;
      facts.width = int(Le(f + 6, 2) & 0x3fff);
      facts.height = int(Le(f + 8, 2) & 0x3fff);
      facts.alpha = alpha;
      if (lossless) *lossless = false;
      return true;
    } else if (std::memcmp(head, "VP8L", 4) == 0) {
      uint8_t f[5];
      if (size < 5 || !src.Read(at + 8, 5, f) || f[0] != 0x2f) return false;
      const uint32_t bits = Le(f + 1, 4);
      if (bits >> 29) return false;  // a version other than 0
      facts.width = int(bits & 0x3fff) + 1;
      facts.height = int(bits >> 14 & 0x3fff) + 1;
      facts.alpha = alpha || (bits >> 28 & 1);
      if (lossless) *lossless = true;
      return true;
    } else {
      return false;
    }
    at += 8 + uint64_t(size) + (size & 1);
  }
  return false;
}

}  // namespace

bool SniffWebp(const uint8_t* data, size_t size) {
  return data && size >= 12 && std::memcmp(data, "RIFF", 4) == 0 &&
         std::memcmp(data + 8, "WEBP", 4) == 0;
}

namespace {

// The stored size and alpha of the picture a decode gives, and the Exif
// Orientation of the file's first EXIF chunk (0: none), from the chunk
// headers. The decode takes its turn from here too, so that the size
// GetPictureInfo gives is always the decode's.
SpiResult ReadWebpHeader(ByteSource& src, PictureFacts& got, int& orientation) {
  orientation = 0;
  uint8_t riff[12];
  if (!src.Read(0, 12, riff) || !SniffWebp(riff, 12)) return SpiResult::kUnknownFormat;
  const uint64_t end = std::min<uint64_t>(src.Size(), 8 + uint64_t(Le(riff + 4, 4)));
  uint64_t at = 12;
  uint8_t head[8];
  if (at + 8 > end || !src.Read(at, 8, head)) return SpiResult::kBrokenData;
  if (std::memcmp(head, "VP8X", 4) != 0) {
    // A simple file: one bitstream, no Exif.
    if (!FrameFacts(src, at, end, got)) return SpiResult::kBrokenData;
  } else {
    uint8_t x[10];
    const uint32_t size = Le(head + 4, 4);
    if (size < 10 || !src.Read(at + 8, 10, x)) return SpiResult::kBrokenData;
    const bool animated = (x[0] & 0x02) != 0, exif = (x[0] & 0x08) != 0;
    bool haveFrame = false;
    for (at += 8 + uint64_t(size) + (size & 1); at + 8 <= end;) {
      if (!src.Read(at, 8, head)) return SpiResult::kBrokenData;
      const uint32_t chunk = Le(head + 4, 4);
      const uint64_t body = at + 8;
      if (chunk > end - body) return SpiResult::kBrokenData;
      if (!haveFrame && animated && std::memcmp(head, "ANMF", 4) == 0) {
        // An animation shows its first frame, at the frame's own size.
        if (chunk < 16 || !FrameFacts(src, body + 16, body + chunk, got))
          return SpiResult::kBrokenData;
        uint8_t f[16];
        if (!src.Read(body, 16, f)) return SpiResult::kBrokenData;
        if (got.width != int(Le(f + 6, 3)) + 1 || got.height != int(Le(f + 9, 3)) + 1)
          return SpiResult::kBrokenData;
        haveFrame = true;
      } else if (!haveFrame && !animated &&
                 (std::memcmp(head, "ALPH", 4) == 0 || std::memcmp(head, "VP8 ", 4) == 0 ||
                  std::memcmp(head, "VP8L", 4) == 0)) {
        bool lossless = false;
        if (!FrameFacts(src, at, end, got, &lossless)) return SpiResult::kBrokenData;
        // The canvas is the picture's size; a bitstream of another
        // size does not decode.
        if (got.width != int(Le(x + 4, 3)) + 1 || got.height != int(Le(x + 7, 3)) + 1)
          return SpiResult::kBrokenData;
        // The extended header's alpha flag counts for a lossy stream;
        // a lossless one's own header decides for itself.
        if (!lossless) got.alpha = got.alpha || (x[0] & 0x10) != 0;
        haveFrame = true;
      } else if (exif && orientation == 0 && std::memcmp(head, "EXIF", 4) == 0 &&
                 chunk <= kMaxExifChunk) {
        std::vector<uint8_t> data(chunk);
        if (!src.Read(body, chunk, data.data())) return SpiResult::kBrokenData;
        orientation = OrientationOfExifChunk(data.data(), data.size());
        if (orientation == 0) orientation = -1;  // the first EXIF chunk decides
      }
      at = body + chunk + (chunk & 1);
    }
    if (!haveFrame) return SpiResult::kBrokenData;
  }
  if (orientation < 0) orientation = 0;
  return SpiResult::kOk;
}

}  // namespace

int WebpExifOrientation(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  PictureFacts stored;
  int orientation = 0;
  return ReadWebpHeader(src, stored, orientation) == SpiResult::kOk ? orientation : 0;
}

SpiResult WebpPictureInfo(ByteSource& src, PictureFacts& facts) {
  return WithoutExceptions([&] {
    PictureFacts got;
    int orientation = 0;
    const SpiResult read = ReadWebpHeader(src, got, orientation);
    if (read != SpiResult::kOk) return read;
    DibLayout layout;
    const int w = orv::UprightWidth(orientation, got.width, got.height);
    const int h = orv::UprightHeight(orientation, got.width, got.height);
    if (!MakeDibLayout(w, h, got.alpha, layout)) return SpiResult::kBrokenData;
    facts.width = w;
    facts.height = h;
    facts.alpha = got.alpha;
    return SpiResult::kOk;
  });
}

SpiResult DecodeWebp(const uint8_t* data, size_t size, DibTarget& target) {
  if (!SniffWebp(data, size)) return SpiResult::kUnknownFormat;
  return WithoutExceptions([&] { return Decode(data, size, target); });
}

}  // namespace orvspi
