#include "imaging/SPILib.h"

#include <windows.h>
#include <xmmintrin.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/PlugInGuardWin32.h"
#include "imaging/PluginDib.h"
#include "toolkit/DecodeCancel.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Win32Handles.h"

namespace orv {

namespace {

// The plug-in entry points, exactly as the Susie interface declares them.
// The pointer-sized integers are DWORD and long in a 32-bit build, as the
// interface has them; a 64-bit build (tests only) passes whole addresses.
typedef int(__stdcall* GetPluginInfoProc)(int infono, char* buf, int buflen);
typedef int(__stdcall* IsSupportedProc)(char* filename, ULONG_PTR dw);
typedef int(__stdcall* GetPictureProc)(char* buf, LONG_PTR len, unsigned flag, HANDLE* pHBInfo,
                                       HANDLE* pHBm, FARPROC progress, LONG_PTR data);
typedef int(__stdcall* GetArchiveInfoProc)(char* buf, LONG_PTR len, unsigned flag, HLOCAL* lphInf);

// What GetPictureInfo fills in, packed to single bytes as the interface
// declares it. Its integers are the interface's 32-bit longs in either
// build (a 64-bit plug-in built from the same declaration has 32-bit longs
// too); only the text handle grows with the word size.
#pragma pack(push, 1)
struct SusiePictureInfo {
  int32_t left, top;  // where the picture lies on its page
  int32_t width, height;
  WORD xDensity, yDensity;
  int16_t colorDepth;  // bits per pixel
  HLOCAL hInfo;        // text about the picture, or null; the caller frees it
};
#pragma pack(pop)
static_assert(offsetof(SusiePictureInfo, width) == 8 && offsetof(SusiePictureInfo, height) == 12,
              "GetPictureInfo's size fields");
static_assert(offsetof(SusiePictureInfo, hInfo) == 22 &&
                  sizeof(SusiePictureInfo) == 22 + sizeof(HLOCAL),
              "GetPictureInfo's record is packed to single bytes");
typedef int(__stdcall* GetPictureInfoProc)(char* buf, LONG_PTR len, unsigned flag,
                                           SusiePictureInfo* lpInfo);

constexpr int kInfoBufferSize = 256;
constexpr size_t kBlockGranule = 8192;
constexpr size_t kArcRecordSize = 428;
constexpr size_t kArcNameOffset = 224;
constexpr size_t kArcNameSize = 200;
// Hidden files, volume labels and folders are what the mask read-only +
// system + archive (0x25) leaves out of a plug-in folder search.
constexpr DWORD kExcludedPlugInAttributes =
    FILE_ATTRIBUTE_HIDDEN | 0x08 /* volume label */ | FILE_ATTRIBUTE_DIRECTORY;

template <typename Proc>
Proc Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Plug-ins built with some compilers change the floating-point control
// state (unmasked exceptions, other precision or rounding) and leave it so;
// our own arithmetic would then trap or round differently. Every call into
// plug-in code, loading and unloading included, runs inside one of these.
class FloatingPointStateGuard {
 public:
  FloatingPointStateGuard() : mxcsr_(_mm_getcsr()) { __asm__ volatile("fnstcw %0" : "=m"(x87_)); }
  ~FloatingPointStateGuard() {
    // Exceptions the plug-in left pending would trap at our next x87
    // instruction once the saved mask is back.
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87_));
    _mm_setcsr(mxcsr_);
  }
  FloatingPointStateGuard(const FloatingPointStateGuard&) = delete;
  FloatingPointStateGuard& operator=(const FloatingPointStateGuard&) = delete;

 private:
  unsigned int mxcsr_;
  unsigned short x87_ = 0;
};

