// Shrinks a 24-bit picture that arrives a row at a time, top first, so
// that a big photo never has to be held at its own size: each pixel of the
// result is the mean of the area of the source it covers, partly covered
// source pixels counting by the part they give.
#pragma once

#include <cstdint>
#include <vector>

namespace orv {

class TAreaShrink {
 public:
  // Neither side may grow: 0 < dstWidth <= srcWidth, 0 < dstHeight <=
  // srcHeight; other sizes throw std::invalid_argument.
  TAreaShrink(int srcWidth, int srcHeight, int dstWidth, int dstHeight);

  // Takes the next source row (srcWidth pixels, three bytes each). Returns
  // the output row it completed, valid until the next call, or null when
  // the row only added to one still open. Rows past the last are ignored.
  const uint8_t* Push(const uint8_t* row);

  // How many output rows Push has returned so far.
  int RowsDone() const { return rows_done_; }
  int DstWidth() const { return dst_width_; }
  int DstHeight() const { return dst_height_; }

 private:
  // Where a source pixel (or row) goes: its share of the output pixel it
  // starts in and of the next one, in 1/`unit`; the shares of one output
  // add up to `unit` exactly, so a flat area stays exactly flat.
  struct Share {
    int first;
    uint32_t here, next;
  };
  // Rows are weighed in 1/256 so that a column's sum fits 16 bits (twice
  // as many to a vector register), columns in 1/2^14 for the precision
  // that gives the sum of both 22 bits below the point.
  static constexpr uint32_t kRowUnit = 1u << 8;
  static constexpr uint32_t kColumnUnit = 1u << 14;
  static std::vector<Share> Shares(int src, int dst, uint32_t unit);
  void FinishRow();

  int src_width_, src_height_, dst_width_, dst_height_;
  std::vector<Share> rows_;
  // Per output pixel: its first column, and `taps_` weights from there.
  int taps_ = 1;
  std::vector<int> tap_first_;
  std::vector<uint32_t> tap_weights_;
  // Vertical sums of the output row being built and of the next, per
  // source pixel and channel.
  std::vector<uint16_t> open_, next_;
  std::vector<uint8_t> out_;
  int rows_in_ = 0;
  int rows_done_ = 0;
};

}  // namespace orv
