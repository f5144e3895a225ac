// The PNG row functions: unfiltering (scalar and SSE2), filtering, the
// conversions from PNG samples to bitmap rows and the interlace placing.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/Gldpngstream.h"

namespace orv {

namespace {

int PaethScalar(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// What filter type `filter` predicts from the left (a), upper (b) and
// upper-left (c) bytes; filtering subtracts it, unfiltering adds it back.
int Predictor(uint8_t filter, int a, int b, int c) {
  switch (filter) {
    case pngrow::kSub:
      return a;
    case pngrow::kUp:
      return b;
    case pngrow::kAvg:
      return (a + b) / 2;
    case pngrow::kPaeth:
      return PaethScalar(a, b, c);
    default:
      return 0;
  }
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
    cur[i] = static_cast<uint8_t>(cur[i] + Predictor(filter, a, b, c));
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
    out[i] = static_cast<uint8_t>(raw[i] - Predictor(filter, a, b, c));
  }
}

namespace {
// One pixel into bitmap order (blue, green, red) from samples whose blue
// and green bytes are at `b` and `g`, red at 0.
inline void PutBgr(const uint8_t* src, uint8_t* dst, int b, int g) {
  dst[0] = src[b];
  dst[1] = src[g];
  dst[2] = src[0];
}
}  // namespace

void ConvertRgb8Ref(const uint8_t* src, uint8_t* dst, uint8_t*, int width) {
  for (int i = 0; i < width; ++i) {
    PutBgr(src + 3 * i, dst + 3 * i, 2, 1);
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
    PutBgr(src + 3 * i, dst + 3 * i, 2, 1);
  }
}

void ConvertRgba8Ref(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    PutBgr(src + 4 * i, dst + 3 * i, 2, 1);
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
    PutBgr(src + 6 * i, dst + 3 * i, 4, 2);
  }
}
void Rgba16(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int width) {
  for (int i = 0; i < width; ++i) {
    PutBgr(src + 8 * i, dst + 3 * i, 4, 2);
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

}  // namespace orv