// The buffer is cleared before every call and terminated after it, so a
// plug-in that writes no zero byte cannot make us read past it. False when
// the plug-in faulted.
bool PluginInfo(GetPluginInfoProc proc, int number, char* buffer, std::string& text) {
  std::memset(buffer, 0, kInfoBufferSize);
  bool ok;
  {
    FloatingPointStateGuard fp;
    ok = Guarded([&] { proc(number, buffer, kInfoBufferSize - 1); });
  }
  buffer[kInfoBufferSize - 1] = '\0';
  text = buffer;
  return ok;
}

// A library that is missing a dependency must not make the system show a
// message box: the slideshow shows nothing. Its own DLLs beside it are
// found there, as a plug-in's author expects. Null also when its start-up
// code faulted (the loader itself handles that fault).
HMODULE LoadPlugInLibrary(const std::string& path) {
  FloatingPointStateGuard fp;
  const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = nullptr;
  const char* name = path.c_str();
  const bool ok = Guarded(
      [&] { module = LoadLibraryExA(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH); },
      GuardKind::kNoteOnly);
  SetErrorMode(old);
  // A library whose start-up code faulted is never called again, not even
  // to unload it.
  return ok ? module : nullptr;
}

// The file image handed to plug-ins: the data followed by zeros up to a
// multiple of 8,192 bytes, so at least 8 KiB are readable from its start.
class PaddedBlock {
 public:
  explicit PaddedBlock(int64_t length) {
    // GetPicture takes the length as a 32-bit long.
    if (length < 0 || uint64_t(length) > uint64_t(LONG_MAX) - kBlockGranule) {
      throw tk::EOutOfResources("Out of system resources");
    }
    const size_t size = (size_t(length) + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
    try {
      bytes_.assign(size, 0);
    } catch (const std::bad_alloc&) {
      throw tk::EOutOfResources("Out of system resources");
    }
    length_ = length;
  }
  uint8_t* Data() { return bytes_.data(); }
  int64_t Length() const { return length_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t length_ = 0;
};

PaddedBlock ReadWholeStream(tk::TStream& stream) {
  const int64_t size = stream.Size();
  PaddedBlock block(size);
  stream.SetPosition(0);
  if (size > 0) stream.ReadBuffer(block.Data(), static_cast<size_t>(size));
  return block;
}

// The absolute form of a path as the system resolves it; the name itself
// when the system cannot.
std::string FullPath(const std::string& fileName) {
  char buffer[MAX_PATH];
  const DWORD n = GetFullPathNameA(fileName.c_str(), MAX_PATH, buffer, nullptr);
  if (n == 0 || n >= MAX_PATH) return fileName;
  return std::string(buffer, n);
}

PaddedBlock ReadWholeFile(const std::string& fileName) {
  tk::TFileStream stream(fileName, tk::FileMode::OpenRead);
  return ReadWholeStream(stream);
}

// Paths of the "*.SPI" files of Folder, in search order.
tk::TStringList FindPlugInFiles(const std::string& folder) {
  tk::TStringList list;
  WIN32_FIND_DATAA data;
  tk::ScopedFindHandle find(FindFirstFileA((folder + "*.SPI").c_str(), &data));
  if (!find) return list;
  do {
    if (data.dwFileAttributes & kExcludedPlugInAttributes) continue;
    list.Add(folder + data.cFileName);
  } while (FindNextFileA(find.Get(), &data));
  return list;
}

// The progress callback plug-ins get: non-zero asks them to stop, which the
// show does when it is ending. It runs inside the plug-in's call, so it
// raises nothing.
int __stdcall PlugInProgress(int, int, LONG_PTR) { return tk::DecodeCancelled() ? 1 : 0; }

// How a plug-in's picture came across.
enum class Conversion { kDone, kRefused, kFaulted };

// The largest header, masks and colour table a plug-in may hand back: a
// BITMAPV5HEADER and 256 entries.
constexpr size_t kMaxHeaderBytes = 124 + 12 + 256 * 4;

// Copies the plug-in's picture into `target` by way of SetDIBits; `target`
// changes only when it is done. Every look at the plug-in's blocks (their
// locks, the header, the pixels GDI reads) runs guarded: the handles and
// what they hold are outside data.
Conversion ConvertPicture(HANDLE info, HANDLE pixels, tk::TBitmap& target) {
  if (!info || !pixels || info == pixels) return Conversion::kRefused;
  struct Blocks {
    HANDLE info, pixels;
    void* pixelData = nullptr;
    void* infoData = nullptr;
    SIZE_T infoSize = 0, pixelSize = 0;
    uint8_t header[kMaxHeaderBytes];
    size_t headerCopied = 0;
  } b{info, pixels, nullptr, nullptr, 0, 0, {}, 0};
  const bool locked = Guarded([&b] {
    b.pixelData = GlobalLock(b.pixels);
    if (!b.pixelData) return;
    b.infoData = GlobalLock(b.info);
    if (!b.infoData) return;
    b.infoSize = GlobalSize(b.info);
    b.pixelSize = GlobalSize(b.pixels);
    b.headerCopied = b.infoSize < kMaxHeaderBytes ? b.infoSize : kMaxHeaderBytes;
    std::memcpy(b.header, b.infoData, b.headerCopied);
  });
  auto unlock = [&b] {
    return Guarded([&b] {
      if (b.pixelData) GlobalUnlock(b.pixels);
      if (b.infoData) GlobalUnlock(b.info);
    });
  };
  if (!locked) return Conversion::kFaulted;
  if (!b.pixelData || !b.infoData) return unlock() ? Conversion::kRefused : Conversion::kFaulted;

  Conversion result = Conversion::kRefused;
  PluginDibLayout layout;
  if (CheckPluginDib(b.header, b.headerCopied, b.pixelSize, layout) == PluginDibError::kNone) {
    try {
      // GDI gets our checked copy of the header, with the colour count
      // clamped to what the bit depth can index.
      auto* bmi = reinterpret_cast<BITMAPINFO*>(b.header);
      if (layout.bitCount <= 8) bmi->bmiHeader.biClrUsed = layout.colors;
      // A fresh bitmap in the target's format and palette: the target only
      // changes once the whole picture has arrived.
      tk::TBitmap picture;
      picture.SetPalette(target.Palette());
      picture.Allocate(target.PixelFormat(), layout.width, layout.height);
      HDC dc = CreateCompatibleDC(nullptr);
      if (dc) {
        int lines = 0;
        const HBITMAP handle = static_cast<HBITMAP>(picture.Handle());
        const UINT height = static_cast<UINT>(layout.height);
        const void* pixelData = b.pixelData;
        const bool read = Guarded([&] {
          lines = SetDIBits(dc, handle, 0, height, pixelData, bmi, DIB_RGB_COLORS);
        });
        DeleteDC(dc);
        if (!read) {
          result = Conversion::kFaulted;
        } else if (lines > 0) {
          picture.Flush();
          picture.SetTransparent(target.Transparent());
          picture.SetTransparentColor(target.TransparentColor());
          target.Swap(picture);
          result = Conversion::kDone;
        }
      }
    } catch (const std::exception&) {
      result = Conversion::kRefused;
    }
  }
  if (!unlock()) result = Conversion::kFaulted;
  return result;
}

// What picture and archive plug-ins have in common; the library stays
// loaded for as long as its record lives.
// Plug-in code runs on unloading too (its DllMain).
struct PlugInModuleTraits : tk::UncountedTraits {
  static HMODULE Null() { return nullptr; }
  static void Close(HMODULE h) {
    FloatingPointStateGuard fp;
    Guarded([h] { FreeLibrary(h); }, GuardKind::kNoteOnly);
  }
};
using ScopedPlugInModule = tk::ScopedHandle<HMODULE, PlugInModuleTraits>;

struct PlugRecord {
  ScopedPlugInModule module;
  std::string folder;
  std::string name;
  std::string apiVersion;
  std::string filter;
  std::string typeName;
  GetPluginInfoProc getPluginInfo = nullptr;
  IsSupportedProc isSupported = nullptr;
  // Faulted in one of our calls: skipped from then on, and left loaded
  // (its unloading code is not trusted either).
  bool broken = false;
  PlugRecord() = default;
  PlugRecord(const PlugRecord&) = delete;
  PlugRecord& operator=(const PlugRecord&) = delete;

};

}  // namespace

struct TSpiLib32::TPicPlug : PlugRecord {
  GetPictureInfoProc getPictureInfo = nullptr;
  GetPictureProc getPicture = nullptr;
  FARPROC getPreview = nullptr;
  FARPROC configurationDlg = nullptr;
};

struct TSpiLib32::TArcPlug : PlugRecord {
  GetArchiveInfoProc getArchiveInfo = nullptr;
  FARPROC getFileInfo = nullptr;
  FARPROC getFile = nullptr;
  FARPROC configurationDlg = nullptr;
};

namespace {

// Loads the library at `path` into `plug` when it answers GetPluginInfo 0
// with exactly `version`, filling the four texts. On false the record's
// destructor unloads the library again.
template <typename Plug>
bool LoadPlugInInfo(Plug& plug, const std::string& path, const char* version, char* buffer) {
  plug.module.Reset(LoadPlugInLibrary(path));
  if (!plug.module) return false;
  plug.getPluginInfo = Lookup<GetPluginInfoProc>(plug.module.Get(), "GetPluginInfo");
  if (!plug.getPluginInfo) return false;
  std::string texts[5];
  const int numbers[5] = {0, 0, 1, 2, 3};
  for (int i = 0; i < 5; ++i) {
    if (!PluginInfo(plug.getPluginInfo, numbers[i], buffer, texts[i])) {
      // One that faulted is not even unloaded.
      plug.module.Release();
      return false;
    }
    if (i == 0 && texts[0] != version) return false;
  }
  plug.apiVersion = texts[1];
  plug.name = texts[2];
  plug.filter = texts[3];
  plug.typeName = texts[4];
  return true;
}

}  // namespace

TSpiLib32::TSpiLib32() = default;

TSpiLib32::~TSpiLib32() { FreePlugIn(); }

void TSpiLib32::LoadPlugInFromList(const tk::TStringList& List) {
  pfilter_.clear();
  char buffer[kInfoBufferSize];
  for (const std::string& path : List.Items()) {
    auto plug = std::make_unique<TPicPlug>();
    if (!LoadPlugInInfo(*plug, path, "00IN", buffer)) continue;
    plug->folder = tk::ExtractFilePath(path);
    plug->getPicture = Lookup<GetPictureProc>(plug->module.Get(), "GetPicture");
    plug->getPictureInfo = Lookup<GetPictureInfoProc>(plug->module.Get(), "GetPictureInfo");
    plug->getPreview = GetProcAddress(plug->module.Get(), "GetPreview");
    plug->isSupported = Lookup<IsSupportedProc>(plug->module.Get(), "IsSupported");
    plug->configurationDlg = GetProcAddress(plug->module.Get(), "ConfigurationDlg");
    pfilter_ += plug->filter + ";";
    pic_table_.push_back(std::move(plug));
  }
  ListPic(pic_plug_in_list_, false);
}

void TSpiLib32::LoadPlugIn(const std::string& Folder) {
  LoadPlugInFromList(FindPlugInFiles(Folder));
}

void TSpiLib32::LoadPlugInArc(const std::string& Folder) {
  afilter_.clear();
  char buffer[kInfoBufferSize];
  const tk::TStringList files = FindPlugInFiles(Folder);
  for (const std::string& path : files.Items()) {
    auto plug = std::make_unique<TArcPlug>();
    if (!LoadPlugInInfo(*plug, path, "00AM", buffer)) continue;
    plug->getArchiveInfo = Lookup<GetArchiveInfoProc>(plug->module.Get(), "GetArchiveInfo");
    plug->getFile = GetProcAddress(plug->module.Get(), "GetFile");
    plug->getFileInfo = GetProcAddress(plug->module.Get(), "GetFileInfo");
    plug->isSupported = Lookup<IsSupportedProc>(plug->module.Get(), "IsSupported");
    plug->configurationDlg = GetProcAddress(plug->module.Get(), "ConfigurationDlg");
    afilter_ += plug->filter + ";";
    arc_table_.push_back(std::move(plug));
  }
  ListArc(arc_plug_in_list_, false);
}

void TSpiLib32::FreePlugIn() {
  for (auto& plug : pic_table_) plug.reset();
  pic_table_.clear();
  for (auto& plug : arc_table_) plug.reset();
  arc_table_.clear();
}

void TSpiLib32::LoadFromFile(const std::string& FileName, tk::TBitmap& Bitmap) {
  PaddedBlock block = ReadWholeFile(FileName);
  // Plug-ins that look at the name or its extension get the full path.
  const std::string path = FullPath(FileName);
  DecodeBlock(block.Data(), block.Length(), path.c_str(), Bitmap);
}

void TSpiLib32::LoadFromBytes(const std::string& FileName, const std::vector<uint8_t>& Bytes,
                              tk::TBitmap& Bitmap) {
  if (Bytes.empty()) return;
  PaddedBlock block(static_cast<int64_t>(Bytes.size()));
  std::memcpy(block.Data(), Bytes.data(), Bytes.size());
  const std::string path = FullPath(FileName);
  DecodeBlock(block.Data(), block.Length(), path.c_str(), Bitmap);
}

void TSpiLib32::LoadFromStream(tk::TStream& Stream, tk::TBitmap& Bitmap) {
  PaddedBlock block = ReadWholeStream(Stream);
  DecodeBlock(block.Data(), block.Length(), nullptr, Bitmap);
}

void TSpiLib32::LoadFromMemory(const void* Buffer, int64_t Length, tk::TBitmap& Bitmap) {
  if (!Buffer || Length <= 0) return;
  // The caller's buffer may end right after the data; plug-ins get a copy
  // with the read-ahead room they are promised.
  PaddedBlock block(Length);
  std::memcpy(block.Data(), Buffer, static_cast<size_t>(Length));
  DecodeBlock(block.Data(), block.Length(), nullptr, Bitmap);
}

TSpiLib32::TPicPlug* TSpiLib32::ChoosePicPlug(char* image, char* name) {
  TPicPlug* faulted = nullptr;
  for (auto& plug : pic_table_) {
    if (plug->broken || !plug->isSupported || !plug->getPicture) continue;
    IsSupportedProc isSupported = plug->isSupported;
    int answer = 0;
    bool ok;
    {
      FloatingPointStateGuard fp;
      ok = Guarded([&] { answer = isSupported(name, reinterpret_cast<ULONG_PTR>(image)); });
    }
    if (!ok) {
      // The others may still read the file.
      plug->broken = true;
      if (!faulted) faulted = plug.get();
      continue;
    }
    if (answer) return plug.get();
  }
  if (faulted) throw EPlugInFault(faulted->name);
  return nullptr;
}

void TSpiLib32::DecodeBlock(uint8_t* block, int64_t length, const char* fileName,
                            tk::TBitmap& Bitmap) {
  if (length <= 0) return;
  char* image = reinterpret_cast<char*>(block);
  // The interface takes a writable name; plug-ins get their own copy.
  std::vector<char> name;
  if (fileName) name.assign(fileName, fileName + std::strlen(fileName) + 1);
  TPicPlug* chosen = ChoosePicPlug(image, name.empty() ? nullptr : name.data());
  if (!chosen) return;

  HANDLE info = nullptr;
  HANDLE pixels = nullptr;
  int code = 0;
  bool ok;
  {
    FloatingPointStateGuard fp;
    GetPictureProc getPicture = chosen->getPicture;
    ok = Guarded([&] {
      code = getPicture(image, static_cast<LONG_PTR>(length), 1, &info, &pixels,
                        reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&PlugInProgress)), 0);
    });
  }
  // A plug-in that faulted may have left anything in the handle variables:
  // they are not touched.
  if (!ok) {
    chosen->broken = true;
    throw EPlugInFault(chosen->name);
  }
  // The blocks are ours only when the plug-in says it succeeded. One that
  // failed or was stopped may have freed them already and left the handles
  // set: using or freeing them then would free them twice. A plug-in that
  // keeps them on failure leaks them, which is the lesser harm.
  if (code != 0) tk::Abort();
  const Conversion result = tk::DecodeCancelled() ? Conversion::kRefused
                                                  : ConvertPicture(info, pixels, Bitmap);
  if (result == Conversion::kFaulted) {
    chosen->broken = true;
    throw EPlugInFault(chosen->name);
  }
  const bool freed = Guarded([&] {
    if (pixels) GlobalFree(pixels);
    // The same block handed back twice is freed once.
    if (info && info != pixels) GlobalFree(info);
  });
  if (!freed) {
    chosen->broken = true;
    throw EPlugInFault(chosen->name);
  }
  if (result != Conversion::kDone) tk::Abort();
}

