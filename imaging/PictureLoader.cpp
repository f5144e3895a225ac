#include "imaging/PictureLoader.h"

#include <algorithm>
#include <new>

#include "imaging/Gldpng.h"
#include "imaging/JpegImage.h"
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

// Where the picture's bytes come from: the file, or what was read ahead.
struct Source {
  const std::string& fileName;
  const std::vector<uint8_t>* bytes;
};

// The plug-in host's answer, or that of a host with no plug-ins when there
// is none: a file that cannot be opened raises, any other leaves `bitmap`
// as it is.
void DecodeWithPlugins(const Source& source, tk::TBitmap& bitmap, IPluginDecoder* plugins) {
  if (plugins) {
    if (source.bytes)
      plugins->LoadFromBytes(source.fileName, *source.bytes, bitmap);
    else
      plugins->LoadFromFile(source.fileName, bitmap);
  } else if (!source.bytes) {
    tk::TFileStream probe(source.fileName, tk::FileMode::OpenRead);
  }
}

// Plug-ins decode into a fresh bitmap, which is then assigned: when none
// accepts the file the target ends up empty.
void LoadThroughPlugins(const Source& source, tk::TBitmap& target, IPluginDecoder* plugins) {
  tk::TBitmap picture;
  DecodeWithPlugins(source, picture, plugins);
  target.Swap(picture);
}

void LoadBmp(const Source& source, tk::TBitmap& target) {
  tk::TBitmap picture;
  if (source.bytes)
    picture.LoadFromMemory(source.bytes->data(), source.bytes->size());
  else
    picture.LoadFromFile(source.fileName);
  target.Swap(picture);
}

// Only reading the header decides whether the plug-ins get a chance; data
// that fail while decoding leave the target as it was.
void LoadJpeg(const Source& source, tk::TBitmap& target, IPluginDecoder* plugins,
              const LoadPictureOptions& options, PictureSize& ownSize) {
  TJPEGImage jpeg;
  try {
    // The read-ahead bytes outlive this call.
    if (source.bytes)
      jpeg.LoadFromBorrowedMemory(source.bytes->data(), source.bytes->size());
    else
      jpeg.LoadFromFile(source.fileName);
  } catch (const tk::Exception&) {
    LoadThroughPlugins(source, target, plugins);
    return;
  }
  int fitWidth = 0, fitHeight = 0;
  if (options.fitWidth > 0 && options.fitHeight > 0) {
    if (options.fit) {
      options.fit(jpeg.Width(), jpeg.Height(), fitWidth, fitHeight);
      // A sliver of a panorama may fit into less than a pixel.
      fitWidth = std::max(fitWidth, 1);
      fitHeight = std::max(fitHeight, 1);
    } else {
      TJPEGImage::FitInto(jpeg.Width(), jpeg.Height(), options.fitWidth, options.fitHeight,
                          fitWidth, fitHeight);
    }
  }
  jpeg.AssignTo(target, fitWidth, fitHeight);
  ownSize = PictureSize{jpeg.Width(), jpeg.Height()};
}

// Reads a PNG file into `image`; throws when the file is rejected. An image
// left empty (a file the codec stops reading quietly) is a result, not a
// rejection.
void ReadPngFile(const Source& source, tk::TBitmap& image) {
  TGLDPNG png;
  if (source.bytes) {
    tk::TBufferStream stream(source.bytes->data(), source.bytes->size());
    png.LoadFromStream(stream);
  } else {
    png.LoadFromFile(source.fileName);
  }
  // Only the colour picture: the alpha bitmap stays behind with the codec.
  image.Swap(png.GetImage());
}

void LoadPng(const Source& source, tk::TBitmap& target, IPluginDecoder* plugins) {
  tk::TBitmap image;
  try {
    ReadPngFile(source, image);
  } catch (const tk::Exception&) {
    LoadThroughPlugins(source, target, plugins);
    return;
  }
  target.Swap(image);
}

// True when LoadPicture's dispatch hands the file straight to the plug-ins.
bool GoesStraightToPlugins(const tk::TStringList& extensions, const std::string& ext) {
  const int slot = FindExtension(extensions, ext);
  return slot < kSlotBmp || slot > kSlotPng;
}

}  // namespace

void FillPictureExtensions(tk::TStringList& list, const std::string& resourceText) {
  list.SetCommaText(resourceText);
}

void LoadPicture(const std::string& fileName, tk::TBitmap& target,
                 const tk::TStringList& extensions, IPluginDecoder* plugins,
                 const LoadPictureOptions& options, PictureSize* ownSize) {
  if (ownSize) *ownSize = PictureSize{};
  if (!options.bytes && options.skipMissingFile && !tk::FileExists(fileName)) return;
  const Source source{fileName, options.bytes};
  const std::string ext = tk::AsciiLower(tk::ExtractFileExt(fileName));
  PictureSize size;
  bool sized = false, failed = false;
  try {
    switch (FindExtension(extensions, ext)) {
      case kSlotBmp:
        LoadBmp(source, target);
        break;
      case kSlotJpg:
      case kSlotJpeg:
        LoadJpeg(source, target, plugins, options, size);
        sized = size.width > 0;
        break;
      case kSlotPng:
        LoadPng(source, target, plugins);
        break;
      default:
        LoadThroughPlugins(source, target, plugins);
        break;
    }
  } catch (const std::exception&) {
    // Undecodable pictures are passed over without a word; so is one too
    // large for memory (bad_alloc, or length_error from a size no 32-bit
    // process can hold).
    failed = true;
  }
  if (ownSize && !failed) *ownSize = sized ? size : PictureSize{target.Width(), target.Height()};
}

bool PluginHeaderSize(const std::string& fileName, const tk::TStringList& extensions,
                      IPluginDecoder* plugins, PictureSize& size) {
  if (!plugins) return false;
  if (!GoesStraightToPlugins(extensions, tk::AsciiLower(tk::ExtractFileExt(fileName))))
    return false;
  return plugins->SizeFromHeader(fileName, size);
}

}  // namespace orv
