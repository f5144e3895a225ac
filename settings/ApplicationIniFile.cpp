#include "settings/ApplicationIniFile.h"

#include <stdexcept>
#include <variant>

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

// Every key once, in the order Load reads and Save writes them. Strings and
// colours default to the field's current value; the file-type flags and the
// font are groups of keys with rules of their own.
const std::vector<TApplicationIniFile::Key>& TApplicationIniFile::Keys() {
  using T = TApplicationIniFile;
  static const std::vector<Key> keys = {
      {kSearch, "SubFolder", &T::SubFolder, 1},
      {kSearch, "ReportError", &T::ReportError, 0},
      {kSearch, "UseSusiePlugin", &T::UseSusiePlugin, 0},
      {kSearch, "PluginFolder", &T::PluginFolder, 0},
      {kSearch, "CheckSize", &T::CheckSize, 10240},
      {kSearch, "CheckWidth", &T::CheckWidth, 50},
      {kSearch, "CheckHeight", &T::CheckHeight, 50},
      {kExtend, "MaxIndex", ExtendGroup{}, 0},
      {kScreen, "RandamDisplay", &T::RandamDisplay, 1},
      {kScreen, "StretchDraw", &T::StretchDraw, 1},
      {kScreen, "BGColor", &T::BGColor, 0},
      {kScreen, "UseBGImageCheck", &T::UseBGImageCheck, 0},
      {kScreen, "BGImagePath", &T::BGImagePath, 0},
      {kScreen, "ShowTextKind", &T::ShowTextKind, 0},
      {kScreen, "SelectTextFileName", &T::SelectTextFileName, 0},
      {kScreen, "TextArrangement", &T::TextArrangement, 0},
      {kScreen, "TextAlign", &T::TextAlign, 0},
      {kScreen, "TextLayout", &T::TextLayout, 0},
      {kScreen, "TextWrap", &T::TextWrap, 0},
      {kScreen, "Interval", &T::Interval, 5},
      {kScreen, "BlankScreenInterval", &T::BlankScreenInterval, 2},
      {kScreen, "WindowBorder", &T::WindowBorder, 0},
      {kScreen, "PreviousRowNumber", &T::PreviousRowNumber, 0},
      {kScreen, "AlwaysFirstRowCheck", &T::AlwaysFirstRowCheck, 0},
      {kScreen, "AllMonitors", &T::AllMonitors, 1},
      {kScreen, "Transition", &T::Transition, kTransitionNone},
      {kScreen, "TransitionTime", &T::TransitionTime, kTransitionTimeDefault},
      {kFont, "Name", FontGroup{}, 0},
      {kEvent, "MouseClick", &T::MouseClick, 1},
      {kEvent, "MouseMove", &T::MouseMove, 1},
  };
  return keys;
}

TApplicationIniFile::TApplicationIniFile(std::unique_ptr<tk::TCustomIniFile> ini,
                                         const std::string& dirListName,
                                         const std::string& fileListName)
    : ini_(std::move(ini)) {
  if (!ini_) throw std::invalid_argument("TApplicationIniFile needs an INI file");
  const std::string folder = tk::ExtractFilePath(ini_->FileName());
  dir_list_path_ = folder + dirListName;
  file_list_path_ = folder + fileListName;
}

void TApplicationIniFile::LoadList(tk::TStringList& list, const std::string& path,
                                   MissingLists missing) {
  try {
    list.LoadFromFile(path);
  } catch (const tk::EFOpenError&) {
    // Only a list that is not there is created from memory; one that is
    // there but unreadable would be lost by writing over it.
    if (tk::FileExists(path)) throw;
    if (missing == MissingLists::Leave) return;
    try {
      list.SaveToFile(path);
    } catch (const tk::EFCreateError&) {
      // A folder that takes no new file: nothing is lost, the list is the
      // one in memory, and saving says what is wrong.
    }
  }
}

void TApplicationIniFile::ApplyDefaults() {
  for (const Key& k : Keys()) {
    if (auto b = std::get_if<bool TApplicationIniFile::*>(&k.field)) {
      this->*(*b) = k.def != 0;
    } else if (auto i = std::get_if<int32_t TApplicationIniFile::*>(&k.field)) {
      this->*(*i) = k.def;
    } else if (std::holds_alternative<ExtendGroup>(k.field)) {
      MaxIndex = 0;
      Extend.clear();
    }
  }
}

