/* Test Susie plug-ins. One source, built once per variant:
 *   ORV_VARIANT_OK        reads ORVTEST1 files ("*.orv")
 *   ORV_VARIANT_TWO       like OK, but declares two filters ("*.ov2", "*.ov3")
 *   ORV_VARIANT_GREEDY    accepts anything, returns no picture and has no
 *                         GetPictureInfo
 *   ORV_VARIANT_VERSION   answers info 0 with the text ORV_VERSION_TEXT
 *   ORV_VARIANT_LONGNAME  fills the whole name buffer without a zero byte
 *   ORV_VARIANT_NOINFO    exports no GetPluginInfo at all
 *   ORV_VARIANT_INFOONLY  exports GetPluginInfo but neither IsSupported nor
 *                         GetPicture
 *   ORV_VARIANT_ARC       archive plug-in ("00AM") for ORVARC01 files
 *   ORV_VARIANT_FPU       like OK, but every entry point and DllMain leave
 *                         the floating-point control state changed
 *   ORV_VARIANT_NEEDSDEP  like OK, but imports orvdep.dll, which lies beside
 *                         it and on no search path
 *   ORV_VARIANT_FAULTCHECK like OK, but IsSupported reads through a null
 *                         pointer for files whose first byte is 'F'
 *   ORV_VARIANT_FAULTINFO like OK, but GetPluginInfo faults for number 2
 *   ORV_VARIANT_FAULTLOAD like OK, but DllMain faults when it is loaded
 * Built from OK without GetPictureInfo among its exports, it stands for the
 * plug-ins that cannot tell a size without decoding. */
#include <windows.h>

#include <stdlib.h>

#include <stddef.h>
#include <string.h>

#include "TestPlugin.h"

/* Not every variant needs every helper. */
#define ORV_HELPER static __attribute__((unused))

static OrvTestProbeData g_probe;

#if defined(ORV_VARIANT_FPU)
#include <xmmintrin.h>
static void Disturb(void) {
  unsigned short cw = ORV_FPU_X87_WORD;
  __asm__ volatile("fldcw %0" : : "m"(cw));
  _mm_setcsr(ORV_FPU_MXCSR);
}
#define ORV_ENTRY() Disturb()
#elif defined(ORV_VARIANT_NEEDSDEP)
__declspec(dllimport) int OrvDepValue(void);
#define ORV_ENTRY() (void)OrvDepValue()
#else
#define ORV_ENTRY() (void)0
#endif

ORV_HELPER uint32_t ReadU32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

ORV_HELPER int CopyInfo(char* buf, int buflen, const char* text) {
  int n = (int)strlen(text);
  if (n >= buflen) n = buflen - 1;
  if (n < 0) return 0;
  memcpy(buf, text, (size_t)n);
  buf[n] = 0;
  return n;
}

void __stdcall OrvTestProbe(OrvTestProbeData* out) { *out = g_probe; }

void __stdcall OrvTestResetProbe(void) { memset(&g_probe, 0, sizeof g_probe); }

#if !defined(ORV_VARIANT_NOINFO)
int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
  ORV_ENTRY();
#if defined(ORV_VARIANT_ARC)
  static const char* const texts[] = {"00AM", "Orvanelle test archive", "*.orva",
                                      "Orvanelle test archive"};
#elif defined(ORV_VARIANT_TWO)
  static const char* const texts[] = {"00IN",  "Orvanelle two-filter plug-in",
                                      "*.ov2", "Orvanelle picture 2",
                                      "*.ov3", "Orvanelle picture 3"};
#elif defined(ORV_VARIANT_GREEDY)
  static const char* const texts[] = {"00IN", "Orvanelle greedy plug-in", "*.*", "Anything"};
#elif defined(ORV_VARIANT_INFOONLY)
  static const char* const texts[] = {"00IN", "Orvanelle info-only plug-in", "*.orv",
                                      "Orvanelle test picture"};
#elif defined(ORV_VARIANT_VERSION)
  static const char* const texts[] = {ORV_VERSION_TEXT, "Orvanelle wrong version", "*.orv",
                                      "Orvanelle test picture"};
#else
  static const char* const texts[] = {"00IN", "Orvanelle test plug-in", "*.orv",
                                      "Orvanelle test picture"};
