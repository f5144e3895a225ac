#include "imaging/AreaShrink.h"

#include <algorithm>
#include <stdexcept>

namespace orv {

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

TAreaShrink::TAreaShrink(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
    : src_width_(srcWidth), src_height_(srcHeight), dst_width_(dstWidth), dst_height_(dstHeight) {
  if (dstWidth <= 0 || dstHeight <= 0 || dstWidth > srcWidth || dstHeight > srcHeight)
    throw std::invalid_argument("TAreaShrink: the result must be smaller and not empty");
  rows_ = Shares(srcHeight, dstHeight, kRowUnit);
  // Each output pixel as the columns it takes and their weights: the same
  // number for all (the most any takes, the rest weighing 0), from a first
  // column moved left where the last ones would lie past the row's end.
  const std::vector<Share> columns = Shares(srcWidth, dstWidth, kColumnUnit);
  std::vector<int> from(size_t(dstWidth), -1), to(size_t(dstWidth), 0);
  for (int x = 0; x < srcWidth; ++x) {
    const Share& c = columns[size_t(x)];
    if (from[size_t(c.first)] < 0) from[size_t(c.first)] = x;
    to[size_t(c.first)] = x + 1;
    if (c.next) from[size_t(c.first) + 1] = x;
  }
  taps_ = 1;
  for (int o = 0; o < dstWidth; ++o) taps_ = std::max(taps_, to[size_t(o)] - from[size_t(o)]);
  tap_first_.resize(size_t(dstWidth));
  tap_weights_.assign(size_t(dstWidth) * size_t(taps_), 0);
  for (int o = 0; o < dstWidth; ++o) {
    const int start = std::min(from[size_t(o)], srcWidth - taps_);
    tap_first_[size_t(o)] = start;
    for (int x = from[size_t(o)]; x < to[size_t(o)]; ++x) {
      const Share& c = columns[size_t(x)];
      tap_weights_[size_t(o) * size_t(taps_) + size_t(x - start)] = c.first == o ? c.here : c.next;
    }
  }
  open_.assign(size_t(srcWidth) * 3, 0);
  next_.assign(size_t(srcWidth) * 3, 0);
  out_.assign(size_t(dstWidth) * 3, 0);
}

const uint8_t* TAreaShrink::Push(const uint8_t* row) {
  if (rows_in_ >= src_height_) return nullptr;
  const Share& share = rows_[static_cast<size_t>(rows_in_++)];
  const size_t n = open_.size();
  // A column's sum is at most 255 * kRowUnit: 16 bits.
  const uint16_t here = uint16_t(share.here), spill = uint16_t(share.next);
  uint16_t* open = open_.data();
  for (size_t i = 0; i < n; ++i) open[i] = uint16_t(open[i] + row[i] * here);
  if (spill) {
    uint16_t* next = next_.data();
    for (size_t i = 0; i < n; ++i) next[i] = uint16_t(next[i] + row[i] * spill);
  }
  // The output row is complete when this row reaches its end: it spills
  // into the next, or ends exactly where the next begins.
  const bool complete = spill != 0 || rows_in_ == src_height_ ||
                        rows_[static_cast<size_t>(rows_in_)].first != share.first;
  if (!complete) return nullptr;
  FinishRow();
  open_.swap(next_);
  std::fill(next_.begin(), next_.end(), uint16_t(0));
  ++rows_done_;
  return out_.data();
}

namespace {

// One output row from the columns' vertical sums: each output pixel is the
// weighed sum of `taps` columns from its first one on. The outputs do not
// depend on one another, so the loop keeps no chain from one to the next;
// `Taps` > 0 fixes their number at compile time for the common shrinks.
template <int Taps>
void WeighColumns(const uint16_t* sums, const int* first, const uint32_t* weights, int taps,
                  uint8_t* out, int width) {
  if (Taps > 0) taps = Taps;
  constexpr int kShift = 22;  // kRowUnit * kColumnUnit
  constexpr uint32_t kHalf = 1u << (kShift - 1);
  for (int x = 0; x < width; ++x, weights += taps, out += 3) {
    const uint16_t* v = sums + 3 * first[x];
    uint32_t b = 0, g = 0, r = 0;
    for (int k = 0; k < taps; ++k, v += 3) {
      b += v[0] * weights[k];
      g += v[1] * weights[k];
      r += v[2] * weights[k];
    }
    out[0] = uint8_t((b + kHalf) >> kShift);
    out[1] = uint8_t((g + kHalf) >> kShift);
    out[2] = uint8_t((r + kHalf) >> kShift);
  }
}

}  // namespace

void TAreaShrink::FinishRow() {
  // Each sum stays below 255 * kRowUnit * kColumnUnit = 255 * 2^22.
  const uint16_t* sums = open_.data();
  const int* first = tap_first_.data();
  const uint32_t* weights = tap_weights_.data();
  switch (taps_) {
    case 2:
      WeighColumns<2>(sums, first, weights, taps_, out_.data(), dst_width_);
      break;
    case 3:
      WeighColumns<3>(sums, first, weights, taps_, out_.data(), dst_width_);
      break;
    default:
      WeighColumns<0>(sums, first, weights, taps_, out_.data(), dst_width_);
      break;
  }
}

}  // namespace orv
