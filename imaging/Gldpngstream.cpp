#include "imaging/Gldpngstream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "toolkit/Exceptions.h"

namespace orv {

const char* PngErrorText(PngError error) {
  switch (error) {
    case PngError::NotPng:
      return "PNG LoadStream: Not PNG Format";
    case PngError::TwoHeaders:
      return "Read Header(PNG): appear two IHDR";
    case PngError::BadColorType:
      return "Read Header(PNG): Error ColorType";
    case PngError::BadCompression:
      return "Read Header(PNG): not support Compression";
    case PngError::BadFilterMethod:
      return "Read Header(PNG): not supprt Filter";
    case PngError::BadInterlace:
      return "Read Header(PNG): not interlace type";
    case PngError::AlphaAtLowDepth:
      return "Read Header(PNG): not Use AlphaChannel";
    case PngError::BadGrayDepth:
      return "Read Header(PNG): Error Bitdepth";
    case PngError::BadColorDepth:
      return "Read Header(PNG): Error BitDepth";
    case PngError::ZlibSetup:
      return "PNG LoadStream: Error ZLIB";
    case PngError::ReadImage:
      return "Read Image (PNG): Read Error";
    case PngError::BadHeaderLength:
      return "Read Header(PNG): Error Header Length";
    case PngError::BadSize:
      return "Read Header(PNG): Error Image Size";
    case PngError::ImageTooLarge:
      return "Read Header(PNG): Image Too Large";
    case PngError::ImageBeforeHeader:
      return "Read Image (PNG): IDAT before IHDR";
    case PngError::ChunkTooLong:
      return "PNG LoadStream: Error Chunk Length";
    case PngError::IDATSizeParam:
      return "PNG Param: Err IDAT Size(min:256  max:100000)";
    case PngError::WriterIDATSizeParam:
      return "Write PNG Param: Err IDAT Size(min:256  max:100000)";
    case PngError::WriteImage:
      return "Write Image (PNG): Write Error";
    case PngError::EmptyImage:
      return "Write Image (PNG): Empty Image";
  }
  return "PNG: Error";
}

void RaisePng(PngError error) { throw EGLDPNG(PngErrorText(error)); }

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
// One raw row may not need more than this; keeps row buffers sane for
// headers that claim absurd widths.
constexpr int64_t kMaxRowBytes = tk::kMaxBitmapBytes / 4;
// What one tEXt comment contributes at most.
constexpr size_t kMaxCommentText = 64 * 1024;
constexpr size_t kInflateInput = 32768;

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

int PaethScalar(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

}  // namespace

namespace pngrow {

const PassInfo kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

int PassExtent(int size, int start, int step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

bool UnfilterRowRef(uint8_t filter, uint8_t* cur, const uint8_t* prev, size_t len, int bpp) {
  if (filter > kPaeth) return false;
  const size_t n = static_cast<size_t>(bpp);
  for (size_t i = 0; i < len; ++i) {
    const int a = i >= n ? cur[i - n] : 0;
    const int b = prev[i];
    const int c = i >= n ? prev[i - n] : 0;
    int predictor = 0;
    switch (filter) {
      case kNone:
        break;
      case kSub:
        predictor = a;
        break;
      case kUp:
        predictor = b;
        break;
      case kAvg:
        predictor = (a + b) / 2;
        break;
      case kPaeth:
        predictor = PaethScalar(a, b, c);
        break;
    }
    cur[i] = static_cast<uint8_t>(cur[i] + predictor);
  }
  return true;
}

namespace {

void UnfilterUp(uint8_t* cur, const uint8_t* prev, size_t len) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= len; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + i), _mm_add_epi8(x, b));
  }
#endif
  for (; i < len; ++i) cur[i] = static_cast<uint8_t>(cur[i] + prev[i]);
}

void UnfilterSubScalar(uint8_t* cur, size_t len, size_t bpp) {
  for (size_t i = bpp; i < len; ++i) cur[i] = static_cast<uint8_t>(cur[i] + cur[i - bpp]);
}

void UnfilterAvgScalar(uint8_t* cur, const uint8_t* prev, size_t len, size_t bpp) {
  const size_t head = std::min(bpp, len);
  for (size_t i = 0; i < head; ++i) cur[i] = static_cast<uint8_t>(cur[i] + (prev[i] >> 1));
  for (size_t i = bpp; i < len; ++i)
    cur[i] = static_cast<uint8_t>(cur[i] + ((cur[i - bpp] + prev[i]) >> 1));
}

void UnfilterPaethScalar(uint8_t* cur, const uint8_t* prev, size_t len, size_t bpp) {
  const size_t head = std::min(bpp, len);
  for (size_t i = 0; i < head; ++i) cur[i] = static_cast<uint8_t>(cur[i] + prev[i]);
  for (size_t i = bpp; i < len; ++i) {
    const int a = cur[i - bpp], b = prev[i], c = prev[i - bpp];
    // Branch-free predictor choice; same ties as the reference.
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int nearest = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    cur[i] = static_cast<uint8_t>(cur[i] + nearest);
  }
}

#if defined(__SSE2__)
// Pixels of 3 to 8 bytes one at a time in 16-bit lanes: the predictors of
// one pixel depend on the pixel before, so lanes run across channels.
// Pixels go through general registers, not the stack: a wide load of
// bytes just stored narrowly would stall on store forwarding. Odd sizes
// are put together from 4-, 2- and 1-byte accesses for the same reason.
template <size_t N>
inline uint64_t LoadBytes(const uint8_t* p) {
  uint64_t v = 0;
  if constexpr (N == 8) {
    std::memcpy(&v, p, 8);
    return v;
  }
  if constexpr (N >= 4) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    v = w;
  }
  if constexpr (N % 4 >= 2) {
    uint16_t h;
    std::memcpy(&h, p + (N & 4), 2);
    v |= uint64_t(h) << (8 * (N & 4));
  }
  if constexpr (N % 2) v |= uint64_t(p[N - 1]) << (8 * (N - 1));
  return v;
}
template <size_t N>
inline void StoreBytes(uint8_t* p, uint64_t v) {
  if constexpr (N == 8) {
    std::memcpy(p, &v, 8);
    return;
  }
  if constexpr (N >= 4) {
    const uint32_t w = static_cast<uint32_t>(v);
    std::memcpy(p, &w, 4);
  }
  if constexpr (N % 4 >= 2) {
    const uint16_t h = static_cast<uint16_t>(v >> (8 * (N & 4)));
    std::memcpy(p + (N & 4), &h, 2);
  }
  if constexpr (N % 2) p[N - 1] = static_cast<uint8_t>(v >> (8 * (N - 1)));
}
template <size_t N>
inline __m128i LoadPixel(const uint8_t* p) {
  const uint64_t v = LoadBytes<N>(p);
#if defined(__x86_64__)
  return _mm_cvtsi64_si128(static_cast<long long>(v));
#else
  return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(v)),
                            _mm_cvtsi32_si128(static_cast<int>(v >> 32)));
#endif
}
template <size_t N>
inline void StorePixel(uint8_t* p, __m128i v) {
#if defined(__x86_64__)
  StoreBytes<N>(p, static_cast<uint64_t>(_mm_cvtsi128_si64(v)));
#else
  const uint32_t lo = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
  const uint32_t hi = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 4)));
  StoreBytes<N>(p, lo | (uint64_t(hi) << 32));
#endif
}

template <size_t N>
void UnfilterSubSse(uint8_t* cur, size_t len) {
  __m128i a = _mm_setzero_si128();
  for (size_t i = 0; i + N <= len; i += N) {
    a = _mm_add_epi8(a, LoadPixel<N>(cur + i));
    StorePixel<N>(cur + i, a);
  }
}

