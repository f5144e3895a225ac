// The settings dialog: seven pages that show every setting, the layout
// sample, and OK, which stores and saves them (Cancel, Esc and the close
// box discard everything).
//
// The frame and the pages are dialog templates of the module (ConfigDlg.rc):
// the frame is this form's window, each page a child dialog over the page
// control, made once and shown when its tab is chosen. Commands and
// notifications of the pages' controls are passed to the frame, where
// they reach the control's own object first, then the handlers below.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "config/ConfigValues.h"
#include "config/CooldlgWin32.h"
#include "config/EasyControlsWin32.h"
#include "config/LayoutSampleWin32.h"
#include "decoder/DecoderClientWin32.h"
#include "search/SearchRun.h"
#include "settings/ApplicationIniFile.h"
#include "toolkit/Forms.h"
#include "toolkit/Win32Handles.h"

namespace orv {

// The window timer that looks at the sample's background decoder.
constexpr UINT_PTR kSampleDecoderTimer = 0x5342;

class TConfigDlg : public tk::TForm {
 public:
  // `requestedOwner`: the window that asked for the dialog ("/c:<handle>"),
  // or null. When it is a top-level window it owns the dialog and takes no
  // input while the dialog is open; without one, the display properties
  // window does so when it is in front.
  explicit TConfigDlg(SettingsFactory settingsFactory, HWND requestedOwner = nullptr);
  ~TConfigDlg() override;

  static constexpr int kPageCount = 7;
  // The window that owns the dialog and is disabled while it is open, or
  // null.
  HWND DisplayPropertiesWindow() const { return properties_window_; }

  // Handlers, named after their control and event.
  void OKBtnClick();
  void CancelBtnClick();
  void FolderNameComboBoxChange();
  void SelectFolderButtonClick();
  void UpdateViewActionExecute();
  void FileNameListViewClick();
  void FileNameListViewMouseMove();
  void FileListSelectPopupMenuPopup();
  void DeleteSelectItemMenuItemClick();
  // Builds a new file list from `Folder` with the conditions the controls
  // show now, and enters the folder in the history.
  void SearchFolder(const std::string& Folder);
  void UseSusiePluginCheckBoxClick();
  void SelectPluginFolderButtonClick();
  void UseBGImageCheckBoxClick();
  void BGImageButtonClick();
  void FontSelectButtonClick();
  void FontColorButtonClick();
  void BGColorButtonClick();
  void ShowTextKindEasyComboBoxChange();
  void SelectTextButtonClick();
  void WindowBorderUpDownClick();
  void WindowBorderNumberFilterEditExit();
  void UpdateExtendNameList();
  void SetFileNameList(const tk::TStringList& list);
  void SetSampleBorder(int margin);
  // Asks a decoder process for the sample's background picture; it is put
  // in the sample when it comes (a window timer looks), so a picture that
  // hangs or crashes its decoder costs the sample its background only.
  void LoadSampleBackground(const std::string& fileName);
  void TakeSampleBackground();

  // The tooltip text a control shows now.
  std::string Hint(HWND control) const;
  HMENU FileListSelectPopupMenu() const { return file_list_menu_.Get(); }

  // Every control's value, as OK would read it, and the reverse.
  ConfigValues ReadControls() const;
  void WriteControls(const ConfigValues& v);

  TSelectFolderDialog SelectFolderDialog1;
  TSelectFolderDialog SelectFolderDialog2;
  TCoolOpenDialog CoolOpenDialog1;
  TCoolOpenDialog CoolOpenDialog2;

 protected:
  const char* ClassName() const override { return "TConfigDlg"; }
  void CreateParams(tk::TCreateParams& params) override;
  void FormCreate() override;
  void FormDestroy() override;
  void FormActivate(bool active) override;
  void FormCommand(WORD id, WORD code, HWND control) override;
  LRESULT FormNotify(NMHDR& header) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  bool PreProcessMessage(MSG& msg) override;

 private:
  static INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
  void CreatePages();
  void FitPageControl();
  void ShowPage(int index);
  void AttachControls();
  void CreateSample();
  void AddHint(HWND control, const std::string& text);
  void SetHint(HWND control, const std::string& text);
  HWND Item(int id) const;
  bool Checked(int id) const;
  void SetChecked(int id, bool b);
  int RadioIndex(int firstId, int count) const;
  void SetRadioIndex(int firstId, int count, int index);
  void ApplyEnableRules();
  bool PickColor(tk::TColor& color);
  SearchConditions ConditionsFromControls() const;
  void EnterHistory(const std::string& folder);
  void ShowFileListMenu(int x, int y);

  SettingsFactory settings_factory_;
  std::unique_ptr<TApplicationIniFile> settings_;
  void ReleaseOwner();

  HWND requested_owner_ = nullptr;
  HWND properties_window_ = nullptr;
  HWND PageControl1 = nullptr;
  HWND pages_[kPageCount] = {};
  int active_page_ = -1;
  HWND hint_ = nullptr;
  std::string file_list_hint_;

  TEasyComboBox FolderNameComboBox;
  TEasyListView FileNameListView;
  TEasyListView ExtendNameEasyListView;
  TEasyComboBox ShowTextKindEasyComboBox;
  TEasyComboBox TransitionEasyComboBox;
  TNumberFilterEdit SizeEdit;
  TNumberFilterEdit WidthEdit;
  TNumberFilterEdit HeightEdit;
  TNumberFilterEdit WindowBorderNumberFilterEdit;
  TNumberFilterEdit IntervalEdit;
  TNumberFilterEdit BlankScreenIntervalNumberFilterEdit;
  TNumberFilterEdit TransitionTimeNumberFilterEdit;
  std::unique_ptr<TLayoutSample> sample_;
  // The decoder of the sample's background while it is asked.
  std::unique_ptr<TDecoderClient> sample_decoder_;
  tk::ScopedGdiObject bold_font_;
  tk::ScopedMenu file_list_menu_;
  COLORREF custom_colors_[16] = {};
};

}  // namespace orv
