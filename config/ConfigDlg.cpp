#include "config/ConfigDlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "config/ConfigDlgParts.h"
#include "config/ConfigDlgRes.h"
#include "config/SearchUi.h"
#include "imaging/PictureLoader.h"
#include "search/Dirsearch.h"
#include "toolkit/Canvas.h"
#include "toolkit/Convert.h"
#include "toolkit/Exceptions.h"
#include "toolkit/FileUtil.h"

namespace orv {

namespace {

const char* const kPageCaptions[TConfigDlg::kPageCount] = {
    "表示ファイル", "検索条件",     "表示設定１",    "表示設定２",
    "表示設定３",   "終了イベント", "バージョン情報"};

const char* const kShowTextKinds[] = {"表示しない", "ファイル名を表示する（拡張子あり）",
                                      "ファイル名を表示する（拡張子なし）",
                                      "指定したテキストを表示する"};

// Indexed by TransitionKind.
const char* const kTransitions[] = {"なし", "クロスフェード", "パン・ズーム"};

constexpr char kPropertiesTitle[] = "画面のプロパティ";
constexpr char kTextWrapHint[] = "半角の空白を含むテキストは表示幅を超えると折り返されます";
constexpr UINT kHistoryCapacityResource = 10;

// The about page's text: the fixed version line, then the release it belongs
// to and the terms it is really given under (LICENSE, shipped as
// LICENSE.txt).
std::string AboutText() {
  return std::string("Version ver2.01\r\n") + "リリース " + ORV_RELEASE_VERSION +
         "\r\n\r\n"
         "Copyright (c) 2026 The Orvanelle developers\r\n\r\n"
         "このソフトウェアは MIT ライセンスで提供されます。著作権表示とこの許諾表示を"
         "すべての複製または重要な部分に記載するかぎり、個人・法人を問わず無料で、使用・複製・"
         "改変・結合・公開・頒布・再許諾・販売することができます。ライセンスの全文は同梱の "
         "LICENSE.txt にあります。\r\n\r\n"
         "謝辞: JPEG の読み込みには Independent JPEG Group のソフトウェアを元にした "
         "libjpeg-turbo を、PNG の圧縮と展開には zlib ライブラリを使っています。"
         "This software is based in part on the work of the Independent JPEG Group.\r\n"
         "HEIC/HEIF・AVIF・WebP のプラグイン（plugins フォルダー）は libheif と libde265"
         "（LGPL-3.0-or-later）、dav1d（BSD-2-Clause）、libwebp（BSD-3-Clause）を使っています。"
         "各ライブラリのライセンスと、ビルドに使ったソースの版は licenses フォルダーの "
         "photo-libraries.txt に、LGPL のライブラリの対応ソースは Orvanelle-" ORV_RELEASE_VERSION
         "-third-party-sources.zip にあります。これらを公開している皆さんに感謝します。\r\n\r\n"
         "このソフトウェアは無保証です。使用したこと、または使用できなかったことによって生じた"
         "いかなる損害についても、作者または著作権者は責任を負いません。";
}

bool IsTopLevelWindow(HWND w) {
  return w && IsWindow(w) && (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) == 0;
}

}  // namespace

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

TConfigDlg::TConfigDlg(SettingsFactory settingsFactory, HWND requestedOwner)
    : settings_factory_(std::move(settingsFactory)), requested_owner_(requestedOwner) {
  for (COLORREF& c : custom_colors_) c = RGB(255, 255, 255);
  const TSelectFolderOptions folderOptions =
      FolderOption(sfReturnFSAncestors) | FolderOption(sfReturnOnlyFsDirs);
  SelectFolderDialog1.Title = "検索するフォルダを選択してください";
  SelectFolderDialog1.Options = folderOptions;
  SelectFolderDialog2.Title = "pluginのあるフォルダを選択してください";
  SelectFolderDialog2.Options = folderOptions;
  CoolOpenDialog1.Title = "表示するテキストを選択してください";
  CoolOpenDialog1.Filter = "テキストファイル(*.txt)|*.txt";
  CoolOpenDialog1.Options =
      OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
  CoolOpenDialog2.Title = "背景画像を選択してください";
  CoolOpenDialog2.Filter =
      "Windows Bitmap（*.bmp）|*.BMP|Jpeg(*.jpg,*.jpeg)|*.JPG;*JPEG|Png(*.png)|*.PNG";
  CoolOpenDialog2.Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;
}

TConfigDlg::~TConfigDlg() {
  DestroyForm();
  // Also when creation failed before the window existed.
  ReleaseOwner();
}

// ---- creation and the window relations ------------------------------------

void TConfigDlg::CreateParams(tk::TCreateParams& params) {
  tk::TForm::CreateParams(params);
  params.DialogTemplate = MAKEINTRESOURCEA(IDD_CONFIGDLG);
  // Today's Screen Saver Settings name themselves with "/c:<handle>"; their
  // title differs between Windows versions, so the title only counts when
  // no such window was named.
  HWND owner = nullptr;
  if (IsTopLevelWindow(requested_owner_)) {
    owner = requested_owner_;
  } else {
    HWND properties = FindWindowA(nullptr, kPropertiesTitle);
    if (properties && properties == GetForegroundWindow()) owner = properties;
  }
  if (owner) {
    // Stay in front of the window that asked and keep it from taking input
    // until the dialog is gone.
    properties_window_ = owner;
    EnableWindow(owner, FALSE);
    params.WndParent = owner;
  }
}

void TConfigDlg::ReleaseOwner() {
  if (!properties_window_) return;
  EnableWindow(properties_window_, TRUE);
  properties_window_ = nullptr;
}

void TConfigDlg::FormCreate() {
  settings_ = settings_factory_();
  try {
    settings_->Load();
  } catch (const tk::Exception& e) {
    // What was read before the error stays; the dialog still opens.
    tk::Application.ShowException(e);
  }
  CreatePages();
  AttachControls();
  CreateSample();

  tk::TStringList plugins;
  if (settings_->UseSusiePlugin && !settings_->PluginFolder.empty()) {
    tk::TStringList spi;
    spi.Add(".spi");
    FindFiles(plugins, settings_->PluginFolder, spi);
  }
  WriteControls(OpenValues(*settings_, plugins));
  FolderNameComboBoxChange();
  ExtendNameEasyListView.SetReadOnlyEx(true);
  CoolOpenDialog2.FileName = settings_->BGImagePath;
  if (settings_->BGImagePath.size() > 3) LoadSampleBackground(settings_->BGImagePath);
  SetSampleBorder(UpDownPosition(Item(IDC_WINDOWBORDERUPDOWN)));

  ShowPage(0);
  ShowWindow(Handle(), SW_SHOW);
  SetForegroundWindow(Handle());
  if (HWND first = GetNextDlgTabItem(pages_[0], nullptr, FALSE)) SetFocus(first);
}

void TConfigDlg::FormDestroy() {
  ReleaseOwner();
  KillTimer(Handle(), kSampleDecoderTimer);
  sample_decoder_.reset();
  sample_.reset();
  settings_.reset();
}

void TConfigDlg::FormActivate(bool active) {
  // The application's hidden window carries the task-bar button; the
  // dialog is shown without one.
  if (active && tk::Application.Handle()) ShowWindow(tk::Application.Handle(), SW_HIDE);
}

INT_PTR CALLBACK TConfigDlg::PageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(page, DWLP_USER, lParam);
      return FALSE;
    case WM_COMMAND:
    case WM_VSCROLL:
    case WM_CONTEXTMENU:
      SendMessageA(GetParent(page), msg, wParam, lParam);
      return TRUE;
    case WM_NOTIFY:
      SetWindowLongPtrA(page, DWLP_MSGRESULT, SendMessageA(GetParent(page), msg, wParam, lParam));
      return TRUE;
    default:
      return FALSE;
  }
}

