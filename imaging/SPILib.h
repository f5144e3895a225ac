// The Susie plug-in host: loads picture plug-ins ("00IN") and archive
// plug-ins ("00AM") and decodes pictures the program cannot read itself
// with the first picture plug-in that accepts them.
//
// Plug-in libraries stay loaded until FreePlugIn or the destructor. A host
// is used from one thread at a time and takes no lock. Plug-in code runs
// unguarded: the host belongs in a decoder process, which a plug-in's fault
// ends without harm to its saver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/PictureLoader.h"
#include "toolkit/Bitmap.h"
#include "toolkit/Exceptions.h"
#include "toolkit/StringList.h"
#include "toolkit/Streams.h"

namespace orv {

// From here on every call into a plug-in of any host of this process
// stores, in *slot, the plug-in's line in the list it was loaded from plus
// one, and 0 once the call is back (null: no watch). The slot lies in
// memory the saver shares with its decoder: a decoder that dies or hangs
// inside a plug-in names the culprit.
void WatchPlugInCalls(volatile long* slot);

class TSpiLib32 : public IPluginDecoder {
 public:
  TSpiLib32();
  ~TSpiLib32() override;
  TSpiLib32(const TSpiLib32&) = delete;
  TSpiLib32& operator=(const TSpiLib32&) = delete;

  // Every "*.SPI" of Folder, which must end with a path delimiter.
  void LoadPlugIn(const std::string& Folder);
  // The picture plug-ins whose full paths are the lines of List, in order.
  // A second call appends to the table; PFilter then lists only the plug-ins
  // of the latest call. Libraries that do not load, lack GetPluginInfo or do
  // not report exactly "00IN" are skipped silently.
  void LoadPlugInFromList(const tk::TStringList& List);
  // Every archive plug-in ("00AM") among the "*.SPI" of Folder.
  void LoadPlugInArc(const std::string& Folder);
  // Unloads every plug-in of both tables.
  void FreePlugIn();

  // Decode with the first picture plug-in whose IsSupported accepts the
  // data. No plug-in accepts (or the data are empty): Bitmap is unchanged
  // and nothing is raised. The chosen plug-in's picture cannot be converted:
  // Bitmap is unchanged and tk::EAbort is raised. A file that cannot be
  // opened raises tk::EFOpenError.
  void LoadFromFile(const std::string& FileName, tk::TBitmap& Bitmap) override;
  // A file whose bytes were read already; plug-ins still get its full path.
  void LoadFromBytes(const std::string& FileName, const std::vector<uint8_t>& Bytes,
                     tk::TBitmap& Bitmap) override;
  // The chosen plug-in's GetPictureInfo, asked about the file's image in
  // memory. No answer (false) when no plug-in accepts the file, the chosen
  // one lacks GetPictureInfo, returns an error or gives a side of 0 or
  // less. A file that cannot be opened raises tk::EFOpenError.
  bool SizeFromHeader(const std::string& FileName, PictureSize& Size) override;
  void LoadFromStream(tk::TStream& Stream, tk::TBitmap& Bitmap);
  void LoadFromMemory(const void* Buffer, int64_t Length, tk::TBitmap& Bitmap);

  // True when an archive plug-in accepts the file.
  bool SupportArcFile(const std::string& FileName);
  // Appends the member names of an archive, as listed by the first archive
  // plug-in that accepts it, to Strings.
  void ArcFileList(const std::string& FileName, tk::TStringList& Strings);

  // Append the plug-in names (GetPluginInfo 1) of the picture or archive
  // table to Strings, clearing it first when Clear is true.
  void ListPic(tk::TStringList& Strings, bool Clear) const;
  void ListArc(tk::TStringList& Strings, bool Clear) const;

  // Each accepted plug-in's first extension filter followed by ";".
  const std::string& PFilter() const { return pfilter_; }
  const std::string& AFilter() const { return afilter_; }
  const tk::TStringList& PicPlugInList() const { return pic_plug_in_list_; }
  const tk::TStringList& ArcPlugInList() const { return arc_plug_in_list_; }

  // What the loaded plug-ins told about themselves, in table order.
  struct PlugInfo {
    std::string folder;  // with trailing delimiter; empty for archive plug-ins
    std::string name;
    std::string apiVersion;
    std::string filter;
    std::string typeName;
  };
  std::vector<PlugInfo> PicPlugIns() const;
  std::vector<PlugInfo> ArcPlugIns() const;

  struct TPicPlug;
  struct TArcPlug;

 private:
  // `block` holds `length` bytes followed by zero padding up to a multiple
  // of 8,192 bytes, so a plug-in may read ahead of a short file.
  // `fileName` is the full path IsSupported gets, or null for data that
  // came from no file.
  void DecodeBlock(uint8_t* block, int64_t length, const char* fileName, tk::TBitmap& Bitmap);
  // The first sound picture plug-in whose IsSupported accepts the block
  // (`name` may be null); null when none does.
  TPicPlug* ChoosePicPlug(char* image, char* name);

  std::vector<std::unique_ptr<TPicPlug>> pic_table_;
  std::vector<std::unique_ptr<TArcPlug>> arc_table_;
  std::string afilter_;
  std::string pfilter_;
  tk::TStringList arc_plug_in_list_;
  tk::TStringList pic_plug_in_list_;
};

// The "*.SPI" files of `folder` (with or without a trailing delimiter), in
// search order: what the tools hand their decoder.
tk::TStringList PlugInFilesIn(const std::string& folder);

}  // namespace orv
