// Our HEIC/HEIF, AVIF and WebP plug-ins in the program's own plug-in host
// and search run under Wine: what they tell the host, the pictures they
// give, the failures the host sees, and a search that accepts phone photos
// by their decoded size. The pictures come from make-photo-samples.sh
// (fixture photo_samples), the plug-ins from build/.../plugins.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "config/SearchUi.h"
#include "imaging/SPILib.h"
#include "search/Dirsearch.h"
#include "search/SearchRun.h"
#include "tests/photo/heif_builder.h"
#include "tests/win/test_files.h"
#include "tests/win/test_form.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"

namespace {

using Names = std::vector<std::string>;

std::string WinPath(std::string p) {
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

const std::string kPlugins = WinPath(ORV_PLUGIN_DIR);
const std::string kSamples = WinPath(ORV_PHOTO_SAMPLES);

std::string Sample(const char* name) { return kSamples + "\\" + name; }

TEST(PhotoPlugins, TellTheHostTheirTypes) {
  orv::TSpiLib32 host;
  host.LoadPlugIn(kPlugins + "\\");
  std::vector<orv::TSpiLib32::PlugInfo> plugs = host.PicPlugIns();
  ASSERT_EQ(plugs.size(), 3u) << "the DLLs beside the plug-ins must load with them";
  Names filters;
  for (const auto& p : plugs) {
    filters.push_back(p.filter);
    EXPECT_EQ(p.apiVersion, "00IN");
    EXPECT_NE(p.name.find("Orvanelle"), std::string::npos) << p.name;
    EXPECT_FALSE(p.typeName.empty());
    EXPECT_NE(host.PFilter().find(p.filter + ";"), std::string::npos);
  }
  std::sort(filters.begin(), filters.end());
  EXPECT_EQ(filters, (Names{"*.avif", "*.heic;*.heif", "*.webp"}));
  EXPECT_EQ(orv::PlugInFilterExtensions(host.PFilter()).Count(), 4);
}

TEST(PhotoPlugins, DecodeInTheHostAtTheirUprightSize) {
  orv::TSpiLib32 host;
  host.LoadPlugIn(kPlugins + "\\");
  struct Case {
    const char* name;
    int w, h;
  } cases[] = {
      {"heic8.heic", 97, 61},    {"heicalpha.heic", 97, 61},  {"avif8.avif", 97, 61},
      {"avifirot.avif", 61, 97}, {"avifgrid.avif", 128, 128}, {"avif12.avif", 97, 61},
      {"lossy.webp", 97, 61},    {"orient6.webp", 61, 97},    {"alphall.webp", 97, 61},
  };
  for (const Case& c : cases) {
    tk::TBitmap b;
    host.LoadFromFile(Sample(c.name), b);
    EXPECT_EQ(b.Width(), c.w) << c.name;
    EXPECT_EQ(b.Height(), c.h) << c.name;
  }
}

// The plug-in takes the file, then fails: the host sees no handles, leaves
// the bitmap alone and raises its silent abort; nothing crashes or hangs.
TEST(PhotoPlugins, BrokenFilesLeaveTheBitmapAlone) {
  orv::TSpiLib32 host;
  host.LoadPlugIn(kPlugins + "\\");
  for (const char* name :
       {"trunc-heic8.heic", "noise-heic8.heic", "huge-heic8.heic", "trunc-avif8.avif",
        "noise-avif8.avif", "trunc-lossy.webp", "noise-lossy.webp", "huge-lossless.webp"}) {
    tk::TBitmap b;
    b.Allocate(tk::TPixelFormat::pf24bit, 5, 7);
    EXPECT_THROW(host.LoadFromFile(Sample(name), b), tk::EAbort) << name;
    EXPECT_EQ(b.Width(), 5) << name;
    EXPECT_EQ(b.Height(), 7) << name;
  }
  // Noise and files of other formats are taken by none of them.
  for (const char* name :
       {"random-heic8.heic", "random-avif8.avif", "random-lossy.webp", "src.png"}) {
    tk::TBitmap b;
    b.Allocate(tk::TPixelFormat::pf24bit, 5, 7);
    EXPECT_NO_THROW(host.LoadFromFile(Sample(name), b)) << name;
    EXPECT_EQ(b.Width(), 5) << name;
  }
}

class PhotoSearch : public testing::Test {
 protected:
  void SetUp() override {
    tk::Application.Initialize();
    dialog_.CreateForm();
    ui_ = std::make_unique<orv::TSearchUi>(dialog_.Handle());
    ui_->OnSetFileNameList = [this](const tk::TStringList& l) { files_ = l.Items(); };
    ui_->OnReportError = [this](const std::string& e) { errors_.push_back(e); };
    services_.walk = [](tk::TStringList& list, const std::string& folder,
                        const tk::TStringList& mask, bool subFolders, tk::TStringList& unnamed,
                        std::vector<orv::EntryFacts>& facts) {
      if (subFolders)
        orv::FindFilesRecursive(list, folder, mask, &unnamed, &facts);
      else
        orv::FindFiles(list, folder, mask, &unnamed, &facts);
    };
    services_.loadPlugIns = [this](const tk::TStringList& files) {
      host_.LoadPlugInFromList(files);
      return host_.PFilter();
    };
    services_.plugins = &host_;

    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    // Wine gives out the same process ids run after run: the time keeps an
    // earlier run's files out.
    folder_ = std::string(base) + "orv_photo_search_" + std::to_string(GetCurrentProcessId()) +
              "_" + std::to_string(GetTickCount64());
    CreateDirectoryA(folder_.c_str(), nullptr);
    for (const char* name : {"heic8.heic", "avif8.avif", "avifirot.avif", "lossy.webp",
                             "trunc-heic8.heic", "huge-lossless.webp"}) {
      CopyFileA(Sample(name).c_str(), (folder_ + "\\" + name).c_str(), FALSE);
    }
    c_.usePlugins = true;
    c_.reportErrors = true;
    c_.pluginFolder = kPlugins;
    c_.pluginFiles = {"orvavif.spi", "orvheif.spi", "orvwebp.spi"};
  }

  Names Accepted() const {
    Names names;
    for (const std::string& f : files_) names.push_back(f.substr(folder_.size() + 1));
    std::sort(names.begin(), names.end());
    return names;
  }

  orvtest::TestForm dialog_;
  std::unique_ptr<orv::TSearchUi> ui_;
  orv::TSpiLib32 host_;
  orv::SearchServices services_;
  orv::SearchConditions c_;
  std::string folder_;
  Names files_, errors_;
};

TEST_F(PhotoSearch, AcceptsPhonePhotosByTheirSize) {
  c_.minWidth = 97;
  c_.minHeight = 61;
  orv::SearchFolder(folder_, c_, *ui_, services_);
  // avifirot is 61 wide once turned. The truncated HEIC is sized from its
  // header, which is whole, as a truncated JPEG is: the show passes over
  // it when its decode fails.
  EXPECT_EQ(Accepted(), (Names{"avif8.avif", "heic8.heic", "lossy.webp", "trunc-heic8.heic"}));
  EXPECT_EQ(errors_.size(), 1u) << "the oversized file";

  errors_.clear();
  c_.minWidth = 61;
  c_.minHeight = 97;
  orv::SearchFolder(folder_, c_, *ui_, services_);
  EXPECT_EQ(Accepted(), (Names{"avifirot.avif"}));

  c_.minWidth = 98;
  c_.minHeight = 50;
  orv::SearchFolder(folder_, c_, *ui_, services_);
  EXPECT_TRUE(Accepted().empty());
}

TEST_F(PhotoSearch, WithoutTheirRowsThePluginTypesAreNotSearched) {
  c_.minWidth = c_.minHeight = 10;
  c_.pluginFiles = {"orvwebp.spi"};
  orv::SearchFolder(folder_, c_, *ui_, services_);
  EXPECT_EQ(Accepted(), (Names{"lossy.webp"}));
  EXPECT_EQ(errors_.size(), 1u) << "the oversized WebP";
}

// Hostile HEIF files (made here: an identity item deriving from itself,
// grids of a few kilobytes declaring 64 x 64 and painting 8192 x 8192)
// are refused from their header and reported; the photos beside them are
// taken as before.
TEST_F(PhotoSearch, RefusesHostileHeifFilesAndKeepsThePhotos) {
  // In a folder of their own, which the other tests' searches leave out.
  const std::string hostile = folder_ + "\\hostile";
  CreateDirectoryA(hostile.c_str(), nullptr);
  auto write = [&](const char* name, const orvtest::Bytes& bytes) {
    orvtest::WriteFile(hostile + "\\" + name, std::string(bytes.begin(), bytes.end()));
  };
  write("self.heic", orvtest::SelfDerivedIdentity());
  for (const char* tile : {"tile512.heic", "tile512.avif"}) {
    std::ifstream in(Sample(tile), std::ios::binary);
    const orvtest::Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    orvtest::LiftedPicture lifted;
    ASSERT_TRUE(orvtest::LiftPrimary(bytes, lifted)) << tile;
    write(lifted.type == "av01" ? "bomb.avif" : "bomb.heic", orvtest::GridBomb(lifted, 64, 8192));
  }
  c_.minWidth = c_.minHeight = 10;
  c_.subFolders = true;
  orv::SearchFolder(folder_, c_, *ui_, services_);
  const Names accepted = Accepted();
  for (const char* name : {"self.heic", "bomb.heic", "bomb.avif"}) {
    const std::string path = std::string("hostile\\") + name;
    EXPECT_EQ(std::count(accepted.begin(), accepted.end(), path), 0) << name;
    EXPECT_EQ(std::count_if(errors_.begin(), errors_.end(),
                            [&](const std::string& e) {
                              return e.find(hostile + "\\" + name) != std::string::npos;
                            }),
              1)
        << name;
  }
  for (const char* photo : {"heic8.heic", "avif8.avif", "avifirot.avif", "lossy.webp"})
    EXPECT_EQ(std::count(accepted.begin(), accepted.end(), photo), 1) << photo;
}

}  // namespace
