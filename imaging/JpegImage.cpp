#include "imaging/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "imaging/AreaShrink.h"
#include "imaging/ExifOrientation.h"
#include "toolkit/Exceptions.h"

namespace orv {

namespace {

// libjpeg's default error handler calls exit(). Ours jumps back to the
// function that armed it; those functions hold nothing that needs a
// destructor between setjmp and the libjpeg calls, so the jump is safe.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  int warnings;
  uint64_t maxScanWork;       // scans x frame pixels a file may demand
};

// Progressive files can repeat scans without end; real files stay far
// below this.
constexpr int kMaxScans = 1000;
// libjpeg's own buffers (a progressive file keeps all coefficients) may
// take at most this much.
constexpr long kMaxLibjpegMemory = 1L << 30;
// Rows decoded at a time when the picture is turned a quarter or shrunk:
// 6000 pixels wide this is 288 KiB, which the cache holds beside libjpeg's
// own buffers while the rows are spread or shrunk.
constexpr int kBandRows = 16;

void ErrorExit(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt or missing data libjpeg could fill in) are counted;
// nothing is printed.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    ++err->warnings;
    ++cinfo->err->num_warnings;
  }
}

void OutputMessage(j_common_ptr) {}

// Called by libjpeg every row or so, also while it reads the scans of a
// progressive file in jpeg_start_decompress.
void ProgressMonitor(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (!cinfo->is_decompressor) return;
  const j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
  // Every scan of a progressive file passes over the whole frame: a small
  // file of many scans over a large frame asks for hours of work.
  const uint64_t scans = d->input_scan_number > 0 ? uint64_t(d->input_scan_number) : 0;
  const uint64_t pixels = uint64_t(d->image_width) * d->image_height;
  if (d->input_scan_number > kMaxScans || (pixels > 0 && scans > err->maxScanWork / pixels)) {
    std::snprintf(err->message, sizeof err->message, "Too many scans in JPEG file");
    std::longjmp(err->jump, 1);
  }
}

// One libjpeg decompression object. Every method that calls into libjpeg
// arms the jump itself and reports failure by returning false.
class Decompressor {
 public:
  explicit Decompressor(uint64_t maxScanWork = TJPEGImage::kDefaultScanWorkLimit) {
    std::memset(&cinfo_, 0, sizeof cinfo_);
    std::memset(&err_, 0, sizeof err_);
    err_.maxScanWork = maxScanWork;
    cinfo_.err = jpeg_std_error(&err_.pub);
    err_.pub.error_exit = ErrorExit;
    err_.pub.emit_message = EmitMessage;
    err_.pub.output_message = OutputMessage;
    progress_.progress_monitor = ProgressMonitor;
  }
  ~Decompressor() {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;

  // With `keepApp1` the APP1 segments (where Exif lives) are kept for
  // Orientation(); a segment holds at most 64 KiB, so they cost no more
  // memory than the file itself.
  bool ReadHeader(const uint8_t* data, size_t size, bool keepApp1 = false) {
    if (setjmp(err_.jump)) return false;
    jpeg_create_decompress(&cinfo_);
    created_ = true;
    cinfo_.mem->max_memory_to_use = kMaxLibjpegMemory;
    cinfo_.progress = &progress_;
    jpeg_mem_src(&cinfo_, data, static_cast<unsigned long>(size));
    if (keepApp1) jpeg_save_markers(&cinfo_, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo_, TRUE);
    return true;
  }

  // The Orientation of the first Exif APP1 segment; 1 without one, and when
  // that segment is damaged or holds no valid Orientation.
  int Orientation() const {
    for (jpeg_saved_marker_ptr m = cinfo_.marker_list; m; m = m->next) {
      if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 ||
          std::memcmp(m->data, "Exif\0\0", 6) != 0)
        continue;
      const int value = ExifOrientationFromApp1(m->data, m->data_length);
      return value ? value : 1;
    }
    return 1;
  }

  // The output size at the scale set in Info(); false on an error.
  bool CalcOutputSize() {
    if (setjmp(err_.jump)) return false;
    jpeg_calc_output_dimensions(&cinfo_);
    return true;
  }

  bool Start() {
    if (setjmp(err_.jump)) return false;
    jpeg_start_decompress(&cinfo_);
    return true;
  }