template <size_t N>
void UnfilterAvgSse(uint8_t* cur, const uint8_t* prev, size_t len) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i a = _mm_setzero_si128();
  for (size_t i = 0; i + N <= len; i += N) {
    const __m128i b = LoadPixel<N>(prev + i);
    // avg_epu8 rounds up; the filter rounds down.
    __m128i avg = _mm_avg_epu8(a, b);
    avg = _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), one));
    a = _mm_add_epi8(LoadPixel<N>(cur + i), avg);
    StorePixel<N>(cur + i, a);
  }
}

inline __m128i Abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }
inline __m128i Select(__m128i mask, __m128i t, __m128i e) {
  return _mm_or_si128(_mm_and_si128(mask, t), _mm_andnot_si128(mask, e));
}

template <size_t N>
void UnfilterPaethSse(uint8_t* cur, const uint8_t* prev, size_t len) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;
  for (size_t i = 0; i + N <= len; i += N) {
    const __m128i b = _mm_unpacklo_epi8(LoadPixel<N>(prev + i), zero);
    const __m128i x = _mm_unpacklo_epi8(LoadPixel<N>(cur + i), zero);
    const __m128i dbc = _mm_sub_epi16(b, c);
    const __m128i dac = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(dbc);
    const __m128i pb = Abs16(dac);
    const __m128i pc = Abs16(_mm_add_epi16(dbc, dac));
    const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
    const __m128i nearest =
        Select(_mm_cmpeq_epi16(pa, smallest), a, Select(_mm_cmpeq_epi16(pb, smallest), b, c));
    // Lanes hold bytes: add with wrap-around, then keep the low byte.
    a = _mm_and_si128(_mm_add_epi16(x, nearest), _mm_set1_epi16(0xFF));
    StorePixel<N>(cur + i, _mm_packus_epi16(a, a));
    c = b;
  }
}

template <size_t N>
void UnfilterSse(uint8_t filter, uint8_t* cur, const uint8_t* prev, size_t len) {
  switch (filter) {
    case kSub:
      UnfilterSubSse<N>(cur, len);
      break;
    case kAvg:
      UnfilterAvgSse<N>(cur, prev, len);
      break;
    case kPaeth:
      UnfilterPaethSse<N>(cur, prev, len);
      break;
    default:
      break;
  }
}
#endif

}  // namespace

bool UnfilterRow(uint8_t filter, uint8_t* cur, const uint8_t* prev, size_t len, int bpp) {
  switch (filter) {
    case kNone:
      return true;
    case kUp:
      UnfilterUp(cur, prev, len);
      return true;
    case kSub:
    case kAvg:
    case kPaeth:
      break;
    default:
      return false;
  }
#if defined(__SSE2__)
  // Rows always hold whole pixels at these depths, so the loops above end
  // exactly at len.
  switch (bpp) {
    case 3:
      UnfilterSse<3>(filter, cur, prev, len);
      return true;
    case 4:
      UnfilterSse<4>(filter, cur, prev, len);
      return true;
    case 6:
      UnfilterSse<6>(filter, cur, prev, len);
      return true;
    case 8:
      UnfilterSse<8>(filter, cur, prev, len);
      return true;
    default:
      break;
  }
#endif
  const size_t n = static_cast<size_t>(bpp);
  if (filter == kSub)
    UnfilterSubScalar(cur, len, n);
  else if (filter == kAvg)
    UnfilterAvgScalar(cur, prev, len, n);
  else
    UnfilterPaethScalar(cur, prev, len, n);
  return true;
}

void FilterRow(uint8_t filter, const uint8_t* raw, const uint8_t* prev, uint8_t* out, size_t len,
               int bpp) {
  const size_t n = static_cast<size_t>(bpp);
  for (size_t i = 0; i < len; ++i) {
    const int a = i >= n ? raw[i - n] : 0;
    const int b = prev[i];
    const int c = i >= n ? prev[i - n] : 0;
    int predictor = 0;
    switch (filter) {
      case kSub:
        predictor = a;
        break;
      case kUp:
        predictor = b;
        break;
      case kAvg:
        predictor = (a + b) / 2;
        break;
      case kPaeth:
        predictor = PaethScalar(a, b, c);
        break;
      default:
        break;
    }
    out[i] = static_cast<uint8_t>(raw[i] - predictor);
  }
}

void ConvertRgb8Ref(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  for (int i = 0; i < width; ++i) {
    dst[3 * i] = src[3 * i + 2];
    dst[3 * i + 1] = src[3 * i + 1];
    dst[3 * i + 2] = src[3 * i];
  }
}

void ConvertRgb8(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  int i = 0;
  // Two pixels per 64-bit word: r0 g0 b0 r1 g1 b1 (+2 bytes of the next
  // pixel, rewritten by the next step) -> b0 g0 r0 b1 g1 r1.
  for (; i + 3 <= width; i += 2) {
    uint64_t x;
    std::memcpy(&x, src + 3 * i, 8);
    const uint64_t y = (x & 0xFFFF00FF0000FF00ull) | ((x >> 16) & 0x0000FF0000FFull) |
                       ((x << 16) & 0xFF0000FF0000ull);
    uint8_t out[8];
    std::memcpy(out, &y, 8);
    std::memcpy(dst + 3 * i, out, 6);
  }
  for (; i < width; ++i) {
    dst[3 * i] = src[3 * i + 2];
    dst[3 * i + 1] = src[3 * i + 1];
    dst[3 * i + 2] = src[3 * i];
  }
}

void ConvertRgba8Ref(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    dst[3 * i] = src[4 * i + 2];
    dst[3 * i + 1] = src[4 * i + 1];
    dst[3 * i + 2] = src[4 * i];
    alpha[i] = static_cast<uint8_t>(255 - src[4 * i + 3]);
  }
}

void ConvertRgba8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  int i = 0;
  for (; i + 2 <= width; ++i) {
    uint32_t x;
    std::memcpy(&x, src + 4 * i, 4);
    // r g b a -> b g r, written as four bytes; the fourth is overwritten by
    // the next pixel (hence the bound: never the last pixel of the row).
    const uint32_t y = ((x >> 16) & 0xFF) | (x & 0xFF00) | ((x & 0xFF) << 16);
    std::memcpy(dst + 3 * i, &y, 4);
    alpha[i] = static_cast<uint8_t>(~(x >> 24));
  }
  ConvertRgba8Ref(src + 4 * i, dst + 3 * i, alpha + i, width - i);
}

namespace {

void CopyBits1(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  std::memcpy(dst, src, (static_cast<size_t>(width) + 7) / 8);
}
void CopyBits4(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  std::memcpy(dst, src, (static_cast<size_t>(width) + 1) / 2);
}
void CopyBits8(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  std::memcpy(dst, src, static_cast<size_t>(width));
}

// 2-bit samples become 4-bit indices of the same value.
void Widen2To4(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  const int bytes = (width + 3) / 4;
  const int outBytes = (width + 1) / 2;
  for (int k = 0; k < bytes; ++k) {
    const uint8_t v = src[k];
    const uint8_t hi = static_cast<uint8_t>(((v >> 6) & 3) << 4 | ((v >> 4) & 3));
    const uint8_t lo = static_cast<uint8_t>(((v >> 2) & 3) << 4 | (v & 3));
    dst[2 * k] = hi;
    if (2 * k + 1 < outBytes) dst[2 * k + 1] = lo;
  }
}

void Gray16(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  for (int i = 0; i < width; ++i) dst[i] = src[2 * i];
}
void GrayAlpha8(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    dst[i] = src[2 * i];
    alpha[i] = static_cast<uint8_t>(255 - src[2 * i + 1]);
  }
}
void GrayAlpha16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    dst[i] = src[4 * i];
    alpha[i] = static_cast<uint8_t>(255 - src[4 * i + 2]);
  }
}
void Rgb16(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  for (int i = 0; i < width; ++i) {
    dst[3 * i] = src[6 * i + 4];
    dst[3 * i + 1] = src[6 * i + 2];
    dst[3 * i + 2] = src[6 * i];
  }
}
void Rgba16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    dst[3 * i] = src[8 * i + 4];
    dst[3 * i + 1] = src[8 * i + 2];
    dst[3 * i + 2] = src[8 * i];
    alpha[i] = static_cast<uint8_t>(255 - src[8 * i + 6]);
  }
}
inline void Put565(uint8_t* dst, int r, int g, int b) {
  const unsigned v = unsigned(r >> 3) << 11 | unsigned(g >> 2) << 5 | unsigned(b >> 3);
  dst[0] = static_cast<uint8_t>(v);
  dst[1] = static_cast<uint8_t>(v >> 8);
}
void Rgb8To565(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  for (int i = 0; i < width; ++i) Put565(dst + 2 * i, src[3 * i], src[3 * i + 1], src[3 * i + 2]);
}
void Rgba8To565(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    Put565(dst + 2 * i, src[4 * i], src[4 * i + 1], src[4 * i + 2]);
    alpha[i] = static_cast<uint8_t>(255 - src[4 * i + 3]);
  }
}

}  // namespace

