#include "plugins/heif/HeifFormat.h"

#include "plugins/heif/HeifBoxes.h"
#include "plugins/heif/HeifCodec.h"

#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <new>

namespace orvspi {

namespace {

uint32_t ReadU32BE(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

bool BrandIn(const uint8_t* brand, const char* const* list) {
  for (; *list; ++list) {
    if (std::memcmp(brand, *list, 4) == 0) return true;
  }
  return false;
}

const char* const kAv1Brands[] = {"avif", "avis", nullptr};
const char* const kHevcBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", nullptr};
const char* const kPlainBrands[] = {"mif1", "msf1", nullptr};

HeifFamily FamilyOf(const uint8_t* brand) {
  if (BrandIn(brand, kAv1Brands)) return HeifFamily::kAv1;
  if (BrandIn(brand, kHevcBrands)) return HeifFamily::kHevc;
  return HeifFamily::kNone;
}

SpiResult ResultOf(const heif_error& err) {
  switch (err.code) {
    case heif_error_Ok:
      return SpiResult::kOk;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
      return SpiResult::kUnknownFormat;
    case heif_error_Memory_allocation_error:
      return SpiResult::kNoMemory;
    default:
      return SpiResult::kBrokenData;
  }
}

// libheif's own limits, set from the host's budget rather than left to
// the library version's defaults: no picture or memory block larger than
// the largest DIB the host takes, and no more items, tiles or references
// than a camera's grid of 256 x 256 tiles needs.
constexpr uint64_t kMaxPixels = kMaxDibBytes / 3;
constexpr uint32_t kMaxItems = 65536;

struct ContextFree {
  const HeifCodecApi* api;
  void operator()(heif_context* c) const { api->contextFree(c); }
};
struct HandleFree {
  const HeifCodecApi* api;
  void operator()(heif_image_handle* h) const { api->handleRelease(h); }
};
struct ImageFree {
  const HeifCodecApi* api;
  void operator()(heif_image* i) const { api->imageRelease(i); }
};

// Reads the file's items and checks what it derives, as the decode and
// GetPictureInfo both must before they say anything of a file.
SpiResult ReadSoundHeader(ByteSource& src, HeifHeader& header) {
  switch (ReadHeifHeader(src, header)) {
    case HeifHeaderStatus::kOk:
      break;
    case HeifHeaderStatus::kNotHeif:
      return SpiResult::kUnknownFormat;
    case HeifHeaderStatus::kBroken:
      return SpiResult::kBrokenData;
  }
  if (header.items.size() > kMaxItems) return SpiResult::kBrokenData;
  return CheckHeifDerivation(src, header, kMaxPixels);
}

// Refuses what a hostile file could make libheif do before libheif sees
// it: our own reading of its items, bounded in time and memory.
SpiResult CheckHeader(const uint8_t* data, size_t size) {
  MemorySource src(data, size);
  HeifHeader header;
  return ReadSoundHeader(src, header);
}

SpiResult Decode(const uint8_t* data, size_t size, DibTarget& target) {
  const SpiResult checked = CheckHeader(data, size);
  if (checked != SpiResult::kOk) return checked;
  const HeifCodecApi* api = HeifCodec();
  if (!api) return SpiResult::kInternalError;
  std::unique_ptr<heif_context, ContextFree> ctx(api->contextAlloc(), ContextFree{api});
  if (!ctx) return SpiResult::kNoMemory;
  heif_error err = api->limitContext(ctx.get(), kMaxPixels, kMaxDibBytes, kMaxItems);
  if (err.code != heif_error_Ok) return ResultOf(err);
  err = api->readFromMemory(ctx.get(), data, size);
  if (err.code != heif_error_Ok) return ResultOf(err);

  heif_image_handle* raw = nullptr;
  err = api->primaryImageHandle(ctx.get(), &raw);
  std::unique_ptr<heif_image_handle, HandleFree> handle(raw, HandleFree{api});
  if (err.code != heif_error_Ok || !handle) return SpiResult::kBrokenData;

  // The size the container declares, checked before a single tile is
  // decoded: turning it swaps the sides, which keeps the pixel count.
  const bool alpha = api->handleHasAlpha(handle.get()) != 0;
  const int declaredWidth = api->handleWidth(handle.get());
  const int declaredHeight = api->handleHeight(handle.get());
  DibLayout declared;
  if (!MakeDibLayout(declaredWidth, declaredHeight, true, declared) ||
      !MakeDibLayout(declared.height, declared.width, true, declared)) {
    return SpiResult::kBrokenData;
  }

  heif_image* rawImage = nullptr;
  err = api->decodeRgb(handle.get(), &rawImage, alpha);
  std::unique_ptr<heif_image, ImageFree> image(rawImage, ImageFree{api});
  if (err.code != heif_error_Ok || !image) return ResultOf(err);
  if (api->imageBitsPerPixelRange(image.get()) != 8) return SpiResult::kInternalError;
  int stride = 0;
  const uint8_t* plane = api->imagePlane(image.get(), &stride);
  const int width = api->imageWidth(image.get());
  const int height = api->imageHeight(image.get());
  // A coded picture whose stream paints another size than its container
  // declares is not the picture the host sized and budgeted.
  if (width != declaredWidth || height != declaredHeight) return SpiResult::kBrokenData;
  DibLayout layout;
  if (!plane || !MakeDibLayout(width, height, alpha, layout)) return SpiResult::kBrokenData;
  uint8_t* pixels = target.Allocate(layout);
  if (!pixels) return SpiResult::kNoMemory;
  PutRgbRowsOriented(plane, stride, width, height, alpha ? 4 : 3, 1, layout, pixels);
  return SpiResult::kOk;
}

}  // namespace

HeifFamily SniffHeif(const uint8_t* data, size_t size) {
  if (!data || size < 16) return HeifFamily::kNone;
  if (std::memcmp(data + 4, "ftyp", 4) != 0) return HeifFamily::kNone;
  // A 64-bit size (1) or "to the end of the file" (0) is no sound ftyp, and
  // neither is one shorter than its major brand and minor version.
  const uint32_t boxSize = ReadU32BE(data);
  if (boxSize < 16) return HeifFamily::kNone;
  const size_t end = boxSize < size ? boxSize : size;
  const HeifFamily major = FamilyOf(data + 8);
  if (major != HeifFamily::kNone) return major;
  bool av1 = false, hevc = false, plain = false;
  for (size_t at = 16; at + 4 <= end; at += 4) {
    const HeifFamily f = FamilyOf(data + at);
    av1 = av1 || f == HeifFamily::kAv1;
    hevc = hevc || f == HeifFamily::kHevc;
    plain = plain || BrandIn(data + at, kPlainBrands);
  }
  plain = plain || BrandIn(data + 8, kPlainBrands);
  if (av1) return HeifFamily::kAv1;
  if (hevc || plain) return HeifFamily::kHevc;
  return HeifFamily::kNone;
}

SpiResult DecodeHeif(const uint8_t* data, size_t size, DibTarget& target) {
  if (!data || size == 0) return SpiResult::kUnknownFormat;
  return WithoutExceptions([&] { return Decode(data, size, target); });
}

SpiResult HeifPictureInfo(ByteSource& src, PictureFacts& facts) {
  return WithoutExceptions([&] {
    // A file the decode refuses for its structure has no size either: the
    // search must not take a picture the show cannot show.
    HeifHeader header;
    const SpiResult sound = ReadSoundHeader(src, header);
    if (sound != SpiResult::kOk) return sound;
    int width = 0, height = 0;
    if (!HeifPrimarySize(header, width, height)) return SpiResult::kBrokenData;
    DibLayout layout;
    const HeifItem* primary = header.Find(header.primaryId);
    if (!MakeDibLayout(width, height, primary->alpha, layout)) return SpiResult::kBrokenData;
    facts.width = width;
    facts.height = height;
    facts.alpha = primary->alpha;
    return SpiResult::kOk;
  });
}

}  // namespace orvspi