#endif
#if defined(ORV_VARIANT_LONGNAME)
  if (infono == 1) {
    /* No terminating zero anywhere in the buffer. */
    memset(buf, 'N', (size_t)buflen);
    return buflen;
  }
#endif
  if (infono < 0 || infono >= (int)(sizeof texts / sizeof texts[0])) return 0;
#if defined(ORV_VARIANT_FAULTINFO)
  if (infono == 2) *(volatile char*)(uintptr_t)0 = 0;
#endif
  return CopyInfo(buf, buflen, texts[infono]);
}
#endif

ORV_HELPER void NoteName(LPSTR filename) {
  g_probe.isSupportedNullName = filename == NULL;
  g_probe.lastName[0] = 0;
  if (filename) {
    strncpy(g_probe.lastName, filename, sizeof g_probe.lastName - 1);
    g_probe.lastName[sizeof g_probe.lastName - 1] = 0;
  }
}

ORV_HELPER void NotePaddingAndName(LPSTR filename, const unsigned char* image, long length) {
  NoteName(filename);
  if (length >= 0 && length < 8192) {
    long i;
    int zero = 1;
    for (i = length; i < 8192; ++i) zero = zero && image[i] == 0;
    g_probe.paddingZero = zero;
  }
}

#if defined(ORV_VARIANT_ARC)

int __stdcall IsSupported(LPSTR filename, ULONG_PTR dw) {
  const unsigned char* image = (const unsigned char*)(uintptr_t)dw;
  ++g_probe.isSupportedCalls;
  NoteName(filename);
  return memcmp(image, ORV_ARC_MAGIC, 8) == 0;
}

int __stdcall GetArchiveInfo(LPSTR buf, LONG_PTR len, unsigned flag, HLOCAL* lphInf) {
  const unsigned char* p = (const unsigned char*)buf;
  uint32_t count, mode, i;
  size_t size, offset = 16;
  unsigned char* records;
  g_probe.lastLength = (long)len;
  g_probe.lastFlag = flag;
  if (len < 16) return 2;
  count = ReadU32(p + 8);
  mode = ReadU32(p + 12);
  if (mode == kArcNoHandle || count > 1000) return 2;
  size = (size_t)count * 428;
  if (mode == kArcTerminated) size += 428;
  if (mode == kArcRagged) size += 100;
  *lphInf = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
  if (!*lphInf) return 4;
  records = (unsigned char*)LocalLock(*lphInf);
  for (i = 0; i < count; ++i) {
    unsigned char* r = records + (size_t)i * 428;
    size_t n = 0;
    while (offset + n < (size_t)len && p[offset + n]) ++n;
    memcpy(r, "ORVA\0\0\0\0", 8); /* method: non-zero first byte */
    memcpy(r + 224, p + offset, n > 200 ? 200 : n);
    offset += n + 1;
  }
  if (mode == kArcRagged) memset(records + (size_t)count * 428, 'R', 100);
  LocalUnlock(*lphInf);
  return 0;
}

#elif !defined(ORV_VARIANT_NOINFO) && !defined(ORV_VARIANT_INFOONLY)

int __stdcall IsSupported(LPSTR filename, ULONG_PTR dw) {
  const unsigned char* image = (const unsigned char*)(uintptr_t)dw;
  ++g_probe.isSupportedCalls;
  ORV_ENTRY();
#if defined(ORV_VARIANT_GREEDY)
  NoteName(filename);
  (void)image;
  return 1;
#else
#if defined(ORV_VARIANT_FAULTCHECK)
  if (image[0] == 'F') return *(volatile int*)(uintptr_t)0;
#endif
  if (memcmp(image, ORV_TEST_MAGIC, 8) != 0) return 0;
  {
    uint32_t w = ReadU32(image + 8), h = ReadU32(image + 12);
    /* The probe needs the file length; recompute it from the header (the
     * host promises 8 KiB after the address, so reading it is safe). */
    long length = (long)(ORV_TEST_HEADER_SIZE + (uint64_t)w * h * 3);
    NotePaddingAndName(filename, image, length);
  }
  return 1;
#endif
}

