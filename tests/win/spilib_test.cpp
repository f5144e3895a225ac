#include "imaging/SPILib.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/PictureLoader.h"
#include "search/PlugInListWin32.h"
#include "tests/plugins/TestPlugin.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Streams.h"

namespace {

using Names = std::vector<std::string>;

// The build passes a host path; under Wine the root of the host is drive Z:.
std::string PluginDir() {
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') {
    dir = "Z:" + dir;
    for (char& c : dir) {
      if (c == '/') c = '\\';
    }
  }
  return dir;
}
std::string Plugin(const std::string& name) { return PluginDir() + "\\" + name + ".spi"; }

tk::TStringList List(std::initializer_list<std::string> items) {
  tk::TStringList list;
  for (const std::string& s : items) list.Add(s);
  return list;
}

class TempFolder {
 public:
  TempFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base(temp);
    if (!base.empty() && base.back() == '\\') base.pop_back();
    for (int i = 0;; ++i) {
      root_ = base + "\\orvspi" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(i);
      if (CreateDirectoryA(root_.c_str(), nullptr)) break;
    }
  }
  ~TempFolder() {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((root_ + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string path = root_ + "\\" + data.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
      } while (FindNextFileA(h, &data));
      FindClose(h);
    }
    RemoveDirectoryA(root_.c_str());
  }
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& name) const { return root_ + "\\" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = Path(name);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return path;
  }
  std::string Copy(const std::string& from, const std::string& name) const {
    const std::string path = Path(name);
    EXPECT_TRUE(CopyFileA(from.c_str(), path.c_str(), FALSE)) << from;
    return path;
  }

 private:
  std::string root_;
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

struct Rgb {
  uint8_t r, g, b;
};

// An ORVTEST1 picture whose pixel (x, y) is Colour(x, y).
Rgb Colour(int x, int y) {
  return Rgb{uint8_t(40 * x + 7), uint8_t(60 * y + 3), uint8_t(x * y + 100)};
}

std::vector<uint8_t> OrvPicture(int w, int h, OrvTestMode mode) {
  std::vector<uint8_t> v(ORV_TEST_MAGIC, ORV_TEST_MAGIC + 8);
  Put32(v, w);
  Put32(v, h);
  Put32(v, mode);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb c = Colour(x, y);
      v.push_back(c.r);
      v.push_back(c.g);
      v.push_back(c.b);
    }
  }
  return v;
}

std::vector<uint8_t> OrvArchive(const Names& names, OrvArcMode mode) {
  std::vector<uint8_t> v(ORV_ARC_MAGIC, ORV_ARC_MAGIC + 8);
  Put32(v, uint32_t(names.size()));
  Put32(v, mode);
  for (const std::string& n : names) {
    v.insert(v.end(), n.begin(), n.end());
    v.push_back(0);
  }
  return v;
}

Rgb PixelAt(const tk::TBitmap& bmp, int x, int y) {
  const uint8_t* p = bmp.ScanLine(y) + x * 3;
  return Rgb{p[2], p[1], p[0]};
}

void ExpectPicture(const tk::TBitmap& bmp, int w, int h) {
  ASSERT_EQ(bmp.Width(), w);
  ASSERT_EQ(bmp.Height(), h);
  ASSERT_EQ(bmp.BitCount(), 24);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb got = PixelAt(bmp, x, y), want = Colour(x, y);
      ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
          << "pixel " << x << "," << y << " is " << int(got.r) << "," << int(got.g) << ","
          << int(got.b);
    }
  }
}

// A 2 x 2 bitmap of a colour no test picture has, to see it left alone.
void FillSentinel(tk::TBitmap& bmp) {
  bmp.Allocate(tk::TPixelFormat::pf24bit, 2, 2);
  std::memset(bmp.Bits(), 0xAB, bmp.ImageSize());
}
void ExpectSentinel(const tk::TBitmap& bmp) {
  ASSERT_EQ(bmp.Width(), 2);
  ASSERT_EQ(bmp.Height(), 2);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(bmp.ScanLine(0)[i], 0xAB);
}