  // Rows go straight to `top`, the next one `stride` bytes further (the
  // stride is negative for bottom-up bitmaps).
  // With `mirror` (scratch of one row) each row is reversed as soon as it
  // arrives, while it is still in the cache.
  bool ReadRows(uint8_t* top, std::ptrdiff_t stride, uint8_t* mirror = nullptr) {
    if (setjmp(err_.jump)) return false;
    JSAMPROW rows[16];
    const int width = int(cinfo_.output_width);
    while (cinfo_.output_scanline < cinfo_.output_height) {
      const JDIMENSION first = cinfo_.output_scanline;
      JDIMENSION n = cinfo_.output_height - first;
      if (n > 16) n = 16;
      for (JDIMENSION i = 0; i < n; ++i) rows[i] = top + (std::ptrdiff_t(first) + i) * stride;
      const JDIMENSION got = jpeg_read_scanlines(&cinfo_, rows, n);
      if (got == 0) break;
      if (mirror)
        for (JDIMENSION i = 0; i < got; ++i) {
          std::memcpy(mirror, rows[i], size_t(width) * 3);
          MirrorCopyRow24(rows[i], mirror, width);
        }
    }
    return true;
  }

  // Up to `maxRows` rows into `band`, one after another `bandStride` bytes
  // apart, CMYK ones converted through `scratch`. The number of rows read,
  // 0 at the end of the picture, -1 on an error.
  int ReadBand(uint8_t* band, std::ptrdiff_t bandStride, int maxRows, bool cmyk, uint8_t* scratch) {
    if (setjmp(err_.jump)) return -1;
    int n = 0;
    while (n < maxRows && cinfo_.output_scanline < cinfo_.output_height) {
      JSAMPROW rows[16];
      JDIMENSION want = JDIMENSION(maxRows - n);
      if (cmyk) want = 1;
      if (want > 16) want = 16;
      for (JDIMENSION i = 0; i < want; ++i)
        rows[i] = cmyk ? scratch : band + (std::ptrdiff_t(n) + i) * bandStride;
      const JDIMENSION got = jpeg_read_scanlines(&cinfo_, rows, want);
      if (got == 0) break;
      if (cmyk) CmykToBgr(scratch, band + std::ptrdiff_t(n) * bandStride);
      n += int(got);
    }
    return n;
  }

  // CMYK rows through `scratch` (4 bytes a pixel), converted to BGR.
  // Adobe's files store the inks inverted (0 = full ink), which is what
  // their APP14 marker announces.
  bool ReadCmykRows(uint8_t* top, std::ptrdiff_t stride, uint8_t* scratch, bool mirror = false) {
    if (setjmp(err_.jump)) return false;
    while (cinfo_.output_scanline < cinfo_.output_height) {
      uint8_t* out = top + std::ptrdiff_t(cinfo_.output_scanline) * stride;
      JSAMPROW row = scratch;
      if (jpeg_read_scanlines(&cinfo_, &row, 1) == 0) break;
      CmykToBgr(scratch, out, mirror);
    }
    return true;
  }

  // With `mirror` the row is written right to left.
  void CmykToBgr(const uint8_t* in, uint8_t* out, bool mirror = false) const {
    const bool inverted = cinfo_.saw_Adobe_marker;
    const JDIMENSION width = cinfo_.output_width;
    const std::ptrdiff_t step = mirror ? -3 : 3;
    if (mirror) out += std::ptrdiff_t(width - 1) * 3;
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += step) {
      unsigned c = in[0], m = in[1], y = in[2], k = in[3];
      if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
      }
      // Now 255 means no ink: the light left is the product.
      out[0] = static_cast<uint8_t>((y * k + 127) / 255);
      out[1] = static_cast<uint8_t>((m * k + 127) / 255);
      out[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
  }

  jpeg_decompress_struct& Info() { return cinfo_; }
  const char* Message() const { return err_.message; }
  int Warnings() const { return err_.warnings; }

 private:
  jpeg_decompress_struct cinfo_;
  ErrorManager err_;
  jpeg_progress_mgr progress_ = {};
  bool created_ = false;
};

#ifndef JCS_EXTENSIONS
// libjpeg without its colour-space extensions gives RGB; bitmaps hold BGR.
void SwapRedBlue(uint8_t* top, std::ptrdiff_t stride, int width, int rows) {
  for (int y = 0; y < rows; ++y) {
    uint8_t* p = top + std::ptrdiff_t(y) * stride;
    for (int x = 0; x < width; ++x, p += 3) std::swap(p[0], p[2]);
  }
}
#endif

[[noreturn]] void Fail(const Decompressor& d) {
  throw tk::EInvalidGraphic(std::string("JPEG error: ") + d.Message());
}

}  // namespace

void TJPEGImage::LoadFromFile(const std::string& fileName) {
  tk::TMemoryStream file;
  file.LoadFromFile(fileName);
  Accept(std::move(file.Data()));
}

void TJPEGImage::LoadFromStream(tk::TStream& stream) {
  const int64_t size = stream.Size() - stream.Position();
  std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
  stream.ReadBuffer(bytes.data(), bytes.size());
  Accept(std::move(bytes));
}