bool TSpiLib32::SizeFromHeader(const std::string& FileName, PictureSize& Size) {
  // The plug-in is chosen from exactly what a decode of the file gives
  // IsSupported, so the one that answers is the one that would decode.
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return false;
  const std::string path = FullPath(FileName);
  std::vector<char> name(path.c_str(), path.c_str() + path.size() + 1);
  char* image = reinterpret_cast<char*>(block.Data());
  TPicPlug* chosen = ChoosePicPlug(image, name.data());
  if (!chosen || !chosen->getPictureInfo) return false;

  // A plug-in built without the packing writes a few bytes further than
  // the record; they land in the slack.
  struct {
    SusiePictureInfo info;
    uint8_t slack[16];
  } record;
  std::memset(&record, 0, sizeof record);
  const SusiePictureInfo& info = record.info;
  int code = 0;
  bool ok;
  {
    // Flag 1: the image in memory, as GetPicture gets it.
    FloatingPointStateGuard fp;
    GetPictureInfoProc getPictureInfo = chosen->getPictureInfo;
    const LONG_PTR length = static_cast<LONG_PTR>(block.Length());
    SusiePictureInfo* out = &record.info;
    ok = Guarded([&] { code = getPictureInfo(image, length, 1, out); });
  }
  if (!ok) {
    chosen->broken = true;
    throw EPlugInFault(chosen->name);
  }
  // As with GetPicture's blocks, the text block is ours only when the
  // plug-in says it succeeded.
  if (code != 0) return false;
  if (info.hInfo) {
    const HLOCAL text = info.hInfo;
    if (!Guarded([text] { LocalFree(text); })) {
      chosen->broken = true;
      throw EPlugInFault(chosen->name);
    }
  }
  if (info.width <= 0 || info.height <= 0) return false;
  Size = PictureSize{info.width, info.height};
  return true;
}

