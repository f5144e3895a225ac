#include "imaging/SPILib.h"

#include <windows.h>
#include <xmmintrin.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/PluginDib.h"
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

volatile LONG* g_watch = nullptr;

// Every call into plug-in code, loading and unloading included, runs inside
// one of these. Plug-ins built with some compilers change the
// floating-point control state (unmasked exceptions, other precision or
// rounding) and leave it so; our own arithmetic would then trap or round
// differently. Where the calls are watched, the slot names the plug-in for
// as long as its code runs.
class PlugInCall {
 public:
  explicit PlugInCall(int place) : mxcsr_(_mm_getcsr()) {
    __asm__ volatile("fnstcw %0" : "=m"(x87_));
    if (g_watch) InterlockedExchange(g_watch, LONG(place + 1));
  }
  ~PlugInCall() {
    if (g_watch) InterlockedExchange(g_watch, 0);
    // Exceptions the plug-in left pending would trap at our next x87
    // instruction once the saved mask is back.
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87_));
    _mm_setcsr(mxcsr_);
  }
  PlugInCall(const PlugInCall&) = delete;
  PlugInCall& operator=(const PlugInCall&) = delete;

 private:
  unsigned int mxcsr_;
  unsigned short x87_ = 0;
};

// The buffer is cleared before every call and terminated after it, so a
// plug-in that writes no zero byte cannot make us read past it.
void PluginInfo(GetPluginInfoProc proc, int place, int number, char* buffer, std::string& text) {
  std::memset(buffer, 0, kInfoBufferSize);
  {
    PlugInCall call(place);
    proc(number, buffer, kInfoBufferSize - 1);
  }
  buffer[kInfoBufferSize - 1] = '\0';
  text = buffer;
}

