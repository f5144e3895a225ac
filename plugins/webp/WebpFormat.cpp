#include "plugins/webp/WebpFormat.h"

#include <webp/decode.h>
#include <webp/demux.h>

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

bool SniffWebp(const uint8_t* data, size_t size) {
  return data && size >= 12 && std::memcmp(data, "RIFF", 4) == 0 &&
         std::memcmp(data + 8, "WEBP", 4) == 0;
}

int WebpExifOrientation(const uint8_t* data, size_t size) {
  if (!SniffWebp(data, size)) return 0;
  const WebPData whole = {data, size};
  std::unique_ptr<WebPDemuxer, DemuxFree> demux(WebPDemux(&whole));
  if (!demux) return 0;
  if (!(WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & EXIF_FLAG)) return 0;
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) return 0;
  // The container format has the chunk begin with the TIFF
  // header; some writers put the JPEG segment's "Exif\0\0" before it.
  static const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  const uint8_t* body = chunk.chunk.bytes;
  const size_t bodySize = chunk.chunk.size;
  int orientation = 0;
  if (bodySize >= 6 && std::memcmp(body, kExifHeader, 6) == 0) {
    orientation = orv::ExifOrientationFromApp1(body, bodySize);
  } else {
    std::vector<uint8_t> app1(kExifHeader, kExifHeader + 6);
    app1.insert(app1.end(), body, body + bodySize);
    orientation = orv::ExifOrientationFromApp1(app1.data(), app1.size());
  }
  WebPDemuxReleaseChunkIterator(&chunk);
  return orientation;
}

SpiResult DecodeWebp(const uint8_t* data, size_t size, DibTarget& target) {
  if (!SniffWebp(data, size)) return SpiResult::kUnknownFormat;
  return WithoutExceptions([&] { return Decode(data, size, target); });
}

}  // namespace orvspi
