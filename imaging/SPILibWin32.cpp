#include "imaging/SPILib.h"

#include <windows.h>
#include <xmmintrin.h>

#include <climits>
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
// plug-in that writes no zero byte cannot make us read past it.
std::string PluginInfo(GetPluginInfoProc proc, int number, char* buffer) {
  std::memset(buffer, 0, kInfoBufferSize);
  {
    FloatingPointStateGuard fp;
    proc(number, buffer, kInfoBufferSize - 1);
  }
  buffer[kInfoBufferSize - 1] = '\0';
  return std::string(buffer);
}

// A library that is missing a dependency must not make the system show a
// message box: the slideshow shows nothing. Its own DLLs beside it are
// found there, as a plug-in's author expects.
HMODULE LoadPlugInLibrary(const std::string& path) {
  FloatingPointStateGuard fp;
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

// Copies the plug-in's picture into `target` by way of SetDIBits. Returns
// false, leaving `target` as it was, when the blocks cannot be locked, do
// not hold what the header says, or GDI refuses them.
bool ConvertPicture(HANDLE info, HANDLE pixels, tk::TBitmap& target) {
  if (!info || !pixels || info == pixels) return false;
  void* pixelData = GlobalLock(pixels);
  if (!pixelData) return false;
  void* infoData = GlobalLock(info);
  if (!infoData) {
    GlobalUnlock(pixels);
    return false;
  }
  bool ok = false;
  PluginDibLayout layout;
  if (CheckPluginDib(infoData, GlobalSize(info), GlobalSize(pixels), layout) ==
      PluginDibError::kNone) {
    try {
      // GDI gets our checked copy of the header, with the colour count
      // clamped to what the bit depth can index.
      std::vector<uint8_t> header(static_cast<const uint8_t*>(infoData),
                                  static_cast<const uint8_t*>(infoData) + layout.headerBytes);
      auto* bmi = reinterpret_cast<BITMAPINFO*>(header.data());
      if (layout.bitCount <= 8) bmi->bmiHeader.biClrUsed = layout.colors;
      // A fresh bitmap in the target's format and palette: the target only
      // changes once the whole picture has arrived.
      tk::TBitmap picture;
      picture.SetPalette(target.Palette());
      picture.Allocate(target.PixelFormat(), layout.width, layout.height);
      HDC dc = CreateCompatibleDC(nullptr);
      if (dc) {
        const int lines = SetDIBits(dc, static_cast<HBITMAP>(picture.Handle()), 0,
                                    static_cast<UINT>(layout.height), pixelData, bmi,
                                    DIB_RGB_COLORS);
        DeleteDC(dc);
        if (lines > 0) {
          picture.Flush();
          picture.SetTransparent(target.Transparent());
          picture.SetTransparentColor(target.TransparentColor());
          target.Swap(picture);
          ok = true;
        }
      }
    } catch (const std::exception&) {
      ok = false;
    }
  }
  GlobalUnlock(pixels);
  GlobalUnlock(info);
  return ok;
}

// What picture and archive plug-ins have in common; the library stays
// loaded for as long as its record lives.
// Plug-in code runs on unloading too (its DllMain).
struct PlugInModuleTraits : tk::UncountedTraits {
  static HMODULE Null() { return nullptr; }
  static void Close(HMODULE h) {
    FloatingPointStateGuard fp;
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
  PlugRecord() = default;
  PlugRecord(const PlugRecord&) = delete;
  PlugRecord& operator=(const PlugRecord&) = delete;

};

}  // namespace

struct TSpiLib32::TPicPlug : PlugRecord {
  FARPROC getPictureInfo = nullptr;
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
  if (PluginInfo(plug.getPluginInfo, 0, buffer) != version) return false;
  plug.apiVersion = PluginInfo(plug.getPluginInfo, 0, buffer);
  plug.name = PluginInfo(plug.getPluginInfo, 1, buffer);
  plug.filter = PluginInfo(plug.getPluginInfo, 2, buffer);
  plug.typeName = PluginInfo(plug.getPluginInfo, 3, buffer);
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
    plug->getPictureInfo = GetProcAddress(plug->module.Get(), "GetPictureInfo");
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

void TSpiLib32::DecodeBlock(uint8_t* block, int64_t length, const char* fileName,
                            tk::TBitmap& Bitmap) {
  if (length <= 0) return;
  char* image = reinterpret_cast<char*>(block);
  // The interface takes a writable name; plug-ins get their own copy.
  std::vector<char> name;
  if (fileName) name.assign(fileName, fileName + std::strlen(fileName) + 1);
  TPicPlug* chosen = nullptr;
  for (auto& plug : pic_table_) {
    if (!plug->isSupported || !plug->getPicture) continue;
    FloatingPointStateGuard fp;
    if (plug->isSupported(name.empty() ? nullptr : name.data(),
                          reinterpret_cast<ULONG_PTR>(image))) {
      chosen = plug.get();
      break;
    }
  }
  if (!chosen) return;

  HANDLE info = nullptr;
  HANDLE pixels = nullptr;
  {
    FloatingPointStateGuard fp;
    chosen->getPicture(image, static_cast<LONG_PTR>(length), 1, &info, &pixels, nullptr, 0);
  }
  const bool ok = ConvertPicture(info, pixels, Bitmap);
  if (pixels) GlobalFree(pixels);
  // The same block handed back twice is freed once.
  if (info && info != pixels) GlobalFree(info);
  if (!ok) tk::Abort();
}

bool TSpiLib32::SupportArcFile(const std::string& FileName) {
  PaddedBlock block = ReadWholeFile(FileName);
  if (block.Length() <= 0) return false;
  const ULONG_PTR image = reinterpret_cast<ULONG_PTR>(block.Data());
  for (auto& plug : arc_table_) {
    if (!plug->isSupported) continue;
    FloatingPointStateGuard fp;
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
    FloatingPointStateGuard fp;
    if (plug->isSupported(nullptr, reinterpret_cast<ULONG_PTR>(image))) {
      chosen = plug.get();
      break;
    }
  }
  if (!chosen) return;

  HLOCAL list = nullptr;
  {
    // Flag 1: the buffer is the archive's image in memory (0 would make
    // the plug-in take it for a file name).
    FloatingPointStateGuard fp;
    chosen->getArchiveInfo(image, static_cast<LONG_PTR>(block.Length()), 1, &list);
  }
  if (!list) return;
  const uint8_t* records = static_cast<const uint8_t*>(LocalLock(list));
  if (records) {
    // Only whole records inside the block are read.
    const size_t count = LocalSize(list) / kArcRecordSize;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* record = records + i * kArcRecordSize;
      if (record[0] == 0) break;
      const char* name = reinterpret_cast<const char*>(record + kArcNameOffset);
      Strings.Add(std::string(name, strnlen(name, kArcNameSize)));
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

std::unique_ptr<IPluginDecoder> MakePluginDecoder(const std::string& folder) {
  auto host = std::make_unique<TSpiLib32>();
  // Byte tests would take the second byte of a Shift-JIS character such as
  // "表" for a backslash; ExtractFilePath walks the text by characters.
  std::string withDelimiter = folder;
  if (!folder.empty() && tk::ExtractFilePath(folder + "x") != folder) withDelimiter += '\\';
  host->LoadPlugIn(withDelimiter);
  return host;
}

}  // namespace orv
