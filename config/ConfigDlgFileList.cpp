// The settings dialog's file list page: the folder picker and the refresh,
// the list's hints and context menu, and the search run that fills it.
#include "config/ConfigDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "config/ConfigDlgParts.h"
#include "config/ConfigDlgRes.h"
#include "config/SearchUi.h"
#include "decoder/DecoderClientWin32.h"
#include "search/Dirsearch.h"
#include "toolkit/Convert.h"

namespace orv {

void TConfigDlg::SelectFolderButtonClick() {
  SelectFolderDialog1.InitialDir = FolderNameComboBox.Text();
  if (!SelectFolderDialog1.Execute(Handle())) return;
  SearchFolder(SelectFolderDialog1.DirectoryName);
  // Sorted once, as the system's locale compares; files added later are
  // not kept in order.
  std::vector<std::string> paths;
  paths.reserve(static_cast<size_t>(FileNameListView.Count()));
  for (int i = 0; i < FileNameListView.Count(); ++i) paths.push_back(FileNameListView.Caption(i));
  std::stable_sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return lstrcmpA(a.c_str(), b.c_str()) < 0;
  });
  tk::TStringList sorted;
  for (std::string& p : paths) sorted.Add(std::move(p));
  SetFileNameList(sorted);
}

void TConfigDlg::UpdateViewActionExecute() { SearchFolder(FolderNameComboBox.Text()); }

void TConfigDlg::FileNameListViewClick() {
  const int selected = FileNameListView.SelectedCount();
  const std::string hint =
      selected == 1 ? FileNameListView.Caption(FileNameListView.SelectItemIndex()) : kFileListHint;
  if (hint != file_list_hint_) {
    file_list_hint_ = hint;
    SetHint(FileNameListView.Handle(), hint);
  }
}

void TConfigDlg::FileNameListViewMouseMove() {
  if (FileNameListView.SelectedCount() != 0 || file_list_hint_ == kFileListHint) return;
  file_list_hint_ = kFileListHint;
  SetHint(FileNameListView.Handle(), kFileListHint);
}

void TConfigDlg::FileListSelectPopupMenuPopup() {
  EnableMenuItem(file_list_menu_.Get(), IDM_DELETESELECTITEM,
                 MF_BYCOMMAND | (FileNameListView.SelectedCount() > 0 ? MF_ENABLED : MF_GRAYED));
}

void TConfigDlg::ShowFileListMenu(int x, int y) {
  if (x == -1 && y == -1) {
    // From the keyboard: at the focused item, or at the list's corner.
    HWND lv = FileNameListView.Handle();
    RECT r = {};
    const int focused =
        static_cast<int>(SendMessageA(lv, LVM_GETNEXTITEM, WPARAM(-1), LVNI_FOCUSED));
    r.left = LVIR_LABEL;
    if (focused < 0 || !SendMessageA(lv, LVM_GETITEMRECT, WPARAM(focused), LPARAM(&r))) r = {};
    POINT p = {r.left + 8, r.bottom};
    ClientToScreen(lv, &p);
    x = p.x;
    y = p.y;
  }
  FileListSelectPopupMenuPopup();
  TrackPopupMenu(file_list_menu_.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, x, y, 0, Handle(),
                 nullptr);
}

