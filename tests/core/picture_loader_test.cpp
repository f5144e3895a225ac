// LoadPicture: extension dispatch, the plug-in fallback and what the target
// holds after each kind of failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "imaging/PictureLoader.h"
#include "imaging/Gldpng.h"
#include "tests/core/jpeg_test_encoder.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Streams.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orv::LoadPicture;
using tk::TBitmap;
using tk::TPixelFormat;

// Stands in for the plug-in host. Like the real one it raises EFOpenError
// for a file it cannot open and otherwise leaves the bitmap alone unless it
// accepts the file.
class FakePlugins : public orv::IPluginDecoder {
 public:
  enum Mode { kReject, kAccept, kAbort, kOutOfMemory };
  explicit FakePlugins(Mode mode) : mode_(mode) {}

  void LoadFromFile(const std::string& fileName, TBitmap& bitmap) override {
    calls.push_back(fileName);
    tk::TFileStream open(fileName, tk::FileMode::OpenRead);
    switch (mode_) {
      case kReject:
        return;
      case kAccept:
        bitmap.Allocate(TPixelFormat::pf16bit, 5, 4);
        return;
      case kAbort:
        tk::Abort();
      case kOutOfMemory:
        throw std::bad_alloc();
    }
  }

  std::vector<std::string> calls;

 private:
  Mode mode_;
};

bool IsPluginPicture(const TBitmap& bmp) {
  return bmp.PixelFormat() == TPixelFormat::pf16bit && bmp.Width() == 5 && bmp.Height() == 4;
}

class LoadPictureTest : public testing::Test {
 protected:
  void SetUp() override {
    orv::FillPictureExtensions(extensions_, ".bmp,.jpg,.jpeg,.png");
    dir_ = testing::TempDir();
    // A 2 x 1 8-bit BMP and a 16 x 8 JPEG.
    TBitmap bmp;
    bmp.SetPalette({{1, 2, 3, 0}, {4, 5, 6, 0}});
    bmp.Allocate(TPixelFormat::pf8bit, 2, 1);
    bmp.ScanLine(0)[1] = 1;
    tk::TMemoryStream out;
    bmp.SaveToStream(out);
    bmp_ = out.Data();
    jpeg_ = jpegtest::Encode(16, 8, jpegtest::Texture(16, 8, 3));
    ResetTarget();
  }
  void TearDown() override {
    for (const std::string& f : files_) std::remove(f.c_str());
  }

  std::string Write(const std::string& name, const Bytes& content) {
    const std::string path = dir_ + "picture_loader_" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f) {
      if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    files_.push_back(path);
    return path;
  }

  // The target starts as a recognisable 3 x 3 32-bit picture.
  void ResetTarget() {
    target_.Clear();
    target_.Allocate(TPixelFormat::pf32bit, 3, 3);
    target_.ScanLine(1)[4] = 0xA5;
  }
  bool TargetUnchanged() const {
    return target_.PixelFormat() == TPixelFormat::pf32bit && target_.Width() == 3 &&
           target_.Height() == 3 && target_.ScanLine(1)[4] == 0xA5;
  }
  bool TargetIsBmp() const {
    return target_.PixelFormat() == TPixelFormat::pf8bit && target_.Width() == 2 &&
           target_.ScanLine(0)[1] == 1 && target_.Palette()[1] == tk::TPalEntry{4, 5, 6, 0};
  }
  bool TargetIsJpeg() const {
    return target_.PixelFormat() == TPixelFormat::pf24bit && target_.Width() == 16 &&
           target_.Height() == 8;
  }
  void Load(const std::string& path, orv::IPluginDecoder* plugins, bool skipMissing = false) {
    orv::LoadPictureOptions options;
    options.skipMissingFile = skipMissing;
    LoadPicture(path, target_, extensions_, plugins, options);
  }

  tk::TStringList extensions_;
  std::string dir_;
  Bytes bmp_, jpeg_;
  TBitmap target_;
  std::vector<std::string> files_;
};

TEST_F(LoadPictureTest, ExtensionsAreMatchedLowerCasedAndOnlyTheLastCounts) {
  FakePlugins plugins(FakePlugins::kAccept);
  for (const char* name : {"a.bmp", "b.BMP", "archive.png.bmp", "dotted.name.Bmp"}) {
    ResetTarget();
    Load(Write(name, bmp_), &plugins);
    EXPECT_TRUE(TargetIsBmp()) << name;
  }
  for (const char* name : {"c.jpg", "d.JPG", "e.Jpeg", "f.JPEG", "g.bmp.jpg"}) {
    ResetTarget();
    Load(Write(name, jpeg_), &plugins);
    EXPECT_TRUE(TargetIsJpeg()) << name;
  }
  EXPECT_TRUE(plugins.calls.empty());
}

