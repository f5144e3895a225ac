#include "imaging/AreaShrink.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace orv {

namespace {
constexpr int kPixelBytes = 3;
constexpr int kShift = 22;  // kRowUnit * kColumnUnit = 2^22
constexpr int32_t kHalf = 1 << (kShift - 1);
}  // namespace

// Positions are counted in units that make both grids whole: a source
// pixel is `dst` units long, an output pixel `src` units. A source pixel
// overlaps at most two outputs, since it is never longer than one.
std::vector<TAreaShrink::Share> TAreaShrink::Shares(int src, int dst, uint32_t unit) {
  std::vector<Share> shares(static_cast<size_t>(src));
  // The share of an output pixel up to `p` units into it, rounded: taking
  // differences of it makes every output's shares add up to `unit`.
  auto upTo = [src, unit](int64_t p) { return uint32_t((p * unit + src / 2) / src); };
  for (int s = 0; s < src; ++s) {
    const int64_t start = int64_t(s) * dst, end = start + dst;
    const int o = int(start / src);
    const int64_t into = start - int64_t(o) * src;
    Share& share = shares[static_cast<size_t>(s)];
    share.first = o;
    if (end <= int64_t(o + 1) * src) {
      share.here = upTo(end - int64_t(o) * src) - upTo(into);
      share.next = 0;
    } else {
      share.here = unit - upTo(into);
      share.next = upTo(end - int64_t(o + 1) * src);
    }
  }
  return shares;
}

TAreaShrink::TAreaShrink(int srcWidth, int srcHeight, int dstWidth, int dstHeight, Code code)
    : src_width_(srcWidth),
      src_height_(srcHeight),
      dst_width_(dstWidth),
      dst_height_(dstHeight),