OrvTestProbeData Probe(const std::string& plugin) {
  OrvTestProbeData data = {};
  HMODULE m = GetModuleHandleA(plugin.c_str());
  EXPECT_NE(m, nullptr) << plugin << " is not loaded";
  if (!m) return data;
  auto probe = reinterpret_cast<void(__stdcall*)(OrvTestProbeData*)>(
      reinterpret_cast<void*>(GetProcAddress(m, "OrvTestProbe")));
  probe(&data);
  return data;
}
void ResetProbe(const std::string& plugin) {
  HMODULE m = GetModuleHandleA(plugin.c_str());
  ASSERT_NE(m, nullptr) << plugin;
  auto reset = reinterpret_cast<void(__stdcall*)()>(
      reinterpret_cast<void*>(GetProcAddress(m, "OrvTestResetProbe")));
  reset();
}

TEST(SpiLib, LoadsPictureplugInsAndRecordsWhatTheyDeclare) {
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest"), Plugin("orvtwo")}));
  const auto plugs = host.PicPlugIns();
  ASSERT_EQ(plugs.size(), 2u);
  EXPECT_EQ(plugs[0].name, "Orvanelle test plug-in");
  EXPECT_EQ(plugs[0].apiVersion, "00IN");
  EXPECT_EQ(plugs[0].filter, "*.orv");
  EXPECT_EQ(plugs[0].typeName, "Orvanelle test picture");
  EXPECT_EQ(plugs[0].folder, PluginDir() + "\\");
  EXPECT_EQ(plugs[1].name, "Orvanelle two-filter plug-in");
  EXPECT_EQ(plugs[1].filter, "*.ov2");
  // One filter text per plug-in, each followed by ";".
  EXPECT_EQ(host.PFilter(), "*.orv;*.ov2;");
  EXPECT_EQ(host.PicPlugInList().Items(),
            Names({"Orvanelle test plug-in", "Orvanelle two-filter plug-in"}));
  EXPECT_TRUE(host.ArcPlugIns().empty());
  EXPECT_EQ(host.AFilter(), "");
}

TEST(SpiLib, RejectsWrongVersionTextsMissingEntriesAndNonLibraries) {
  TempFolder t;
  const std::string junk = t.Write("junk.spi", {'M', 'Z', 1, 2, 3});
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(
      List({Plugin("orvversp"), Plugin("orvverlow"), Plugin("orvverlong"), Plugin("orvnoinfo"),
            Plugin("orvarc"), t.Path("absent.spi"), junk, "", Plugin("orvtest")}));
  const auto plugs = host.PicPlugIns();
  ASSERT_EQ(plugs.size(), 1u);
  EXPECT_EQ(plugs[0].name, "Orvanelle test plug-in");
  EXPECT_EQ(host.PFilter(), "*.orv;");
  // Rejected libraries are unloaded again.
  for (const char* name : {"orvversp", "orvverlow", "orvverlong", "orvnoinfo", "orvarc"}) {
    EXPECT_EQ(GetModuleHandleA(Plugin(name).c_str()), nullptr) << name;
  }
}

TEST(SpiLib, InfoTextWithoutTerminatorIsCutAtTheBuffer) {
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvlongname")}));
  const auto plugs = host.PicPlugIns();
  ASSERT_EQ(plugs.size(), 1u);
  EXPECT_EQ(plugs[0].name, std::string(255, 'N'));
  EXPECT_EQ(plugs[0].filter, "*.orv");
}

TEST(SpiLib, SecondLoadAppendsAndFilterListsOnlyTheLatest) {
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtwo")}));
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  EXPECT_EQ(host.PFilter(), "*.orv;");
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  EXPECT_EQ(host.PicPlugIns().size(), 3u);
  // First call: 1 name; second: 2; third: 3.
  EXPECT_EQ(host.PicPlugInList().Count(), 6);

  TempFolder t;
  tk::TBitmap bmp;
  host.LoadFromFile(t.Write("p.orv", OrvPicture(3, 2, kModeBottomUp)), bmp);
  ExpectPicture(bmp, 3, 2);

  host.FreePlugIn();
  EXPECT_TRUE(host.PicPlugIns().empty());
  EXPECT_EQ(GetModuleHandleA(Plugin("orvtest").c_str()), nullptr);
}

TEST(SpiLib, SameListTwiceHoldsEveryPlugInTwice) {
  orv::TSpiLib32 host;
  const tk::TStringList list = List({Plugin("orvtest")});
  host.LoadPlugInFromList(list);
  host.LoadPlugInFromList(list);
  EXPECT_EQ(host.PicPlugIns().size(), 2u);
  EXPECT_EQ(host.PicPlugInList().Items(), Names(3, "Orvanelle test plug-in"));
  EXPECT_EQ(host.PFilter(), "*.orv;");
}

