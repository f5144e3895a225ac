// JPEG picture over libjpeg: loading keeps the file's bytes and checks only
// the header; the pixels are decoded when the image is assigned to a bitmap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/ExifOrientation.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Streams.h"

namespace orv {

// Decoding is full size unless AssignTo is told the size shown, 24-bit colour (grayscale files become gray
// 24-bit pixels, CMYK/YCCK files are converted to RGB), libjpeg's accurate
// integer transform, fancy upsampling and block smoothing. A photo whose
// Exif Orientation tag says it was stored turned or mirrored is decoded
// upright; Width() and Height() are the upright size, the size of the bitmap
// a full-size AssignTo gives.
class TJPEGImage {
 public:
  TJPEGImage() = default;
  // Not copied: borrowed bytes would then have two users.
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  // Each reads all bytes and checks the header. Throws EFOpenError when the
  // file cannot be opened and EInvalidGraphic when the header is not a
  // JPEG header; the image is left unchanged then.
  void LoadFromFile(const std::string& fileName);
  void LoadFromStream(tk::TStream& stream);
  void LoadFromMemory(const uint8_t* data, size_t size);
  // The same without a copy: the bytes must stay alive and unchanged for
  // as long as the image is used (a big photo read into memory then is not
  // held twice).
  void LoadFromBorrowedMemory(const uint8_t* data, size_t size);

  bool Empty() const { return bytes_ == nullptr; }
  int Width() const { return UprightWidth(orientation_, width_, height_); }
  int Height() const { return UprightHeight(orientation_, width_, height_); }
  // The size of the frame as stored in the file.
  int StoredWidth() const { return width_; }
  int StoredHeight() const { return height_; }
  // The Exif Orientation the pixels are turned by, 1..8; 1 when the file has
  // none or a damaged one.
  int Orientation() const { return orientation_; }
  // The file's colour components (1 gray, 3 YCbCr/RGB, 4 CMYK/YCCK).
  int Components() const { return components_; }

  // The eighths (1, 2, 4 or 8: the fast ones) libjpeg is to decode at so
  // that the picture, scaled by them, still covers `fitWidth` x `fitHeight`
  // in both directions, the size it will be shown at; 8 (full size) when it
  // is not shown smaller. All sizes upright.
  static int ScaleEighthsFor(int width, int height, int fitWidth, int fitHeight);
  // The size the picture takes shrunk into a box (never enlarged, aspect
  // kept), rounded up: what a decode for that box must cover.
  static void FitInto(int width, int height, int boxWidth, int boxHeight, int& fitWidth,
                      int& fitHeight);

  // Decodes into `dest` as pf24bit. Throws EInvalidGraphic when the data
  // cannot be decoded or demand too much work, EOutOfResources when the
  // picture is too large; on any failure `dest` is unchanged. An empty image empties `dest`.
  // Recoverable damage (such as data ending early) still gives a picture.
  void AssignTo(tk::TBitmap& dest) const;
  // The same at the size the picture is shown, `fitWidth` x `fitHeight`
  // (upright): libjpeg decodes at the smallest fast eighth that covers it
  // (DCT scaling) and the rows are area-averaged down to it as they come,
  // so the work and memory of a big photo shown small shrink with it. This
  // changes how the picture is decoded, not how it is shown: the caller
  // keeps laying it out with Width() and Height() and stretches the
  // smaller bitmap into that place. 0 x 0 decodes at full size; a side
  // asked at least as long as the picture's own keeps its own length.
  void AssignTo(tk::TBitmap& dest, int fitWidth, int fitHeight) const;

  // The work a progressive file may ask of AssignTo, as scans times frame
  // pixels: 2^32 leaves 24 scans for the largest picture a bitmap may hold
  // (real files have about ten), while a small file of thousands of scans
  // over a huge frame, hours of work, fails at once.
  static constexpr uint64_t kDefaultScanWorkLimit = uint64_t(1) << 32;
  void SetScanWorkLimit(uint64_t limit) { scan_work_limit_ = limit; }

  // How many warnings the last AssignTo met (corrupt or missing data that
  // libjpeg filled in).
  int LastWarnings() const { return warnings_; }

 private:
  // Takes the bytes when their header is sound.
  void Accept(std::vector<uint8_t> bytes);
  // `data` and `size` are the bytes: inside `owned`, or borrowed with
  // `owned` empty.
  void Accept(std::vector<uint8_t> owned, const uint8_t* data, size_t size);

  std::vector<uint8_t> data_;
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  int width_ = 0;
  int height_ = 0;
  int components_ = 0;
  int orientation_ = 1;
  mutable int warnings_ = 0;
  uint64_t scan_work_limit_ = kDefaultScanWorkLimit;
};

}  // namespace orv