void PlacePixels(const uint8_t* src, uint8_t* dst, int count, int bits, int x0, int dx) {
  switch (bits) {
    case 1:
      for (int k = 0, x = x0; k < count; ++k, x += dx) {
        const int bit = (src[k >> 3] >> (7 - (k & 7))) & 1;
        const int shift = 7 - (x & 7);
        dst[x >> 3] = static_cast<uint8_t>((dst[x >> 3] & ~(1 << shift)) | (bit << shift));
      }
      break;
    case 4:
      for (int k = 0, x = x0; k < count; ++k, x += dx) {
        const int v = (src[k >> 1] >> ((k & 1) ? 0 : 4)) & 0xF;
        const int shift = (x & 1) ? 0 : 4;
        dst[x >> 1] = static_cast<uint8_t>((dst[x >> 1] & ~(0xF << shift)) | (v << shift));
      }
      break;
    case 8:
      for (int k = 0, x = x0; k < count; ++k, x += dx) dst[x] = src[k];
      break;
    case 16:
      for (int k = 0, x = x0; k < count; ++k, x += dx) std::memcpy(dst + 2 * x, src + 2 * k, 2);
      break;
    case 24:
      for (int k = 0, x = x0; k < count; ++k, x += dx) std::memcpy(dst + 3 * x, src + 3 * k, 3);
      break;
    default:
      break;
  }
}

}  // namespace pngrow

// ---------------------------------------------------------------------------
// Reader

struct TGLDPNGReadStream::Rows {
  std::unique_ptr<uint8_t[]> block;
  uint8_t* prev = nullptr;
  uint8_t* cur = nullptr;
  uint8_t* conv = nullptr;
  uint8_t* alpha = nullptr;
};

TGLDPNGReadStream::TGLDPNGReadStream(TGLDPNG& owner, tk::TBitmap& image, tk::TBitmap& alpha,
                                     bool withHooks)
    : owner_(owner), image_(image), alpha_(alpha), with_hooks_(withHooks) {
  if (withHooks && owner.OnProgress) {
    OnProgress = [this](TProgressStage stage, int percent) {
      owner_.OnProgress(owner_, stage, percent);
    };
  }
}

TGLDPNGReadStream::~TGLDPNGReadStream() = default;

void TGLDPNGReadStream::Load(tk::TStream& stream) {
  std::fill(std::begin(pal_alpha_), std::end(pal_alpha_), uint8_t(255));
  Progress(TProgressStage::psStarting, 0);

  if (owner_.DetectMacBinary) {
    const int64_t pos = stream.Position();
    if (stream.Size() - pos > 128) {
      uint8_t head[75];
      const size_t got = stream.Read(head, sizeof head);
      const bool macBinary = got == sizeof head && head[0] == 0 && head[74] == 0;
      stream.SetPosition(macBinary ? pos + 128 : pos);
    }
  }
  Attach(stream);
  struct DetachGuard {
    TGLDPNGReadStream* self;
    ~DetachGuard() {
      self->inflater_.End();
      self->Detach();
    }
  } guard{this};

  uint8_t signature[8];
  if (!ReadBytes(signature, 8) || std::memcmp(signature, kSignature, 8) != 0)
    RaisePng(PngError::NotPng);

  ReadChunks();

  if (!Halted() && image_done_ && !has_alpha_ && trans_color_ != TGLDPNG::kNoColor) {
    image_.SetTransparent(true);
    image_.SetTransparentColor(trans_color_);
  }
  if (use_palette_alpha_ && image_done_) ApplyPaletteAlpha();
  Progress(TProgressStage::psEnding, 100);
}

void TGLDPNGReadStream::ReadChunks() {
  while (!Halted() && !end_seen_) {
    const uint32_t length = ReadBE32();
    const uint32_t type = ReadBE32();
    if (Halted()) break;
    // Lengths above 2^31 - 1 are invalid; neither may a chunk claim more
    // data than the source holds.
    if (length > kMaxChunkLength || int64_t(length) > Remaining()) RaisePng(PngError::ChunkTooLong);
    chunk_left_ = length;
    switch (type) {
      case kIHDR:
        ReadIHDR();
        break;
      case kPLTE:
        ReadPLTE();
        break;
      case kIDAT:
        if (!header_seen_) RaisePng(PngError::ImageBeforeHeader);
        if (!image_done_) ReadImage();
        break;
      case kIEND:
        end_seen_ = true;
        break;
      case ktRNS:
        ReadtRNS();
        break;
      case kbKGD:
        ReadbKGD();
        break;
      case kgAMA:
        ReadgAMA();
        break;
      case kcHRM:
        ReadcHRM();
        break;
      case ksBIT:
        ReadsBIT();
        break;
      case kpHYs:
        ReadpHYs();
        break;
      case ktEXt:
        ReadtEXt();
        break;
      case ktIME:
        ReadtIME();
        break;
      case kgIFg:
        ReadgIFg();
        break;
      case ktpNG:
        ReadtpNG();
        break;
      default:
        break;
    }
    if (Halted()) break;
    Skip(chunk_left_);
    chunk_left_ = 0;
    // CRCs are not checked; a file may also end without the last one.
    Skip(std::min<int64_t>(4, Remaining()));
    if (OnProgress && Available() > 0) {
      const int64_t done = Consumed() * 100 / Available();
      if (!image_done_)
        Progress(TProgressStage::psRunning, static_cast<int>(done * 29 / 100));
      else
        Progress(TProgressStage::psRunning, static_cast<int>(97 + done * 2 / 100));
    }
  }
}

bool TGLDPNGReadStream::ChunkRead(void* out, size_t count) {
  // Reading nothing would set the stream's stop flag: an empty chunk is
  // simply an empty chunk.
  if (count == 0) return true;
  if (count > chunk_left_) return false;
  if (!ReadBytes(out, count)) return false;
  chunk_left_ -= static_cast<uint32_t>(count);
  return true;
}

uint8_t TGLDPNGReadStream::ChunkByte() {
  uint8_t v = 0;
  return ChunkRead(&v, 1) ? v : 0;
}

