// Decoding HEIC, AVIF and WebP pictures through our plug-ins' decode path
// (the format glue: sniffing, size check, decode, DIB rows) against the bare
// library on the same file (libheif into its own interleaved RGB image,
// libwebp into its own buffer), measured in the same run, natively over
// Debian's libraries. The summary gives the plug-in path's overhead over
// the bare library; the target is at most 10 %.
//
// The pictures are made at start-up with the same libraries' encoders from
// one synthetic 2048 x 1536 photo: HEIC (x265), AVIF (aom), WebP lossy and
// lossless, and WebP lossy with an Exif Orientation of 6, whose turn the
// plug-in adds to the decode (its line shows what the turn costs; the bare
// library does not turn, so the 10 % target is for the other four).
//
//   photo_bench [google benchmark flags]
// Defaults to 5 repetitions, randomly interleaved, unless flags say
// otherwise.
#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "plugins/heif/HeifFormat.h"
#include "plugins/webp/WebpFormat.h"

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

// Something like a photograph: gradient, soft shapes, texture and noise.
std::vector<uint8_t> SyntheticPhoto() {
  std::vector<uint8_t> px(size_t(kWidth) * kHeight * 3);
  uint32_t state = 2463534242u;
  uint8_t* p = px.data();
  for (int y = 0; y < kHeight; ++y) {
    const int sky = 255 * y / kHeight;
    const int wy = int(40 * std::cos(y * 0.0017) + 15 * std::sin(y * 0.051));
    for (int x = 0; x < kWidth; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int noise = int(state & 15) - 8;
      const int shape = int(40 * std::sin(x * 0.0021) + 18 * std::sin(x * 0.037)) + wy;
      const int texture = ((x ^ y) & 31) / 4;
      *p++ = uint8_t(std::clamp(90 + sky / 2 + shape + noise + texture, 0, 255));
      *p++ = uint8_t(std::clamp(120 + shape / 2 - sky / 4 + noise, 0, 255));
      *p++ = uint8_t(std::clamp(220 - sky + shape / 3 + noise - texture, 0, 255));
    }
  }
  return px;
}

heif_error WriteToVector(heif_context*, const void* data, size_t size, void* userdata) {
  auto* out = static_cast<std::vector<uint8_t>*>(userdata);
  out->insert(out->end(), static_cast<const uint8_t*>(data),
              static_cast<const uint8_t*>(data) + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

bool Check(heif_error err, const char* what) {
  if (err.code == heif_error_Ok) return true;
  std::fprintf(stderr, "photo_bench: %s: %s\n", what, err.message);
  return false;
}

std::vector<uint8_t> EncodeHeif(const std::vector<uint8_t>& rgb, heif_compression_format format) {
  std::vector<uint8_t> out;
  heif_context* ctx = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_image* image = nullptr;
  if (Check(heif_context_get_encoder_for_format(ctx, format, &encoder), "encoder") &&
      Check(heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                              &image),
            "image") &&
      Check(heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8), "plane")) {
    heif_encoder_set_lossy_quality(encoder, 85);
    // Encoding speed only; the decoder's work is the same.
    heif_encoder_set_parameter(encoder, "speed", "8");
    heif_encoder_set_parameter(encoder, "preset", "fast");
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < kHeight; ++y) {
      std::memcpy(plane + size_t(y) * size_t(stride), rgb.data() + size_t(y) * kWidth * 3,
                  size_t(kWidth) * 3);
    }
    heif_writer writer = {1, WriteToVector};
    if (Check(heif_context_encode_image(ctx, image, encoder, nullptr, nullptr), "encode")) {
      Check(heif_context_write(ctx, &writer, &out), "write");
    }
  }
  if (image) heif_image_release(image);
  if (encoder) heif_encoder_release(encoder);
  heif_context_free(ctx);
  return out;
}

std::vector<uint8_t> EncodeWebp(const std::vector<uint8_t>& rgb, bool lossless) {
  uint8_t* data = nullptr;
  const size_t size = lossless
                          ? WebPEncodeLosslessRGB(rgb.data(), kWidth, kHeight, kWidth * 3, &data)
                          : WebPEncodeRGB(rgb.data(), kWidth, kHeight, kWidth * 3, 85, &data);
  std::vector<uint8_t> out(data, data + size);
  WebPFree(data);
  return out;
}

