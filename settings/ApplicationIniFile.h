// Every user setting of the screen saver with the folder history and the
// picture list. The settings live in an INI file; the two lists in text
// files beside it. The record validates nothing but BlankScreenInterval
// and the two transition keys; the windows that own it read and write the
// fields directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "toolkit/Graphics.h"
#include "toolkit/IniFile.h"
#include "toolkit/StringList.h"

namespace orv {

// How one picture gives way to the next ([Screen] Transition).
enum TransitionKind : int32_t {
  kTransitionNone = 0,
  kTransitionCrossFade = 1,
  kTransitionPanZoom = 2,  // pan and zoom, with a cross-fade between pictures
};
// The length of the fade ([Screen] TransitionTime), in milliseconds.
constexpr int32_t kTransitionTimeMin = 200;
constexpr int32_t kTransitionTimeMax = 5000;
constexpr int32_t kTransitionTimeDefault = 1000;

class TApplicationIniFile {
 public:
  // Flags beyond this count are never read: a broken MaxIndex must not
  // make Load allocate and read for billions of rows. Real lists hold
  // three rows and one per plug-in file.
  static constexpr int32_t kMaxExtendCount = 4096;

  // `ini` is the settings file; the list files are the two names in its
  // folder. Reads nothing.
  TApplicationIniFile(std::unique_ptr<tk::TCustomIniFile> ini, const std::string& dirListName,
                      const std::string& fileListName);
  TApplicationIniFile(const TApplicationIniFile&) = delete;
  TApplicationIniFile& operator=(const TApplicationIniFile&) = delete;

  const std::string& FileName() const { return ini_->FileName(); }
  const std::string& DirListFileName() const { return dir_list_path_; }
  const std::string& FileListFileName() const { return file_list_path_; }

  // What Load does about a list file that is not there. The settings
  // dialog creates it from the list in memory, as far as the folder lets
  // it: in a folder the user may not write (System32, Program Files) the
  // list simply stays empty, and OK then says why nothing can be saved.
  // The show and the preview never write: for them a missing list is an
  // empty one.
  enum class MissingLists { Create, Leave };
  // Reads both lists, then every key. Errors leave as tk::Exception;
  // whatever was read before the error stays read, every key after it has
  // its default.
  void Load(MissingLists missing = MissingLists::Create);
  // Writes both lists, then every key. Stops at the first failure.
  void Save();
  // Writes PreviousRowNumber and nothing else.
  void SaveRowNumber();

  // Flag of file-type row i; a row without a stored flag is enabled.
  bool ExtendEnabled(size_t i) const { return i < Extend.size() ? bool(Extend[i]) : true; }

  tk::TStringList DirList;
  tk::TStringList FileList;
  bool SubFolder = false;
  bool ReportError = false;
  bool UseSusiePlugin = false;
  std::string PluginFolder;
  int32_t CheckSize = 0;
  int32_t CheckWidth = 0;
  int32_t CheckHeight = 0;
  int32_t MaxIndex = 0;
  std::vector<bool> Extend;
  tk::TFont Font;
  bool RandamDisplay = false;
  bool StretchDraw = false;
  int32_t ShowTextKind = 0;
  std::string SelectTextFileName;
  tk::TColor BGColor = tk::clBlack;
  bool UseBGImageCheck = false;
  std::string BGImagePath;
  int32_t Interval = 0;
  int32_t WindowBorder = 0;
  int32_t BlankScreenInterval = 0;
  int32_t PreviousRowNumber = 0;
  bool AlwaysFirstRowCheck = false;
  // Pictures on every monitor; otherwise the others show the background.
  bool AllMonitors = false;
  // A TransitionKind; anything else read from the file is kTransitionNone.
  int32_t Transition = 0;
  // Within kTransitionTimeMin .. kTransitionTimeMax after loading.
  int32_t TransitionTime = 0;
  bool MouseClick = false;
  bool MouseMove = false;
  bool TextWrap = false;
  int32_t TextArrangement = 0;
  int32_t TextAlign = 0;
  int32_t TextLayout = 0;

  // One settings key (or group of keys): where it is stored, which field
  // it fills and, for booleans and integers, its default when missing.
  struct ExtendGroup {};  // MaxIndex and Extend0 .. Extend(MaxIndex - 1)
  struct FontGroup {};    // Name, CharSet, Size, Color and the four styles
  struct Key {
    const char* section;
    const char* name;
    std::variant<bool TApplicationIniFile::*, int32_t TApplicationIniFile::*,
                 std::string TApplicationIniFile::*, tk::TColor TApplicationIniFile::*, ExtendGroup,
                 FontGroup>
        field;
    int32_t def;
  };
  static const std::vector<Key>& Keys();

 private:
  void ApplyDefaults();
  // The few limits Load keeps, also when it stops at an error.
  void LimitValues();
  void ReadKey(const Key& k);
  void WriteKey(const Key& k);
  static void LoadList(tk::TStringList& list, const std::string& path, MissingLists missing);

  std::unique_ptr<tk::TCustomIniFile> ini_;
  std::string dir_list_path_;
  std::string file_list_path_;
};

// Makes the settings object a window works on: the real store in the
// program, a store over a test's own files in tests.
using SettingsFactory = std::function<std::unique_ptr<TApplicationIniFile>()>;

}  // namespace orv