bool TSpiLib32::SupportArcFile(const std::string& FileName) {
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return false;
  const ULONG_PTR image = reinterpret_cast<ULONG_PTR>(block.Data());
  for (auto& plug : arc_table_) {
    if (plug->broken || !plug->isSupported) continue;
    IsSupportedProc isSupported = plug->isSupported;
    int answer = 0;
    FloatingPointStateGuard fp;
    if (!Guarded([&] { answer = isSupported(nullptr, image); })) {
      plug->broken = true;
      continue;
    }
    if (answer) return true;
  }
  return false;
}

void TSpiLib32::ArcFileList(const std::string& FileName, tk::TStringList& Strings) {
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return;
  char* image = reinterpret_cast<char*>(block.Data());
  TArcPlug* chosen = nullptr;
  for (auto& plug : arc_table_) {
    if (plug->broken || !plug->isSupported || !plug->getArchiveInfo) continue;
    IsSupportedProc isSupported = plug->isSupported;
    int answer = 0;
    FloatingPointStateGuard fp;
    if (!Guarded([&] { answer = isSupported(nullptr, reinterpret_cast<ULONG_PTR>(image)); })) {
      plug->broken = true;
      continue;
    }
    if (answer) {
      chosen = plug.get();
      break;
    }
  }
  if (!chosen) return;

  HLOCAL list = nullptr;
  bool ok;
  {
    // Flag 1: the buffer is the archive's image in memory (0 would make
    // the plug-in take it for a file name).
    FloatingPointStateGuard fp;
    GetArchiveInfoProc getArchiveInfo = chosen->getArchiveInfo;
    const LONG_PTR size = static_cast<LONG_PTR>(block.Length());
    ok = Guarded([&] { getArchiveInfo(image, size, 1, &list); });
  }
  if (!ok) {
    chosen->broken = true;
    return;
  }
  if (!list) return;
  // The records are copied out under the guard, then listed.
  struct Listing {
    HLOCAL list;
    std::vector<char>* names;  // reserved before, so no allocation inside
    size_t count = 0;
  };
  SIZE_T size = 0;
  if (!Guarded([&] { size = LocalSize(list); })) {
    chosen->broken = true;
    return;
  }
  const size_t count = size / kArcRecordSize;
  std::vector<char> names(count * (kArcNameSize + 1), '\0');
  Listing l{list, &names, 0};
  ok = Guarded([&l, count] {
    if (const uint8_t* records = static_cast<const uint8_t*>(LocalLock(l.list))) {
      // Only whole records inside the block are read.
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* record = records + i * kArcRecordSize;
        if (record[0] == 0) break;
        std::memcpy(l.names->data() + i * (kArcNameSize + 1), record + kArcNameOffset,
                    kArcNameSize);
        l.count = i + 1;
      }
      LocalUnlock(l.list);
    }
    LocalFree(l.list);
  });
  if (!ok) {
    chosen->broken = true;
    return;
  }
  for (size_t i = 0; i < l.count; ++i) {
    const char* n = names.data() + i * (kArcNameSize + 1);
    Strings.Add(std::string(n, strnlen(n, kArcNameSize)));
  }
}

