#include "plugins/heif/HeifCodec.h"

#include <new>

namespace orvspi {

namespace {

heif_error Failure(heif_error_code code, const char* message) {
  return {code, heif_suberror_Unspecified, message};
}

// Runs `call`, which returns a heif_error, and turns what it throws into
// one: out of memory as such, anything else as a decoder failure.
template <typename Call>
heif_error Guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return Failure(heif_error_Memory_allocation_error, "out of memory");
  } catch (...) {
    return Failure(heif_error_Decoder_plugin_error, "the decoder failed");
  }
}

// The same for calls that return a value, with `failed` for a throw.
template <typename T, typename Call>
T GuardedValue(T failed, Call call) {
  try {
    return call();
  } catch (...) {
    return failed;
  }
}

void InitOnce() {
  // libheif registers its decoders once per process; the count it keeps
  // is never given back, so they stay for as long as the library does.
  static const bool done = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)done;
}

heif_context* ContextAlloc() {
  return GuardedValue<heif_context*>(nullptr, [] {
    InitOnce();
    return heif_context_alloc();
  });
}

void ContextFree(heif_context* c) {
  GuardedValue(0, [&] {
    heif_context_free(c);
    return 0;
  });
}

heif_error LimitContext(heif_context* c, uint64_t maxPixels, uint64_t maxBlockBytes,
                        uint32_t maxItems) {
  return Guarded([&] {
    heif_security_limits* limits = heif_context_get_security_limits(c);
    if (!limits) return Failure(heif_error_Usage_error, "no security limits");
    limits->max_image_size_pixels = maxPixels;
    limits->max_memory_block_size = maxBlockBytes;
    limits->max_items = maxItems;
    limits->max_number_of_tiles = maxItems;
    limits->max_children_per_box = maxItems;
    limits->max_iloc_extents_per_item = maxItems;
    limits->max_size_entity_group = maxItems;
    // Tiles one after another on this thread: a fault or a throw on a
    // thread of libheif's own could be caught by nobody.
    heif_context_set_max_decoding_threads(c, 0);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
  });
}

heif_error ReadFromMemory(heif_context* c, const void* data, size_t size) {
  return Guarded(
      [&] { return heif_context_read_from_memory_without_copy(c, data, size, nullptr); });
}

heif_error PrimaryImageHandle(heif_context* c, heif_image_handle** h) {
  return Guarded([&] { return heif_context_get_primary_image_handle(c, h); });
}

void HandleRelease(const heif_image_handle* h) {
  GuardedValue(0, [&] {
    heif_image_handle_release(h);
    return 0;
  });
}

int HandleHasAlpha(const heif_image_handle* h) {
  return GuardedValue(0, [&] { return heif_image_handle_has_alpha_channel(h); });
}
int HandleWidth(const heif_image_handle* h) {
  return GuardedValue(0, [&] { return heif_image_handle_get_width(h); });
}
int HandleHeight(const heif_image_handle* h) {
  return GuardedValue(0, [&] { return heif_image_handle_get_height(h); });
}

heif_error DecodeRgb(const heif_image_handle* h, heif_image** out, bool alpha) {
  return Guarded([&] {
    heif_decoding_options* options = heif_decoding_options_alloc();
    if (!options) return Failure(heif_error_Memory_allocation_error, "out of memory");
    // libheif applies irot, imir and clap itself, and never the Exif
    // Orientation, which would turn the picture twice.
    options->convert_hdr_to_8bit = 1;
    const heif_error err = heif_decode_image(
        h, out, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
    heif_decoding_options_free(options);
    return err;
  });
}

void ImageRelease(const heif_image* i) {
  GuardedValue(0, [&] {
    heif_image_release(i);
    return 0;
  });
}

int ImageBitsPerPixelRange(const heif_image* i) {
  return GuardedValue(
      0, [&] { return heif_image_get_bits_per_pixel_range(i, heif_channel_interleaved); });
}
int ImageWidth(const heif_image* i) {
  return GuardedValue(0, [&] { return heif_image_get_width(i, heif_channel_interleaved); });
}
int ImageHeight(const heif_image* i) {
  return GuardedValue(0, [&] { return heif_image_get_height(i, heif_channel_interleaved); });
}
const uint8_t* ImagePlane(const heif_image* i, int* stride) {
  return GuardedValue<const uint8_t*>(
      nullptr, [&] { return heif_image_get_plane_readonly(i, heif_channel_interleaved, stride); });
}

const char* Version() {
  return GuardedValue<const char*>("", [] { return heif_get_version(); });
}

}  // namespace

const HeifCodecApi* LinkedHeifCodec() {
  static const HeifCodecApi api = {
      sizeof(HeifCodecApi), Version(),
      ContextAlloc,         ContextFree,
      LimitContext,         ReadFromMemory,
      PrimaryImageHandle,   HandleRelease,
      HandleHasAlpha,       HandleWidth,
      HandleHeight,         DecodeRgb,
      ImageRelease,         ImageBitsPerPixelRange,
      ImageWidth,           ImageHeight,
      ImagePlane,
  };
  return &api;
}

}  // namespace orvspi