// A library that is missing a dependency must not make the system show a
// message box: the slideshow shows nothing. Its own DLLs beside it are
// found there, as a plug-in's author expects.
HMODULE LoadPlugInLibrary(const std::string& path, int place) {
  PlugInCall call(place);
  const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  SetErrorMode(old);
  return module;
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

// The progress callback plug-ins get: never a request to stop, since a
// decode that is no longer wanted ends with its process.
int __stdcall PlugInProgress(int, int, LONG_PTR) { return 0; }

// The largest header, masks and colour table a plug-in may hand back: a
// BITMAPV5HEADER and 256 entries.
constexpr size_t kMaxHeaderBytes = 124 + 12 + 256 * 4;

// Copies the plug-in's picture into `target` by way of SetDIBits; `target`
// changes only when it is done (true). The handles and what they hold are the
// plug-in's data, checked before GDI reads them.
bool ConvertPicture(HANDLE info, HANDLE pixels, tk::TBitmap& target) {
  if (!info || !pixels || info == pixels) return false;
  void* pixelData = GlobalLock(pixels);
  void* infoData = pixelData ? GlobalLock(info) : nullptr;
  bool done = false;
  if (pixelData && infoData) {
    const SIZE_T infoSize = GlobalSize(info), pixelSize = GlobalSize(pixels);
    uint8_t header[kMaxHeaderBytes];
    const size_t headerCopied = infoSize < kMaxHeaderBytes ? infoSize : kMaxHeaderBytes;
    std::memcpy(header, infoData, headerCopied);
    PluginDibLayout layout;
    if (CheckPluginDib(header, headerCopied, pixelSize, layout) == PluginDibError::kNone) {
      try {
        // GDI gets our checked copy of the header, with the colour count
        // clamped to what the bit depth can index.
        auto* bmi = reinterpret_cast<BITMAPINFO*>(header);
        if (layout.bitCount <= 8) bmi->bmiHeader.biClrUsed = layout.colors;
        // A fresh bitmap in the target's format and palette: the target
        // only changes once the whole picture has arrived.
        tk::TBitmap picture;
        picture.SetPalette(target.Palette());
        picture.Allocate(target.PixelFormat(), layout.width, layout.height);
        if (HDC dc = CreateCompatibleDC(nullptr)) {
          const int lines = SetDIBits(dc, static_cast<HBITMAP>(picture.Handle()), 0,
                                      static_cast<UINT>(layout.height), pixelData, bmi,
                                      DIB_RGB_COLORS);
          DeleteDC(dc);
          if (lines > 0) {
            picture.Flush();
            picture.SetTransparent(target.Transparent());
            picture.SetTransparentColor(target.TransparentColor());
            target.Swap(picture);
            done = true;
          }
        }
      } catch (const std::exception&) {
        // No memory for the copy: refused, the target as it was.
      }
    }
  }
  if (infoData) GlobalUnlock(info);
  if (pixelData) GlobalUnlock(pixels);
  return done;
}

// What picture and archive plug-ins have in common; the library stays
// loaded for as long as its record lives.
// Plug-in code runs on unloading too (its DllMain).
struct PlugInModuleTraits : tk::UncountedTraits {
  static HMODULE Null() { return nullptr; }
  static void Close(HMODULE h) {
    PlugInCall call(-1);
    FreeLibrary(h);
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
  // Its line in the list it was loaded from: what the watch slot names.
  int place = -1;
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
bool LoadPlugInInfo(Plug& plug, const std::string& path, int place, const char* version,
                    char* buffer) {
  plug.place = place;
  plug.module.Reset(LoadPlugInLibrary(path, place));
  if (!plug.module) return false;
  plug.getPluginInfo = Lookup<GetPluginInfoProc>(plug.module.Get(), "GetPluginInfo");
  if (!plug.getPluginInfo) return false;
  std::string texts[5];
  const int numbers[5] = {0, 0, 1, 2, 3};
  for (int i = 0; i < 5; ++i) {
    PluginInfo(plug.getPluginInfo, place, numbers[i], buffer, texts[i]);
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
  int place = 0;
  for (const std::string& path : List.Items()) {
    auto plug = std::make_unique<TPicPlug>();
    if (!LoadPlugInInfo(*plug, path, place++, "00IN", buffer)) continue;
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
  int place = 0;
  for (const std::string& path : files.Items()) {
    auto plug = std::make_unique<TArcPlug>();
    if (!LoadPlugInInfo(*plug, path, place++, "00AM", buffer)) continue;
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
  for (auto& plug : pic_table_) {
    if (!plug->isSupported || !plug->getPicture) continue;
    int answer = 0;
    {
      PlugInCall call(plug->place);
      answer = plug->isSupported(name, reinterpret_cast<ULONG_PTR>(image));
    }
    if (answer) return plug.get();
  }
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
  {
    PlugInCall call(chosen->place);
    code = chosen->getPicture(image, static_cast<LONG_PTR>(length), 1, &info, &pixels,
                              reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&PlugInProgress)),
                              0);
  }
  // The blocks are ours only when the plug-in says it succeeded. One that
  // failed may have freed them already and left the handles set: using or
  // freeing them then would free them twice. A plug-in that keeps them on
  // failure leaks them, which is the lesser harm.
  if (code != 0) tk::Abort();
  bool converted;
  {
    // Its blocks may not be what it says they are.
    PlugInCall call(chosen->place);
    converted = ConvertPicture(info, pixels, Bitmap);
    if (pixels) GlobalFree(pixels);
    // The same block handed back twice is freed once.
    if (info && info != pixels) GlobalFree(info);
  }
  if (!converted) tk::Abort();
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
  {
    // Flag 1: the image in memory, as GetPicture gets it.
    PlugInCall call(chosen->place);
    code = chosen->getPictureInfo(image, static_cast<LONG_PTR>(block.Length()), 1, &record.info);
    // As with GetPicture's blocks, the text block is ours only when the
    // plug-in says it succeeded.
    if (code == 0 && info.hInfo) LocalFree(info.hInfo);
  }
  if (code != 0 || info.width <= 0 || info.height <= 0) return false;
  Size = PictureSize{info.width, info.height};
  return true;
}

bool TSpiLib32::SupportArcFile(const std::string& FileName) {
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return false;
  const ULONG_PTR image = reinterpret_cast<ULONG_PTR>(block.Data());
  for (auto& plug : arc_table_) {
    if (!plug->isSupported) continue;
    PlugInCall call(plug->place);
    if (plug->isSupported(nullptr, image)) return true;
  }
  return false;
}

void TSpiLib32::ArcFileList(const std::string& FileName, tk::TStringList& Strings) {
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return;
  char* image = reinterpret_cast<char*>(block.Data());
  TArcPlug* chosen = nullptr;
  for (auto& plug : arc_table_) {
    if (!plug->isSupported || !plug->getArchiveInfo) continue;
    PlugInCall call(plug->place);
    if (plug->isSupported(nullptr, reinterpret_cast<ULONG_PTR>(image))) {
      chosen = plug.get();
      break;
    }
  }
  if (!chosen) return;

  PlugInCall call(chosen->place);
  HLOCAL list = nullptr;
  // Flag 1: the buffer is the archive's image in memory (0 would make the
  // plug-in take it for a file name).
  chosen->getArchiveInfo(image, static_cast<LONG_PTR>(block.Length()), 1, &list);
  if (!list) return;
  const size_t count = LocalSize(list) / kArcRecordSize;
  if (const uint8_t* records = static_cast<const uint8_t*>(LocalLock(list))) {
    // Only whole records inside the block are read.
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* record = records + i * kArcRecordSize;
      if (record[0] == 0) break;
      const char* n = reinterpret_cast<const char*>(record + kArcNameOffset);
      Strings.Add(std::string(n, strnlen(n, kArcNameSize)));
    }
    LocalUnlock(list);
  }
  LocalFree(list);
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

void WatchPlugInCalls(volatile long* slot) { g_watch = reinterpret_cast<volatile LONG*>(slot); }

tk::TStringList PlugInFilesIn(const std::string& folder) {
  // Byte tests would take the second byte of a Shift-JIS character such as
  // "表" for a backslash; ExtractFilePath walks the text by characters.
  std::string withDelimiter = folder;
  if (!folder.empty() && tk::ExtractFilePath(folder + "x") != folder) withDelimiter += '\\';
  return FindPlugInFiles(withDelimiter);
}

}  // namespace orv
