// picdump: decodes a picture the way the slideshow does, in a decoder
// process of its own (picdump started again with "/decode"), and writes
// the bitmap it gets as an uncompressed BMP: 24-bit, or 32-bit for a
// picture with alpha.
//
//   picdump [--plugins FOLDER] INPUT OUTPUT.bmp
//
// Exit status: 0 a picture was decoded and written, 1 nothing was decoded
// (the decoder refused the file, faulted or ran over its time, or the
// output could not be written), 2 usage error.
#include <cstdio>
#include <string>

#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"

#ifdef _WIN32
#include <windows.h>

#include "decoder/DecoderClientWin32.h"
#include "decoder/DecoderProcessWin32.h"
#include "imaging/SPILib.h"
#else
#include "imaging/PictureLoader.h"
#include "toolkit/StringList.h"
#endif

namespace {

const char kExtensionList[] = ".bmp,.jpg,.jpeg,.png";

int Usage() {
  std::fprintf(stderr, "usage: picdump [--plugins FOLDER] INPUT OUTPUT.bmp\n");
  return 2;
}

#ifdef _WIN32
bool Decode(const std::string& input, const std::string* plugins, tk::TBitmap& picture) {
  orv::DecodeSetup setup;
  setup.extensions = kExtensionList;
  if (plugins) setup.pluginFiles = orv::PlugInFilesIn(*plugins).Items();
  orv::TDecoderClient decoder(orv::DecoderModulePath(), setup);
  WIN32_FILE_ATTRIBUTE_DATA data;
  const uint64_t bytes = GetFileAttributesExA(input.c_str(), GetFileExInfoStandard, &data)
                             ? (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                             : 0;
  return orv::DecodeOwnSizeThrough(decoder, input, bytes, picture);
}
#else
// Without Windows there is no decoder process and no plug-in: the picture
// is decoded here.
bool Decode(const std::string& input, const std::string* plugins, tk::TBitmap& picture) {
  if (plugins) {
    std::fprintf(stderr, "picdump: plug-ins not supported in this build\n");
    return false;
  }
  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, kExtensionList);
  orv::LoadPicture(input, picture, extensions, nullptr);
  return !picture.Empty();
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc > 1 && orv::IsDecoderSwitch(argv[1])) return orv::RunDecoderProcess(GetCommandLineA());
#endif
  std::string pluginFolder, input, output;
  bool havePlugins = false;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plugins") {
      if (i + 1 >= argc || havePlugins) return Usage();
      pluginFolder = argv[++i];
      havePlugins = true;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage();
    } else if (positional == 0) {
      input = arg;
      ++positional;
    } else if (positional == 1) {
      output = arg;
      ++positional;
    } else {
      return Usage();
    }
  }
  if (positional != 2 || input.empty() || output.empty()) return Usage();

  tk::TBitmap picture;
  if (!Decode(input, havePlugins ? &pluginFolder : nullptr, picture)) {
    std::fprintf(stderr, "picdump: %s: no picture decoded\n", input.c_str());
    return 1;
  }
  try {
    picture.SaveToFile(output);
  } catch (const tk::Exception& e) {
    std::fprintf(stderr, "picdump: %s: %s\n", output.c_str(), e.Message().c_str());
    return 1;
  }
  return 0;
}