TEST_F(LoadPictureTest, OtherExtensionsGoStraightToThePlugins) {
  // JPEG data under names the program does not read itself.
  for (const char* name : {"h.jpe", "i.gif", "j.tif", "noextension", "k.jpg."}) {
    FakePlugins accept(FakePlugins::kAccept);
    ResetTarget();
    Load(Write(name, jpeg_), &accept);
    EXPECT_EQ(accept.calls.size(), 1u) << name;
    EXPECT_TRUE(IsPluginPicture(target_)) << name;

    FakePlugins reject(FakePlugins::kReject);
    ResetTarget();
    Load(Write(name, jpeg_), &reject);
    EXPECT_TRUE(target_.Empty()) << name;
  }
  // No plug-in host at all behaves like one with no plug-ins.
  ResetTarget();
  Load(Write("l.gif", jpeg_), nullptr);
  EXPECT_TRUE(target_.Empty());
}

TEST_F(LoadPictureTest, DispatchFollowsThePositionInTheList) {
  // With ".dib" in the BMP slot, a .dib file is a BMP and a .bmp file is
  // somebody else's business.
  extensions_[0] = ".dib";
  FakePlugins plugins(FakePlugins::kReject);
  Load(Write("m.DIB", bmp_), &plugins);
  EXPECT_TRUE(TargetIsBmp());
  Load(Write("n.bmp", bmp_), &plugins);
  EXPECT_TRUE(target_.Empty());
  EXPECT_EQ(plugins.calls.size(), 1u);
}

TEST_F(LoadPictureTest, CorruptBmpStaysUnchangedAndIsNotOfferedToPlugins) {
  FakePlugins plugins(FakePlugins::kAccept);
  Bytes truncated(bmp_.begin(), bmp_.begin() + 40);
  Load(Write("broken.bmp", truncated), &plugins);
  EXPECT_TRUE(TargetUnchanged());
  Load(Write("jpeg-inside.bmp", jpeg_), &plugins);
  EXPECT_TRUE(TargetUnchanged());
  Load(Write("empty.bmp", {}), &plugins);
  EXPECT_TRUE(TargetUnchanged());
  EXPECT_TRUE(plugins.calls.empty());
}

TEST_F(LoadPictureTest, RejectedJpegHeaderFallsBackToPlugins) {
  const Bytes garbage = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
  FakePlugins accept(FakePlugins::kAccept);
  Load(Write("garbage.jpg", garbage), &accept);
  EXPECT_TRUE(IsPluginPicture(target_));
  ASSERT_EQ(accept.calls.size(), 1u);

  // No plug-in takes it: the empty fallback bitmap is what the target gets.
  FakePlugins reject(FakePlugins::kReject);
  ResetTarget();
  Load(Write("garbage.jpeg", garbage), &reject);
  EXPECT_TRUE(target_.Empty());
  ResetTarget();
  Load(Write("garbage2.jpg", garbage), nullptr);
  EXPECT_TRUE(target_.Empty());
  // The same for an empty file.
  ResetTarget();
  Load(Write("zero.jpg", {}), &reject);
  EXPECT_TRUE(target_.Empty());
}

TEST_F(LoadPictureTest, SoundJpegHeaderWithBadDataLeavesTheTargetAlone) {
  // Oversized frame: the header reads, the pixels never fit.
  Bytes huge = jpeg_;
  const size_t sof = jpegtest::FindMarker(huge, 0xC0);
  ASSERT_LT(sof + 9, huge.size());
  huge[sof + 5] = huge[sof + 7] = 0xFF;
  FakePlugins plugins(FakePlugins::kAccept);
  Load(Write("huge.jpg", huge), &plugins);
  EXPECT_TRUE(TargetUnchanged());

  // Impossible Huffman codes only show when decoding starts.
  Bytes bad = jpeg_;
  const size_t dht = jpegtest::FindMarker(bad, 0xC4);
  ASSERT_LT(dht + 8, bad.size());
  ASSERT_GE(bad[dht + 7], 3);
  bad[dht + 5] += 3;
  bad[dht + 7] -= 3;
  Load(Write("bad-huffman.jpg", bad), &plugins);
  EXPECT_TRUE(TargetUnchanged());
  EXPECT_TRUE(plugins.calls.empty());

  // Data cut short still shows what there is.
  const size_t dataStart = jpegtest::ScanDataStart(jpeg_);
  const size_t keep = dataStart + (jpeg_.size() - dataStart) / 2;
  Bytes cut(jpeg_.begin(), jpeg_.begin() + static_cast<std::ptrdiff_t>(keep));
  Load(Write("cut.jpg", cut), &plugins);
  EXPECT_TRUE(TargetIsJpeg());
}