void TJPEGImage::LoadFromMemory(const uint8_t* data, size_t size) {
  Accept(data && size ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>());
}

void TJPEGImage::LoadFromBorrowedMemory(const uint8_t* data, size_t size) {
  Accept({}, data, size);
}

void TJPEGImage::Accept(std::vector<uint8_t> bytes) {
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  Accept(std::move(bytes), data, size);
}

void TJPEGImage::Accept(std::vector<uint8_t> owned, const uint8_t* data, size_t size) {
  if (!data || size == 0) throw tk::EInvalidGraphic("JPEG error: empty file");
  if (size > 0xFFFFFFFFu) throw tk::EOutOfResources("Out of system resources");
  Decompressor d;
  if (!d.ReadHeader(data, size, true)) Fail(d);
  const jpeg_decompress_struct& info = d.Info();
  width_ = static_cast<int>(info.image_width);
  height_ = static_cast<int>(info.image_height);
  components_ = info.num_components;
  orientation_ = d.Orientation();
  // A moved vector keeps its buffer, so `data` still points into it.
  data_ = std::move(owned);
  bytes_ = data;
  size_ = size;
}

int TJPEGImage::ScaleEighthsFor(int width, int height, int fitWidth, int fitHeight) {
  if (width <= 0 || height <= 0 || fitWidth <= 0 || fitHeight <= 0) return 8;
  // libjpeg-turbo has vector code for the 1/8, 2/8, 4/8 and full-size
  // transforms only; the others are plain C and, for 4:2:0 files, come
  // with a transform twice as large for the colour (up to 14 x 14 at 7/8),
  // so 3/8 is slower than 4/8 and 5/8 to 7/8 slower than full size. The
  // rows are shrunk to the shown size as they come, so a larger eighth
  // costs no memory beyond its rows.
  for (int m = 1; m < 8; m *= 2) {
    // libjpeg's scaled size: the size times m / 8, rounded up.
    const int64_t w = (int64_t(width) * m + 7) / 8, h = (int64_t(height) * m + 7) / 8;
    if (w >= fitWidth && h >= fitHeight) return m;
  }
  return 8;
}

void TJPEGImage::FitInto(int width, int height, int boxWidth, int boxHeight, int& fitWidth,
                         int& fitHeight) {
  fitWidth = width;
  fitHeight = height;
  if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return;
  if (width <= boxWidth && height <= boxHeight) return;
  // In whole numbers: the side that limits gets the box's size exactly, the
  // other its share rounded up, so the result never falls short of what
  // the show's own (truncating) fit gives.
  if (int64_t(width) * boxHeight >= int64_t(height) * boxWidth) {
    fitWidth = boxWidth;
    fitHeight = int((int64_t(height) * boxWidth + width - 1) / width);
  } else {
    fitHeight = boxHeight;
    fitWidth = int((int64_t(width) * boxHeight + height - 1) / height);
  }
}

void TJPEGImage::AssignTo(tk::TBitmap& dest) const { AssignTo(dest, 0, 0); }