// The lossy WebP with an EXIF chunk saying Orientation 6.
std::vector<uint8_t> WithOrientation6(const std::vector<uint8_t>& webp) {
  static const uint8_t kExif[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3,
                                  0,   1,   0,  0, 0, 6, 0, 0, 0, 0, 0,    0,    0};
  const WebPData bitstream = {webp.data(), webp.size()};
  WebPMux* mux = WebPMuxCreate(&bitstream, 1);
  std::vector<uint8_t> out;
  if (!mux) return out;
  const WebPData exif = {kExif, sizeof kExif};
  WebPData assembled = {nullptr, 0};
  if (WebPMuxSetChunk(mux, "EXIF", &exif, 1) == WEBP_MUX_OK &&
      WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK) {
    out.assign(assembled.bytes, assembled.bytes + assembled.size);
  }
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return out;
}

struct Sample {
  std::string name;
  bool heif;
  std::vector<uint8_t> data;
};
std::vector<Sample>& Samples() {
  static std::vector<Sample> samples;
  return samples;
}

// The plug-in's target: uninitialised memory, as GlobalAlloc gives.
class RawDib : public orvspi::DibTarget {
 public:
  uint8_t* Allocate(const orvspi::DibLayout& layout) override {
    pixels_.reset(new uint8_t[layout.pixelBytes]);
    return pixels_.get();
  }

 private:
  std::unique_ptr<uint8_t[]> pixels_;
};

void PluginPath(benchmark::State& state, const Sample* s) {
  for (auto _ : state) {
    RawDib dib;
    const bool taken =
        s->heif ? orvspi::SniffHeif(s->data.data(), s->data.size()) != orvspi::HeifFamily::kNone
                : orvspi::SniffWebp(s->data.data(), s->data.size());
    const orvspi::SpiResult r = s->heif ? orvspi::DecodeHeif(s->data.data(), s->data.size(), dib)
                                        : orvspi::DecodeWebp(s->data.data(), s->data.size(), dib);
    if (!taken || r != orvspi::SpiResult::kOk) state.SkipWithError("plug-in path failed");
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BareLibrary(benchmark::State& state, const Sample* s) {
  for (auto _ : state) {
    bool ok = false;
    if (s->heif) {
      heif_context* ctx = heif_context_alloc();
      heif_image_handle* handle = nullptr;
      heif_image* image = nullptr;
      if (heif_context_read_from_memory_without_copy(ctx, s->data.data(), s->data.size(), nullptr)
                  .code == heif_error_Ok &&
          heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
          heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                            nullptr)
                  .code == heif_error_Ok) {
        int stride = 0;
        benchmark::DoNotOptimize(
            heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
        ok = true;
      }
      if (image) heif_image_release(image);
      if (handle) heif_image_handle_release(handle);
      heif_context_free(ctx);
    } else {
      int w = 0, h = 0;
      uint8_t* px = WebPDecodeRGB(s->data.data(), s->data.size(), &w, &h);
      ok = px != nullptr;
      benchmark::DoNotOptimize(px);
      WebPFree(px);
    }
    if (!ok) state.SkipWithError("library decode failed");
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

}  // namespace

int main(int argc, char** argv) {
  if (!benchsupport::Initialize(argc, argv, 5, true)) return 1;

  heif_init(nullptr);
  const std::vector<uint8_t> photo = SyntheticPhoto();
  std::vector<Sample>& samples = Samples();
  samples.push_back({"heic", true, EncodeHeif(photo, heif_compression_HEVC)});
  samples.push_back({"avif", true, EncodeHeif(photo, heif_compression_AV1)});
  samples.push_back({"webp-lossy", false, EncodeWebp(photo, false)});
  samples.push_back({"webp-lossless", false, EncodeWebp(photo, true)});
  samples.push_back({"webp-turned", false, WithOrientation6(samples[2].data)});
  for (const Sample& s : samples) {
    if (s.data.empty()) {
      std::fprintf(stderr, "photo_bench: could not make the %s picture\n", s.name.c_str());
      return 1;
    }
    std::printf("%-14s %8zu bytes\n", s.name.c_str(), s.data.size());
  }
  for (const Sample& s : samples) {
    // libheif decodes tiles on threads of its own: the CPU column counts
    // the whole process, not just the calling thread.
    benchmark::RegisterBenchmark((s.name + "/plugin").c_str(), PluginPath, &s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
    benchmark::RegisterBenchmark((s.name + "/library").c_str(), BareLibrary, &s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
  }
  // Each plug-in path against the bare library on the same file.
  benchsupport::OverheadReporter::Pairs pairs;
  for (const Sample& s : samples) pairs.push_back({s.name + "/plugin", s.name + "/library"});
  benchsupport::OverheadReporter reporter(pairs);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
