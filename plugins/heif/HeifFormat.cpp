#include "plugins/heif/HeifFormat.h"

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

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};

// libheif registers its decoders once per process; the count it keeps is
// never given back, so the decoders stay for as long as the library is
// loaded.
void InitOnce() {
  static const bool done = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)done;
}

SpiResult Decode(const uint8_t* data, size_t size, DibTarget& target) {
  InitOnce();
  std::unique_ptr<heif_context, ContextFree> ctx(heif_context_alloc());
  if (!ctx) return SpiResult::kNoMemory;
  heif_error err = heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr);
  if (err.code != heif_error_Ok) return ResultOf(err);

  heif_image_handle* raw = nullptr;
  err = heif_context_get_primary_image_handle(ctx.get(), &raw);
  std::unique_ptr<heif_image_handle, HandleFree> handle(raw);
  if (err.code != heif_error_Ok || !handle) return SpiResult::kBrokenData;

  // The size the container declares, checked before a single tile is
  // decoded: turning it swaps the sides, which keeps the pixel count.
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  DibLayout declared;
  if (!MakeDibLayout(heif_image_handle_get_width(handle.get()),
                   heif_image_handle_get_height(handle.get()), true, declared) ||
      !MakeDibLayout(declared.height, declared.width, true, declared)) {
    return SpiResult::kBrokenData;
  }

  heif_image* rawImage = nullptr;
  // Default options: libheif applies irot, imir and clap itself, and
  // never the Exif Orientation, which would turn the picture twice.
  err = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          nullptr);
  std::unique_ptr<heif_image, ImageFree> image(rawImage);
  if (err.code != heif_error_Ok || !image) return ResultOf(err);
  if (heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
    return SpiResult::kInternalError;
  }
  int stride = 0;
  const uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
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

}  // namespace orvspi