void TConfigDlg::DeleteSelectItemMenuItemClick() {
  HWND lv = FileNameListView.Handle();
  SendMessageA(lv, WM_SETREDRAW, FALSE, 0);
  // Only the list's entries go; the files themselves stay where they are.
  for (int i = FileNameListView.SelectItemIndex(); i >= 0; i = FileNameListView.SelectItemIndex())
    FileNameListView.DeleteItem(i);
  SendMessageA(lv, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(lv, nullptr, TRUE);
}

SearchConditions TConfigDlg::ConditionsFromControls() const {
  SearchConditions c;
  c.subFolders = Checked(IDC_SUBFOLDERCHECKBOX);
  c.reportErrors = Checked(IDC_REPORTERRORCHECKBOX);
  c.usePlugins = Checked(IDC_USESUSIEPLUGINCHECKBOX);
  const int rows = ExtendNameEasyListView.Count();
  c.bmp = rows > 0 && ExtendNameEasyListView.Checked(0);
  c.jpeg = rows > 1 && ExtendNameEasyListView.Checked(1);
  c.png = rows > 2 && ExtendNameEasyListView.Checked(2);
  for (int i = kBuiltInTypeRows; i < rows; ++i)
    if (ExtendNameEasyListView.Checked(i))
      c.pluginFiles.push_back(ExtendNameEasyListView.Caption(i));
  c.pluginFolder = settings_->PluginFolder;
  c.sizeLimitKb = SizeEdit.FloatValue();
  c.minWidth = UpDownPosition(Item(IDC_WIDTHUPDOWN));
  c.minHeight = UpDownPosition(Item(IDC_HEIGHTUPDOWN));
  c.typeExtensions = tk::LoadResString(kExtensionsResource, ".bmp,.jpg,.jpeg,.png");
  return c;
}

void TConfigDlg::EnterHistory(const std::string& folder) {
  tk::TStringList history;
  for (int i = 0; i < FolderNameComboBox.Count(); ++i) history.Add(FolderNameComboBox.Item(i));
  int index = HistoryIndexOf(history, folder);
  if (index < 0) {
    FolderNameComboBox.Insert(0, folder);
    index = 0;
  }
  // Selected by program: the hint keeps the path the user last chose.
  FolderNameComboBox.SetItemIndex(index);
}

void TConfigDlg::SearchFolder(const std::string& Folder) {
  TSearchUi ui(Handle());
  ui.OnSetFileNameList = [this](const tk::TStringList& files) { SetFileNameList(files); };
  ui.OnEnterHistory = [this](const std::string& folder) { EnterHistory(folder); };
  SearchServices services;
  services.walk = [](tk::TStringList& list, const std::string& folder, const tk::TStringList& mask,
                     bool recursive, tk::TStringList& unnamed, std::vector<EntryFacts>& facts) {
    if (recursive)
      FindFilesRecursive(list, folder, mask, &unnamed, &facts);
    else
      FindFiles(list, folder, mask, &unnamed, &facts);
  };
  // Every candidate is read and measured in a decoder process, which also
  // loads the plug-ins checked for this run and tells their patterns: a
  // picture or plug-in that crashes, hangs or eats memory costs one
  // report, never the dialog with the user's unsaved edits.
  const SearchConditions conditions = ConditionsFromControls();
  DecodeSetup setup;
  setup.extensions = conditions.typeExtensions;
  if (conditions.usePlugins)
    for (const std::string& name : conditions.pluginFiles)
      setup.pluginFiles.push_back(conditions.pluginFolder + "\\" + name);
  TDecoderClient decoder(DecoderModulePath(), setup);
  services.loadPlugIns = [&decoder](const tk::TStringList&) {
    return PlugInFilterThrough(decoder);
  };
  services.measure = MeasureThrough(decoder);
  orv::SearchFolder(Folder, conditions, ui, services);
}

void TConfigDlg::SetFileNameList(const tk::TStringList& list) {
  HWND lv = FileNameListView.Handle();
  // Ten thousand entries fill in a blink when the list does not redraw
  // after each one.
  SendMessageA(lv, WM_SETREDRAW, FALSE, 0);
  FileNameListView.Clear();
  FileNameListView.SetReadOnlyEx(true);
  SendMessageA(lv, LVM_SETITEMCOUNT, static_cast<WPARAM>(list.Count()), 0);
  // Every message to a subclassed window walks the subclass chain, which
  // Wine keeps in a window property fetched from its server: ten thousand
  // inserts took seconds. The list's subclasses (its mouse handling, the
  // hint) have no part in inserts, so these go straight to the list view.
  const auto listProc = reinterpret_cast<WNDPROC>(GetClassLongPtrA(lv, GCLP_WNDPROC));
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = FileNameListView.Count();
  for (const std::string& path : list.Items()) {
    item.pszText = const_cast<char*>(path.c_str());
    if (CallWindowProcA(listProc, lv, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) >= 0)
      ++item.iItem;
  }
  SendMessageA(lv, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(lv, nullptr, TRUE);
}

}  // namespace orv