void TApplicationIniFile::ReadKey(const Key& k) {
  tk::TCustomIniFile& ini = *ini_;
  if (auto b = std::get_if<bool TApplicationIniFile::*>(&k.field)) {
    this->*(*b) = ini.ReadBool(k.section, k.name, k.def != 0);
  } else if (auto i = std::get_if<int32_t TApplicationIniFile::*>(&k.field)) {
    this->*(*i) = ini.ReadInteger(k.section, k.name, k.def);
  } else if (auto str = std::get_if<std::string TApplicationIniFile::*>(&k.field)) {
    this->*(*str) = ini.ReadString(k.section, k.name, this->*(*str));
  } else if (auto c = std::get_if<tk::TColor TApplicationIniFile::*>(&k.field)) {
    this->*(*c) =
        tk::StringToColor(ini.ReadString(k.section, k.name, tk::ColorToString(this->*(*c))));
  } else if (std::holds_alternative<ExtendGroup>(k.field)) {
    MaxIndex = ini.ReadInteger(kExtend, "MaxIndex", 0);
    if (MaxIndex < 0) MaxIndex = 0;
    if (MaxIndex > kMaxExtendCount) MaxIndex = kMaxExtendCount;
    Extend.assign(static_cast<size_t>(MaxIndex), true);
    for (int32_t n = 0; n < MaxIndex; ++n)
      Extend[static_cast<size_t>(n)] = ini.ReadBool(kExtend, ExtendKey(n), true);
  } else {
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
  }
}

void TApplicationIniFile::WriteKey(const Key& k) {
  tk::TCustomIniFile& ini = *ini_;
  if (auto b = std::get_if<bool TApplicationIniFile::*>(&k.field)) {
    ini.WriteBool(k.section, k.name, this->*(*b));
  } else if (auto i = std::get_if<int32_t TApplicationIniFile::*>(&k.field)) {
    ini.WriteInteger(k.section, k.name, this->*(*i));
  } else if (auto str = std::get_if<std::string TApplicationIniFile::*>(&k.field)) {
    ini.WriteString(k.section, k.name, this->*(*str));
  } else if (auto c = std::get_if<tk::TColor TApplicationIniFile::*>(&k.field)) {
    ini.WriteString(k.section, k.name, tk::ColorToString(this->*(*c)));
  } else if (std::holds_alternative<ExtendGroup>(k.field)) {
    ini.WriteInteger(kExtend, "MaxIndex", MaxIndex);
    for (int32_t n = 0; n < MaxIndex; ++n)
      ini.WriteBool(kExtend, ExtendKey(n), ExtendEnabled(static_cast<size_t>(n)));
  } else {
    ini.WriteString(kFont, "Name", Font.Name);
    ini.WriteInteger(kFont, "CharSet", Font.CharSet);
    ini.WriteInteger(kFont, "Size", Font.Size);
    ini.WriteString(kFont, "Color", tk::ColorToString(Font.Color));
    ini.WriteBool(kFont, "Bold", (Font.Style & tk::fsBold) != 0);
    ini.WriteBool(kFont, "Italic", (Font.Style & tk::fsItalic) != 0);
    ini.WriteBool(kFont, "Underline", (Font.Style & tk::fsUnderline) != 0);
    ini.WriteBool(kFont, "StrikeOut", (Font.Style & tk::fsStrikeOut) != 0);
  }
}

void TApplicationIniFile::Load(MissingLists missing) {
  // A Load stopped by an error (a broken colour text, an uncreatable list
  // file) leaves the keys after it unread; they must still mean what a
  // missing key means, or the show would flash every picture at the
  // timer's minimum with mouse exits off.
  ApplyDefaults();
  LoadList(DirList, dir_list_path_, missing);
  LoadList(FileList, file_list_path_, missing);
  try {
    for (const Key& k : Keys()) ReadKey(k);
  } catch (...) {
    // The keys read before the error are used as they are: they keep to
    // their limits all the same.
    LimitValues();
    throw;
  }
  LimitValues();
}

void TApplicationIniFile::LimitValues() {
  if (BlankScreenInterval < 0) BlankScreenInterval = 0;
  // A kind this version does not know (a later one's, or a typing slip)
  // shows pictures as they always were rather than guess at an effect.
  if (Transition < kTransitionNone || Transition > kTransitionPanZoom) Transition = kTransitionNone;
  // A fade too short to see is a flash; one too long keeps two pictures
  // half-drawn for most of their time.
  if (TransitionTime < kTransitionTimeMin) TransitionTime = kTransitionTimeMin;
  if (TransitionTime > kTransitionTimeMax) TransitionTime = kTransitionTimeMax;
}

void TApplicationIniFile::Save() {
  DirList.SaveToFile(dir_list_path_);
  FileList.SaveToFile(file_list_path_);
  for (const Key& k : Keys()) WriteKey(k);
}

void TApplicationIniFile::SaveRowNumber() {
  ini_->WriteInteger(kScreen, "PreviousRowNumber", PreviousRowNumber);
}

}  // namespace orv