ORV_HELPER void NoteGetPicture(LONG_PTR len, unsigned flag, FARPROC progress, LONG_PTR data,
                               HANDLE* pHBInfo, HANDLE* pHBm) {
  ++g_probe.getPictureCalls;
  g_probe.lastLength = (long)len;
  g_probe.lastFlag = flag;
  g_probe.progressNull = progress == NULL;
  g_probe.lastData = (long)data;
  g_probe.handlesWereNull = *pHBInfo == NULL && *pHBm == NULL;
}

#if defined(ORV_VARIANT_GREEDY)

/* A fault no guard of the caller's thread can see. */
static DWORD WINAPI FaultingThread(LPVOID unused) {
  (void)unused;
  *(volatile int*)(uintptr_t)0 = 1;
  return 0;
}

int __stdcall GetPicture(LPSTR buf, LONG_PTR len, unsigned flag, HANDLE* pHBInfo, HANDLE* pHBm,
                         FARPROC progress, LONG_PTR data) {
  (void)buf;
  NoteGetPicture(len, flag, progress, data, pHBInfo, pHBm);
  return 0;
}

#else

static HGLOBAL AllocBlock(UINT flags, SIZE_T size) {
  return GlobalAlloc(flags | GMEM_ZEROINIT, size ? size : 1);
}

/* Grey levels (the red bytes) as BI_RLE8: one run of one pixel each, every
 * row closed by an end-of-line, the picture by an end-of-bitmap. */