TEST(SpiLib, LibrariesStayLoadedUntilTheHostGoes) {
  {
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvtest")}));
    EXPECT_NE(GetModuleHandleA(Plugin("orvtest").c_str()), nullptr);
  }
  EXPECT_EQ(GetModuleHandleA(Plugin("orvtest").c_str()), nullptr);
}

TEST(SpiLib, LoadPlugInSearchesTheFolderForSpiFiles) {
  TempFolder t;
  t.Copy(Plugin("orvtest"), "a.spi");
  t.Copy(Plugin("orvtwo"), "B.SPI");
  t.Copy(Plugin("orvtest"), "hidden.spi");
  SetFileAttributesA(t.Path("hidden.spi").c_str(), FILE_ATTRIBUTE_HIDDEN);
  t.Copy(Plugin("orvtest"), "ro.spi");
  SetFileAttributesA(t.Path("ro.spi").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA(t.Path("dir.spi").c_str(), nullptr);
  t.Copy(Plugin("orvtest"), "other.dll");

  // Without the trailing delimiter the pattern names the folder's sibling.
  orv::TSpiLib32 bare;
  bare.LoadPlugIn(t.Root());
  EXPECT_TRUE(bare.PicPlugIns().empty());

  orv::TSpiLib32 host;
  host.LoadPlugIn(t.Root() + "\\");
  const auto plugs = host.PicPlugIns();
  ASSERT_EQ(plugs.size(), 3u);  // a, B and ro; not the hidden one, the folder or the .dll
  int two = 0;
  for (const auto& p : plugs) {
    EXPECT_EQ(p.folder, t.Root() + "\\");
    two += p.name == "Orvanelle two-filter plug-in";
  }
  EXPECT_EQ(two, 1);
}

TEST(SpiLib, DecodesBottomUpTopDownPaletteAndFixedBlocks) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  for (OrvTestMode mode : {kModeBottomUp, kModeTopDown, kModeFixedMemory}) {
    tk::TBitmap bmp;
    host.LoadFromFile(t.Write("p" + std::to_string(mode) + ".orv", OrvPicture(5, 3, mode)), bmp);
    SCOPED_TRACE(mode);
    ExpectPicture(bmp, 5, 3);
  }
  // 8 bits through a grey colour table: the red byte is the index. GDI
  // takes a colour count beyond 256 as 256, and run-length rows whose data
  // fit the block, so the host takes them too.
  for (OrvTestMode mode : {kModePalette8, kModeTooManyColors, kModeRle8}) {
    SCOPED_TRACE(mode);
    tk::TBitmap grey;
    host.LoadFromFile(t.Write("g" + std::to_string(mode) + ".orv", OrvPicture(4, 2, mode)), grey);
    ASSERT_EQ(grey.Width(), 4);
    ASSERT_EQ(grey.Height(), 2);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 4; ++x) {
        const Rgb p = PixelAt(grey, x, y);
        const uint8_t level = Colour(x, y).r;
        EXPECT_TRUE(p.r == level && p.g == level && p.b == level) << x << "," << y;
      }
    }
  }
}

TEST(SpiLib, PassesTheImageAsTheInterfaceRequires) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  ResetProbe(Plugin("orvtest"));
  const std::vector<uint8_t> file = OrvPicture(2, 1, kModeBottomUp);
  const std::string path = t.Write("p.orv", file);
  // A name relative to the current folder reaches the plug-in in full.
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  SetCurrentDirectoryA(t.Root().c_str());
  tk::TBitmap bmp;
  host.LoadFromFile("p.orv", bmp);
  SetCurrentDirectoryA(cwd);
  const OrvTestProbeData probe = Probe(Plugin("orvtest"));
  EXPECT_EQ(probe.isSupportedCalls, 1);
  EXPECT_EQ(probe.isSupportedNullName, 0);
  EXPECT_STRCASEEQ(probe.lastName, path.c_str());
  // The short file is followed by zeros up to 8 KiB, all readable.
  EXPECT_EQ(probe.paddingZero, 1);
  EXPECT_EQ(probe.getPictureCalls, 1);
  EXPECT_EQ(probe.lastLength, long(file.size()));
  EXPECT_EQ(probe.lastFlag, 1u);
  // A progress callback, through which the program can ask it to stop.
  EXPECT_EQ(probe.progressNull, 0);
  EXPECT_EQ(probe.lastData, 0);
  EXPECT_EQ(probe.handlesWereNull, 1);
}