void TConfigDlg::CreatePages() {
  PageControl1 = GetDlgItem(Handle(), IDC_PAGECONTROL1);
  for (int i = 0; i < kPageCount; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kPageCaptions[i]);
    SendMessageA(PageControl1, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(&item));
  }
  for (int i = 0; i < kPageCount; ++i) {
    pages_[i] = CreateDialogParamA(tk::Application.Instance(), MAKEINTRESOURCEA(IDD_TABSHEET1 + i),
                                   Handle(), PageProc, reinterpret_cast<LPARAM>(this));
    if (!pages_[i]) throw tk::Exception("Error creating window");
  }
  FitPageControl();
  // The program's name in bold on the about page.
  HWND name = Item(IDC_PROGRAMNAMELABEL);
  LOGFONTA lf = {};
  if (GetObjectA(reinterpret_cast<HFONT>(SendMessageA(name, WM_GETFONT, 0, 0)), sizeof lf, &lf)) {
    lf.lfWeight = FW_BOLD;
    lf.lfHeight = lf.lfHeight * 4 / 3;
    bold_font_.Reset(CreateFontIndirectA(&lf));
    SendMessageA(name, WM_SETFONT, reinterpret_cast<WPARAM>(bold_font_.Get()), FALSE);
  }
  SetWindowTextA(Item(IDC_ABOUTTEXT), AboutText().c_str());
}

