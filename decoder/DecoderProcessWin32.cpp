// The decoder process: the module started with "/decode <in> <out> <page>",
// the two ends of the pipes its saver made and the page it marks while it
// loads plug-ins, as inherited handle values. It reads every picture file
// itself, decodes it (BMP, JPEG, PNG, plug-ins), brings it to the box asked
// for, and writes the rows into the section the saver duplicated into it.
// Whatever a picture or a plug-in does to this process, the saver only
// loses an answer.
#include "decoder/DecoderProcessWin32.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/DecodeProtocol.h"
#include "decoder/PipeWin32.h"
#include "decoder/DecodedPixels.h"
#include "imaging/PictureLoader.h"
#include "imaging/SPILib.h"
#include "search/SearchRun.h"
#include "slideshow/LayoutMath.h"
#include "toolkit/Bitmap.h"
#include "toolkit/CommandLine.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"

namespace orv {

namespace {

HANDLE HandleArgument(const std::string& commandLine, int index) {
  const std::string text = tk::ParamStr(commandLine, index);
  if (text.empty() || text.size() > 20) return nullptr;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (!end || *end != '\0' || v == 0) return nullptr;
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(v));
}

bool IsPipe(HANDLE h) { return h && GetFileType(h) == FILE_TYPE_PIPE; }

// Missing only when Windows says so: a file it cannot tell about (a share
// that does not answer, a device) is opened and read like any other, within
// the request's time bound.
bool Missing(const std::string& path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD e = GetLastError();
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME ||
         e == ERROR_BAD_NETPATH || e == ERROR_BAD_NET_NAME || e == ERROR_INVALID_DRIVE;
}

class Decoder {
 public:
  void Setup(const DecodeSetup& setup) {
    extensions_.Clear();
    FillPictureExtensions(extensions_, setup.extensions);
    types_.SetCommaText(setup.extensions);
    tk::TStringList plugins;
    for (const std::string& f : setup.pluginFiles) plugins.Add(f);
    if (plugins.Count() > 0) spi_.LoadPlugInFromList(plugins);
  }

  DecodeAnswer Serve(const DecodeRequest& q) {
    DecodeAnswer a;
    a.id = q.id;
    if (q.kind == DecodeMessage::kFilter) {
      a.status = DecodeStatus::kDecoded;
      a.message = spi_.PFilter().substr(0, kMaxFilterText);
      return a;
    }
    if ((q.flags & kDecodeSkipMissingFile) && Missing(q.path)) {
      a.status = DecodeStatus::kMissing;
      return a;
    }
    try {
      if (q.kind == DecodeMessage::kMeasure) return Measure(q, a);
      return DecodeInto(q, a);
    } catch (const std::exception& e) {
      a.status = DecodeStatus::kNotDecoded;
      a.message = e.what();
    }
    return a;
  }

 private:
  // As the search measures in its own process, so that what it reports
  // and accepts does not change with where it runs.
  DecodeAnswer& Measure(const DecodeRequest& q, DecodeAnswer& a) {
    int w = 0, h = 0;
    MeasurePictureFile(q.path, types_, &spi_, w, h);
    if (w <= 0 || h <= 0) {
      a.status = DecodeStatus::kNotDecoded;
      return a;
    }
    a.status = DecodeStatus::kDecoded;
    a.ownWidth = w;
    a.ownHeight = h;
    return a;
  }