TEST(SpiLib, StreamAndMemoryInputDecodeTheSame) {
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  const std::vector<uint8_t> file = OrvPicture(3, 3, kModeBottomUp);

  tk::TMemoryStream stream{std::vector<uint8_t>(file)};
  stream.Seek(0, tk::SeekOrigin::End);  // read from the start whatever the position
  tk::TBitmap a;
  host.LoadFromStream(stream, a);
  ExpectPicture(a, 3, 3);

  // Exactly the file's bytes in their own block: the host gives plug-ins a
  // padded copy.
  ResetProbe(Plugin("orvtest"));
  tk::TBitmap b;
  host.LoadFromMemory(file.data(), int64_t(file.size()), b);
  ExpectPicture(b, 3, 3);
  EXPECT_EQ(Probe(Plugin("orvtest")).paddingZero, 1);
  // Data from no file come with no name.
  EXPECT_EQ(Probe(Plugin("orvtest")).isSupportedNullName, 1);
}

TEST(SpiLib, NothingAcceptsOrNothingToReadLeavesTheBitmapAlone) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest"), Plugin("orvtwo")}));
  tk::TBitmap bmp;
  FillSentinel(bmp);
  EXPECT_NO_THROW(host.LoadFromFile(t.Write("x.gif", {'G', 'I', 'F', '8', '9', 'a'}), bmp));
  ExpectSentinel(bmp);

  ResetProbe(Plugin("orvtest"));
  EXPECT_NO_THROW(host.LoadFromFile(t.Write("empty.orv", {}), bmp));
  EXPECT_NO_THROW(host.LoadFromMemory(nullptr, 0, bmp));
  ExpectSentinel(bmp);
  EXPECT_EQ(Probe(Plugin("orvtest")).isSupportedCalls, 0);

  EXPECT_THROW(host.LoadFromFile(t.Path("missing.orv"), bmp), tk::EFOpenError);
  ExpectSentinel(bmp);

  // No plug-ins at all.
  orv::TSpiLib32 none;
  EXPECT_NO_THROW(none.LoadFromFile(t.Write("p.orv", OrvPicture(1, 1, kModeBottomUp)), bmp));
  ExpectSentinel(bmp);
}

TEST(SpiLib, HostileHandlesAbortAndLeaveTheBitmapAlone) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  for (OrvTestMode mode :
       {kModeNoHandles, kModeOnlyInfo, kModeOnlyPixels, kModeTinyHeader, kModeShortPixels,
        kModeAbsurdSize, kModeHugeBiSize, kModeSameHandle, kModeBadBitCount, kModeRle8Overrun}) {
    SCOPED_TRACE(mode);
    tk::TBitmap bmp;
    FillSentinel(bmp);
    const std::string file = t.Write("h" + std::to_string(mode) + ".orv", OrvPicture(64, 64, mode));
    EXPECT_THROW(host.LoadFromFile(file, bmp), tk::EAbort);
    ExpectSentinel(bmp);
  }
  // The host is still sound afterwards.
  tk::TBitmap good;
  host.LoadFromFile(t.Write("good.orv", OrvPicture(2, 2, kModeBottomUp)), good);
  ExpectPicture(good, 2, 2);
}

struct FloatingPointState {
  unsigned short x87;
  unsigned int mxcsr;
  // The low six MXCSR bits are sticky status flags our own arithmetic sets;
  // only the controls matter.
  bool operator==(const FloatingPointState& o) const {
    return x87 == o.x87 && (mxcsr & ~0x3Fu) == (o.mxcsr & ~0x3Fu);
  }
};
FloatingPointState CurrentFloatingPointState() {
  FloatingPointState s{};
  __asm__ volatile("fnstcw %0" : "=m"(s.x87));
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
  return s;
}

