// picdump: decodes a picture the way the slideshow does and writes the
// resulting bitmap as an uncompressed BMP in its own pixel format.
//
//   picdump [--plugins FOLDER] INPUT OUTPUT.bmp
//
// Exit status: 0 a picture was decoded and written, 1 nothing was decoded
// (or the output could not be written), 2 usage error.
#include <cstdio>
#include <memory>
#include <string>

#include "imaging/PictureLoader.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"

#ifdef _WIN32
#include "imaging/SPILib.h"
#endif

namespace {

const char kExtensionList[] = ".bmp,.jpg,.jpeg,.png";

int Usage() {
  std::fprintf(stderr, "usage: picdump [--plugins FOLDER] INPUT OUTPUT.bmp\n");
  return 2;
}

// The plug-in host for FOLDER, or null when this build has none.
std::unique_ptr<orv::IPluginDecoder> CreatePluginDecoder(const std::string& folder) {
#ifdef _WIN32
  return orv::MakePluginDecoder(folder);
#else
  (void)folder;
  std::fprintf(stderr, "picdump: plug-ins not supported in this build\n");
  return nullptr;
#endif
}

}  // namespace

int main(int argc, char** argv) {
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

  std::unique_ptr<orv::IPluginDecoder> plugins;
  if (havePlugins) plugins = CreatePluginDecoder(pluginFolder);

  tk::TStringList extensions;
  orv::FillPictureExtensions(extensions, kExtensionList);
  tk::TBitmap picture;
  orv::LoadPicture(input, picture, extensions, plugins.get());
  if (picture.Empty()) {
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