#ifdef __SSE2__
      vector_code_(code == Code::kBest) {
#else
      vector_code_(false) {
  (void)code;
#endif
  if (dstWidth <= 0 || dstHeight <= 0 || dstWidth > srcWidth || dstHeight > srcHeight)
    throw std::invalid_argument("TAreaShrink: the result must be smaller and not empty");
  rows_ = Shares(srcHeight, dstHeight, kRowUnit);
  // Each output pixel as the columns it takes and their weights: the same
  // number for all (the most any takes, rounded up to even, the rest
  // weighing 0), from a first column moved left where the last ones would
  // lie past the row's end (the zero pixel after it takes one more).
  const std::vector<Share> columns = Shares(srcWidth, dstWidth, kColumnUnit);
  std::vector<int> from(size_t(dstWidth), -1), to(size_t(dstWidth), 0);
  for (int x = 0; x < srcWidth; ++x) {
    const Share& c = columns[size_t(x)];
    if (from[size_t(c.first)] < 0) from[size_t(c.first)] = x;
    to[size_t(c.first)] = x + 1;
    if (c.next) from[size_t(c.first) + 1] = x;
  }
  int taps = 1;
  for (int o = 0; o < dstWidth; ++o) taps = std::max(taps, to[size_t(o)] - from[size_t(o)]);
  taps_ = (taps + 1) / 2 * 2;
  tap_first_.resize(size_t(dstWidth));
  tap_weights_.assign(size_t(dstWidth) * size_t(taps_), 0);
  for (int o = 0; o < dstWidth; ++o) {
    const int start = std::max(0, std::min(from[size_t(o)], srcWidth + 1 - taps_));
    tap_first_[size_t(o)] = start;
    for (int x = from[size_t(o)]; x < to[size_t(o)]; ++x) {
      const Share& c = columns[size_t(x)];
      tap_weights_[size_t(o) * size_t(taps_) + size_t(x - start)] =
          int16_t(c.first == o ? c.here : c.next);
    }
  }
  // The weights again as the vector code takes them: a pair (w0 w1) four
  // times over to a 16-byte group, the groups aligned.
  tap_pairs_.resize(tap_weights_.size() * 4 + 4);
  const size_t misalign = reinterpret_cast<uintptr_t>(tap_pairs_.data()) % 16 / sizeof(uint32_t);
  tap_pairs_offset_ = misalign ? 4 - misalign : 0;
  for (size_t i = 0; i + 1 < tap_weights_.size(); i += 2)
    for (size_t lane = 0; lane < 4; ++lane)
      tap_pairs_[tap_pairs_offset_ + i * 2 + lane] =
          uint32_t(uint16_t(tap_weights_[i])) | uint32_t(uint16_t(tap_weights_[i + 1])) << 16;
  // A pixel of zeros after the row, and one lane more: the last pair of
  // taps reads four lanes of the pixel after it.
  const size_t sums = (size_t(srcWidth) + 1) * kPixelBytes + 1;
  open_.assign(sums, 0);
  next_.assign(sums, 0);
  out_.assign(size_t(dstWidth) * 3 + 1, 0);
}

const uint8_t* TAreaShrink::Push(const uint8_t* row) {
  if (rows_in_ >= src_height_) return nullptr;
  const Share& share = rows_[static_cast<size_t>(rows_in_++)];
  // The zero pixel at the end is left alone.
  const size_t n = size_t(src_width_) * kPixelBytes;
  // A column's sum is at most 255 * kRowUnit: 16 bits.
  const uint16_t here = uint16_t(share.here), spill = uint16_t(share.next);
  uint16_t* open = open_.data();
  for (size_t i = 0; i < n; ++i) open[i] = uint16_t(open[i] + row[i] * here);
  // Only the last row of an output spills into the next, which is empty
  // until then.
  if (spill) {
    uint16_t* next = next_.data();
    for (size_t i = 0; i < n; ++i) next[i] = uint16_t(row[i] * spill);
  }
  // The output row is complete when this row reaches its end: it spills
  // into the next, or ends exactly where the next begins.
  const bool complete = spill != 0 || rows_in_ == src_height_ ||
                        rows_[static_cast<size_t>(rows_in_)].first != share.first;
  if (!complete) return nullptr;
  FinishRow();
  open_.swap(next_);
  if (!spill) std::fill(open_.begin(), open_.end(), uint16_t(0));
  ++rows_done_;
  return out_.data();
}

namespace {

// One output row from the columns' vertical sums: each output pixel is the
// weighed sum of `taps` columns from its first one on. The outputs do not
// depend on one another, so the loop keeps no chain from one to the next.
void WeighColumns(const uint16_t* sums, const int* first, const int16_t* weights, int taps,
                  uint8_t* out, int width) {
  for (int x = 0; x < width; ++x, weights += taps, out += 3) {
    const uint16_t* v = sums + kPixelBytes * first[x];
    int32_t b = 0, g = 0, r = 0;
    for (int k = 0; k < taps; ++k, v += kPixelBytes) {
      b += int32_t(v[0]) * weights[k];
      g += int32_t(v[1]) * weights[k];
      r += int32_t(v[2]) * weights[k];
    }
    out[0] = uint8_t((b + kHalf) >> kShift);
    out[1] = uint8_t((g + kHalf) >> kShift);
    out[2] = uint8_t((r + kHalf) >> kShift);
  }
}

#ifdef __SSE2__
// The same a pair of taps at a time: four lanes from each of the two
// pixels (the fourth is the next pixel's first, or a padding byte),
// interleaved (b0 b1 g0 g1 r0 r1 . .), multiplied by (w0 w1) four times
// over (`pairs`, laid out so), give each channel's two products added in
// one step. That step multiplies signed lanes, and the sums reach 65280:
// they go in less 32768, which takes 32768 times the weights, 32768 *
// kColumnUnit = 2^29 in all, from every channel's sum; it is added back at
// the start. `Pairs` > 0 fixes their number at compile time. Writes a
// fourth byte after each pixel, which the next one overwrites (`out` has
// room for the last).
template <int Pairs>
void WeighColumnsVector(const uint16_t* sums, const int* first, const __m128i* pairs,
                        int pairsPerPixel, uint8_t* out, int width) {
  if (Pairs > 0) pairsPerPixel = Pairs;
  const __m128i start = _mm_set1_epi32(kHalf + (1 << 29));
  const __m128i bias = _mm_set1_epi16(int16_t(0x8000));
  for (int x = 0; x < width; ++x, pairs += pairsPerPixel, out += 3) {
    const uint16_t* v = sums + kPixelBytes * first[x];
    __m128i sum = start;
    for (int k = 0; k < pairsPerPixel; ++k, v += 2 * kPixelBytes) {
      const __m128i pair =
          _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + kPixelBytes)));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_xor_si128(pair, bias), pairs[k]));
    }
    sum = _mm_srai_epi32(sum, kShift);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, sum), sum);
    const uint32_t bgrx = uint32_t(_mm_cvtsi128_si32(bytes));
    std::memcpy(out, &bgrx, 4);
  }
}
#endif

}  // namespace

void TAreaShrink::FinishRow() {
  const uint16_t* sums = open_.data();
  const int* first = tap_first_.data();
#ifdef __SSE2__
  if (vector_code_) {
    const __m128i* pairs =
        reinterpret_cast<const __m128i*>(tap_pairs_.data() + tap_pairs_offset_);
    switch (taps_ / 2) {
      case 1:
        WeighColumnsVector<1>(sums, first, pairs, 1, out_.data(), dst_width_);
        break;
      case 2:
        WeighColumnsVector<2>(sums, first, pairs, 2, out_.data(), dst_width_);
        break;
      default:
        WeighColumnsVector<0>(sums, first, pairs, taps_ / 2, out_.data(), dst_width_);
        break;
    }
    return;
  }
#endif
  WeighColumns(sums, first, tap_weights_.data(), taps_, out_.data(), dst_width_);
}

}  // namespace orv