void TConfigDlg::FitPageControl() {
  // The pages keep their template size; the page control (and with it the
  // frame and the buttons below it) grows when the font's tab rows leave
  // less room than that, so nothing is cut at any font size or DPI.
  RECT page;
  GetWindowRect(pages_[0], &page);
  RECT r;
  GetWindowRect(PageControl1, &r);
  MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&r), 2);
  RECT inner = r;
  TabCtrl_AdjustRect(PageControl1, FALSE, &inner);
  const int dw = std::max<int>(0, (page.right - page.left) - (inner.right - inner.left));
  const int dh = std::max<int>(0, (page.bottom - page.top) - (inner.bottom - inner.top));
  if (dw > 0 || dh > 0) {
    SetWindowPos(PageControl1, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (int id : {IDOK, IDCANCEL}) {
      HWND b = GetDlgItem(Handle(), id);
      RECT br;
      GetWindowRect(b, &br);
      MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&br), 2);
      SetWindowPos(b, nullptr, br.left + dw, br.top + dh, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT fr;
    GetWindowRect(Handle(), &fr);
    SetWindowPos(Handle(), nullptr, fr.left - dw / 2, fr.top - dh / 2, fr.right - fr.left + dw,
                 fr.bottom - fr.top + dh, SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(PageControl1, &r);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&r), 2);
    inner = r;
    TabCtrl_AdjustRect(PageControl1, FALSE, &inner);
  }
  for (HWND p : pages_) {
    // Above the page control, so its controls come first in tab order and
    // the control never paints over them.
    SetWindowPos(p, HWND_TOP, inner.left, inner.top, inner.right - inner.left,
                 inner.bottom - inner.top, SWP_NOACTIVATE | SWP_HIDEWINDOW);
  }
}

