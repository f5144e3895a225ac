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
  columns_ = Shares(srcWidth, dstWidth, kColumnUnit);
  rows_ = Shares(srcHeight, dstHeight, kRowUnit);
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

void TAreaShrink::FinishRow() {
  const uint16_t* v = open_.data();
  const Share* columns = columns_.data();
  uint8_t* out = out_.data();
  // Columns come in the order of the outputs they fall in: each output's
  // sums stay in registers until the first column of the next, which then
  // starts from what the last one spilled. Each sum stays below 255 *
  // kRowUnit * kColumnUnit = 255 * 2^22.
  constexpr int kShift = 22;
  constexpr uint32_t kHalf = 1u << (kShift - 1);
  uint32_t b = 0, g = 0, r = 0, nb = 0, ng = 0, nr = 0;
  int current = 0;
  for (int x = 0; x < src_width_; ++x, v += 3) {
    const Share& share = columns[x];
    if (share.first != current) {
      out[0] = uint8_t((b + kHalf) >> kShift);
      out[1] = uint8_t((g + kHalf) >> kShift);
      out[2] = uint8_t((r + kHalf) >> kShift);
      out += 3;
      b = nb;
      g = ng;
      r = nr;
      current = share.first;
    }
    b += v[0] * share.here;
    g += v[1] * share.here;
    r += v[2] * share.here;
    nb = v[0] * share.next;
    ng = v[1] * share.next;
    nr = v[2] * share.next;
  }
  out[0] = uint8_t((b + kHalf) >> kShift);
  out[1] = uint8_t((g + kHalf) >> kShift);
  out[2] = uint8_t((r + kHalf) >> kShift);
}

}  // namespace orv
