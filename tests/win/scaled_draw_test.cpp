// A photo decoded at the size it is shown at draws the same picture as the
// full decode: the same rectangle, and on average within 2 levels a
// channel, through the same halftone stretch the show's layout uses.
//
// The test photo has detail down to a few pixels but no per-pixel noise:
// Wine's halftone stretch samples rather than averages, so noise a single
// pixel wide comes out differently from any averaging (the DCT scaling
// averages), by 2.4 to 3.7 levels on these sizes; Windows averages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/synthetic_photo.h"
#include "imaging/PictureLoader.h"
#include "slideshow/LayoutMath.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Canvas.h"

namespace {

struct Drawn {
  orv::IntRect rect;
  tk::TBitmap pixels;
};

// What the show's layout does with a picture of `own` size in a box: fit
// it, then stretch the decoded bitmap into that rectangle.
void Draw(const tk::TBitmap& decoded, const orv::PictureSize& own, int boxW, int boxH, Drawn& d) {
  d.rect = orv::FitRect(orv::IntRect{0, 0, own.width, own.height}, boxW, boxH);
  d.pixels.Allocate(tk::TPixelFormat::pf24bit, d.rect.Width(), d.rect.Height());
  tk::TBitmapCanvas canvas(d.pixels);
  canvas.Canvas().StretchDraw(RECT{0, 0, d.rect.Width(), d.rect.Height()}, decoded);
  d.pixels.Flush();
}

TEST(ScaledDraw, APhotoDecodedAtItsShownSizeDrawsTheSamePicture) {
  struct Case {
    int w, h, boxW, boxH, orientation;
  } cases[] = {
      {1600, 1200, 400, 300, 1},  // exactly a quarter
      {3000, 2000, 640, 480, 1},  // a quarter, then shrunk on by GDI
      {2400, 1600, 500, 700, 6},  // turned a quarter by Exif, portrait box
      {2000, 1500, 1024, 768, 3},
  };
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH
                                    << ", orientation " << c.orientation);
    std::vector<uint8_t> file =
        benchphoto::EncodeQuality90(benchphoto::SyntheticPhoto(c.w, c.h, false), c.w, c.h);
    if (c.orientation != 1)
      file = jpegtest::WithApp1(file, jpegtest::ExifOrientationBody(c.orientation, false));
    const std::string path = std::string(temp) + "orv_scaled_draw.jpg";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);

    tk::TBitmap full;
    orv::PictureSize fullSize;
    orv::LoadPicture(path, full, extensions, nullptr, {}, &fullSize);
    ASSERT_FALSE(full.Empty());
    EXPECT_EQ(fullSize.width, full.Width());
    Drawn a;
    Draw(full, fullSize, c.boxW, c.boxH, a);
    // With the show's own fit (the bitmap is then exactly its place) and
    // with the loader's default one (a pixel larger at most, stretched).
    for (const bool layoutFit : {true, false}) {
      SCOPED_TRACE(layoutFit ? "the layout's fit" : "the default fit");
      orv::LoadPictureOptions fit;
      fit.fitWidth = c.boxW;
      fit.fitHeight = c.boxH;
      if (layoutFit)
        fit.fit = [&c](int w, int h, int& fw, int& fh) {
          const orv::IntRect r = orv::FitRect(orv::IntRect{0, 0, w, h}, c.boxW, c.boxH);
          fw = r.Width();
          fh = r.Height();
        };
      tk::TBitmap scaled;
      orv::PictureSize scaledSize;
      orv::LoadPicture(path, scaled, extensions, nullptr, fit, &scaledSize);
      ASSERT_FALSE(scaled.Empty());
      // Smaller in memory, the same picture to the layout.
      EXPECT_LT(int64_t(scaled.Width()) * scaled.Height(), int64_t(full.Width()) * full.Height());
      EXPECT_EQ(scaledSize.width, fullSize.width);
      EXPECT_EQ(scaledSize.height, fullSize.height);

      Drawn b;
      Draw(scaled, scaledSize, c.boxW, c.boxH, b);
      ASSERT_TRUE(a.rect == b.rect);
      if (layoutFit) {
        EXPECT_EQ(scaled.Width(), b.rect.Width());
        EXPECT_EQ(scaled.Height(), b.rect.Height());
      }
      double diff = 0;
      for (int y = 0; y < a.rect.Height(); ++y)
        for (int x = 0; x < 3 * a.rect.Width(); ++x)
          diff += std::abs(int(a.pixels.ScanLine(y)[x]) - int(b.pixels.ScanLine(y)[x]));
      const double mean = diff / (3.0 * a.rect.Width() * a.rect.Height());
      EXPECT_LE(mean, 2.0);
      std::printf("%dx%d in %dx%d, %s: decoded %dx%d instead of %dx%d, mean difference %.2f\n",
                  c.w, c.h, c.boxW, c.boxH, layoutFit ? "layout's fit" : "default fit",
                  scaled.Width(), scaled.Height(), full.Width(), full.Height(), mean);
    }
    std::remove(path.c_str());
  }
}

}  // namespace
