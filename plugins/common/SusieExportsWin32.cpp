// The Susie picture plug-in entry points ("00IN") shared by our plug-ins:
// each plug-in supplies kSusieFormat, these turn it into the interface.
// Nothing here lets an exception or a bad file out: every failure is one of
// the interface's result codes.
#include <windows.h>

#include <cstring>
#include <new>
#include <vector>

#include "plugins/common/SusiePlugin.h"

using orvspi::SpiResult;

namespace {

// IsSupported gets at least this much of a file, as the interface promises.
constexpr DWORD kSniffBytes = 2048;
// Files are read whole; one larger than this could not give a picture the
// host takes anyway.
constexpr LONGLONG kMaxFileBytes = LONGLONG(1) << 30;

int Code(SpiResult r) { return static_cast<int>(r); }

// The interface's progress callback: non-zero asks the plug-in to stop.
// The libraries decode in one call, so it is asked before and after.
typedef int(__stdcall* ProgressProc)(int num, int denom, LONG_PTR data);

struct Progress {
  FARPROC proc;
  LONG_PTR data;
  bool Stop(int num) const {
    return proc && reinterpret_cast<ProgressProc>(reinterpret_cast<void*>(proc))(num, 1, data) != 0;
  }
};

// Pixels in a movable block, locked while the decoder writes them.
class GlobalDib : public orvspi::DibTarget {
 public:
  ~GlobalDib() override {
    if (block_) {
      if (bits_) GlobalUnlock(block_);
      GlobalFree(block_);
    }
  }
  uint8_t* Allocate(const orvspi::DibLayout& layout) override {
    if (block_) return nullptr;
    block_ = GlobalAlloc(GMEM_MOVEABLE, layout.pixelBytes);
    if (!block_) return nullptr;
    bits_ = static_cast<uint8_t*>(GlobalLock(block_));
    if (!bits_) return nullptr;
    layout_ = layout;
    return bits_;
  }
  // Hands the block over, unlocked; null when nothing was allocated.
  HGLOBAL Release() {
    if (bits_) GlobalUnlock(block_);
    bits_ = nullptr;
    HGLOBAL b = block_;
    block_ = nullptr;
    return b;
  }
  const orvspi::DibLayout& Layout() const { return layout_; }

 private:
  HGLOBAL block_ = nullptr;
  uint8_t* bits_ = nullptr;
  orvspi::DibLayout layout_;
};

HGLOBAL MakeInfoBlock(const orvspi::DibLayout& layout) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(BITMAPINFOHEADER));
  if (!block) return nullptr;
  auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
  if (!h) {
    GlobalFree(block);
    return nullptr;
  }
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = layout.width;
  h->biHeight = layout.height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<WORD>(layout.bitCount);
  h->biCompression = BI_RGB;
  h->biSizeImage = static_cast<DWORD>(layout.pixelBytes);
  GlobalUnlock(block);
  return block;
}

// The open file `name` as a ByteSource, from `offset` on (where the host
// says the picture begins).
class FileSource : public orvspi::ByteSource {
 public:
  FileSource(const char* name, LONGLONG offset) : offset_(offset) {
    file_ = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    sized_ = file_ != INVALID_HANDLE_VALUE && offset >= 0 && GetFileSizeEx(file_, &size) &&
             size.QuadPart >= offset;
    if (sized_) size_ = uint64_t(size.QuadPart - offset);
  }
  ~FileSource() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  // The file is open and the picture's offset lies within it.
  bool Opened() const { return sized_; }
  uint64_t Size() const override { return size_; }
  bool Read(uint64_t offset, size_t n, uint8_t* out) override {
    if (!Opened() || offset > size_ || n > size_ - offset || n > 0x7FFFFFFF) return false;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset) + offset_;
    DWORD got = 0;
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
           (n == 0 || (ReadFile(file_, out, DWORD(n), &got, nullptr) && got == n));
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  LONGLONG offset_;
  bool sized_ = false;
  uint64_t size_ = 0;
};

// The picture's bytes, the whole file from its offset on; false when it
// cannot be read or is too large.
bool ReadWhole(FileSource& file, std::vector<uint8_t>& out) {
  if (!file.Opened() || file.Size() > uint64_t(kMaxFileBytes)) return false;
  out.resize(size_t(file.Size()));
  return file.Read(0, out.size(), out.data());
}

// Runs an entry point's body: nothing it throws leaves the plug-in.
template <typename Body>
int Caught(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Code(SpiResult::kNoMemory);
  } catch (...) {
    return Code(SpiResult::kInternalError);
  }
}

#pragma pack(push, 1)
// The interface's picture facts, as every Susie host lays them out.
struct PictureInfo {
  long left, top;
  long width, height;
  WORD x_density, y_density;
  short colorDepth;
  HLOCAL hInfo;
};
#pragma pack(pop)