void TConfigDlg::AttachControls() {
  FolderNameComboBox.Attach(Item(IDC_FOLDERNAMECOMBOBOX), true);
  ShowTextKindEasyComboBox.Attach(Item(IDC_SHOWTEXTKINDEASYCOMBOBOX), true);
  for (const char* kind : kShowTextKinds) ShowTextKindEasyComboBox.Add(kind);
  ShowTextKindEasyComboBox.SetItemIndex(-1);
  TransitionEasyComboBox.Attach(Item(IDC_TRANSITIONEASYCOMBOBOX), true);
  for (const char* kind : kTransitions) TransitionEasyComboBox.Add(kind);

  FileNameListView.Attach(Item(IDC_FILENAMELISTVIEW), false);
  FileNameListView.OnMouseMove = [this] { FileNameListViewMouseMove(); };
  HWND files = FileNameListView.Handle();
  file_list_menu_.Reset(CreatePopupMenu());
  AppendMenuA(file_list_menu_.Get(), MF_STRING, IDM_DELETESELECTITEM, "選択したファイル名を削除");
  AppendMenuA(file_list_menu_.Get(), MF_STRING, IDM_UPDATEVIEW, "最新の状態に更新");
  SendMessageA(files, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  RECT fr;
  GetClientRect(files, &fr);
  LVCOLUMNA col = {};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.pszText = const_cast<char*>("ファイル名");
  col.cx = fr.right - GetSystemMetrics(SM_CXVSCROLL);
  SendMessageA(files, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));

  ExtendNameEasyListView.Attach(Item(IDC_EXTENDNAMEEASYLISTVIEW), false);
  SendMessageA(ExtendNameEasyListView.Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES,
               LVS_EX_CHECKBOXES);

  struct NumberEdit {
    TNumberFilterEdit* edit;
    int editId, upDownId;
    const char* filter;
    int maxLength;
    float min, max;
    UpDownRange upDown;
  } edits[] = {
      {&SizeEdit, IDC_SIZEEDIT, IDC_SIZEUPDOWN, "#####0", 5, 1, 20480, kSizeRange},
      {&WidthEdit, IDC_WIDTHEDIT, IDC_WIDTHUPDOWN, "#####0", 5, 1, 10240, kPixelRange},
      {&HeightEdit, IDC_HEIGHTEDIT, IDC_HEIGHTUPDOWN, "#####0", 5, 1, 10240, kPixelRange},
      {&WindowBorderNumberFilterEdit, IDC_WINDOWBORDERNUMBERFILTEREDIT, IDC_WINDOWBORDERUPDOWN,
       "##0", 2, 5, 50, kWindowBorderRange},
      {&IntervalEdit, IDC_INTERVALEDIT, IDC_INTERVALUPDOWN, "#0", 2, 1, 59, kIntervalRange},
      // The edit takes up to 59 while its up-down, which holds the value,
      // stops at 10.
      {&BlankScreenIntervalNumberFilterEdit, IDC_BLANKSCREENINTERVALNUMBERFILTEREDIT,
       IDC_BLANKSCREENINTERVALUPDOWN, "#0", 2, 1, 59, kBlankScreenIntervalRange},
      {&TransitionTimeNumberFilterEdit, IDC_TRANSITIONTIMENUMBERFILTEREDIT,
       IDC_TRANSITIONTIMEUPDOWN, "###0", 4, kTransitionTimeMin, kTransitionTimeMax,
       kTransitionTimeRange},
  };
  for (const NumberEdit& e : edits) {
    e.edit->SetNumberFilter(e.filter);
    e.edit->SetMaxFloatValue(e.max);
    e.edit->SetMinFloatValue(e.min);
    e.edit->Attach(Item(e.editId), e.maxLength);
    SetReflectTarget(e.edit->Handle(), e.edit);
    UpDownSetRange(Item(e.upDownId), e.upDown.min, e.upDown.max);
  }
  WindowBorderNumberFilterEdit.OnExit = [this] { WindowBorderNumberFilterEditExit(); };

  hint_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(),
                          nullptr, tk::Application.Instance(), nullptr);
  SendMessageA(hint_, TTM_SETMAXTIPWIDTH, 0, 600);
  AddHint(FolderNameComboBox.Handle(), "");
  AddHint(files, kFileListHint);
  file_list_hint_ = kFileListHint;
  AddHint(Item(IDC_TEXTWRAPCHECKBOX), kTextWrapHint);
}

