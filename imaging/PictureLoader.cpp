#include "imaging/PictureLoader.h"

#include <new>

#include "imaging/Gldpng.h"
#include "imaging/JpegImage.h"
#include "toolkit/DecodeCancel.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Streams.h"

namespace orv {

namespace {

// Positions in the picture extension list.
enum ExtensionSlot { kSlotBmp = 0, kSlotJpg = 1, kSlotJpeg = 2, kSlotPng = 3 };

int FindExtension(const tk::TStringList& extensions, const std::string& ext) {
  for (int i = 0; i < extensions.Count(); ++i)
    if (extensions[i] == ext) return i;
  return -1;
}

// The plug-in host's answer, or that of a host with no plug-ins when there
// is none: a file that cannot be opened raises, any other leaves `bitmap`
// as it is.
void DecodeWithPlugins(const std::string& fileName, tk::TBitmap& bitmap, IPluginDecoder* plugins) {
  if (plugins) {
    plugins->LoadFromFile(fileName, bitmap);
  } else {
    tk::TFileStream probe(fileName, tk::FileMode::OpenRead);
  }
}

// Plug-ins decode into a fresh bitmap, which is then assigned: when none
// accepts the file the target ends up empty.
void LoadThroughPlugins(const std::string& fileName, tk::TBitmap& target, IPluginDecoder* plugins) {
  tk::TBitmap picture;
  DecodeWithPlugins(fileName, picture, plugins);
  target.Swap(picture);
}

void LoadBmp(const std::string& fileName, tk::TBitmap& target) {
  tk::TBitmap picture;
  picture.LoadFromFile(fileName);
  target.Swap(picture);
}

// Only reading the header decides whether the plug-ins get a chance; data
// that fail while decoding leave the target as it was.
void LoadJpeg(const std::string& fileName, tk::TBitmap& target, IPluginDecoder* plugins) {
  TJPEGImage jpeg;
  try {
    jpeg.LoadFromFile(fileName);
  } catch (const tk::EAbort&) {
    throw;
  } catch (const tk::Exception&) {
    LoadThroughPlugins(fileName, target, plugins);
    return;
  }
  jpeg.AssignTo(target);
}

// Reads a PNG file into `image`; throws when the file is rejected. An image
// left empty (a file the codec stops reading quietly) is a result, not a
// rejection.
void ReadPngFile(const std::string& fileName, tk::TBitmap& image) {
  TGLDPNG png;
  png.LoadFromFile(fileName);
  // Only the colour picture: the alpha bitmap stays behind with the codec.
  image.Swap(png.GetImage());
}

void LoadPng(const std::string& fileName, tk::TBitmap& target, IPluginDecoder* plugins) {
  tk::TBitmap image;
  try {
    ReadPngFile(fileName, image);
  } catch (const tk::EAbort&) {
    // A decode the program stopped gives nothing; no plug-in is tried.
    throw;
  } catch (const tk::Exception&) {
    LoadThroughPlugins(fileName, target, plugins);
    return;
  }
  target.Swap(image);
}

}  // namespace

void FillPictureExtensions(tk::TStringList& list, const std::string& resourceText) {
  list.SetCommaText(resourceText);
}

void LoadPicture(const std::string& fileName, tk::TBitmap& target,
                 const tk::TStringList& extensions, IPluginDecoder* plugins,
                 const LoadPictureOptions& options) {
  if (options.skipMissingFile && !tk::FileExists(fileName)) return;
  const tk::ScopedDecodeCancel cancel(options.cancel);
  const std::string ext = tk::AsciiLower(tk::ExtractFileExt(fileName));
  try {
    switch (FindExtension(extensions, ext)) {
      case kSlotBmp:
        LoadBmp(fileName, target);
        break;
      case kSlotJpg:
      case kSlotJpeg:
        LoadJpeg(fileName, target, plugins);
        break;
      case kSlotPng:
        LoadPng(fileName, target, plugins);
        break;
      default:
        LoadThroughPlugins(fileName, target, plugins);
        break;
    }
  } catch (const std::exception&) {
    // Undecodable pictures are passed over without a word; so is one too
    // large for memory (bad_alloc, or length_error from a size no 32-bit
    // process can hold).
  }
}

}  // namespace orv