int InfoFrom(orvspi::ByteSource& src, PictureInfo* info) {
  uint8_t head[kSniffBytes];
  const size_t n = size_t(src.Size() < kSniffBytes ? src.Size() : kSniffBytes);
  if (!src.Read(0, n, head) || !orvspi::kSusieFormat.sniff(head, n))
    return Code(SpiResult::kUnknownFormat);
  orvspi::PictureFacts facts;
  const SpiResult r = orvspi::kSusieFormat.info(src, facts);
  if (r != SpiResult::kOk) return Code(r);
  std::memset(info, 0, sizeof(*info));
  info->width = facts.width;
  info->height = facts.height;
  info->colorDepth = short(facts.alpha ? 32 : 24);
  return Code(SpiResult::kOk);
}

int DecodeToHandles(const uint8_t* data, size_t size, const Progress& progress, HANDLE* pHBInfo,
                    HANDLE* pHBm) {
  if (!orvspi::kSusieFormat.sniff(data, size)) return Code(SpiResult::kUnknownFormat);
  if (progress.Stop(0)) return Code(SpiResult::kAborted);
  GlobalDib pixels;
  const SpiResult r = orvspi::kSusieFormat.decode(data, size, pixels);
  if (r != SpiResult::kOk) return Code(r);
  if (progress.Stop(1)) return Code(SpiResult::kAborted);
  HGLOBAL info = MakeInfoBlock(pixels.Layout());
  if (!info) return Code(SpiResult::kNoMemory);
  *pHBInfo = info;
  *pHBm = pixels.Release();
  return Code(SpiResult::kOk);
}

}  // namespace

extern "C" {

__declspec(dllexport) int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
  return orvspi::CopyInfoText(orvspi::PluginInfoText(orvspi::kSusieFormat, infono), buf, buflen);
}

// `dw` is the address of the file's first bytes, or (when its upper bits
// are zero) a handle of the open file.
__declspec(dllexport) int __stdcall IsSupported(LPCSTR filename, ULONG_PTR dw) {
  (void)filename;
  try {
    if ((dw & ~ULONG_PTR(0xFFFF)) != 0) {
      return orvspi::kSusieFormat.sniff(reinterpret_cast<const uint8_t*>(dw), kSniffBytes) ? 1 : 0;
    }
    uint8_t head[kSniffBytes];
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(dw), head, kSniffBytes, &got, nullptr)) return 0;
    return orvspi::kSusieFormat.sniff(head, got) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// From the file's header alone: our plug-ins never decode to answer it.
// flag bits 0-2 as for GetPicture.
__declspec(dllexport) int __stdcall GetPictureInfo(LPCSTR buf, LONG_PTR len, unsigned flag,
                                                   PictureInfo* lpInfo) {
  if (!buf || !lpInfo) return Code(SpiResult::kInternalError);
  return Caught([&] {
    switch (flag & 7) {
      case 0: {
        FileSource file(buf, len);
        if (!file.Opened()) return Code(SpiResult::kFileReadError);
        return InfoFrom(file, lpInfo);
      }
      case 1: {
        if (len <= 0) return Code(SpiResult::kBrokenData);
        orvspi::MemorySource memory(reinterpret_cast<const uint8_t*>(buf), size_t(len));
        return InfoFrom(memory, lpInfo);
      }
      default:
        return Code(SpiResult::kNotImplemented);
    }
  });
}

// flag bits 0-2: 0 `buf` names a file and `len` is the offset of the
// picture in it, 1 `buf` holds `len` bytes of the picture.
__declspec(dllexport) int __stdcall GetPicture(LPCSTR buf, LONG_PTR len, unsigned flag,
                                               HANDLE* pHBInfo, HANDLE* pHBm, FARPROC progress,
                                               LONG_PTR lData) {
  if (!buf || !pHBInfo || !pHBm) return Code(SpiResult::kInternalError);
  const Progress stop = {progress, lData};
  *pHBInfo = nullptr;
  *pHBm = nullptr;
  return Caught([&] {
    switch (flag & 7) {
      case 0: {
        FileSource source(buf, len);
        std::vector<uint8_t> file;
        if (!ReadWhole(source, file)) return Code(SpiResult::kFileReadError);
        return DecodeToHandles(file.data(), file.size(), stop, pHBInfo, pHBm);
      }
      case 1:
        if (len <= 0) return Code(SpiResult::kBrokenData);
        return DecodeToHandles(reinterpret_cast<const uint8_t*>(buf), static_cast<size_t>(len),
                               stop, pHBInfo, pHBm);
      default:
        return Code(SpiResult::kNotImplemented);
    }
  });
}

__declspec(dllexport) int __stdcall GetPreview(LPCSTR buf, LONG_PTR len, unsigned flag,
                                               HANDLE* pHBInfo, HANDLE* pHBm, FARPROC progress,
                                               LONG_PTR lData) {
  (void)buf, (void)len, (void)flag, (void)pHBInfo, (void)pHBm, (void)progress, (void)lData;
  return Code(SpiResult::kNotImplemented);
}

}  // extern "C"