uint16_t TGLDPNGReadStream::ChunkBE16() {
  uint8_t b[2] = {0, 0};
  if (!ChunkRead(b, 2)) return 0;
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TGLDPNGReadStream::ChunkBE32() {
  uint8_t b[4] = {0, 0, 0, 0};
  if (!ChunkRead(b, 4)) return 0;
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

void TGLDPNGReadStream::ReadIHDR() {
  if (header_seen_) RaisePng(PngError::TwoHeaders);
  if (chunk_left_ != 13) RaisePng(PngError::BadHeaderLength);
  uint8_t h[13];
  if (!ChunkRead(h, 13)) return;
  const uint32_t width =
      (uint32_t(h[0]) << 24) | (uint32_t(h[1]) << 16) | (uint32_t(h[2]) << 8) | h[3];
  const uint32_t height =
      (uint32_t(h[4]) << 24) | (uint32_t(h[5]) << 16) | (uint32_t(h[6]) << 8) | h[7];
  const int colorType = h[9] & 7;
  if (colorType == 1 || colorType == 5 || colorType == 7) RaisePng(PngError::BadColorType);
  if (h[10] >= 2) RaisePng(PngError::BadCompression);
  if (h[11] >= 2) RaisePng(PngError::BadFilterMethod);
  if (h[12] >= 2) RaisePng(PngError::BadInterlace);
  if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength)
    RaisePng(PngError::BadSize);
  width_ = width;
  height_ = height;
  depth_ = h[8];
  color_type_ = colorType & 3;
  has_alpha_ = (colorType & 4) != 0;
  gray_ = color_type_ == 0;
  interlace_ = h[12];
  header_seen_ = true;
}

void TGLDPNGReadStream::ReadPLTE() {
  if (!BetweenHeaderAndImage() || palette_seen_ || gray_) return;
  const int count = static_cast<int>(std::min<uint32_t>(chunk_left_ / 3, 256));
  // A palette without entries is no palette: a later PLTE may still come.
  if (count == 0) return;
  uint8_t rgb[768];
  if (!ChunkRead(rgb, static_cast<size_t>(count) * 3)) return;
  for (int i = 0; i < count; ++i) {
    colors_[i].Red = rgb[3 * i];
    colors_[i].Green = rgb[3 * i + 1];
    colors_[i].Blue = rgb[3 * i + 2];
    colors_[i].Reserved = 0;
  }
  color_count_ = count;
  palette_seen_ = true;
}

// A gray sample as the level of the image's gray ramp: the high byte at
// 16 bits, the sample itself at 8, and at 1, 2 and 4 bits the ramp entry
// the sample indexes, so the colour matches the pixels that carry it.
int TGLDPNGReadStream::SampleToLevel(uint16_t sample) const {
  if (depth_ == 16) return sample >> 8;
  // The depth is validated only when the image starts.
  if (depth_ != 1 && depth_ != 2 && depth_ != 4) return sample & 0xFF;
  const int max = (1 << depth_) - 1;
  return (sample & max) * 255 / max;
}

void TGLDPNGReadStream::ReadtRNS() {
  if (!BetweenHeaderAndImage() || has_alpha_) return;
  if (color_type_ == 3) {
    // Before PLTE (no entries yet) or when empty the chunk says nothing
    // and is skipped; the image still loads.
    const size_t count = std::min<size_t>(chunk_left_, static_cast<size_t>(color_count_));
    if (count == 0 || !ChunkRead(pal_alpha_, count)) return;
    pal_transparent_ = true;
    return;
  }
  if (color_type_ == 0) {
    if (chunk_left_ < 2) return;
    const int level = SampleToLevel(ChunkBE16());
    trans_color_ = tk::RGBColor(level, level, level);
    return;
  }
  if (chunk_left_ < 6) return;
  const uint16_t r = ChunkBE16(), g = ChunkBE16(), b = ChunkBE16();
  const int shift = depth_ == 16 ? 8 : 0;
  trans_color_ = tk::RGBColor(uint8_t(r >> shift), uint8_t(g >> shift), uint8_t(b >> shift));
}

void TGLDPNGReadStream::ReadbKGD() {
  if (!BetweenHeaderAndImage()) return;
  if (color_type_ == 3) {
    if (chunk_left_ < 1) return;
    bg_color_ = TGLDPNG::kPaletteIndexColor + ChunkByte();
  } else if (color_type_ == 0) {
    if (chunk_left_ < 2) return;
    const int level = SampleToLevel(ChunkBE16());
    bg_color_ = tk::RGBColor(level, level, level);
  } else {
    if (chunk_left_ < 6) return;
    const uint16_t r = ChunkBE16(), g = ChunkBE16(), b = ChunkBE16();
    const int shift = depth_ == 16 ? 8 : 0;
    bg_color_ = tk::RGBColor(uint8_t(r >> shift), uint8_t(g >> shift), uint8_t(b >> shift));
  }
}

void TGLDPNGReadStream::ReadgAMA() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ < 4) return;
  gamma_ = ChunkBE32() / 100000.0;
}

void TGLDPNGReadStream::ReadcHRM() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ != 32) return;
  TPNGChromaticities& c = owner_.Chrm;
  c.WhiteX = ChunkBE32();
  c.WhiteY = ChunkBE32();
  c.RedX = ChunkBE32();
  c.RedY = ChunkBE32();
  c.GreenX = ChunkBE32();
  c.GreenY = ChunkBE32();
  c.BlueX = ChunkBE32();
  c.BlueY = ChunkBE32();
}

