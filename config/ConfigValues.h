// What the settings dialog's controls hold, as plain values, and the rules
// that move them between the controls and the settings object: the values
// in at opening, out at OK, the folder-history rules, the file-type rows,
// the enable table and the sample's margin arithmetic. The window class
// copies this record to and from its controls in one place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/ApplicationIniFile.h"
#include "toolkit/Graphics.h"
#include "toolkit/StringList.h"

namespace orv {

// An up-down's range; positions outside it are brought to the nearer end.
struct UpDownRange {
  int16_t min;
  int16_t max;
  int16_t Clamp(int32_t v) const {
    return static_cast<int16_t>(v < min ? min : (v > max ? max : v));
  }
};

constexpr UpDownRange kSizeRange{1, 20480};
constexpr UpDownRange kPixelRange{1, 10240};  // width and height
constexpr UpDownRange kWindowBorderRange{5, 50};
constexpr UpDownRange kIntervalRange{1, 59};
constexpr UpDownRange kBlankScreenIntervalRange{1, 10};
constexpr UpDownRange kTransitionTimeRange{kTransitionTimeMin, kTransitionTimeMax};

// The three built-in file-type rows; plug-in rows follow them.
constexpr int kBuiltInTypeRows = 3;
extern const char* const kBuiltInTypeCaptions[kBuiltInTypeRows];

// The dark shadow system colour: the sample's background as designed.
constexpr tk::TColor cl3DDkShadow = tk::clSystemColor + 21;

struct ConfigValues {
  // File list page.
  std::vector<std::string> Folders;  // FolderNameComboBox, most recent first
  int FolderIndex = -1;              // its selection
  std::vector<std::string> Files;    // FileNameListView captions
  // Search conditions.
  bool SubFolder = true;
  bool ReportError = true;
  bool UseSusiePlugin = false;
  std::vector<std::string> TypeRows;  // ExtendNameEasyListView captions
  std::vector<bool> TypeChecked;      // and check marks, one per row
  int16_t Size = 10240;
  int16_t Width = 50;
  int16_t Height = 50;
  // Display 1 and the sample.
  bool RandamDisplay = true;
  bool StretchDraw = true;
  bool AllMonitors = true;
  int16_t WindowBorder = 5;
  tk::TFont SampleFont;  // ScreenFontLabel's font; its caption is the face name
  tk::TColor BGColor = cl3DDkShadow;
  bool UseBGImage = false;
  std::string BGImagePath;  // the file name CoolOpenDialog2 holds
  // Display 2.
  int TextArrangement = 2;
  int TextAlign = 1;
  int TextLayout = 1;
  int16_t Interval = 5;
  int16_t BlankScreenInterval = 2;
  int Transition = kTransitionNone;  // TransitionEasyComboBox's index
  int16_t TransitionTime = kTransitionTimeDefault;
  // Display 3.
  int ShowTextKind = -1;  // nothing selected as designed
  bool TextWrap = true;
  std::string SelectTextCaption;  // SelectTextFileNameShadowLabel
  bool AlwaysFirstRow = false;
  // End events.
  bool MouseClick = true;
  bool MouseMove = true;

  ConfigValues();
};

// Which controls the enable rules switch on, and whether the sample shows
// its background picture.
struct EnableState {
  bool SelectPluginFolderButton;
  bool BGImageButton;
  bool BGImageVisible;
  bool SelectTextButton;
  bool AlwaysFirstRowCheckBox;
  bool operator==(const EnableState& o) const {
    return SelectPluginFolderButton == o.SelectPluginFolderButton &&
           BGImageButton == o.BGImageButton && BGImageVisible == o.BGImageVisible &&
           SelectTextButton == o.SelectTextButton &&
           AlwaysFirstRowCheckBox == o.AlwaysFirstRowCheckBox;
  }
};
EnableState EnableStateOf(const ConfigValues& v);

// The plug-in part of the type list: back to the three built-in rows
// (their marks kept), then, when plug-ins are in use, one unchecked row
// per listed file, captioned with its name without the folder.
void UpdateTypeRows(ConfigValues& v, const tk::TStringList& pluginFiles);

// Opening: the controls' values from loaded settings. `pluginFiles` is the
// listing of the plug-in folder, used only when plug-ins are in use.
ConfigValues OpenValues(const TApplicationIniFile& s, const tk::TStringList& pluginFiles);

// Folder history at OK: the selected entry moves to the front (selection
// follows it), then entries beyond `capacity` are dropped from the end.
void MoveSelectedFirst(std::vector<std::string>& folders, int& selected);
void CutHistory(std::vector<std::string>& folders, int capacity);

// OK: reorders and cuts the history in `v` as the combo box would be, then
// copies every value into the settings object. Does not save.
void StoreValues(ConfigValues& v, TApplicationIniFile& s, int historyCapacity);

// What OK says when the module's folder takes no new file (System32,
// Program Files, a read-only share): the settings cannot be kept there, and
// where the module should go instead. `folder` ends with its separator.
std::string UnwritableSettingsFolderText(const std::string& folder);

// The sample's margin spacers for a margin percentage: top and bottom
// take `topBottom`, left and right `leftRight`. False (and nothing to
// change) for margins outside 1..100.
struct SampleBorder {
  int topBottom;
  int leftRight;
};
bool SampleBorderFor(int margin, int clientWidth, int clientHeight, SampleBorder& out);

}  // namespace orv