// Given a box, a JPEG comes out at the size it fits into it: the caller's
// own fit when it passes one, from the file or from bytes read ahead; its
// own size comes back whatever it was decoded at.
TEST_F(LoadPictureTest, AJpegIsDecodedAtTheSizeItsBoxFitsItTo) {
  const Bytes big = jpegtest::Encode(64, 32, jpegtest::Texture(64, 32, 3));
  const std::string path = Write("boxed.jpg", big);
  auto fixed = [](int fw, int fh) {
    return [fw, fh](int, int, int& w, int& h) {
      w = fw;
      h = fh;
    };
  };
  struct Case {
    const char* what;
    int boxW, boxH;
    std::function<void(int, int, int&, int&)> fit;
    bool readAhead;
    int wantW, wantH;
  } cases[] = {
      {"no box", 0, 0, nullptr, false, 64, 32},
      {"box, default fit", 16, 16, nullptr, false, 16, 8},
      {"box, default fit, bytes read ahead", 16, 16, nullptr, true, 16, 8},
      {"the caller's fit", 16, 16, fixed(15, 7), false, 15, 7},
      {"the caller's fit, bytes read ahead", 16, 16, fixed(15, 7), true, 15, 7},
      {"a fit below a pixel", 16, 16, fixed(0, 0), false, 1, 1},
      {"a box larger than the picture", 100, 100, fixed(64, 32), false, 64, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::LoadPictureOptions options;
    options.fitWidth = c.boxW;
    options.fitHeight = c.boxH;
    options.fit = c.fit;
    if (c.readAhead) options.bytes = &big;
    orv::PictureSize own;
    ResetTarget();
    LoadPicture(path, target_, extensions_, nullptr, options, &own);
    EXPECT_EQ(target_.Width(), c.wantW);
    EXPECT_EQ(target_.Height(), c.wantH);
    EXPECT_EQ(own.width, 64);
    EXPECT_EQ(own.height, 32);
  }
}

TEST_F(LoadPictureTest, PngFilesDecodeThroughTheProgramsCodec) {
  tk::TBitmap source;
  source.Allocate(tk::TPixelFormat::pf24bit, 7, 5);
  source.ScanLine(2)[3 * 4 + 2] = 0xEE;  // one red pixel
  orv::TGLDPNG png;
  png.Assign(source);
  const std::string path = dir_ + "real.png";
  png.SaveToFile(path);
  FakePlugins plugins(FakePlugins::kAccept);
  Load(path, &plugins);
  ASSERT_EQ(target_.Width(), 7);
  EXPECT_EQ(target_.Height(), 5);
  EXPECT_EQ(target_.ScanLine(2)[3 * 4 + 2], 0xEE);
  EXPECT_EQ(target_.ScanLine(2)[3 * 3 + 2], 0);
  EXPECT_TRUE(plugins.calls.empty());

  // A PNG that ends before its image data stops quietly: empty, and not
  // offered to the plug-ins.
  const Bytes signatureOnly = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Load(Write("header_only.png", signatureOnly), &plugins);
  EXPECT_TRUE(target_.Empty());
  EXPECT_TRUE(plugins.calls.empty());
}

TEST_F(LoadPictureTest, PngFilesTheCodecRejectsGoToPlugins) {
  FakePlugins accept(FakePlugins::kAccept);
  Load(Write("photo.png", jpeg_), &accept);
  EXPECT_TRUE(IsPluginPicture(target_));
  EXPECT_EQ(accept.calls.size(), 1u);

  FakePlugins reject(FakePlugins::kReject);
  ResetTarget();
  Load(Write("photo2.PNG", jpeg_), &reject);
  EXPECT_TRUE(target_.Empty());
}

TEST_F(LoadPictureTest, MissingFiles) {
  FakePlugins plugins(FakePlugins::kAccept);
  const std::string missing = dir_ + "picture_loader_missing";
  // The slideshow's copy does not even look.
  for (const char* ext : {".bmp", ".jpg", ".png", ".gif"}) {
    Load(missing + ext, &plugins, true);
    EXPECT_TRUE(TargetUnchanged()) << ext;
  }
  EXPECT_TRUE(plugins.calls.empty());
  // The dialog's copy tries, fails to open and leaves the target alone.
  for (const char* ext : {".bmp", ".jpg", ".png", ".gif", ""}) {
    Load(missing + ext, &plugins);
    EXPECT_TRUE(TargetUnchanged()) << ext;
    Load(missing + ext, nullptr);
    EXPECT_TRUE(TargetUnchanged()) << ext;
  }
  EXPECT_EQ(plugins.calls.size(), 4u);
  // An existing file under skipMissingFile is read as usual.
  Load(Write("present.bmp", bmp_), &plugins, true);
  EXPECT_TRUE(TargetIsBmp());
}

TEST_F(LoadPictureTest, PluginFailuresNeverReachTheCaller) {
  FakePlugins abort(FakePlugins::kAbort);
  Load(Write("abort.gif", jpeg_), &abort);
  EXPECT_TRUE(TargetUnchanged());
  Load(Write("abort.jpg", {'x'}), &abort);
  EXPECT_TRUE(TargetUnchanged());

  FakePlugins oom(FakePlugins::kOutOfMemory);
  Load(Write("oom.gif", jpeg_), &oom);
  EXPECT_TRUE(TargetUnchanged());
}

}  // namespace