// A plug-in that changes rounding and precision in each of its entry
// points and in DllMain leaves ours as they were, through the whole life
// of the host.
TEST(SpiLib, PlugInsCannotChangeOurFloatingPointState) {
  TempFolder t;
  const FloatingPointState before = CurrentFloatingPointState();
  ASSERT_NE(before.x87, ORV_FPU_X87_WORD);
  {
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvfpu")}));
    ASSERT_EQ(host.PicPlugIns().size(), 1u);
    EXPECT_TRUE(CurrentFloatingPointState() == before);
    tk::TBitmap bmp;
    host.LoadFromFile(t.Write("p.orv", OrvPicture(3, 2, kModeBottomUp)), bmp);
    EXPECT_TRUE(CurrentFloatingPointState() == before);
    ExpectPicture(bmp, 3, 2);
    orv::PictureSize size;
    EXPECT_TRUE(host.SizeFromHeader(t.Path("p.orv"), size));
    EXPECT_TRUE(CurrentFloatingPointState() == before);
    // 1/3 rounded toward zero in single precision differs in its last bit.
    volatile float third = 1.0f;
    third /= 3.0f;
    EXPECT_EQ(third, 1.0f / 3.0f);
  }
  const FloatingPointState after = CurrentFloatingPointState();
  EXPECT_TRUE(after == before) << std::hex << after.x87 << " " << after.mxcsr << " / " << before.x87
                               << " " << before.mxcsr;
}

TEST(SpiLib, APlugInFindsItsOwnLibrariesBesideIt) {
  TempFolder t;
  t.Copy(PluginDir() + "\\dep\\orvdep.dll", "orvdep.dll");
  const std::string plugin = t.Copy(PluginDir() + "\\dep\\orvneedsdep.spi", "needsdep.spi");
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({plugin}));
  ASSERT_EQ(host.PicPlugIns().size(), 1u);
  tk::TBitmap bmp;
  host.LoadFromFile(t.Write("p.orv", OrvPicture(2, 2, kModeBottomUp)), bmp);
  ExpectPicture(bmp, 2, 2);
}

TEST(SpiLib, FirstAcceptingPlugInDecodesAndNoOtherIsTried) {
  TempFolder t;
  const std::string file = t.Write("p.orv", OrvPicture(2, 2, kModeBottomUp));
  {
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvtest"), Plugin("orvgreedy")}));
    ResetProbe(Plugin("orvgreedy"));
    tk::TBitmap bmp;
    host.LoadFromFile(file, bmp);
    ExpectPicture(bmp, 2, 2);
    EXPECT_EQ(Probe(Plugin("orvgreedy")).isSupportedCalls, 0);
  }
  {
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvgreedy"), Plugin("orvtest")}));
    ResetProbe(Plugin("orvtest"));
    ResetProbe(Plugin("orvgreedy"));
    tk::TBitmap bmp;
    EXPECT_THROW(host.LoadFromFile(file, bmp), tk::EAbort);
    EXPECT_TRUE(bmp.Empty());
    EXPECT_EQ(Probe(Plugin("orvgreedy")).getPictureCalls, 1);
    EXPECT_EQ(Probe(Plugin("orvgreedy")).handlesWereNull, 1);
    EXPECT_EQ(Probe(Plugin("orvtest")).isSupportedCalls, 0);
    EXPECT_EQ(Probe(Plugin("orvtest")).getPictureCalls, 0);
  }
}

TEST(SpiLib, PlugInWithoutDecodingEntriesIsKeptButNeverAsked) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvinfoonly"), Plugin("orvtest")}));
  ASSERT_EQ(host.PicPlugIns().size(), 2u);
  EXPECT_EQ(host.PicPlugIns()[0].name, "Orvanelle info-only plug-in");
  EXPECT_EQ(host.PFilter(), "*.orv;*.orv;");
  tk::TBitmap bmp;
  host.LoadFromFile(t.Write("p.orv", OrvPicture(2, 3, kModeBottomUp)), bmp);
  ExpectPicture(bmp, 2, 3);
}

