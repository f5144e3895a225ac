// LoadPicture: the one entry that turns a picture file into a bitmap.
// It never raises (for toolkit exceptions) and never shows a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/Bitmap.h"
#include "toolkit/StringList.h"

namespace orv {

// A picture's own size, upright, whatever size it was decoded at.
struct PictureSize {
  int width = 0, height = 0;
};

// What LoadPicture needs of the plug-in host: decode a file with the first
// plug-in that accepts it. Leaves the bitmap unchanged when none accepts;
// throws tk::Exception (EFOpenError, EAbort...) on failure.
class IPluginDecoder {
 public:
  virtual ~IPluginDecoder() = default;
  virtual void LoadFromFile(const std::string& fileName, tk::TBitmap& bitmap) = 0;
  // The same for a file whose bytes were read already (`fileName` is what
  // plug-ins that look at names get). By default the file is read again.
  virtual void LoadFromBytes(const std::string& fileName, const std::vector<uint8_t>& bytes,
                             tk::TBitmap& bitmap) {
    (void)bytes;
    LoadFromFile(fileName, bitmap);
  }
  // The size of the picture LoadFromFile would give, as the plug-in that
  // would decode the file reads it from the file's header, without
  // decoding. False when no plug-in takes the file or the one that does
  // cannot tell: then only a decode tells. A true answer promises nothing
  // about the rest of the file, whose decode may still fail. Throws as
  // LoadFromFile does for a file that cannot be opened or a plug-in that
  // faulted. By default nothing can tell.
  virtual bool SizeFromHeader(const std::string& fileName, PictureSize& size) {
    (void)fileName;
    (void)size;
    return false;
  }
};

// Fills `list` from the extension list text ".bmp,.jpg,.jpeg,.png"
// (string resource 12) as comma text.
void FillPictureExtensions(tk::TStringList& list, const std::string& resourceText);

struct LoadPictureOptions {
  // The slideshow's copy returns at once when the file does not exist.
  bool skipMissingFile = false;
  // The box the picture will be shrunk into when it is larger (0 x 0: it is
  // shown at its own size). A JPEG is then decoded only as large as its
  // place in the box needs; the target is smaller than the picture, whose
  // own size comes back through LoadPicture's `ownSize`.
  int fitWidth = 0, fitHeight = 0;
  // How the caller fits a picture of its own (upright) size into that box;
  // empty: TJPEGImage::FitInto. The show passes its layout's own fit, so
  // that the bitmap comes out at exactly the size of its place and is
  // drawn without another stretch.
  std::function<void(int width, int height, int& fitWidth, int& fitHeight)> fit = nullptr;
  // The file's bytes, read ahead; null: the file is read now.
  const std::vector<uint8_t>* bytes = nullptr;
};

// Dispatches by the position of the file's lower-cased extension in
// `extensions` (0 BMP, 1/2 JPEG, 3 PNG, else plug-ins only). `plugins` may be
// null (then nothing but BMP, JPEG and PNG decodes).
void LoadPicture(const std::string& fileName, tk::TBitmap& target,
                 const tk::TStringList& extensions, IPluginDecoder* plugins,
                 const LoadPictureOptions& options = {}, PictureSize* ownSize = nullptr);

// For a file LoadPicture hands straight to the plug-ins (its extension is
// in none of the BMP, JPEG and PNG slots of `extensions`): its size from
// the header, as IPluginDecoder::SizeFromHeader gives it. False for any
// other file, without `plugins`, or when no plug-in can tell. Throws what
// SizeFromHeader throws.
bool PluginHeaderSize(const std::string& fileName, const tk::TStringList& extensions,
                      IPluginDecoder* plugins, PictureSize& size);

}  // namespace orv
