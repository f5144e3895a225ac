#include "search/SearchRun.h"

#include <algorithm>
#include <exception>

#include "imaging/Gldpng.h"
#include "imaging/JpegImage.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Streams.h"

namespace orv {

namespace {

enum TypeSlot { kBmp = 0, kJpg = 1, kJpeg = 2, kPng = 3 };

std::string TypeExtension(const tk::TStringList& types, int slot) {
  return slot < types.Count() ? types[slot] : std::string();
}

tk::TStringList ExtensionMask(const SearchConditions& c, const tk::TStringList& types) {
  tk::TStringList mask;
  auto add = [&](int slot) {
    if (slot < types.Count()) mask.Add(types[slot]);
  };
  if (c.bmp) add(kBmp);
  if (c.jpeg) {
    add(kJpg);
    add(kJpeg);
  }
  if (c.png) add(kPng);
  return mask;
}

// Width and height of the picture as its own reader sees it: the JPEG
// header only, the whole BMP or PNG, or for the plug-ins' files the size
// the plug-in reads from the header, and what it decodes only when it
// cannot tell. A header that tells a size passes the file even when its
// data would not decode, as a JPEG's does: the show passes over it then.
void MeasurePicture(const std::string& fileName, const std::string& ext,
                    const tk::TStringList& types, IPluginDecoder* plugins, int& width,
                    int& height) {
  if (ext == TypeExtension(types, kBmp)) {
    tk::TBitmap b;
    b.LoadFromFile(fileName);
    width = b.Width(), height = b.Height();
  } else if (ext == TypeExtension(types, kJpg) || ext == TypeExtension(types, kJpeg)) {
    TJPEGImage j;
    j.LoadFromFile(fileName);
    width = j.Width(), height = j.Height();
  } else if (ext == TypeExtension(types, kPng)) {
    TGLDPNG p;
    p.LoadFromFile(fileName);
    width = p.GetWidth(), height = p.GetHeight();
  } else {
    PictureSize header;
    if (plugins && plugins->SizeFromHeader(fileName, header)) {
      // A picture whose bitmap the host would refuse can never be shown,
      // whatever its header promises: it fails as its decode would.
      const int64_t rowBytes = (int64_t(header.width) * 24 + 31) / 32 * 4;
      if (rowBytes * header.height > tk::kMaxBitmapBytes)
        throw tk::EOutOfResources("Out of system resources");
      width = header.width, height = header.height;
      return;
    }
    // No plug-in that answers leaves the bitmap empty: 0 x 0 fails below.
    tk::TBitmap b;
    if (plugins) plugins->LoadFromFile(fileName, b);
    width = b.Width(), height = b.Height();
  }
}

}  // namespace

void MeasurePictureFile(const std::string& fileName, const tk::TStringList& types,
                        IPluginDecoder* plugins, int& width, int& height) {
  MeasurePicture(fileName, tk::AsciiLower(tk::ExtractFileExt(fileName)), types, plugins, width,
                 height);
}

tk::TStringList PlugInFilterExtensions(const std::string& pfilter) {
  std::string commas = pfilter;
  std::replace(commas.begin(), commas.end(), ';', ',');
  tk::TStringList patterns;
  patterns.SetCommaText(commas);
  std::string lines = patterns.GetText();
  lines.erase(std::remove(lines.begin(), lines.end(), '*'), lines.end());
  // The line ends between the patterns count as blanks here, so patterns
  // that were only an asterisk vanish.
  tk::TStringList extensions;
  extensions.SetCommaText(lines);
  return extensions;
}

int64_t SizeLimitBytes(float kilobytes) {
  const float bytes = kilobytes * 1024.0f;
  if (!(bytes > 0)) return 0;
  if (bytes >= 9.2e18f) return INT64_MAX;
  return static_cast<int64_t>(bytes);
}

int HistoryIndexOf(const tk::TStringList& history, const std::string& folder) {
  const std::string key = tk::AsciiLower(folder);
  for (int i = 0; i < history.Count(); ++i)
    if (tk::AsciiLower(history[i]) == key) return i;
  return -1;
}

namespace {

template <typename Fail>
bool Measured(const MeasureResult& r, const SearchConditions& c, Fail& fail) {
  switch (r.kind) {
    case MeasureResult::kSized:
      return r.width >= c.minWidth && r.height >= c.minHeight;
    case MeasureResult::kLost:
      return fail(kDecoderLostMessage);
    case MeasureResult::kFailed:
      break;
  }
  // Nothing took the file: failed, as a picture of 0 x 0, without a word.
  if (r.message.empty()) return false;
  return fail(r.message);
}

}  // namespace

bool CheckPictureFile(const std::string& fileName, const SearchConditions& c, ISearchUi& ui,
                      IPluginDecoder* plugins, const EntryFacts* facts,
                      const MeasureFunction* measure, const std::function<void()>& wait) {
  if (facts && IsNotOnThisPc(facts->attributes))
    return facts->size <= SizeLimitBytes(c.sizeLimitKb);
  auto fail = [&](const std::string& message) {
    if (c.reportErrors) ui.ReportError(message + " : " + fileName);
    return false;
  };
  int64_t size = 0;
  if (measure && *measure) {
    // The entry's size, when the walk gave it: opening a file on a share
    // that stopped answering would stop the dialog.
    if (facts) {
      if (int64_t(facts->size) > SizeLimitBytes(c.sizeLimitKb)) return false;
      const MeasureResult r = (*measure)(fileName, facts->size, wait ? wait : [] {});
      return Measured(r, c, fail);
    }
  }
  try {
    // A file another program holds without sharing, or one we may not
    // read, fails like an undecodable one (reported when reports are on).
    tk::TFileStream file(fileName, tk::FileMode::OpenRead);
    size = file.Size();
  } catch (const tk::Exception& e) {
    return fail(e.Message());
  }
  // Sizes are 64-bit: a file above 2 GiB must not wrap round and pass.
  if (size > SizeLimitBytes(c.sizeLimitKb)) return false;

  if (measure && *measure)
    return Measured((*measure)(fileName, uint64_t(size), wait ? wait : [] {}), c, fail);
  const std::string ext = tk::AsciiLower(tk::ExtractFileExt(fileName));
  tk::TStringList types;
  types.SetCommaText(c.typeExtensions);
  int width = 0, height = 0;
  try {
    MeasurePicture(fileName, ext, types, plugins, width, height);
  } catch (const tk::Exception& e) {
    return fail(e.Message());
  } catch (const std::exception& e) {
    // A picture too large for memory is one more picture that fails.
    return fail(e.what());
  }
  return width >= c.minWidth && height >= c.minHeight;
}

void SearchFolder(const std::string& folder, const SearchConditions& c, ISearchUi& ui,
                  const SearchServices& services) {
  if (folder.empty() || folder == "0") {
    ui.RejectFolderName();
    return;
  }
  ui.BeginWait();
  tk::TStringList result;
  bool shown = false;
  try {
    tk::TStringList types;
    types.SetCommaText(c.typeExtensions);
    tk::TStringList mask = ExtensionMask(c, types);
    if (c.usePlugins && services.loadPlugIns) {
      tk::TStringList files;
      for (const std::string& name : c.pluginFiles) files.Add(c.pluginFolder + "\\" + name);
      mask.AddStrings(PlugInFilterExtensions(services.loadPlugIns(files)));
    }
    ui.ShowProgress();
    shown = true;
    try {
      ui.UpdateProgress(0);
      tk::TStringList candidates, unnamed;
      std::vector<EntryFacts> facts;
      if (services.walk) services.walk(candidates, folder, mask, c.subFolders, unnamed, facts);
      if (facts.size() != static_cast<size_t>(candidates.Count())) facts.clear();
      if (c.reportErrors)
        for (const std::string& name : unnamed.Items())
          ui.ReportError(std::string(kUnnamedEntryMessage) + " : " + name);
      ui.SetProgressRange(candidates.Count());
      for (int i = 0; i < candidates.Count(); ++i) {
        ui.SetProgressMessage(candidates[i]);
        const EntryFacts* entry = facts.empty() ? nullptr : &facts[static_cast<size_t>(i)];
        // Waiting on a decoder lets the progress window's messages through
        // (and a Cancel out) as the step between candidates does.
        const std::function<void()> wait = [&ui, i] { ui.UpdateProgress(i); };
        if (CheckPictureFile(candidates[i], c, ui, services.plugins, entry, &services.measure,
                             wait))
          result.Add(candidates[i]);
        ui.UpdateProgress(i);
      }
    } catch (const tk::EAbort&) {
      ui.DisableCancel();
    }
  } catch (const std::exception&) {
    // A plug-in that throws while loading, or memory running out, ends the
    // run as a normal end does: what was accepted so far is kept.
  }
  ui.SetFileNameList(result);
  ui.EnterHistory(folder);
  if (shown) ui.HideProgress();
  ui.EndWait();
}

}  // namespace orv