  DecodeAnswer& DecodeInto(const DecodeRequest& q, DecodeAnswer& a) {
    tk::TBitmap picture;
    PictureSize own;
    LoadPictureOptions o;
    o.fitWidth = q.fitWidth;
    o.fitHeight = q.fitHeight;
    // The show's own fit: without a caption a JPEG is born exactly the
    // size of its place, and is drawn without another stretch.
    const int boxWidth = q.fitWidth, boxHeight = q.fitHeight;
    o.fit = [boxWidth, boxHeight](int w, int h, int& fitWidth, int& fitHeight) {
      const IntRect r = FitRect(IntRect{0, 0, w, h}, boxWidth, boxHeight);
      fitWidth = r.Width();
      fitHeight = r.Height();
    };
    LoadPicture(q.path, picture, extensions_, &spi_, o, &own);
    if (picture.Width() <= 0 || picture.Height() <= 0) {
      a.status = DecodeStatus::kNotDecoded;
      return a;
    }
    if (own.width <= 0 || own.height <= 0) own = PictureSize{picture.Width(), picture.Height()};
    if (picture.BitCount() != 32) MakeBgr24(picture);
    // What a decoder gave larger than the box is shrunk here, by area, so
    // the saver receives no more than it shows.
    ShrinkIntoBox(picture, q.fitWidth, q.fitHeight);
    const int w = picture.Width(), h = picture.Height();
    const int bits = picture.BitCount();
    const uint64_t row = DibRowBytes(w, bits);
    if (row * uint64_t(h) > q.sectionBytes) {
      a.status = DecodeStatus::kTooLarge;
      return a;
    }
    HANDLE section = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(q.section));
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, SIZE_T(row * uint64_t(h)));
    if (!view) {
      a.status = DecodeStatus::kNotDecoded;
      a.message = "the section could not be mapped";
      return a;
    }
    // Bottom-up DIB rows, as the saver's DIB section reads them.
    uint8_t* dst = static_cast<uint8_t*>(view);
    for (int y = 0; y < h; ++y)
      std::memcpy(dst + size_t(h - 1 - y) * row, picture.ScanLine(y), size_t(w) * size_t(bits / 8));
    UnmapViewOfFile(view);
    a.status = DecodeStatus::kDecoded;
    a.ownWidth = own.width;
    a.ownHeight = own.height;
    a.width = w;
    a.height = h;
    a.bitCount = bits;
    a.rowBytes = uint32_t(row);
    return a;
  }

  tk::TStringList extensions_, types_;
  TSpiLib32 spi_;
};

}  // namespace

bool IsDecoderSwitch(const std::string& firstArgument) {
  return firstArgument == "/decode" || firstArgument == "/DECODE";
}

int RunDecoderProcess(const std::string& commandLine) {
  HANDLE in = HandleArgument(commandLine, 2);
  HANDLE out = HandleArgument(commandLine, 3);
  // Started by hand, or by anything but its saver: nothing to serve.
  if (!IsPipe(in) || !IsPipe(out)) return 2;
  // A plug-in's fault ends this process without a dialog box the user
  // would have to close. Nothing steps in front of a plug-in's own fault
  // handling: what it does not catch ends the process, and its saver
  // reports the picture.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // The saver's page, marked while plug-ins load: a plug-in that ends or
  // hangs this process there is named, and left out of the next decoder.
  volatile long* watch = nullptr;
  if (HANDLE page = HandleArgument(commandLine, 4))
    watch = static_cast<volatile long*>(MapViewOfFile(page, FILE_MAP_WRITE, 0, 0, sizeof(long)));
  Decoder decoder;
  FrameReader reader;
  std::vector<uint8_t> buffer(64 * 1024), payload;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), DWORD(buffer.size()), &got, nullptr) || got == 0) return 0;
    reader.Feed(buffer.data(), got);
    while (reader.Next(payload)) {
      const uint32_t kind = FrameKind(payload);
      if (kind == uint32_t(DecodeMessage::kSetup)) {
        DecodeSetup setup;
        if (!ParseSetup(payload, setup)) return 3;
        WatchPlugInCalls(watch);
        decoder.Setup(setup);
        WatchPlugInCalls(nullptr);
        continue;
      }
      DecodeRequest request;
      if (!ParseRequest(payload, request)) return 3;
      if (!WriteAll(out, EncodeAnswer(decoder.Serve(request)))) return 0;
    }
    if (reader.Broken()) return 3;
  }
}

}  // namespace orv