void TGLDPNGReadStream::ReadsBIT() {
  if (!BetweenHeaderAndImage() || palette_seen_ || color_type_ == 0) return;
  const size_t need = has_alpha_ ? 4 : 3;
  uint8_t b[4] = {0, 0, 0, 0};
  if (chunk_left_ < need || !ChunkRead(b, need)) return;
  sbit_ = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void TGLDPNGReadStream::ReadpHYs() {
  if (!BetweenHeaderAndImage() || chunk_left_ != 9) return;
  phys_x_ = static_cast<int32_t>(ChunkBE32());
  phys_y_ = static_cast<int32_t>(ChunkBE32());
  phys_unit_ = ChunkByte();
  phys_seen_ = true;
}

void TGLDPNGReadStream::ReadtEXt() {
  // Only "Comment" followed by its zero byte is kept, and of its text no
  // more than kMaxCommentText bytes: a chunk may claim up to 2 GiB, which a
  // 32-bit process cannot hold in one string. The rest is skipped.
  static constexpr char kKeyword[] = "Comment";
  char keyword[sizeof kKeyword];
  if (chunk_left_ < sizeof keyword || !ChunkRead(keyword, sizeof keyword)) return;
  if (std::memcmp(keyword, kKeyword, sizeof keyword) != 0) return;
  std::string text(std::min<size_t>(chunk_left_, kMaxCommentText), '\0');
  if (text.empty() || !ChunkRead(&text[0], text.size())) return;
  if (!comment_.empty()) comment_ += "\r\n";
  comment_ += text;
  comment_ += "\r\n";
}

void TGLDPNGReadStream::ReadtIME() {
  if (chunk_left_ != 7) return;
  TPNGTime& t = owner_.Time;
  t.Year = ChunkBE16();
  t.Month = ChunkByte();
  t.Day = ChunkByte();
  t.Hour = ChunkByte();
  t.Minute = ChunkByte();
  t.Second = ChunkByte();
}

void TGLDPNGReadStream::ReadgIFg() {
  if (!BetweenHeaderAndImage() || palette_seen_ || chunk_left_ != 4) return;
  ChunkRead(owner_.GIFExt.Data, 4);
}

void TGLDPNGReadStream::ReadtpNG() {
  if (!BetweenHeaderAndImage() || private_seen_) return;
  private_seen_ = true;
  if (chunk_left_ <= 4 || ChunkBE32() != kPrivateTag) return;
  const uint8_t flag = ChunkByte();
  if (flag != 0 && with_hooks_) {
    password_ = owner_.Password;
    if (owner_.OnPassword) owner_.OnPassword(owner_, password_);
  }
  ChunkByte();
}

namespace {
// Gray and palette rows of 1, 2, 4 and 8 bits share their layouts: indices
// copied as they are, 2-bit values widened to 4-bit ones.
bool ChooseIndexedRows(int depth, tk::TPixelFormat& format, pngrow::ConvertFn& convert) {
  using pf = tk::TPixelFormat;
  switch (depth) {
    case 1:
      format = pf::pf1bit, convert = pngrow::CopyBits1;
      return true;
    case 2:
      format = pf::pf4bit, convert = pngrow::Widen2To4;
      return true;
    case 4:
      format = pf::pf4bit, convert = pngrow::CopyBits4;
      return true;
    case 8:
      format = pf::pf8bit, convert = pngrow::CopyBits8;
      return true;
    default:
      return false;
  }
}
}  // namespace

void TGLDPNGReadStream::ChooseFormat() {
  using pf = tk::TPixelFormat;
  stored_depth_ = depth_;
  alpha_out_ = false;
  if (color_type_ == 0) {
    if (has_alpha_) {
      if (depth_ == 1 || depth_ == 2 || depth_ == 4) RaisePng(PngError::AlphaAtLowDepth);
      if (depth_ != 8 && depth_ != 16) RaisePng(PngError::BadGrayDepth);
      format_ = pf::pf8bit;
      convert_ = depth_ == 8 ? pngrow::GrayAlpha8 : pngrow::GrayAlpha16;
      pixel_bits_ = depth_ * 2;
      alpha_out_ = true;
    } else {
      if (depth_ == 16) {
        format_ = pf::pf8bit, convert_ = pngrow::Gray16;
      } else if (!ChooseIndexedRows(depth_, format_, convert_)) {
        RaisePng(PngError::BadGrayDepth);
      }
      pixel_bits_ = depth_;
    }
    color_count_ = CreateGrayScalePalette(colors_, depth_);
  } else if (color_type_ == 2) {
    if (depth_ != 8 && depth_ != 16) RaisePng(PngError::BadColorDepth);
    const int r = sbit_ & 0xFF, g = (sbit_ >> 8) & 0xFF, b = (sbit_ >> 16) & 0xFF;
    const bool reduce =
        with_hooks_ && owner_.Reduced16Bit && depth_ == 8 && r == 5 && b == 5 && (g == 5 || g == 6);
    format_ = reduce ? pf::pf16bit : pf::pf24bit;
    if (reduce)
      convert_ = has_alpha_ ? pngrow::Rgba8To565 : pngrow::Rgb8To565;
    else if (depth_ == 8)
      convert_ = has_alpha_ ? pngrow::ConvertRgba8 : pngrow::ConvertRgb8;
    else
      convert_ = has_alpha_ ? pngrow::Rgba16 : pngrow::Rgb16;
    pixel_bits_ = depth_ * (has_alpha_ ? 4 : 3);
    alpha_out_ = has_alpha_;
    stored_depth_ = reduce ? (g == 5 ? 15 : 16) : depth_ * 3;
  } else {
    if (!ChooseIndexedRows(depth_, format_, convert_)) RaisePng(PngError::BadColorDepth);
    pixel_bits_ = depth_;
  }
  bitmap_bits_ = tk::PixelFormatBits(format_);
  if ((int64_t(width_) * pixel_bits_ + 7) / 8 > kMaxRowBytes) RaisePng(PngError::ImageTooLarge);
}

void TGLDPNGReadStream::CreateImage() {
  if (pal_transparent_) {
    int zeros = 0, opaque = 0, index = 0;
    for (int i = 0; i < 256; ++i) {
      if (pal_alpha_[i] == 0) ++zeros, index = i;
      if (pal_alpha_[i] == 255) ++opaque;
    }
    if (zeros == 1 && opaque == 255) {
      trans_color_ = TGLDPNG::kPaletteIndexColor + static_cast<tk::TColor>(index);
    } else {
      trans_color_ = TGLDPNG::kNoColor;
      use_palette_alpha_ = true;
    }
  }
  std::vector<tk::TPalEntry> palette(static_cast<size_t>(color_count_));
  for (int i = 0; i < color_count_; ++i) {
    palette[i].r = colors_[i].Red;
    palette[i].g = colors_[i].Green;
    palette[i].b = colors_[i].Blue;
  }
  image_.Clear();
  image_.SetPalette(std::move(palette));
  image_.Allocate(format_, static_cast<int>(width_), static_cast<int>(height_));
  if (alpha_out_ || use_palette_alpha_) {
    std::vector<tk::TPalEntry> grays(256);
    for (int i = 0; i < 256; ++i) grays[i].r = grays[i].g = grays[i].b = static_cast<uint8_t>(i);
    alpha_.Clear();
    alpha_.SetPalette(std::move(grays));
    alpha_.Allocate(tk::TPixelFormat::pf8bit, static_cast<int>(width_), static_cast<int>(height_));
  }
}

bool TGLDPNGReadStream::RefillInflate() {
  while (chunk_left_ == 0) {
    // This IDAT is used up: the image continues only in the next chunk.
    Skip(4);
    const uint32_t length = ReadBE32();
    const uint32_t type = ReadBE32();
    if (Halted() || type != kIDAT) return false;
    if (length > kMaxChunkLength || int64_t(length) > Remaining()) return false;
    chunk_left_ = length;
  }
  const uint8_t* data = nullptr;
  const size_t n = ReadSpan(&data, std::min<size_t>(chunk_left_, kInflateInput));
  if (n == 0) return false;
  chunk_left_ -= static_cast<uint32_t>(n);
  inflater_.SetInput(data, n);
  return true;
}

void TGLDPNGReadStream::InflateRow(uint8_t* out, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    if (inflate_ended_) RaisePng(PngError::ReadImage);
    if (!inflater_.HasInput() && !RefillInflate()) RaisePng(PngError::ReadImage);
    bool ended = false;
    const long n = inflater_.Inflate(out + filled, size - filled, ended);
    if (n < 0) RaisePng(PngError::ReadImage);
    filled += static_cast<size_t>(n);
    inflate_ended_ = ended;
  }
}

void TGLDPNGReadStream::DecodePass(int pass, Rows& rows, int& lineNo, int totalRows) {
  const bool interlaced = pass >= 0;
  const pngrow::PassInfo geometry =
      interlaced ? pngrow::kAdam7[pass] : pngrow::PassInfo{0, 0, 1, 1};
  const int width = static_cast<int>(width_), height = static_cast<int>(height_);
  const int passWidth = pngrow::PassExtent(width, geometry.x0, geometry.dx);
  const int passHeight = pngrow::PassExtent(height, geometry.y0, geometry.dy);
  if (passWidth == 0 || passHeight == 0) return;
  const size_t rowLen = (static_cast<size_t>(passWidth) * pixel_bits_ + 7) / 8;
  const int bpp = std::max(1, (pixel_bits_ + 7) / 8);
  const bool decodeHook = with_hooks_ && !password_.empty() && owner_.OnDecode;
  std::memset(rows.prev, 0, rowLen + 1);
  for (int r = 0; r < passHeight; ++r) {
    InflateRow(rows.cur, rowLen + 1);
    if (!pngrow::UnfilterRow(rows.cur[0], rows.cur + 1, rows.prev + 1, rowLen, bpp))
      RaisePng(PngError::ReadImage);
    if (decodeHook) {
      std::memcpy(rows.prev, rows.cur, rowLen + 1);
      owner_.OnDecode(owner_, rows.cur + 1, static_cast<int>(rowLen), lineNo, password_);
    }
    const int y = geometry.y0 + r * geometry.dy;
    if (!interlaced) {
      convert_(rows.cur + 1, image_.ScanLine(y), alpha_out_ ? alpha_.ScanLine(y) : rows.alpha,
               passWidth);
    } else {
      convert_(rows.cur + 1, rows.conv, rows.alpha, passWidth);
      pngrow::PlacePixels(rows.conv, image_.ScanLine(y), passWidth, bitmap_bits_, geometry.x0,
                          geometry.dx);
      if (alpha_out_)
        pngrow::PlacePixels(rows.alpha, alpha_.ScanLine(y), passWidth, 8, geometry.x0, geometry.dx);
    }
    if (!decodeHook) std::swap(rows.prev, rows.cur);
    ++lineNo;
    if (OnProgress && (totalRows < 4 || (lineNo & 3) == 0))
      Progress(TProgressStage::psRunning,
               static_cast<int>(29 + int64_t(lineNo) * 68 / std::max(1, totalRows)));
    if (Stopped()) return;
  }
}

