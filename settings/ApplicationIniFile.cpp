#include "settings/ApplicationIniFile.h"

#include <stdexcept>

#include "toolkit/Colors.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"

namespace orv {

namespace {
const char kSearch[] = "Search";
const char kExtend[] = "Extend";
const char kScreen[] = "Screen";
const char kFont[] = "Font";
const char kEvent[] = "Event";

std::string ExtendKey(int32_t i) { return "Extend" + std::to_string(i); }
}  // namespace

TApplicationIniFile::TApplicationIniFile(std::unique_ptr<tk::TCustomIniFile> ini,
                                         const std::string& dirListName,
                                         const std::string& fileListName)
    : ini_(std::move(ini)) {
  if (!ini_) throw std::invalid_argument("TApplicationIniFile needs an INI file");
  const std::string folder = tk::ExtractFilePath(ini_->FileName());
  dirListPath_ = folder + dirListName;
  fileListPath_ = folder + fileListName;
}

void TApplicationIniFile::LoadList(tk::TStringList& list, const std::string& path) {
  try {
    list.LoadFromFile(path);
  } catch (const tk::EFOpenError&) {
    // Only a list that is not there is created from memory; one that is
    // there but unreadable would be lost by writing over it.
    if (tk::FileExists(path)) throw;
    list.SaveToFile(path);
  }
}

void TApplicationIniFile::Load() {
  tk::TCustomIniFile& ini = *ini_;
  LoadList(DirList, dirListPath_);
  LoadList(FileList, fileListPath_);

  SubFolder = ini.ReadBool(kSearch, "SubFolder", true);
  ReportError = ini.ReadBool(kSearch, "ReportError", false);
  UseSusiePlugin = ini.ReadBool(kSearch, "UseSusiePlugin", false);
  PluginFolder = ini.ReadString(kSearch, "PluginFolder", PluginFolder);
  CheckSize = ini.ReadInteger(kSearch, "CheckSize", 10240);
  CheckWidth = ini.ReadInteger(kSearch, "CheckWidth", 50);
  CheckHeight = ini.ReadInteger(kSearch, "CheckHeight", 50);

  MaxIndex = ini.ReadInteger(kExtend, "MaxIndex", 0);
  if (MaxIndex < 0) MaxIndex = 0;
  if (MaxIndex > kMaxExtendCount) MaxIndex = kMaxExtendCount;
  Extend.assign(static_cast<size_t>(MaxIndex), true);
  for (int32_t i = 0; i < MaxIndex; ++i)
    Extend[static_cast<size_t>(i)] = ini.ReadBool(kExtend, ExtendKey(i), true);

  RandamDisplay = ini.ReadBool(kScreen, "RandamDisplay", true);
  StretchDraw = ini.ReadInteger(kScreen, "StretchDraw", 1) != 0;
  BGColor = tk::StringToColor(ini.ReadString(kScreen, "BGColor", tk::ColorToString(BGColor)));
  UseBGImageCheck = ini.ReadBool(kScreen, "UseBGImageCheck", false);
  BGImagePath = ini.ReadString(kScreen, "BGImagePath", BGImagePath);
  ShowTextKind = ini.ReadInteger(kScreen, "ShowTextKind", 0);
  SelectTextFileName = ini.ReadString(kScreen, "SelectTextFileName", SelectTextFileName);
  TextArrangement = ini.ReadInteger(kScreen, "TextArrangement", 0);
  TextAlign = ini.ReadInteger(kScreen, "TextAlign", 0);
  TextLayout = ini.ReadInteger(kScreen, "TextLayout", 0);
  TextWrap = ini.ReadBool(kScreen, "TextWrap", false);
  Interval = ini.ReadInteger(kScreen, "Interval", 5);
  BlankScreenInterval = ini.ReadInteger(kScreen, "BlankScreenInterval", 2);
  WindowBorder = ini.ReadInteger(kScreen, "WindowBorder", 0);
  PreviousRowNumber = ini.ReadInteger(kScreen, "PreviousRowNumber", 0);
  AlwaysFirstRowCheck = ini.ReadInteger(kScreen, "AlwaysFirstRowCheck", 0) != 0;

  // A font ignores an empty face name, as the toolkit's font does.
  std::string name = ini.ReadString(kFont, "Name", Font.Name);
  if (!name.empty()) Font.Name = name;
  Font.CharSet = static_cast<uint8_t>(ini.ReadInteger(kFont, "CharSet", Font.CharSet) & 0xFF);
  Font.Size = ini.ReadInteger(kFont, "Size", Font.Size);
  Font.Color = tk::StringToColor(ini.ReadString(kFont, "Color", tk::ColorToString(Font.Color)));
  // Styles are only ever added: a style that reads false stays as it was.
  if (ini.ReadBool(kFont, "Bold", false)) Font.Style |= tk::fsBold;
  if (ini.ReadBool(kFont, "Italic", false)) Font.Style |= tk::fsItalic;
  if (ini.ReadBool(kFont, "Underline", false)) Font.Style |= tk::fsUnderline;
  if (ini.ReadBool(kFont, "StrikeOut", false)) Font.Style |= tk::fsStrikeOut;

  MouseClick = ini.ReadBool(kEvent, "MouseClick", true);
  MouseMove = ini.ReadBool(kEvent, "MouseMove", true);

  if (BlankScreenInterval < 0) BlankScreenInterval = 0;
}

void TApplicationIniFile::Save() {
  tk::TCustomIniFile& ini = *ini_;
  DirList.SaveToFile(dirListPath_);
  FileList.SaveToFile(fileListPath_);

  ini.WriteBool(kSearch, "SubFolder", SubFolder);
  ini.WriteBool(kSearch, "ReportError", ReportError);
  ini.WriteBool(kSearch, "UseSusiePlugin", UseSusiePlugin);
  ini.WriteString(kSearch, "PluginFolder", PluginFolder);
  ini.WriteInteger(kSearch, "CheckSize", CheckSize);
  ini.WriteInteger(kSearch, "CheckWidth", CheckWidth);
  ini.WriteInteger(kSearch, "CheckHeight", CheckHeight);

  ini.WriteInteger(kExtend, "MaxIndex", MaxIndex);
  for (int32_t i = 0; i < MaxIndex; ++i)
    ini.WriteBool(kExtend, ExtendKey(i), ExtendEnabled(static_cast<size_t>(i)));

  ini.WriteBool(kScreen, "RandamDisplay", RandamDisplay);
  ini.WriteBool(kScreen, "StretchDraw", StretchDraw);
  ini.WriteString(kScreen, "BGColor", tk::ColorToString(BGColor));
  ini.WriteBool(kScreen, "UseBGImageCheck", UseBGImageCheck);
  ini.WriteString(kScreen, "BGImagePath", BGImagePath);
  ini.WriteInteger(kScreen, "ShowTextKind", ShowTextKind);
  ini.WriteString(kScreen, "SelectTextFileName", SelectTextFileName);
  ini.WriteInteger(kScreen, "TextArrangement", TextArrangement);
  ini.WriteInteger(kScreen, "TextAlign", TextAlign);
  ini.WriteInteger(kScreen, "TextLayout", TextLayout);
  ini.WriteBool(kScreen, "TextWrap", TextWrap);
  ini.WriteInteger(kScreen, "Interval", Interval);
  ini.WriteInteger(kScreen, "BlankScreenInterval", BlankScreenInterval);
  ini.WriteInteger(kScreen, "WindowBorder", WindowBorder);
  ini.WriteInteger(kScreen, "PreviousRowNumber", PreviousRowNumber);
  ini.WriteBool(kScreen, "AlwaysFirstRowCheck", AlwaysFirstRowCheck);

  ini.WriteString(kFont, "Name", Font.Name);
  ini.WriteInteger(kFont, "CharSet", Font.CharSet);
  ini.WriteInteger(kFont, "Size", Font.Size);
  ini.WriteString(kFont, "Color", tk::ColorToString(Font.Color));
  ini.WriteBool(kFont, "Bold", (Font.Style & tk::fsBold) != 0);
  ini.WriteBool(kFont, "Italic", (Font.Style & tk::fsItalic) != 0);
  ini.WriteBool(kFont, "Underline", (Font.Style & tk::fsUnderline) != 0);
  ini.WriteBool(kFont, "StrikeOut", (Font.Style & tk::fsStrikeOut) != 0);

  ini.WriteBool(kEvent, "MouseClick", MouseClick);
  ini.WriteBool(kEvent, "MouseMove", MouseMove);
}

void TApplicationIniFile::SaveRowNumber() {
  ini_->WriteInteger(kScreen, "PreviousRowNumber", PreviousRowNumber);
}

}  // namespace orv