void TJPEGImage::AssignTo(tk::TBitmap& dest, int fitWidth, int fitHeight) const {
  warnings_ = 0;
  if (!bytes_) {
    dest.Clear();
    return;
  }
  Decompressor d(scan_work_limit_);
  if (!d.ReadHeader(bytes_, size_)) Fail(d);
  jpeg_decompress_struct& info = d.Info();

  // The eighths are worked out upright and hold for the stored frame too:
  // a quarter turn only swaps which side is which.
  const int eighths =
      ScaleEighthsFor(Width(), Height(), fitWidth > 0 ? fitWidth : Width(),
                      fitHeight > 0 ? fitHeight : Height());
  info.scale_num = static_cast<unsigned>(eighths);
  info.scale_denom = 8;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
#ifdef JCS_EXTENSIONS
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
#else
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
#endif
  info.dct_method = JDCT_ISLOW;
  // Scaled down, the chroma is brought to size by the transform itself
  // (libjpeg picks a larger transform for it instead of upsampling), which
  // smooths as well as fancy upsampling does and costs less.
  info.do_fancy_upsampling = eighths == 8 ? TRUE : FALSE;
  info.do_block_smoothing = TRUE;
  info.quantize_colors = FALSE;
  info.buffered_image = FALSE;
  if (!d.CalcOutputSize()) Fail(d);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  // What the rows are brought to as they come: the fitted size where it is
  // below the eighth's, stored the way the file is, so the turn works on
  // the smallest bitmap.
  const bool swaps = OrientationSwapsAxes(orientation_);
  const int askedW = swaps ? fitHeight : fitWidth, askedH = swaps ? fitWidth : fitHeight;
  const int outWidth = askedW > 0 && askedW < width ? askedW : width;
  const int outHeight = askedH > 0 && askedH < height ? askedH : height;
  const bool shrink = outWidth != width || outHeight != height;
  const int uprightWidth = UprightWidth(orientation_, outWidth, outHeight);
  const int uprightHeight = UprightHeight(orientation_, outWidth, outHeight);
  // Refused before libjpeg or the bitmap allocate anything for the pixels.
  if (tk::RowBytes(uprightWidth, 24) * int64_t(uprightHeight) > tk::kMaxBitmapBytes)
    throw tk::EOutOfResources("Out of system resources");

  tk::TBitmap bmp;
  bmp.Allocate(tk::TPixelFormat::pf24bit, uprightWidth, uprightHeight);
  std::vector<uint8_t> scratch(cmyk ? size_t(width) * 4 : 0);

  if (!d.Start()) Fail(d);
  if (static_cast<int>(info.output_width) != width ||
      static_cast<int>(info.output_height) != height || info.out_color_components != (cmyk ? 4 : 3))
    throw tk::EInvalidGraphic("JPEG error: unexpected output layout");

  const bool upsideDown = orientation_ == 3 || orientation_ == 4;
  const bool mirror = orientation_ == 2 || orientation_ == 3;
  bool ok = true;
  if (!shrink && !swaps) {
    // As stored, or turned upside down and/or mirrored: rows go straight
    // into the bitmap, from the bottom up when upside down, and are
    // reversed while still in the cache when mirrored.
    std::vector<uint8_t> mirrorRow(mirror && !cmyk ? size_t(width) * 3 : 0);
    uint8_t* const top = bmp.ScanLine(upsideDown ? height - 1 : 0);
    const std::ptrdiff_t stride = (upsideDown ? 1 : -1) * static_cast<std::ptrdiff_t>(bmp.Stride());
    ok = cmyk ? d.ReadCmykRows(top, stride, scratch.data(), mirror)
              : d.ReadRows(top, stride, mirror ? mirrorRow.data() : nullptr);
#ifndef JCS_EXTENSIONS
    if (!cmyk) SwapRedBlue(top, stride, width, height);
#endif
  } else {
    // A band of rows at a time through a buffer small enough to stay in
    // the cache while it is shrunk and spread over the bitmap.
    const std::ptrdiff_t bandStride = std::ptrdiff_t(width) * 3;
    std::vector<uint8_t> band(size_t(bandStride) * kBandRows);
    std::unique_ptr<TAreaShrink> shrinker;
    std::vector<uint8_t> shrunk;
    if (shrink) {
      shrinker = std::make_unique<TAreaShrink>(width, height, outWidth, outHeight);
      shrunk.resize(size_t(outWidth) * 3 * kBandRows);
    }
    const std::ptrdiff_t outStride = std::ptrdiff_t(outWidth) * 3;
    // Rows [first, first + n) of the stored picture at the output size.
    auto place = [&](int first, int n, const uint8_t* rows) {
      if (swaps) {
        PutOrientedRows(bmp, orientation_, outWidth, outHeight, first, n, rows, outStride);
        return;
      }
      for (int i = 0; i < n; ++i) {
        uint8_t* out = bmp.ScanLine(upsideDown ? outHeight - 1 - (first + i) : first + i);
        const uint8_t* in = rows + std::ptrdiff_t(i) * outStride;
        if (mirror)
          MirrorCopyRow24(out, in, outWidth);
        else
          std::memcpy(out, in, size_t(outStride));
      }
    };
    for (int y = 0; y < height;) {
      const int n = d.ReadBand(band.data(), bandStride, kBandRows, cmyk, scratch.data());
      if (n < 0) ok = false;
      if (n <= 0) break;
#ifndef JCS_EXTENSIONS
      if (!cmyk) SwapRedBlue(band.data(), bandStride, width, n);
#endif
      if (!shrinker) {
        place(y, n, band.data());
      } else {
        // At most one output row per source row: kBandRows fit.
        const int first = shrinker->RowsDone();
        int done = 0;
        for (int i = 0; i < n; ++i)
          if (const uint8_t* row = shrinker->Push(band.data() + std::ptrdiff_t(i) * bandStride))
            std::memcpy(shrunk.data() + std::ptrdiff_t(done++) * outStride, row, size_t(outStride));
        if (done) place(first, done, shrunk.data());
      }
      y += n;
    }
  }
  warnings_ = d.Warnings();
  if (!ok) Fail(d);
  dest.Swap(bmp);
}

}  // namespace orv