static int Rle8Picture(const unsigned char* p, uint32_t w, uint32_t h, uint32_t mode,
                       HANDLE* pHBInfo, HANDLE* pHBm) {
  const SIZE_T size = (SIZE_T)h * (2 * w + 2) + 2;
  SIZE_T at = 0;
  uint32_t x, y;
  int i;
  BITMAPINFO* info;
  unsigned char* pixels;
  *pHBInfo = AllocBlock(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  *pHBm = AllocBlock(GMEM_MOVEABLE, size);
  if (!*pHBInfo || !*pHBm) return 4;
  info = (BITMAPINFO*)GlobalLock(*pHBInfo);
  pixels = (unsigned char*)GlobalLock(*pHBm);
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = (LONG)w;
  info->bmiHeader.biHeight = (LONG)h;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 8;
  info->bmiHeader.biCompression = BI_RLE8;
  info->bmiHeader.biSizeImage = (DWORD)(mode == kModeRle8Overrun ? size + 4096 : size);
  for (i = 0; i < 256; ++i) {
    info->bmiColors[i].rgbRed = info->bmiColors[i].rgbGreen = info->bmiColors[i].rgbBlue = (BYTE)i;
  }
  for (y = 0; y < h; ++y) {
    const unsigned char* in = p + ORV_TEST_HEADER_SIZE + (SIZE_T)(h - 1 - y) * w * 3;
    for (x = 0; x < w; ++x) {
      pixels[at++] = 1;
      pixels[at++] = in[x * 3];
    }
    pixels[at++] = 0;
    pixels[at++] = 0;
  }
  pixels[at++] = 0;
  pixels[at++] = 1;
  GlobalUnlock(*pHBm);
  GlobalUnlock(*pHBInfo);
  return 0;
}

/* GetPictureInfo's record, declared as a plug-in's author finds it in the
 * interface's header: longs, packed to single bytes. */
#pragma pack(push, 1)
struct PictureInfo {
  long left, top;
  long width, height;
  WORD x_density, y_density;
  short colorDepth;
  HLOCAL hInfo;
};
#pragma pack(pop)
_Static_assert(sizeof(long) == 4, "the interface's longs are 32 bits");
_Static_assert(offsetof(struct PictureInfo, hInfo) == 22 &&
                   sizeof(struct PictureInfo) == 22 + sizeof(HLOCAL),
               "packed to single bytes");

/* Only the image in memory (flag 1), which is how the host asks. */
int __stdcall GetPictureInfo(LPSTR buf, LONG_PTR len, unsigned flag, struct PictureInfo* lpInfo) {
  const unsigned char* p = (const unsigned char*)buf;
  uint32_t w, h, mode;
  ORV_ENTRY();
  ++g_probe.getPictureInfoCalls;
  g_probe.lastInfoLength = (long)len;
  g_probe.lastInfoFlag = flag;
  if ((flag & 7) != 1 || len < ORV_TEST_HEADER_SIZE) return 2;
  w = ReadU32(p + 8);
  h = ReadU32(p + 12);
  mode = ReadU32(p + 16);
  if (mode == kModeInfoError) return 2;
  if (mode == kModeInfoFault) *(volatile int*)(uintptr_t)0 = 1;
  lpInfo->left = 0;
  lpInfo->top = 0;
  lpInfo->width = mode == kModeInfoNoWidth ? 0 : (long)w;
  lpInfo->height = mode == kModeInfoNegative ? -(long)h : (long)h;
  lpInfo->x_density = lpInfo->y_density = 0;
  lpInfo->colorDepth = 24;
  lpInfo->hInfo = NULL;
  if (mode == kModeInfoText) {
    static const char text[] = "Orvanelle test picture\r\n";
    char* at;
    lpInfo->left = 3;
    lpInfo->top = 4;
    lpInfo->x_density = 96;
    lpInfo->y_density = 72;
    lpInfo->hInfo = LocalAlloc(LMEM_MOVEABLE, sizeof text);
    if (!lpInfo->hInfo) return 4;
    at = (char*)LocalLock(lpInfo->hInfo);
    memcpy(at, text, sizeof text);
    LocalUnlock(lpInfo->hInfo);
    g_probe.infoText = (uintptr_t)lpInfo->hInfo;
  }
  return 0;
}

/* Each frame keeps a page of its own, so the stack runs out soon. */
static int Recurse(volatile char* up) {
  volatile char page[4096];
  page[0] = up ? up[0] : 1;
  return Recurse(page) + page[1];
}

/* Takes memory as a decoder of a huge picture would: committed and
   written, never given back before the picture is done. */
static void TakeMemory(void) {
  const SIZE_T block = (SIZE_T)64 << 20;
  for (int i = 0; i < 24; ++i) {
    char* p = (char*)VirtualAlloc(NULL, block, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!p) return;
    for (SIZE_T at = 0; at < block; at += 4096) p[at] = 1;
  }
}

/* A fault no guard of the caller's thread can see. */
static DWORD WINAPI FaultingThread(LPVOID unused) {
  (void)unused;
  *(volatile int*)(uintptr_t)0 = 1;
  return 0;
}

int __stdcall GetPicture(LPSTR buf, LONG_PTR len, unsigned flag, HANDLE* pHBInfo, HANDLE* pHBm,
                         FARPROC progress, LONG_PTR data) {
  const unsigned char* p = (const unsigned char*)buf;
  uint32_t w, h, mode, x, y;
  UINT allocFlags = GMEM_MOVEABLE;
  int bits = 24, colors = 0;
  SIZE_T infoSize, rowBytes, pixelSize;
  BITMAPINFO* info;
  unsigned char* pixels;

  ORV_ENTRY();
  NoteGetPicture(len, flag, progress, data, pHBInfo, pHBm);

  if (len < ORV_TEST_HEADER_SIZE) return 2;
  w = ReadU32(p + 8);
  h = ReadU32(p + 12);
  mode = ReadU32(p + 16);
  if (w == 0 || h == 0 || w > 4096 || h > 4096) return 2;
  if ((uint64_t)len < ORV_TEST_HEADER_SIZE + (uint64_t)w * h * 3) return 2;
  if (mode == kModeNoHandles) return 0;
  if (mode == kModeDataBroken) return 3;
  if (mode == kModeSlow) Sleep(60000);
  if (mode == kModeAbort) abort();
  if (mode == kModeStackOverflow) return Recurse(NULL);
  if (mode == kModeMemoryHog) TakeMemory();
  if (mode == kModeCatchesOwnFault && !IsBadReadPtr((const void*)(uintptr_t)16, 4)) return 2;
  if (mode == kModeThreadFault) {
    HANDLE t = CreateThread(NULL, 0, FaultingThread, NULL, 0, NULL);
    if (t) {
      WaitForSingleObject(t, 10000);
      CloseHandle(t);
    }
  }
  if (mode == kModeFaultWrite) {
    *pHBInfo = (HANDLE)(uintptr_t)0x1234; /* half-done work the host must not touch */
    *(volatile int*)(uintptr_t)0 = 1;
  }
  if (mode == kModeFaultDivide) {
    volatile int zero = 0;
    return 7 / zero;
  }
  if (mode == kModeFaultIllegal) __asm__ volatile("ud2");
  if (mode == kModeBadHandles) {
    *pHBInfo = (HANDLE)(uintptr_t)0x7FFF0000;
    *pHBm = (HANDLE)(uintptr_t)0x7FFE0000;
    return 0;
  }
  if (mode == kModeAskProgress) {
    typedef int(__stdcall * ProgressProc)(int, int, LONG_PTR);
    ProgressProc ask = (ProgressProc)(void*)progress;
    for (y = 0; y < h && ask; ++y) {
      ++g_probe.progressCalls;
      if (ask((int)y, (int)h, data)) {
        g_probe.stoppedByProgress = 1;
        return 1;
      }
    }
  }
  if (mode == kModeRle8 || mode == kModeRle8Overrun) return Rle8Picture(p, w, h, mode, pHBInfo, pHBm);
  if (mode == kModeFixedMemory) allocFlags = GMEM_FIXED;
  if (mode == kModePalette8 || mode == kModeTooManyColors) {
    bits = 8;
    colors = 256;
  }

  infoSize = sizeof(BITMAPINFOHEADER) + (SIZE_T)colors * sizeof(RGBQUAD);
  rowBytes = ((SIZE_T)w * bits + 31) / 32 * 4;
  pixelSize = rowBytes * h;

  if (mode == kModeOnlyPixels) {
    *pHBm = AllocBlock(allocFlags, pixelSize);
    return 0;
  }
  *pHBInfo = AllocBlock(allocFlags, mode == kModeTinyHeader ? 16 : infoSize);
  if (mode == kModeOnlyInfo) return 0;
  if (mode == kModeSameHandle) {
    *pHBm = *pHBInfo;
    return 0;
  }
  *pHBm = AllocBlock(allocFlags, mode == kModeShortPixels ? pixelSize / 2 : pixelSize);
  if (!*pHBInfo || !*pHBm) return 4;

  info = (BITMAPINFO*)GlobalLock(*pHBInfo);
  pixels = (unsigned char*)GlobalLock(*pHBm);
  if (mode != kModeTinyHeader) {
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = (LONG)w;
    info->bmiHeader.biHeight = mode == kModeTopDown ? -(LONG)h : (LONG)h;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = (WORD)bits;
    info->bmiHeader.biCompression = BI_RGB;
    if (mode == kModeAbsurdSize) {
      info->bmiHeader.biWidth = 100000;
      info->bmiHeader.biHeight = 100000;
    }
    if (mode == kModeHugeBiSize) info->bmiHeader.biSize = 1000;
    if (mode == kModeTooManyColors) info->bmiHeader.biClrUsed = 100000;
    if (mode == kModeBadBitCount) info->bmiHeader.biBitCount = 7;
  }
  if (colors) {
    /* Index i stands for grey level i; pixels store the red byte as index. */
    int i;
    for (i = 0; i < colors; ++i) {
      info->bmiColors[i].rgbRed = info->bmiColors[i].rgbGreen = info->bmiColors[i].rgbBlue =
          (BYTE)i;
    }
  }
  if (mode != kModeShortPixels && mode != kModeAbsurdSize) {
    for (y = 0; y < h; ++y) {
      const uint32_t row = (mode == kModeTopDown) ? y : h - 1 - y;
      unsigned char* out = pixels + (SIZE_T)row * rowBytes;
      const unsigned char* in = p + ORV_TEST_HEADER_SIZE + (SIZE_T)y * w * 3;
      for (x = 0; x < w; ++x) {
        if (bits == 8) {
          out[x] = in[x * 3];
        } else {
          out[x * 3 + 0] = in[x * 3 + 2];
          out[x * 3 + 1] = in[x * 3 + 1];
          out[x * 3 + 2] = in[x * 3 + 0];
        }
      }
    }
  }
  GlobalUnlock(*pHBm);
  GlobalUnlock(*pHBInfo);
  if (mode == kModeFailKeepBlocks) {
    g_probe.keptInfo = (uintptr_t)*pHBInfo;
    g_probe.keptPixels = (uintptr_t)*pHBm;
    return 2;
  }
  return 0;
}

#endif /* GREEDY */
#endif /* ARC / picture */

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH) ORV_ENTRY();
#if defined(ORV_VARIANT_FAULTLOAD)
  if (reason == DLL_PROCESS_ATTACH) *(volatile int*)(uintptr_t)0 = 1;
#endif
  return TRUE;
}