void TGLDPNGReadStream::ReadImage() {
  ChooseFormat();
  if (!inflater_.Init()) RaisePng(PngError::ZlibSetup);
  inflate_ended_ = false;
  CreateImage();

  const size_t rawRow = (static_cast<size_t>(width_) * pixel_bits_ + 7) / 8 + 1;
  const size_t rawSize = ((rawRow + 3) & ~size_t(3)) + 4;
  const size_t convSize = static_cast<size_t>(image_.Stride()) + 4;
  // The alpha row exists only for pictures that carry alpha: a 1-bit
  // picture 2^30 pixels wide must not cost a gigabyte of alpha. Only the
  // raw rows start zeroed (the first row's "previous row" is all zeros);
  // the converted rows are written before they are read.
  const size_t alphaSize = alpha_out_ ? (static_cast<size_t>(width_) + 3) & ~size_t(3) : 0;
  Rows rows;
  rows.block.reset(new uint8_t[2 * rawSize + convSize + alphaSize]);
  std::memset(rows.block.get(), 0, 2 * rawSize);
  rows.prev = rows.block.get();
  rows.cur = rows.prev + rawSize;
  rows.conv = rows.cur + rawSize;
  rows.alpha = alpha_out_ ? rows.conv + convSize : nullptr;

  int totalRows = 0;
  const int width = static_cast<int>(width_), height = static_cast<int>(height_);
  if (interlace_ == 0) {
    totalRows = height;
  } else {
    for (const pngrow::PassInfo& p : pngrow::kAdam7)
      if (pngrow::PassExtent(width, p.x0, p.dx) > 0)
        totalRows += pngrow::PassExtent(height, p.y0, p.dy);
  }
  int lineNo = 0;
  if (interlace_ == 0) {
    DecodePass(-1, rows, lineNo, totalRows);
  } else {
    for (int pass = 0; pass < 7 && !Stopped(); ++pass) DecodePass(pass, rows, lineNo, totalRows);
  }
  image_done_ = true;
  inflater_.End();
}

void TGLDPNGReadStream::ApplyPaletteAlpha() {
  if (alpha_.Empty() || image_.Empty()) return;
  const int width = image_.Width(), height = image_.Height();
  const int bits = image_.BitCount();
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = image_.ScanLine(y);
    uint8_t* dst = alpha_.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      int index;
      if (bits == 8)
        index = src[x];
      else if (bits == 4)
        index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
      else
        index = (src[x >> 3] >> (7 - (x & 7))) & 1;
      dst[x] = static_cast<uint8_t>(255 - pal_alpha_[index]);
    }
  }
}

// ---------------------------------------------------------------------------
// Writer

namespace {

constexpr int kImmediateTake = 0x7FFFFFFF;

// Fewer distinct byte values and more weight on the most frequent ones
// score higher; a row that is nearly uniform is taken at once.
int ScoreRow(const uint8_t* row, size_t n, bool wide, uint32_t* counts) {
  std::memset(counts, 0, 256 * sizeof(uint32_t));
  for (size_t i = 0; i < n; ++i) ++counts[row[i]];
  int distinct = 0;
  uint32_t c1 = 0, c2 = 0, c3 = 0;
  for (int v = 0; v < 256; ++v) {
    const uint32_t c = counts[v];
    if (c == 0) continue;
    ++distinct;
    if (c > c1) {
      c3 = c2, c2 = c1, c1 = c;
    } else if (c > c2) {
      c3 = c2, c2 = c;
    } else if (c > c3) {
      c3 = c;
    }
  }
  if (distinct <= 8 || uint64_t(c1) * 10 >= uint64_t(n) * 9) return kImmediateTake;
  const double len = static_cast<double>(n);
  const double score = wide ? len / 1.5 / distinct * 1000 + double(c1 + c2 + c3) / len * 1000
                            : len / 1.5 / distinct * 1500 + double(c1 + c2) / len * 1000;
  return static_cast<int>(std::lround(score));
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
void PutBE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }

}  // namespace

TGLDPNGWriteStream::TGLDPNGWriteStream(TGLDPNG& owner, const tk::TBitmap& image,
                                       const tk::TBitmap& alpha, bool withOptions)
    : owner_(owner), image_(image), alpha_(alpha), with_options_(withOptions) {
  if (withOptions) {
    idat_size_ = owner.IDATSize();
    level_ = owner.CompressionLevel;
    filter_ = owner.FilterType;
    interlace_ = owner.Interlace == gptAdam7 ? 1 : 0;
  }
}

void TGLDPNGWriteStream::SetIDATSize(int size) {
  if (size < 256 || size > 100000) RaisePng(PngError::WriterIDATSizeParam);
  idat_size_ = size;
}

void TGLDPNGWriteStream::WriteChunk(const char type[4], const uint8_t* data, size_t size) {
  WriteBE32(static_cast<uint32_t>(size));
  WriteBytes(type, 4);
  if (size) WriteBytes(data, size);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
  if (size) crc = crc32(crc, data, static_cast<uInt>(size));
  WriteBE32(static_cast<uint32_t>(crc));
}

int TGLDPNGWriteStream::GrayLevel(tk::TColor c) const {
  return (tk::RedOf(c) * 77 + tk::GreenOf(c) * 150 + tk::BlueOf(c) * 29) / 256;
}

int TGLDPNGWriteStream::ReduceGray(int level) const {
  if (color_type_ != 0 && color_type_ != 4) return level;
  if (depth_ == 1) return level >= 128 ? 1 : 0;
  if (depth_ == 4) return level / 16;
  return level;
}

bool TGLDPNGWriteStream::ResolveIndex(tk::TColor c, int& index) const {
  const auto& pal = image_.Palette();
  if ((c & 0xFF000000u) == TGLDPNG::kPaletteIndexColor) {
    index = static_cast<int>(c & 0xFF);
    return true;
  }
  if (pal.empty()) return false;
  TGLDPalRGB table[256];
  for (size_t i = 0; i < pal.size(); ++i) {
    table[i].Red = pal[i].r, table[i].Green = pal[i].g, table[i].Blue = pal[i].b;
  }
  index = GetNearestColorTableIndex(table, c, static_cast<int>(pal.size()));
  return true;
}

// The colour a value stands for: palette-index values through the palette.
tk::TColor TGLDPNGWriteStream::ResolveColor(tk::TColor c) const {
  if ((c & 0xFF000000u) != TGLDPNG::kPaletteIndexColor) return c & 0xFFFFFF;
  const auto& pal = image_.Palette();
  const size_t index = c & 0xFF;
  if (index >= pal.size()) return 0;
  return tk::RGBColor(pal[index].r, pal[index].g, pal[index].b);
}