TEST(SpiLib, ArchivePlugInsListTheirMembers) {
  TempFolder t;
  t.Copy(Plugin("orvarc"), "arc.spi");
  t.Copy(Plugin("orvtest"), "pic.spi");
  orv::TSpiLib32 host;
  host.LoadPlugInArc(t.Root() + "\\");
  const auto arcs = host.ArcPlugIns();
  ASSERT_EQ(arcs.size(), 1u);
  EXPECT_EQ(arcs[0].apiVersion, "00AM");
  EXPECT_EQ(arcs[0].folder, "");
  EXPECT_EQ(host.AFilter(), "*.orva;");
  EXPECT_EQ(host.ArcPlugInList().Items(), Names({"Orvanelle test archive"}));
  EXPECT_TRUE(host.PicPlugIns().empty());

  const Names members{"one.jpg", "sub\\two.png", std::string(250, 'L')};
  const Names listed{"one.jpg", "sub\\two.png", std::string(200, 'L')};
  for (OrvArcMode mode : {kArcTerminated, kArcExact, kArcRagged}) {
    SCOPED_TRACE(mode);
    const std::string file =
        t.Write("a" + std::to_string(mode) + ".orva", OrvArchive(members, mode));
    EXPECT_TRUE(host.SupportArcFile(file));
    tk::TStringList names;
    names.Add("kept");
    host.ArcFileList(file, names);
    Names want{"kept"};
    want.insert(want.end(), listed.begin(), listed.end());
    EXPECT_EQ(names.Items(), want);
  }
  // The archive goes to the plug-in as an image in memory.
  EXPECT_EQ(Probe(t.Path("arc.spi")).lastFlag, 1u);
  tk::TStringList names;
  host.ArcFileList(t.Write("nohandle.orva", OrvArchive(members, kArcNoHandle)), names);
  EXPECT_TRUE(names.Empty());

  const std::string picture = t.Write("p.orv", OrvPicture(1, 1, kModeBottomUp));
  EXPECT_FALSE(host.SupportArcFile(picture));
  host.ArcFileList(picture, names);
  EXPECT_TRUE(names.Empty());
  EXPECT_FALSE(host.SupportArcFile(t.Write("empty.orva", {})));

  tk::TStringList pics;
  pics.Add("x");
  host.ListPic(pics, true);
  EXPECT_TRUE(pics.Empty());
  host.ListArc(pics, false);
  host.ListArc(pics, false);
  EXPECT_EQ(pics.Count(), 2);
}

TEST(SpiLib, LoadPictureFallsBackToPlugIns) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");

  // Not a JPEG stream: libjpeg rejects it, the plug-in reads it.
  tk::TBitmap jpg;
  orv::LoadPicture(t.Write("x.jpg", OrvPicture(3, 2, kModeTopDown)), jpg, extensions, &host);
  ExpectPicture(jpg, 3, 2);

  tk::TBitmap own;
  orv::LoadPicture(t.Write("y.orv", OrvPicture(4, 1, kModeBottomUp)), own, extensions, &host);
  ExpectPicture(own, 4, 1);

  // A plug-in accepts but cannot deliver: the target stays as it was.
  tk::TBitmap kept;
  FillSentinel(kept);
  orv::LoadPicture(t.Write("z.orv", OrvPicture(4, 4, kModeShortPixels)), kept, extensions, &host);
  ExpectSentinel(kept);

  // Nobody reads it: empty.
  tk::TBitmap none;
  orv::LoadPicture(t.Write("w.gif", {'n', 'o', 'p', 'e'}), none, extensions, &host);
  EXPECT_TRUE(none.Empty());

  // The tools' list: every plug-in of a folder given without a delimiter.
  TempFolder only;
  only.Copy(Plugin("orvtest"), "only.spi");
  orv::TSpiLib32 tool;
  tool.LoadPlugInFromList(orv::PlugInFilesIn(only.Root()));
  tk::TBitmap viaTool;
  tool.LoadFromFile(t.Path("y.orv"), viaTool);
  ExpectPicture(viaTool, 4, 1);
}

// ---- sizes from the header ------------------------------------------------

