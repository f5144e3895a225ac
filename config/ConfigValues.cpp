#include "config/ConfigValues.h"

#include "toolkit/FileUtil.h"

namespace orv {

const char* const kBuiltInTypeCaptions[kBuiltInTypeRows] = {"Bitmap (*.bmp)", "Jpeg (*.jpg, *jpeg)",
                                                            "Png (*.png)"};

ConfigValues::ConfigValues()
    : TypeRows(kBuiltInTypeCaptions, kBuiltInTypeCaptions + kBuiltInTypeRows),
      TypeChecked(kBuiltInTypeRows, false) {}

EnableState EnableStateOf(const ConfigValues& v) {
  const bool textFile = v.ShowTextKind == 3;
  return EnableState{v.UseSusiePlugin, v.UseBGImage, v.UseBGImage, textFile, textFile};
}

void UpdateTypeRows(ConfigValues& v, const tk::TStringList& pluginFiles) {
  if (v.TypeRows.size() > kBuiltInTypeRows) {
    v.TypeRows.resize(kBuiltInTypeRows);
    v.TypeChecked.resize(kBuiltInTypeRows);
  }
  if (!v.UseSusiePlugin) return;
  for (const std::string& path : pluginFiles.Items()) {
    v.TypeRows.push_back(tk::ExtractFileName(path));
    v.TypeChecked.push_back(false);
  }
}

ConfigValues OpenValues(const TApplicationIniFile& s, const tk::TStringList& pluginFiles) {
  ConfigValues v;
  v.Folders = s.DirList.Items();
  v.FolderIndex = v.Folders.empty() ? -1 : 0;
  v.Files = s.FileList.Items();
  v.SubFolder = s.SubFolder;
  v.ReportError = s.ReportError;
  v.UseSusiePlugin = s.UseSusiePlugin;
  // A stored value beyond a range shows as the nearer end, as the up-down
  // itself would hold it; it is clamped from the full integer, not after a
  // cut to 16 bits, so 70000 reads as 20480 and not as 4464.
  v.Size = kSizeRange.Clamp(s.CheckSize);
  v.Width = kPixelRange.Clamp(s.CheckWidth);
  v.Height = kPixelRange.Clamp(s.CheckHeight);
  if (s.UseSusiePlugin) UpdateTypeRows(v, pluginFiles);
  for (size_t i = 0; i < v.TypeChecked.size(); ++i) v.TypeChecked[i] = s.ExtendEnabled(i);
  v.SampleFont = s.Font;
  v.RandamDisplay = s.RandamDisplay;
  v.StretchDraw = s.StretchDraw;
  v.AllMonitors = s.AllMonitors;
  v.BGColor = s.BGColor;
  v.UseBGImage = s.UseBGImageCheck;
  v.BGImagePath = s.BGImagePath;
  v.Interval = kIntervalRange.Clamp(s.Interval);
  v.BlankScreenInterval = kBlankScreenIntervalRange.Clamp(s.BlankScreenInterval);
  // Load keeps both within their limits; a record set by other means shows
  // the same as it would after a save and a load.
  v.Transition = s.Transition >= kTransitionNone && s.Transition <= kTransitionPanZoom
                     ? s.Transition
                     : kTransitionNone;
  v.TransitionTime = kTransitionTimeRange.Clamp(s.TransitionTime);
  // An index outside the list selects nothing, as the combo box does.
  v.ShowTextKind = s.ShowTextKind >= 0 && s.ShowTextKind <= 3 ? s.ShowTextKind : -1;
  v.SelectTextCaption = s.SelectTextFileName;
  v.AlwaysFirstRow = s.AlwaysFirstRowCheck;
  v.TextArrangement = s.TextArrangement >= 0 && s.TextArrangement <= 3 ? s.TextArrangement : -1;
  v.TextAlign = s.TextAlign >= 0 && s.TextAlign <= 2 ? s.TextAlign : -1;
  v.TextLayout = s.TextLayout >= 0 && s.TextLayout <= 2 ? s.TextLayout : -1;
  v.TextWrap = s.TextWrap;
  v.WindowBorder = kWindowBorderRange.Clamp(s.WindowBorder);
  v.MouseClick = s.MouseClick;
  v.MouseMove = s.MouseMove;
  return v;
}

void MoveSelectedFirst(std::vector<std::string>& folders, int& selected) {
  if (selected <= 0 || selected >= static_cast<int>(folders.size())) return;
  std::string entry = std::move(folders[static_cast<size_t>(selected)]);
  folders.erase(folders.begin() + selected);
  folders.insert(folders.begin(), std::move(entry));
  selected = 0;
}

void CutHistory(std::vector<std::string>& folders, int capacity) {
  if (capacity < 0) capacity = 0;
  if (static_cast<int>(folders.size()) > capacity) folders.resize(static_cast<size_t>(capacity));
}

void StoreValues(ConfigValues& v, TApplicationIniFile& s, int historyCapacity) {
  MoveSelectedFirst(v.Folders, v.FolderIndex);
  CutHistory(v.Folders, historyCapacity);
  if (v.FolderIndex >= static_cast<int>(v.Folders.size()))
    v.FolderIndex = v.Folders.empty() ? -1 : 0;
  s.DirList.Clear();
  for (const std::string& f : v.Folders) s.DirList.Add(f);
  s.FileList.Clear();
  for (const std::string& f : v.Files) s.FileList.Add(f);
  s.SubFolder = v.SubFolder;
  s.ReportError = v.ReportError;
  s.UseSusiePlugin = v.UseSusiePlugin;
  s.MaxIndex = static_cast<int32_t>(v.TypeChecked.size());
  s.Extend.assign(v.TypeChecked.begin(), v.TypeChecked.end());
  s.CheckSize = v.Size;
  s.CheckWidth = v.Width;
  s.CheckHeight = v.Height;
  s.Font = v.SampleFont;
  s.AlwaysFirstRowCheck = v.AlwaysFirstRow;
  s.RandamDisplay = v.RandamDisplay;
  s.StretchDraw = v.StretchDraw;
  s.AllMonitors = v.AllMonitors;
  s.BGColor = v.BGColor;
  s.UseBGImageCheck = v.UseBGImage;
  s.BGImagePath = v.BGImagePath;
  s.Interval = v.Interval;
  s.BlankScreenInterval = v.BlankScreenInterval;
  s.Transition = v.Transition;
  s.TransitionTime = v.TransitionTime;
  s.WindowBorder = v.WindowBorder;
  s.ShowTextKind = v.ShowTextKind;
  s.TextArrangement = v.TextArrangement;
  s.TextAlign = v.TextAlign;
  s.TextLayout = v.TextLayout;
  s.TextWrap = v.TextWrap;
  s.MouseClick = v.MouseClick;
  s.MouseMove = v.MouseMove;
}

bool SampleBorderFor(int margin, int clientWidth, int clientHeight, SampleBorder& out) {
  if (margin <= 0 || margin > 100) return false;
  const double f = margin * 0.01 * 0.5;
  out.topBottom = static_cast<int>(clientHeight * f);
  out.leftRight = static_cast<int>(clientWidth * f);
  return true;
}

std::string UnwritableSettingsFolderText(const std::string& folder) {
  return "設定を保存できません。次のフォルダーには書き込めません:\n" + folder +
         "\n\nOrvanelle.scr を書き込めるフォルダー（例: C:\\Users\\<ユーザー名>\\Orvanelle）に"
         "コピーし、そこで右クリックして「インストール」を選んでください。"
         "変更した設定はこの画面に残っています。";
}

}  // namespace orv