void TSpiLib32::ListPic(tk::TStringList& Strings, bool Clear) const {
  if (Clear) Strings.Clear();
  for (const auto& plug : pic_table_) Strings.Add(plug->name);
}

void TSpiLib32::ListArc(tk::TStringList& Strings, bool Clear) const {
  if (Clear) Strings.Clear();
  for (const auto& plug : arc_table_) Strings.Add(plug->name);
}

std::vector<TSpiLib32::PlugInfo> TSpiLib32::PicPlugIns() const {
  std::vector<PlugInfo> out;
  for (const auto& p : pic_table_) {
    out.push_back({p->folder, p->name, p->apiVersion, p->filter, p->typeName});
  }
  return out;
}

std::vector<TSpiLib32::PlugInfo> TSpiLib32::ArcPlugIns() const {
  std::vector<PlugInfo> out;
  for (const auto& p : arc_table_) {
    out.push_back({p->folder, p->name, p->apiVersion, p->filter, p->typeName});
  }
  return out;
}

tk::TStringList PlugInFilesIn(const std::string& folder) {
  // Byte tests would take the second byte of a Shift-JIS character such as
  // "表" for a backslash; ExtractFilePath walks the text by characters.
  std::string withDelimiter = folder;
  if (!folder.empty() && tk::ExtractFilePath(folder + "x") != folder) withDelimiter += '\\';
  return FindPlugInFiles(withDelimiter);
}

}  // namespace orv