// GetPictureInfo as the host asks it, one row per way a plug-in answers: a
// size is an answer only when the call succeeds with both sides above 0.
// Asking never decodes; what a decode of the same file then does is the
// plug-in's business, as the last column shows.
TEST(SpiLibHeader, ThePlugInTellsTheSizeOrTheCallerMustDecode) {
  struct Case {
    const char* what;
    std::string plugin;
    OrvTestMode mode;
    bool answers;
    bool exported;  // the plug-in has GetPictureInfo
    bool decodes;
  };
  const Case cases[] = {
      {"the size it would decode", Plugin("orvtest"), kModeBottomUp, true, true, true},
      {"a valid header over broken data", Plugin("orvtest"), kModeDataBroken, true, true, false},
      {"an error", Plugin("orvtest"), kModeInfoError, false, true, true},
      {"width 0", Plugin("orvtest"), kModeInfoNoWidth, false, true, true},
      {"a negative height", Plugin("orvtest"), kModeInfoNegative, false, true, true},
      {"every field and a text block", Plugin("orvtest"), kModeInfoText, true, true, true},
      {"no GetPictureInfo at all", PluginDir() + "\\nosize\\orvnosize.spi", kModeBottomUp, false,
       false, true},
  };
  TempFolder t;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({c.plugin}));
    ASSERT_EQ(host.PicPlugIns().size(), 1u);
    const std::vector<uint8_t> bytes = OrvPicture(7, 5, c.mode);
    const std::string file = t.Write("i" + std::to_string(++n) + ".orv", bytes);
    ResetProbe(c.plugin);
    orv::PictureSize size{-1, -1};
    EXPECT_EQ(host.SizeFromHeader(file, size), c.answers);
    EXPECT_EQ(size.width, c.answers ? 7 : -1);
    EXPECT_EQ(size.height, c.answers ? 5 : -1);
    const OrvTestProbeData probe = Probe(c.plugin);
    EXPECT_EQ(probe.isSupportedCalls, 1);
    EXPECT_STRCASEEQ(probe.lastName, file.c_str());
    EXPECT_EQ(probe.getPictureCalls, 0);
    EXPECT_EQ(probe.getPictureInfoCalls, c.exported ? 1 : 0);
    if (c.exported) {
      // The image in memory, as GetPicture gets it.
      EXPECT_EQ(probe.lastInfoFlag, 1u);
      EXPECT_EQ(probe.lastInfoLength, long(bytes.size()));
    }
    if (c.mode == kModeInfoText) {
      // Our record's text handle is where the plug-in put it, and it was
      // freed: its handle names no block any more.
      ASSERT_NE(probe.infoText, 0u);
      EXPECT_EQ(LocalFlags(reinterpret_cast<HLOCAL>(probe.infoText)), LMEM_INVALID_HANDLE);
    }
    tk::TBitmap bmp;
    if (c.decodes) {
      host.LoadFromFile(file, bmp);
      ExpectPicture(bmp, 7, 5);
    } else {
      EXPECT_THROW(host.LoadFromFile(file, bmp), tk::EAbort);
    }
  }
}

// The plug-in asked is the one a decode would choose: the first sound one
// whose IsSupported accepts the file, however the others could answer.
TEST(SpiLibHeader, TheSizeComesFromThePlugInThatWouldDecode) {
  TempFolder t;
  const std::string file = t.Write("p.orv", OrvPicture(4, 6, kModeBottomUp));
  orv::PictureSize size;
  {
    // Without GetPicture a plug-in decodes nothing, so it tells nothing.
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvinfoonly"), Plugin("orvtest"), Plugin("orvgreedy")}));
    ResetProbe(Plugin("orvgreedy"));
    ASSERT_TRUE(host.SizeFromHeader(file, size));
    EXPECT_EQ(size.width, 4);
    EXPECT_EQ(size.height, 6);
    EXPECT_EQ(Probe(Plugin("orvgreedy")).isSupportedCalls, 0);
  }
  {
    // The greedy one takes the file first and cannot tell its size: no
    // answer, and the plug-in behind it is not asked.
    orv::TSpiLib32 host;
    host.LoadPlugInFromList(List({Plugin("orvgreedy"), Plugin("orvtest")}));
    ResetProbe(Plugin("orvtest"));
    EXPECT_FALSE(host.SizeFromHeader(file, size));
    EXPECT_EQ(Probe(Plugin("orvtest")).isSupportedCalls, 0);
    EXPECT_EQ(Probe(Plugin("orvtest")).getPictureInfoCalls, 0);
  }
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  ResetProbe(Plugin("orvtest"));
  EXPECT_FALSE(host.SizeFromHeader(t.Write("x.gif", {'G', 'I', 'F', '8', '9', 'a'}), size));
  EXPECT_FALSE(host.SizeFromHeader(t.Write("empty.orv", {}), size));
  EXPECT_EQ(Probe(Plugin("orvtest")).getPictureInfoCalls, 0);
  EXPECT_THROW(host.SizeFromHeader(t.Path("missing.orv"), size), tk::EFOpenError);
  orv::TSpiLib32 none;
  EXPECT_FALSE(none.SizeFromHeader(file, size));
  EXPECT_EQ(size.width, 4);

  // What portable code asks: only for files of no type of the program's own.
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, ".bmp,.jpg,.jpeg,.png");
  orv::PictureSize viaLoader;
  EXPECT_TRUE(orv::PluginHeaderSize(file, extensions, &host, viaLoader));
  EXPECT_EQ(viaLoader.width, 4);
  EXPECT_FALSE(orv::PluginHeaderSize(t.Write("p.jpg", OrvPicture(4, 6, kModeBottomUp)), extensions,
                                     &host, viaLoader));
}