void TGLDPNGWriteStream::ConvertRow(int y, int x0, int dx, int count, uint8_t* out) {
  const uint8_t* src = image_.ScanLine(y);
  const uint8_t* alpha = use_alpha_ ? alpha_.ScanLine(y) : nullptr;
  const bool grayOut = color_type_ == 0 || color_type_ == 4;
  if (source_bits_ <= 8) {
    // Indices (or gray codes through gray_table_) of the same depth, or
    // 8-bit gray with alpha.
    const int bits = source_bits_;
    if (bits == 8) {
      uint8_t* o = out;
      for (int k = 0, x = x0; k < count; ++k, x += dx) {
        *o++ = grayOut ? gray_table_[src[x]] : src[x];
        if (use_alpha_) *o++ = static_cast<uint8_t>(255 - alpha[x]);
      }
      return;
    }
    const size_t bytes = (static_cast<size_t>(count) * bits + 7) / 8;
    std::memset(out, 0, bytes);
    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    for (int k = 0, x = x0; k < count; ++k, x += dx) {
      int v = (src[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & mask;
      if (grayOut) v = gray_table_[v];
      out[k / perByte] |= static_cast<uint8_t>(v << ((perByte - 1 - k % perByte) * bits));
    }
    return;
  }
  uint8_t* o = out;
  for (int k = 0, x = x0; k < count; ++k, x += dx) {
    int r, g, b;
    if (source_bits_ == 15 || source_bits_ == 16) {
      const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
      if (source_bits_ == 16) {
        const unsigned r5 = v >> 11, g6 = (v >> 5) & 63, b5 = v & 31;
        r = int(r5 << 3 | r5 >> 2), g = int(g6 << 2 | g6 >> 4), b = int(b5 << 3 | b5 >> 2);
      } else {
        const unsigned r5 = (v >> 10) & 31, g5 = (v >> 5) & 31, b5 = v & 31;
        r = int(r5 << 3 | r5 >> 2), g = int(g5 << 3 | g5 >> 2), b = int(b5 << 3 | b5 >> 2);
      }
    } else {
      const int step = source_bits_ == 32 ? 4 : 3;
      b = src[step * x], g = src[step * x + 1], r = src[step * x + 2];
    }
    if (grayOut) {
      *o++ = static_cast<uint8_t>((r * 77 + g * 150 + b * 29) / 256);
    } else {
      *o++ = static_cast<uint8_t>(r);
      *o++ = static_cast<uint8_t>(g);
      *o++ = static_cast<uint8_t>(b);
    }
    if (use_alpha_) *o++ = static_cast<uint8_t>(255 - alpha[x]);
  }
}

void TGLDPNGWriteStream::Save(tk::TStream& stream) {
  if (image_.Empty()) RaisePng(PngError::EmptyImage);
  Attach(stream);
  image_.Flush();
  source_bits_ = GLDBitCount(image_.PixelFormat());
  const bool gray = owner_.GrayScale;
  use_alpha_ = owner_.AlphaChannel && !alpha_.Empty() && &alpha_ != &image_ &&
              alpha_.Width() == image_.Width() && alpha_.Height() == image_.Height() &&
              alpha_.BitCount() == 8 && alpha_.PixelFormat() == tk::TPixelFormat::pf8bit;
  if (source_bits_ <= 4 || (!gray && source_bits_ <= 8)) use_alpha_ = false;
  if (!gray) {
    if (source_bits_ <= 8) {
      color_type_ = 3, depth_ = source_bits_, channels_ = 1;
    } else {
      color_type_ = use_alpha_ ? 6 : 2, depth_ = 8, channels_ = use_alpha_ ? 4 : 3;
    }
  } else if (source_bits_ <= 4) {
    color_type_ = 0, depth_ = source_bits_, channels_ = 1;
  } else {
    color_type_ = use_alpha_ ? 4 : 0, depth_ = 8, channels_ = use_alpha_ ? 2 : 1;
  }

  const auto& pal = image_.Palette();
  if (gray && source_bits_ <= 8) {
    for (int i = 0; i < 256; ++i) {
      if (pal.empty() || i >= static_cast<int>(pal.size())) {
        gray_table_[i] = static_cast<uint8_t>(source_bits_ == 4 ? (i & 15) : i);
        if (!pal.empty() && source_bits_ == 8) gray_table_[i] = static_cast<uint8_t>(i);
        continue;
      }
      const int level = GrayLevel(tk::RGBColor(pal[i].r, pal[i].g, pal[i].b));
      gray_table_[i] = static_cast<uint8_t>(source_bits_ == 4 ? level / 16 : level);
    }
    if (source_bits_ == 1) {
      // 0 must stay the darker entry in the file.
      const bool invert =
          pal.size() >= 2 && GrayLevel(tk::RGBColor(pal[1].r, pal[1].g, pal[1].b)) <
                                 GrayLevel(tk::RGBColor(pal[0].r, pal[0].g, pal[0].b));
      gray_table_[0] = invert ? 1 : 0;
      gray_table_[1] = invert ? 0 : 1;
    }
  }

  WriteBytes(kSignature, 8);
  uint8_t ihdr[13];
  PutBE32(ihdr, static_cast<uint32_t>(image_.Width()));
  PutBE32(ihdr + 4, static_cast<uint32_t>(image_.Height()));
  ihdr[8] = static_cast<uint8_t>(depth_);
  ihdr[9] = static_cast<uint8_t>(color_type_);
  ihdr[10] = 0;
  ihdr[11] = 0;
  ihdr[12] = static_cast<uint8_t>(interlace_);
  WriteChunk("IHDR", ihdr, 13);

  const TPNGTime t =
      (with_options_ ? owner_.WriteCurrentTime : true) ? SystemPNGTime() : owner_.Time;
  if (t.Year != 0 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= 31 && t.Hour <= 23 &&
      t.Minute <= 59 && t.Second <= 60) {
    uint8_t b[7];
    PutBE16(b, t.Year);
    b[2] = t.Month, b[3] = t.Day, b[4] = t.Hour, b[5] = t.Minute, b[6] = t.Second;
    WriteChunk("tIME", b, 7);
  }
  auto writeText = [this](const std::string& keyword, const std::string& text) {
    if (keyword.size() >= 80) return;
    std::string data = keyword;
    data.push_back('\0');
    data += text;
    WriteChunk("tEXt", reinterpret_cast<const uint8_t*>(data.data()), data.size());
  };
  if (!owner_.Comment.empty()) writeText("Comment", owner_.Comment);
  writeText("Software", "GLDPNG ver 3.4");
  {
    uint8_t b[8] = {'G', 'L', 'D', '3', 0, 0, 0, 0};
    b[4] = with_options_ && !owner_.Password.empty() && owner_.OnEncode ? 1 : 0;
    WriteChunk("tpNG", b, 8);
  }
  const uint8_t* gif = owner_.GIFExt.Data;
  if (gif[0] || gif[1] || gif[2]) WriteChunk("gIFg", gif, 4);
  if (owner_.Gamma > 0) {
    uint8_t b[4];
    PutBE32(b, static_cast<uint32_t>(std::lround(owner_.Gamma * 100000)));
    WriteChunk("gAMA", b, 4);
  }
  if (owner_.Chrm.WhiteX != 0 && owner_.Chrm.WhiteY != 0) {
    const TPNGChromaticities& c = owner_.Chrm;
    const uint32_t v[8] = {c.WhiteX, c.WhiteY, c.RedX,  c.RedY,
                           c.GreenX, c.GreenY, c.BlueX, c.BlueY};
    uint8_t b[32];
    for (int i = 0; i < 8; ++i) PutBE32(b + 4 * i, v[i]);
    WriteChunk("cHRM", b, 32);
  }
  if (color_type_ != 0 && color_type_ != 4) {
    uint8_t b[4] = {0, 0, 0, 8};
    size_t n = 0;
    if (source_bits_ == 15 || source_bits_ == 16) {
      b[0] = 5, b[1] = source_bits_ == 16 ? 6 : 5, b[2] = 5;
      n = use_alpha_ ? 4 : 3;
    } else if (static_cast<int32_t>(owner_.SignificantBits) > 0) {
      const uint32_t s = owner_.SignificantBits;
      b[0] = uint8_t(s), b[1] = uint8_t(s >> 8), b[2] = uint8_t(s >> 16), b[3] = uint8_t(s >> 24);
      n = use_alpha_ ? 4 : 3;
      // Counts outside 1..8 would make the chunk invalid for 8-bit samples.
      for (size_t i = 0; i < n; ++i)
        if (b[i] == 0 || b[i] > 8) n = 0;
    }
    if (n) WriteChunk("sBIT", b, n);
  }
  if (color_type_ == 3) {
    const size_t maxEntries = size_t(1) << depth_;
    std::vector<uint8_t> plte;
    if (!pal.empty()) {
      for (size_t i = 0; i < pal.size() && i < maxEntries; ++i) {
        plte.push_back(pal[i].r);
        plte.push_back(pal[i].g);
        plte.push_back(pal[i].b);
      }
    } else {
      // A palette image needs PLTE; without entries the indices are taken
      // as gray levels.
      TGLDPalRGB ramp[256];
      const int count = CreateGrayScalePalette(ramp, depth_);
      for (int i = 0; i < count; ++i) {
        plte.push_back(ramp[i].Red);
        plte.push_back(ramp[i].Green);
        plte.push_back(ramp[i].Blue);
      }
    }
    WriteChunk("PLTE", plte.data(), plte.size());
  }
  if (owner_.BGColor != TGLDPNG::kNoColor) {
    if (color_type_ == 3) {
      int index;
      if (ResolveIndex(owner_.BGColor, index)) {
        const uint8_t b = static_cast<uint8_t>(index);
        WriteChunk("bKGD", &b, 1);
      }
    } else if (color_type_ == 0 || color_type_ == 4) {
      uint8_t b[2];
      PutBE16(b, static_cast<uint16_t>(ReduceGray(GrayLevel(ResolveColor(owner_.BGColor)))));
      WriteChunk("bKGD", b, 2);
    } else {
      const tk::TColor c = ResolveColor(owner_.BGColor);
      uint8_t b[6];
      PutBE16(b, tk::RedOf(c));
      PutBE16(b + 2, tk::GreenOf(c));
      PutBE16(b + 4, tk::BlueOf(c));
      WriteChunk("bKGD", b, 6);
    }
  }
  if (owner_.TransColor != TGLDPNG::kNoColor && !use_alpha_) {
    if (color_type_ == 3) {
      int index;
      if (ResolveIndex(owner_.TransColor, index)) {
        std::vector<uint8_t> alpha(static_cast<size_t>(index) + 1, 255);
        alpha[static_cast<size_t>(index)] = 0;
        WriteChunk("tRNS", alpha.data(), alpha.size());
      }
    } else if (color_type_ == 0) {
      uint8_t b[2];
      PutBE16(b, static_cast<uint16_t>(ReduceGray(GrayLevel(ResolveColor(owner_.TransColor)))));
      WriteChunk("tRNS", b, 2);
    } else if (color_type_ == 2) {
      const tk::TColor c = ResolveColor(owner_.TransColor);
      uint8_t b[6];
      PutBE16(b, tk::RedOf(c));
      PutBE16(b + 2, tk::GreenOf(c));
      PutBE16(b + 4, tk::BlueOf(c));
      WriteChunk("tRNS", b, 6);
    }
  }
  if (owner_.PhysX > 0 && owner_.PhysY > 0) {
    uint8_t unit = owner_.PhysUnit;
    int64_t x = owner_.PhysX, y = owner_.PhysY;
    if (unit == gpuInch) {
      x = (x * 10000 + 127) / 254;
      y = (y * 10000 + 127) / 254;
      unit = gpuMeter;
    } else if (unit != gpuAspect && unit != gpuMeter) {
      unit = gpuAspect;
    }
    uint8_t b[9];
    PutBE32(b, static_cast<uint32_t>(std::min<int64_t>(x, kMaxChunkLength)));
    PutBE32(b + 4, static_cast<uint32_t>(std::min<int64_t>(y, kMaxChunkLength)));
    b[8] = unit;
    WriteChunk("pHYs", b, 9);
  }
  WriteImageData();
  WriteChunk("IEND", nullptr, 0);
  Flush();
}

void TGLDPNGWriteStream::WriteImageData() {
  const int width = image_.Width(), height = image_.Height();
  const int pixelBits = depth_ * channels_;
  const int bpp = std::max(1, pixelBits / 8);
  const size_t maxRow = (static_cast<size_t>(width) * pixelBits + 7) / 8;
  const size_t rowSize = (maxRow + 1 + 31) & ~size_t(31);
  std::unique_ptr<uint8_t[]> block(new uint8_t[4 * rowSize]());
  uint8_t* raw = block.get();     // [0] filter byte, then the raw row
  uint8_t* prev = raw + rowSize;  // previous raw row, same layout
  uint8_t* filtered = prev + rowSize;
  uint8_t* trial = filtered + rowSize;
  uint32_t counts[256];

  int outSize = idat_size_;
  if (outSize < 1 || outSize > 262143) outSize = TGLDPNG::kDefaultIDATSize;
  std::unique_ptr<uint8_t[]> out(new uint8_t[static_cast<size_t>(outSize)]);
  TGLDDeflater deflater;
  deflater.Init(level_, (filter_ > gpfPaeth ? gpfNone : filter_) != gpfNone);
  deflater.SetOutput(out.get(), static_cast<size_t>(outSize));
  auto pump = [&](const uint8_t* data, size_t size, bool finish) {
    bool first = true, done = false;
    for (;;) {
      if (!deflater.Deflate(first ? data : nullptr, first ? size : 0, finish, done))
        RaisePng(PngError::WriteImage);
      first = false;
      if (deflater.OutputLeft() == 0) {
        WriteChunk("IDAT", out.get(), static_cast<size_t>(outSize));
        deflater.SetOutput(out.get(), static_cast<size_t>(outSize));
        continue;
      }
      if (finish ? done : deflater.InputLeft() == 0) break;
    }
  };

  const bool encodeHook = with_options_ && !owner_.Password.empty() && owner_.OnEncode;
  const bool lowDepthIndexed = (color_type_ == 3 || color_type_ == 0 || color_type_ == 4);
  const bool wide = pixelBits >= 8;
  int lineNo = 0;
  const int passes = interlace_ ? 7 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const pngrow::PassInfo g = interlace_ ? pngrow::kAdam7[pass] : pngrow::PassInfo{0, 0, 1, 1};
    const int passWidth = pngrow::PassExtent(width, g.x0, g.dx);
    const int passHeight = pngrow::PassExtent(height, g.y0, g.dy);
    if (passWidth == 0 || passHeight == 0) continue;
    const size_t len = (static_cast<size_t>(passWidth) * pixelBits + 7) / 8;
    std::memset(prev, 0, len + 1);
    for (int r = 0; r < passHeight; ++r) {
      ConvertRow(g.y0 + r * g.dy, g.x0, g.dx, passWidth, raw + 1);
      if (encodeHook)
        owner_.OnEncode(owner_, raw + 1, static_cast<int>(len), lineNo, owner_.Password);
      uint8_t choice = pngrow::kNone;
      TGLDPNGFilterType mode = filter_ > gpfPaeth ? gpfNone : filter_;
      if (mode == gpfJust) {
        raw[0] = 0;
        if (lowDepthIndexed && depth_ == 4) {
          choice = pngrow::kNone;
        } else {
          int best = ScoreRow(raw, len + 1, wide, counts);
          if (best != kImmediateTake) {
            if (lowDepthIndexed && (depth_ == 1 || depth_ == 8)) best *= 2;
            for (uint8_t f = pngrow::kSub; f <= pngrow::kPaeth; ++f) {
              trial[0] = f;
              pngrow::FilterRow(f, raw + 1, prev + 1, trial + 1, len, bpp);
              const int score = ScoreRow(trial, len + 1, wide, counts);
              if (score == kImmediateTake) {
                choice = f;
                break;
              }
              if (score > best) {
                best = score;
                choice = f;
              }
            }
          }
        }
      } else {
        choice = static_cast<uint8_t>(mode - gpfNone);
      }
      filtered[0] = choice;
      if (choice == pngrow::kNone)
        std::memcpy(filtered + 1, raw + 1, len);
      else
        pngrow::FilterRow(choice, raw + 1, prev + 1, filtered + 1, len, bpp);
      pump(filtered, len + 1, false);
      std::swap(raw, prev);
      ++lineNo;
    }
  }
  pump(nullptr, 0, true);
  const size_t rest = static_cast<size_t>(outSize) - deflater.OutputLeft();
  if (rest > 0) WriteChunk("IDAT", out.get(), rest);
}

}  // namespace orv