void TConfigDlg::CreateSample() {
  HWND page = GetParent(Item(IDC_GROUPBOX16));
  HWND group = Item(IDC_GROUPBOX16);
  RECT g;
  GetWindowRect(group, &g);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&g), 2);
  RECT caption = {0, 0, 4, 10};  // the group's caption line, in dialog units
  MapDialogRect(page, &caption);
  const int dpi = ScreenDpi();
  const int w = MulDiv(TLayoutSample::kWidth96, dpi, 96);
  const int h = MulDiv(TLayoutSample::kHeight96, dpi, 96);
  // The sample has a fixed pixel size; the group grows if the font's units
  // left it too small.
  const int needW = w + 2 * caption.right, needH = h + caption.bottom + caption.right;
  if (g.right - g.left < needW || g.bottom - g.top < needH) {
    g.right = g.left + std::max<LONG>(g.right - g.left, needW);
    g.bottom = g.top + std::max<LONG>(g.bottom - g.top, needH);
    SetWindowPos(group, nullptr, g.left, g.top, g.right - g.left, g.bottom - g.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const int x = g.left + (g.right - g.left - w) / 2;
  const int y = g.top + caption.bottom + (g.bottom - g.top - caption.bottom - h) / 2;
  sample_ = std::make_unique<TLayoutSample>(page, x, y, dpi);
  sample_->CreateForm();
  SetWindowPos(sample_->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TConfigDlg::AddHint(HWND control, const std::string& text) {
  TOOLINFOA ti = {};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = GetParent(control);
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = const_cast<char*>(text.c_str());
  SendMessageA(hint_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void TConfigDlg::SetHint(HWND control, const std::string& text) {
  TOOLINFOA ti = {};
  ti.cbSize = sizeof ti;
  ti.hwnd = GetParent(control);
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = const_cast<char*>(text.c_str());
  SendMessageA(hint_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
}

HWND TConfigDlg::Item(int id) const {
  for (HWND page : pages_)
    if (HWND w = page ? GetDlgItem(page, id) : nullptr) return w;
  return GetDlgItem(Handle(), id);
}

bool TConfigDlg::Checked(int id) const {
  return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TConfigDlg::SetChecked(int id, bool b) {
  SendMessageA(Item(id), BM_SETCHECK, b ? BST_CHECKED : BST_UNCHECKED, 0);
}

int TConfigDlg::RadioIndex(int firstId, int count) const {
  for (int i = 0; i < count; ++i)
    if (Checked(firstId + i)) return i;
  return -1;
}

void TConfigDlg::SetRadioIndex(int firstId, int count, int index) {
  for (int i = 0; i < count; ++i)
    SendMessageA(Item(firstId + i), BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
}

// ---- pages and keys -------------------------------------------------------

void TConfigDlg::ShowPage(int index) {
  if (index < 0 || index >= kPageCount || index == active_page_) return;
  HWND focus = GetFocus();
  const bool focusOnPage = active_page_ >= 0 && focus && IsChild(pages_[active_page_], focus);
  if (SendMessageA(PageControl1, TCM_GETCURSEL, 0, 0) != index)
    SendMessageA(PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  ShowWindow(pages_[index], SW_SHOW);
  if (active_page_ >= 0) ShowWindow(pages_[active_page_], SW_HIDE);
  active_page_ = index;
  if (focusOnPage) {
    if (HWND first = GetNextDlgTabItem(pages_[index], nullptr, FALSE))
      SendMessageA(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    else
      SetFocus(PageControl1);
  }
}

bool TConfigDlg::PreProcessMessage(MSG& msg) {
  if (msg.message == WM_KEYDOWN && (GetKeyState(VK_CONTROL) & 0x8000) &&
      (msg.hwnd == Handle() || IsChild(Handle(), msg.hwnd))) {
    const bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    int step = 0;
    if (msg.wParam == VK_TAB) step = shift ? -1 : 1;
    if (msg.wParam == VK_NEXT) step = 1;
    if (msg.wParam == VK_PRIOR) step = -1;
    if (step != 0) {
      ShowPage((active_page_ + step + kPageCount) % kPageCount);
      return true;
    }
  }
  return tk::TForm::PreProcessMessage(msg);
}

LRESULT TConfigDlg::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kSampleDecoderTimer) {
    TakeSampleBackground();
    return 0;
  }
  if (msg == WM_CONTEXTMENU && reinterpret_cast<HWND>(wParam) == FileNameListView.Handle()) {
    ShowFileListMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    return 0;
  }
  if (msg == WM_VSCROLL && reinterpret_cast<HWND>(lParam) == Item(IDC_WINDOWBORDERUPDOWN) &&
      LOWORD(wParam) == SB_THUMBPOSITION) {
    WindowBorderUpDownClick();
    return 0;
  }
  return tk::TForm::WndProc(msg, wParam, lParam);
}

void TConfigDlg::FormCommand(WORD id, WORD code, HWND) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDOK:
        OKBtnClick();
        return;
      case IDCANCEL:
        CancelBtnClick();
        return;
      case IDC_USESUSIEPLUGINCHECKBOX:
        UseSusiePluginCheckBoxClick();
        return;
      case IDC_SELECTPLUGINFOLDERBUTTON:
        SelectPluginFolderButtonClick();
        return;
      case IDC_USEBGIMAGECHECKBOX:
        UseBGImageCheckBoxClick();
        return;
      case IDC_BGIMAGEBUTTON:
        BGImageButtonClick();
        return;
      case IDC_FONTSELECTBUTTON:
        FontSelectButtonClick();
        return;
      case IDC_FONTCOLORBUTTON:
        FontColorButtonClick();
        return;
      case IDC_BGCOLORBUTTON:
        BGColorButtonClick();
        return;
      case IDC_SELECTTEXTBUTTON:
        SelectTextButtonClick();
        return;
      case IDC_SELECTFOLDERBUTTON:
        SelectFolderButtonClick();
        return;
      // The wide button and the menu's second entry are one action.
      case IDC_VIEWUPDATEBUTTON:
      case IDM_UPDATEVIEW:
        UpdateViewActionExecute();
        return;
      case IDM_DELETESELECTITEM:
        DeleteSelectItemMenuItemClick();
        return;
      default:
        return;
    }
  }
  if (code == CBN_SELCHANGE && id == IDC_FOLDERNAMECOMBOBOX) FolderNameComboBoxChange();
  if (code == CBN_SELCHANGE && id == IDC_SHOWTEXTKINDEASYCOMBOBOX) ShowTextKindEasyComboBoxChange();
}

LRESULT TConfigDlg::FormNotify(NMHDR& header) {
  if (header.hwndFrom == PageControl1 && header.code == TCN_SELCHANGE)
    ShowPage(static_cast<int>(SendMessageA(PageControl1, TCM_GETCURSEL, 0, 0)));
  if (header.hwndFrom == FileNameListView.Handle() && header.code == NM_CLICK)
    FileNameListViewClick();
  return 0;
}

// ---- values in and out ----------------------------------------------------

void TConfigDlg::WriteControls(const ConfigValues& v) {
  FolderNameComboBox.Clear();
  for (const std::string& f : v.Folders) FolderNameComboBox.Add(f);
  if (v.FolderIndex >= 0) FolderNameComboBox.SetItemIndex(v.FolderIndex);
  tk::TStringList files;
  for (const std::string& f : v.Files) files.Add(f);
  SetFileNameList(files);

  SetChecked(IDC_SUBFOLDERCHECKBOX, v.SubFolder);
  SetChecked(IDC_REPORTERRORCHECKBOX, v.ReportError);
  SetChecked(IDC_USESUSIEPLUGINCHECKBOX, v.UseSusiePlugin);
  UpDownSetPosition(Item(IDC_SIZEUPDOWN), v.Size);
  UpDownSetPosition(Item(IDC_WIDTHUPDOWN), v.Width);
  UpDownSetPosition(Item(IDC_HEIGHTUPDOWN), v.Height);
  ExtendNameEasyListView.Clear();
  for (size_t i = 0; i < v.TypeRows.size(); ++i) {
    ExtendNameEasyListView.AddItem(v.TypeRows[i]);
    ExtendNameEasyListView.SetChecked(static_cast<int>(i), v.TypeChecked[i]);
  }

  SetChecked(IDC_RANDAMDISPLAYCHECKBOX, v.RandamDisplay);
  SetChecked(IDC_STRETCHDRAWCHECKBOX, v.StretchDraw);
  SetChecked(IDC_ALLMONITORSCHECKBOX, v.AllMonitors);
  UpDownSetPosition(Item(IDC_WINDOWBORDERUPDOWN), v.WindowBorder);
  sample_->ScreenFontLabel.SetFont(v.SampleFont);
  sample_->ScreenFontLabel.SetCaption(v.SampleFont.Name);
  sample_->SetColor(v.BGColor);
  SetChecked(IDC_USEBGIMAGECHECKBOX, v.UseBGImage);
  CoolOpenDialog2.FileName = v.BGImagePath;

  SetRadioIndex(IDC_TEXTARRANGEMENT0, 4, v.TextArrangement);
  SetRadioIndex(IDC_TEXTALIGN0, 3, v.TextAlign);
  SetRadioIndex(IDC_TEXTLAYOUT0, 3, v.TextLayout);
  UpDownSetPosition(Item(IDC_INTERVALUPDOWN), v.Interval);
  UpDownSetPosition(Item(IDC_BLANKSCREENINTERVALUPDOWN), v.BlankScreenInterval);
  TransitionEasyComboBox.SetItemIndex(v.Transition);
  UpDownSetPosition(Item(IDC_TRANSITIONTIMEUPDOWN), v.TransitionTime);

  ShowTextKindEasyComboBox.SetItemIndex(v.ShowTextKind);
  SetChecked(IDC_TEXTWRAPCHECKBOX, v.TextWrap);
  SetWindowTextA(Item(IDC_SELECTTEXTFILENAMESHADOWLABEL), v.SelectTextCaption.c_str());
  SetChecked(IDC_ALWAYSFIRSTROWCHECKBOX, v.AlwaysFirstRow);

  SetChecked(IDC_MOUSECLICKCHECKBOX, v.MouseClick);
  SetChecked(IDC_MOUSEMOVECHECKBOX, v.MouseMove);
  ApplyEnableRules();
}

ConfigValues TConfigDlg::ReadControls() const {
  ConfigValues v;
  v.Folders.clear();
  for (int i = 0; i < FolderNameComboBox.Count(); ++i)
    v.Folders.push_back(FolderNameComboBox.Item(i));
  v.FolderIndex = FolderNameComboBox.ItemIndex();
  for (int i = 0; i < FileNameListView.Count(); ++i) v.Files.push_back(FileNameListView.Caption(i));

  v.SubFolder = Checked(IDC_SUBFOLDERCHECKBOX);
  v.ReportError = Checked(IDC_REPORTERRORCHECKBOX);
  v.UseSusiePlugin = Checked(IDC_USESUSIEPLUGINCHECKBOX);
  v.TypeRows.clear();
  v.TypeChecked.clear();
  for (int i = 0; i < ExtendNameEasyListView.Count(); ++i) {
    v.TypeRows.push_back(ExtendNameEasyListView.Caption(i));
    v.TypeChecked.push_back(ExtendNameEasyListView.Checked(i));
  }
  v.Size = static_cast<int16_t>(UpDownPosition(Item(IDC_SIZEUPDOWN)));
  v.Width = static_cast<int16_t>(UpDownPosition(Item(IDC_WIDTHUPDOWN)));
  v.Height = static_cast<int16_t>(UpDownPosition(Item(IDC_HEIGHTUPDOWN)));

  v.RandamDisplay = Checked(IDC_RANDAMDISPLAYCHECKBOX);
  v.StretchDraw = Checked(IDC_STRETCHDRAWCHECKBOX);
  v.AllMonitors = Checked(IDC_ALLMONITORSCHECKBOX);
  v.WindowBorder = static_cast<int16_t>(UpDownPosition(Item(IDC_WINDOWBORDERUPDOWN)));
  v.SampleFont = sample_->ScreenFontLabel.Font();
  v.BGColor = sample_->Color();
  v.UseBGImage = Checked(IDC_USEBGIMAGECHECKBOX);
  v.BGImagePath = CoolOpenDialog2.FileName;

  v.TextArrangement = RadioIndex(IDC_TEXTARRANGEMENT0, 4);
  v.TextAlign = RadioIndex(IDC_TEXTALIGN0, 3);
  v.TextLayout = RadioIndex(IDC_TEXTLAYOUT0, 3);
  v.Interval = static_cast<int16_t>(UpDownPosition(Item(IDC_INTERVALUPDOWN)));
  v.BlankScreenInterval = static_cast<int16_t>(UpDownPosition(Item(IDC_BLANKSCREENINTERVALUPDOWN)));
  v.Transition = TransitionEasyComboBox.ItemIndex();
  v.TransitionTime = static_cast<int16_t>(UpDownPosition(Item(IDC_TRANSITIONTIMEUPDOWN)));

  v.ShowTextKind = ShowTextKindEasyComboBox.ItemIndex();
  v.TextWrap = Checked(IDC_TEXTWRAPCHECKBOX);
  v.SelectTextCaption = WindowText(Item(IDC_SELECTTEXTFILENAMESHADOWLABEL));
  v.AlwaysFirstRow = Checked(IDC_ALWAYSFIRSTROWCHECKBOX);
  v.MouseClick = Checked(IDC_MOUSECLICKCHECKBOX);
  v.MouseMove = Checked(IDC_MOUSEMOVECHECKBOX);
  return v;
}

void TConfigDlg::ApplyEnableRules() {
  ConfigValues v;
  v.UseSusiePlugin = Checked(IDC_USESUSIEPLUGINCHECKBOX);
  v.UseBGImage = Checked(IDC_USEBGIMAGECHECKBOX);
  v.ShowTextKind = ShowTextKindEasyComboBox.ItemIndex();
  const EnableState e = EnableStateOf(v);
  EnableWindow(Item(IDC_SELECTPLUGINFOLDERBUTTON), e.SelectPluginFolderButton);
  EnableWindow(Item(IDC_BGIMAGEBUTTON), e.BGImageButton);
  sample_->BGImage.SetVisible(e.BGImageVisible);
  EnableWindow(Item(IDC_SELECTTEXTBUTTON), e.SelectTextButton);
  EnableWindow(Item(IDC_ALWAYSFIRSTROWCHECKBOX), e.AlwaysFirstRowCheckBox);
}

// ---- OK and Cancel --------------------------------------------------------

void TConfigDlg::OKBtnClick() {
  ConfigValues v = ReadControls();
  const int capacity = tk::StrToIntDef(tk::LoadResString(kHistoryCapacityResource, "32"), 32);
  StoreValues(v, *settings_, capacity);
  // The combo box holds the history as it is saved, also when the save
  // fails and the dialog stays open.
  FolderNameComboBox.Clear();
  for (const std::string& f : v.Folders) FolderNameComboBox.Add(f);
  if (v.FolderIndex >= 0) FolderNameComboBox.SetItemIndex(v.FolderIndex);
  try {
    settings_->Save();
  } catch (const tk::Exception& e) {
    // The dialog stays open so nothing the user set is lost. A folder the
    // user may not write is the usual cause (a module copied into System32
    // or Program Files): say so, and where the module belongs.
    const std::string folder = tk::ExtractFilePath(settings_->FileName());
    if (tk::FolderTakesNewFiles(folder))
      tk::Application.ShowException(e);
    else
      tk::Application.ShowMessageBox(UnwritableSettingsFolderText(folder), tk::Application.Title,
                                     MB_OK | MB_ICONERROR);
    return;
  }
  tk::Application.Terminate();
}

void TConfigDlg::CancelBtnClick() { tk::Application.Terminate(); }

// ---- handlers -------------------------------------------------------------

void TConfigDlg::FolderNameComboBoxChange() {
  SetHint(FolderNameComboBox.Handle(), FolderNameComboBox.Text());
}

std::string TConfigDlg::Hint(HWND control) const {
  char text[1024] = {};
  TOOLINFOA ti = {};
  ti.cbSize = sizeof ti;
  ti.hwnd = GetParent(control);
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = text;
  SendMessageA(hint_, TTM_GETTEXTA, sizeof text - 1, reinterpret_cast<LPARAM>(&ti));
  return text;
}

}  // namespace orv