TEST(SpiLib, LoadListFollowsTheFileTypeFlags) {
  TempFolder t;
  t.Copy(Plugin("orvtest"), "a.spi");
  t.Copy(Plugin("orvtwo"), "b.spi");
  t.Copy(Plugin("orvgreedy"), "c.spi");
  t.Copy(Plugin("orvtest"), "d.txt");
  tk::TStringList found;
  // The order flags are numbered by: the enumeration's.
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((t.Root() + "\\*").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do {
    const std::string n = data.cFileName;
    if (n.size() > 4 && n.substr(n.size() - 4) == ".spi") found.Add(t.Path(n));
  } while (FindNextFileA(h, &data));
  FindClose(h);
  ASSERT_EQ(found.Count(), 3);

  // Flags: BMP, JPEG, PNG, then the first two plug-in files; the second is
  // off, the third has no flag and counts as enabled.
  const std::vector<bool> stored{true, true, true, true, false};
  const auto enabled = [&](size_t i) { return i < stored.size() ? bool(stored[i]) : true; };
  const tk::TStringList list = orv::PlugInLoadList(t.Root(), enabled);
  EXPECT_EQ(list.Items(), Names({found[0], found[2]}));

  orv::TSpiLib32 host;
  host.LoadPlugInFromList(list);
  EXPECT_EQ(host.PicPlugIns().size(), 2u);

  EXPECT_TRUE(orv::PlugInLoadList(t.Path("missing"), enabled).Empty());
}

// ---- plug-ins that misbehave ----------------------------------------------
// (Plug-ins that fault end the decoder process they run in: tests/decoder.)

TEST(SpiLib, HandlesThatNameNoMemoryFailWithoutAFault) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  tk::TBitmap bmp;
  FillSentinel(bmp);
  EXPECT_THROW(host.LoadFromFile(t.Write("b.orv", OrvPicture(2, 2, kModeBadHandles)), bmp),
               tk::Exception);
  ExpectSentinel(bmp);
}

// GetPicture's answer decides who owns the blocks: on an error the plug-in
// may already have freed them, so the host neither reads nor frees them,
// whatever the handles say. Here they are whole and valid, so reading them
// would show a picture and freeing them would leave the plug-in's handles
// dead.
TEST(SpiLib, BlocksOfAFailedGetPictureAreNeitherUsedNorFreed) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  tk::TBitmap bmp;
  FillSentinel(bmp);
  ResetProbe(Plugin("orvtest"));
  EXPECT_THROW(host.LoadFromFile(t.Write("f.orv", OrvPicture(8, 8, kModeFailKeepBlocks)), bmp),
               tk::EAbort);
  ExpectSentinel(bmp);
  const OrvTestProbeData probe = Probe(Plugin("orvtest"));
  const HGLOBAL info = reinterpret_cast<HGLOBAL>(probe.keptInfo);
  const HGLOBAL pixels = reinterpret_cast<HGLOBAL>(probe.keptPixels);
  ASSERT_NE(info, nullptr);
  ASSERT_NE(pixels, nullptr);
  EXPECT_NE(GlobalFlags(info), GMEM_INVALID_HANDLE);
  EXPECT_NE(GlobalFlags(pixels), GMEM_INVALID_HANDLE);
  EXPECT_GE(GlobalSize(pixels), 8u * 8u * 3u);
  GlobalFree(info);
  GlobalFree(pixels);
}

// A decode that is no longer wanted ends with its decoder: the progress
// callback lets every plug-in run to the end.
TEST(SpiLib, TheProgressCallbackNeverStopsAPlugIn) {
  TempFolder t;
  orv::TSpiLib32 host;
  host.LoadPlugInFromList(List({Plugin("orvtest")}));
  const std::string path = t.Write("p.orv", OrvPicture(5, 40, kModeAskProgress));
  tk::TBitmap bmp;
  ResetProbe(Plugin("orvtest"));
  host.LoadFromFile(path, bmp);
  ExpectPicture(bmp, 5, 40);
  EXPECT_EQ(Probe(Plugin("orvtest")).progressCalls, 40);
  EXPECT_EQ(Probe(Plugin("orvtest")).stoppedByProgress, 0);
}

}  // namespace
