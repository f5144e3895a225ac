// Shrinks a 24-bit picture that arrives a row at a time, top first, so
// that a big photo never has to be held at its own size: each pixel of the
// result is the mean of the area of the source it covers, partly covered
// source pixels counting by the part they give. Pixels are three bytes
// (BGR).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv {

class TAreaShrink {
 public:
  // Which code weighs the columns: SSE2 vector code where the build has
  // it, or plain C++ (what other builds run), which gives the same bytes.
  enum class Code { kBest, kPortable };

  // Neither side may grow: 0 < dstWidth <= srcWidth, 0 < dstHeight <=
  // srcHeight; other sizes throw std::invalid_argument.
  TAreaShrink(int srcWidth, int srcHeight, int dstWidth, int dstHeight, Code code = Code::kBest);
  // Not copied: the vector code's weights start at an offset into their
  // buffer that only holds for that buffer.
  TAreaShrink(const TAreaShrink&) = delete;
  TAreaShrink& operator=(const TAreaShrink&) = delete;

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
 public:
  // Rows are weighed in 1/256 so that a column's sum fits 16 bits
  // (255 * 256 = 65280), columns in 1/2^14 (a signed 16-bit weight): the
  // vector code multiplies and adds pairs of them in one step. Sums of
  // both are 22 bits below the point.
  static constexpr uint32_t kRowUnit = 1u << 8;
  static constexpr uint32_t kColumnUnit = 1u << 14;

 private:
  static std::vector<Share> Shares(int src, int dst, uint32_t unit);
  void FinishRow();

  int src_width_, src_height_, dst_width_, dst_height_;
  bool vector_code_;
  std::vector<Share> rows_;
  // Per output pixel: its first column, and `taps_` weights from there
  // (an even number: the vector code takes them in pairs).
  int taps_ = 2;
  std::vector<int> tap_first_;
  std::vector<int16_t> tap_weights_;
  // The same weights for the vector code, from a 16-byte boundary on.
  std::vector<uint32_t> tap_pairs_;
  size_t tap_pairs_offset_ = 0;
  // Vertical sums of the output row being built and of the next, per
  // source pixel and channel, followed by a pixel of zeros so that the
  // last pair of taps never reads past them.
  std::vector<uint16_t> open_, next_;
  std::vector<uint8_t> out_;
  int rows_in_ = 0;
  int rows_done_ = 0;
};

}  // namespace orv
