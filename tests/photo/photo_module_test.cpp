// Our plug-ins as any Susie host meets them, in a process of their own:
// loaded with a plain LoadLibraryA from another current folder (no altered
// search path), asked GetPictureInfo by name and by memory and found to
// agree with GetPicture, naming the library sources they were built from,
// and surviving a decode that runs out of memory.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "photo_lib_pins.h"
#include "tests/photo/heif_builder.h"

namespace {

std::string WinPath(std::string p) {
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

const std::string kPlugins = WinPath(ORV_PLUGIN_DIR);
const std::string kSamples = WinPath(ORV_PHOTO_SAMPLES);

#pragma pack(push, 1)
struct PictureInfo {
  long left, top;
  long width, height;
  WORD x_density, y_density;
  short colorDepth;
  HLOCAL hInfo;
};
#pragma pack(pop)

typedef int(__stdcall* GetPluginInfoProc)(int, LPSTR, int);
typedef int(__stdcall* GetPictureInfoProc)(LPCSTR, LONG_PTR, unsigned, PictureInfo*);
typedef int(__stdcall* GetPictureProc)(LPCSTR, LONG_PTR, unsigned, HANDLE*, HANDLE*, FARPROC,
                                       LONG_PTR);

struct Plugin {
  HMODULE module = nullptr;
  GetPluginInfoProc info = nullptr;
  GetPictureInfoProc pictureInfo = nullptr;
  GetPictureProc picture = nullptr;
};

// A plain LoadLibraryA, as a host that knows nothing of our DLLs makes
// it, from a current folder that holds none of them.
Plugin LoadPlainly(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char before[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  EXPECT_TRUE(SetCurrentDirectoryA(temp));
  Plugin p;
  p.module = LoadLibraryA((kPlugins + "\\" + name).c_str());
  EXPECT_TRUE(p.module) << name << ": error " << GetLastError();
  if (p.module) {
    p.info = reinterpret_cast<GetPluginInfoProc>(
        reinterpret_cast<void*>(GetProcAddress(p.module, "GetPluginInfo")));
    p.pictureInfo = reinterpret_cast<GetPictureInfoProc>(
        reinterpret_cast<void*>(GetProcAddress(p.module, "GetPictureInfo")));
    p.picture = reinterpret_cast<GetPictureProc>(
        reinterpret_cast<void*>(GetProcAddress(p.module, "GetPicture")));
  }
  SetCurrentDirectoryA(before);
  return p;
}

struct Decoded {
  int result = -99;
  long width = 0, height = 0;
  int bits = 0;
};

Decoded DecodeFile(const Plugin& p, const std::string& path) {
  Decoded d;
  HANDLE info = nullptr, bits = nullptr;
  d.result = p.picture(path.c_str(), 0, 0, &info, &bits, nullptr, 0);
  if (d.result == 0) {
    auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(info));
    d.width = h->biWidth;
    d.height = h->biHeight;
    d.bits = h->biBitCount;
    GlobalUnlock(info);
    GlobalFree(info);
    GlobalFree(bits);
  }
  return d;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every plug-in loads plainly, names the sources its libraries were built
// from, and sizes each picture from its header as its decode does, by
// name and from memory; a file whose header is sound but whose data is
// not has a size and no picture.
TEST(PhotoModules, AnyHostLoadsThemAndTheirSizesAgreeWithTheirPictures) {
  struct Case {
    const char* plugin;
    const char* file;
    long width, height;
    int bits;
    bool decodes;
  } cases[] = {
      {"orvheif.spi", "heic8.heic", 97, 61, 24, true},
      {"orvheif.spi", "heicalpha.heic", 97, 61, 32, true},
      {"orvheif.spi", "trunc-heic8.heic", 97, 61, 24, false},
      {"orvavif.spi", "avifirot.avif", 61, 97, 24, true},
      {"orvavif.spi", "avifclap.avif", 64, 40, 24, true},
      {"orvavif.spi", "avifgrid.avif", 128, 128, 24, true},
      {"orvwebp.spi", "orient6.webp", 61, 97, 24, true},
      {"orvwebp.spi", "alphall.webp", 97, 61, 32, true},
      {"orvwebp.spi", "lossless.webp", 97, 61, 24, true},
  };
  for (const Case& c : cases) {
    const Plugin p = LoadPlainly(c.plugin);
    ASSERT_TRUE(p.info && p.pictureInfo && p.picture) << c.plugin;
    const std::string path = kSamples + "\\" + c.file;
    PictureInfo byName = {};
    ASSERT_EQ(p.pictureInfo(path.c_str(), 0, 0, &byName), 0) << c.file;
    EXPECT_EQ(byName.width, c.width) << c.file;
    EXPECT_EQ(byName.height, c.height) << c.file;
    EXPECT_EQ(byName.colorDepth, c.bits) << c.file;
    EXPECT_EQ(byName.hInfo, nullptr) << c.file;
    const std::vector<uint8_t> bytes = ReadAll(path);
    PictureInfo inMemory = {};
    ASSERT_EQ(
        p.pictureInfo(reinterpret_cast<LPCSTR>(bytes.data()), LONG_PTR(bytes.size()), 1, &inMemory),
        0)
        << c.file;
    EXPECT_EQ(inMemory.width, c.width) << c.file;
    EXPECT_EQ(inMemory.height, c.height) << c.file;
    const Decoded d = DecodeFile(p, path);
    if (c.decodes) {
      ASSERT_EQ(d.result, 0) << c.file;
      EXPECT_EQ(d.width, c.width) << c.file;
      EXPECT_EQ(d.height, c.height) << c.file;
      EXPECT_EQ(d.bits, c.bits) << c.file;
    } else {
      EXPECT_NE(d.result, 0) << c.file;
    }
  }
  // A file of another format is none of theirs, and says so.
  for (const char* plugin : {"orvheif.spi", "orvavif.spi", "orvwebp.spi"}) {
    const Plugin p = LoadPlainly(plugin);
    PictureInfo info = {};
    EXPECT_EQ(p.pictureInfo((kSamples + "\\src.png").c_str(), 0, 0, &info), 2) << plugin;
    EXPECT_NE(p.pictureInfo((kSamples + "\\no such file.heic").c_str(), 0, 0, &info), 0) << plugin;
  }
  // The codec DLL came from the plug-ins' own folder, under our own name.
  HMODULE codec = GetModuleHandleA("orvheifcodec.dll");
  ASSERT_TRUE(codec);
  char where[MAX_PATH];
  GetModuleFileNameA(codec, where, MAX_PATH);
  EXPECT_EQ(WinPath(std::string(where)), kPlugins + "\\orvheifcodec.dll");
  EXPECT_FALSE(GetModuleHandleA("libheif.dll"));
  EXPECT_FALSE(GetModuleHandleA("libde265.dll"));
}

TEST(PhotoModules, InfoTextsNameTheSourcesBuilt) {
  struct Case {
    const char* plugin;
    std::vector<std::string> pins;
  } cases[] = {
      {"orvheif.spi", {ORV_LIBHEIF_PIN, ORV_LIBDE265_PIN}},
      {"orvavif.spi", {ORV_LIBHEIF_PIN, ORV_DAV1D_PIN}},
      {"orvwebp.spi", {ORV_LIBWEBP_PIN}},
  };
  for (const Case& c : cases) {
    const Plugin p = LoadPlainly(c.plugin);
    char text[256];
    ASSERT_GT(p.info(1, text, sizeof text), 0) << c.plugin;
    for (const std::string& pin : c.pins) {
      EXPECT_NE(std::string(text).find(pin), std::string::npos) << text << " lacks " << pin;
      EXPECT_NE(pin.find("sha256:"), std::string::npos) << pin;
    }
  }
}

// Takes the whole address space the process has left but `keep` bytes
// in pieces of at most 1 MiB, so that nothing larger than that can be
// allocated until Release.
class AddressSpaceHog {
 public:
  explicit AddressSpaceHog(size_t keep) {
    std::vector<void*> small;
    for (size_t chunk = size_t(1) << 30; chunk >= 64 * 1024; chunk /= 2) {
      while (void* p = VirtualAlloc(nullptr, chunk, MEM_RESERVE, PAGE_NOACCESS))
        (chunk <= (1u << 20) ? small : taken_).push_back(p);
    }
    // Give back small pieces only: small allocations still succeed, and
    // none of the decode's large ones.
    size_t given = 0;
    while (!small.empty() && given < keep) {
      MEMORY_BASIC_INFORMATION mbi;
      VirtualQuery(small.back(), &mbi, sizeof mbi);
      given += mbi.RegionSize;
      VirtualFree(small.back(), 0, MEM_RELEASE);
      small.pop_back();
    }
    taken_.insert(taken_.end(), small.begin(), small.end());
  }
  ~AddressSpaceHog() { Release(); }
  void Release() {
    for (void* p : taken_) VirtualFree(p, 0, MEM_RELEASE);
    taken_.clear();
  }
  bool Took() const { return !taken_.empty(); }

 private:
  std::vector<void*> taken_;
};

// A decode whose allocations fail inside libheif and libde265 or dav1d
// (in C++, which throws) comes back as a failure of the call: the
// exception stays inside the codec DLL, the process lives on, and the
// same picture decodes once there is memory again.
TEST(PhotoModules, ADecodeThatRunsOutOfMemoryFailsAndThePluginLivesOn) {
  // The shipped plug-ins are 32-bit, whose 2 to 4 GB are quickly taken.
  // A 64-bit process has terabytes, and Wine keeps a byte for every page
  // reserved: taking them all takes minutes.
  if (sizeof(void*) != 4) GTEST_SKIP() << "a 64-bit address space is not exhausted here";
  for (const char* sample : {"tile512.heic", "tile512.avif"}) {
    orvtest::LiftedPicture tile;
    ASSERT_TRUE(orvtest::LiftPrimary(ReadAll(kSamples + "\\" + sample), tile)) << sample;
    // 4096 x 3072, a phone photo's size: some 100 MB of planes and pixels.
    const std::vector<uint8_t> photo = orvtest::TiledGrid(
        tile, 8, 6, 8 * tile.width, 6 * tile.height, 8 * tile.width, 6 * tile.height);
    const Plugin p = LoadPlainly(tile.type == "av01" ? "orvavif.spi" : "orvheif.spi");
    ASSERT_TRUE(p.picture);
    auto decode = [&] {
      HANDLE info = nullptr, bits = nullptr;
      const int r = p.picture(reinterpret_cast<LPCSTR>(photo.data()), LONG_PTR(photo.size()), 1,
                              &info, &bits, nullptr, 0);
      if (r == 0) {
        GlobalFree(info);
        GlobalFree(bits);
      }
      return r;
    };
    // Loads the codec and sets libheif up while memory lasts.
    ASSERT_EQ(decode(), 0) << sample;
    {
      AddressSpaceHog hog(8u << 20);
      ASSERT_TRUE(hog.Took());
      const int starved = decode();
      hog.Release();
      EXPECT_NE(starved, 0) << sample << ": the decode must have run short";
    }
    EXPECT_EQ(decode(), 0) << sample;
  }
}

}  // namespace
