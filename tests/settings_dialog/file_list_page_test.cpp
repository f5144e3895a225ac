// The file list page with the search run behind it, driven through the
// real dialog: the refresh button and the folder button over a generated
// tree, the reports, Cancel in a long run, the hints, the context menu and
// what OK then writes.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <set>

#include "imaging/Gldpng.h"
#include "search/Dirsearch.h"
#include "tests/core/jpeg_test_encoder.h"
#include "tests/plugins/TestPlugin.h"
#include "tests/settings_dialog/dialog_harness.h"
#include "tests/win/test_files.h"
#include "toolkit/Bitmap.h"

namespace {

using Names = std::vector<std::string>;
using dlgtest::ReadBytes;
using dlgtest::WriteBytes;

constexpr char kInstruction[] = "右クリックメニューから選択したファイルを削除できます";

void WriteBmp(const std::string& path, int w, int h, size_t padTo = 0) {
  tk::TBitmap b;
  b.Allocate(tk::TPixelFormat::pf24bit, w, h);
  b.SaveToFile(path);
  if (padTo == 0) return;
  std::string bytes = ReadBytes(path);
  ASSERT_LE(bytes.size(), padTo);
  bytes.resize(padTo, '\0');
  WriteBytes(path, bytes);
}

std::string JpegBytes(int w, int h) {
  const std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3, 128);
  const std::vector<uint8_t> jpg = jpegtest::Encode(w, h, px);
  return std::string(jpg.begin(), jpg.end());
}

void WritePng(const std::string& path, int w, int h) {
  orv::TGLDPNG png;
  png.OwnImage().Allocate(tk::TPixelFormat::pf24bit, w, h);
  png.SaveToFile(path);
}

std::string Upper(std::string s) {
  CharUpperBuffA(&s[0], static_cast<DWORD>(s.size()));
  return s;
}

class FileListPage : public dlgtest::DialogTest {
 protected:
  // A folder whose name ends in "表", whose second byte is "\".
  std::string MakeRoot() {
    const std::string root = dir_ + "写真\x95\x5C";
    CreateDirectoryA(root.c_str(), nullptr);
    return root;
  }
  Names ListItems() const {
    Names n;
    HWND lv = Item(IDC_FILENAMELISTVIEW);
    const int count = ListView_GetItemCount(lv);
    for (int i = 0; i < count; ++i) {
      char text[MAX_PATH * 2] = {};
      ListView_GetItemText(lv, i, 0, text, sizeof text);
      n.push_back(text);
    }
    return n;
  }
  Names History() const {
    Names n;
    HWND cb = Item(IDC_FOLDERNAMECOMBOBOX);
    for (int i = 0; i < SendMessageA(cb, CB_GETCOUNT, 0, 0); ++i) {
      char text[MAX_PATH * 2] = {};
      SendMessageA(cb, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      n.push_back(text);
    }
    return n;
  }
  int HistoryIndex() const {
    return static_cast<int>(SendMessageA(Item(IDC_FOLDERNAMECOMBOBOX), CB_GETCURSEL, 0, 0));
  }
  // The walk's own order of the files under `root` with `mask`, kept to
  // those in `pass`.
  static Names WalkOrder(const std::string& root, const char* mask,
                         const std::set<std::string>& pass) {
    tk::TStringList walked, m;
    m.SetCommaText(mask);
    orv::FindFilesRecursive(walked, root, m);
    Names n;
    for (const std::string& f : walked.Items())
      if (pass.count(f)) n.push_back(f);
    return n;
  }
  void ClickItem(int i, WPARAM keys = 0) {
    HWND lv = Item(IDC_FILENAMELISTVIEW);
    RECT r = {};
    r.left = LVIR_LABEL;
    ASSERT_TRUE(SendMessageA(lv, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r)));
    const LPARAM at = MAKELPARAM(r.left + 4, (r.top + r.bottom) / 2);
    PostMessageA(lv, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    PostMessageA(lv, WM_LBUTTONUP, keys, at);
    Pump(100);
  }
  std::string ListHint() { return dlg_->Hint(Item(IDC_FILENAMELISTVIEW)); }
};

TEST_F(FileListPage, BothSearchesListExactlyTheAcceptedFilesAndOkSavesThem) {
  const std::string root = MakeRoot();
  CreateDirectoryA((root + "\\sub").c_str(), nullptr);
  WriteBmp(root + "\\ok.bmp", 50, 50);
  WriteBmp(root + "\\narrow.bmp", 49, 200);
  WriteBmp(root + "\\flat.bmp", 200, 49);
  WriteBmp(root + "\\exact.bmp", 50, 50, 8 * 1024);  // exactly at the 8 kb limit
  WriteBmp(root + "\\over.bmp", 50, 50, 8 * 1024 + 1);
  WriteBytes(root + "\\corrupt.bmp", "BM broken");
  WriteBytes(root + "\\c.jpg", JpegBytes(60, 60));
  WriteBytes(root + "\\D.JPG", JpegBytes(50, 50));
  WriteBytes(root + "\\e.jpeg", JpegBytes(80, 50));
  WriteBytes(root + "\\x.png", JpegBytes(60, 60));  // a JPEG stream under a PNG name
  WriteBytes(root + "\\f.jpe", JpegBytes(60, 60));  // no type of ours
  WritePng(root + "\\g.png", 50, 70);
  WriteBmp(root + "\\sub\\deep.bmp", 50, 50);
  WriteSettings("[Search]\r\nSubFolder=1\r\nReportError=1\r\nCheckSize=8\r\n", {root, "C:\\other"},
                {"C:\\old.bmp"});
  Open();
  ASSERT_EQ(HistoryIndex(), 0);

  const std::set<std::string> pass = {
      root + "\\ok.bmp", root + "\\exact.bmp", root + "\\c.jpg",        root + "\\D.JPG",
      root + "\\e.jpeg", root + "\\g.png",     root + "\\sub\\deep.bmp"};
  const Names walkOrder = WalkOrder(root, ".bmp,.jpg,.jpeg,.png", pass);
  ASSERT_EQ(walkOrder.size(), pass.size());
  {
    dlgtest::DialogBoxWatcher boxes;
    Click(IDC_VIEWUPDATEBUTTON);
    EXPECT_EQ(ListItems(), walkOrder);
    // One report per failing file, each "message : path" (sorted, as the
    // walk's order of the two is the file system's).
    Names reports = boxes.Texts();
    std::sort(reports.begin(), reports.end(), [&](const std::string& a, const std::string& b) {
      return a.find("x.png") < b.find("x.png");
    });
    ASSERT_EQ(reports.size(), 2u) << ::testing::PrintToString(reports);
    std::set<std::string> paths;
    for (const std::string& r : reports) {
      const size_t sep = r.rfind(" : ");
      ASSERT_NE(sep, std::string::npos) << r;
      EXPECT_GT(sep, 0u) << "no reader message: " << r;
      paths.insert(r.substr(sep + 3));
    }
    EXPECT_EQ(paths, (std::set<std::string>{root + "\\corrupt.bmp", root + "\\x.png"}));
  }
  EXPECT_EQ(History(), (Names{root, "C:\\other"}));
  EXPECT_TRUE(IsWindowEnabled(dlg_->Handle()));

  // "...": the user picks the tree's folder in the browser; the result is
  // then in ascending order.
  SendMessageA(Item(IDC_REPORTERRORCHECKBOX), BM_CLICK, 0, 0);  // reports off
  {
    dlgtest::DialogBoxWatcher boxes(1000);
    boxes.OnBox = [&](HWND box) {
      if (!FindWindowExA(box, nullptr, WC_TREEVIEWA, nullptr)) return false;
      SendMessageA(box, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(root.c_str()));
      Sleep(300);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return true;
    };
    Click(IDC_SELECTFOLDERBUTTON);
    EXPECT_EQ(boxes.Texts().size(), 1u) << "only the folder browser, no reports";
  }
  Names sorted = walkOrder;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return lstrcmpA(a.c_str(), b.c_str()) < 0;
  });
  EXPECT_EQ(ListItems(), sorted);
  EXPECT_EQ(History(), (Names{root, "C:\\other"}));

  Click(IDOK);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(ReadBytes(FileListPath()), dlgtest::Lines(sorted));
  EXPECT_EQ(ReadBytes(DirListPath()), dlgtest::Lines({root, "C:\\other"}));
}

// Windows tells an ANSI program on a double-byte code page a length for a
// combo item that may be twice the text (Wine tells it exactly). A window
// procedure on top of the combo that doubles every CB_GETLBTEXTLEN answer
// shows what the dialog does with such a length.
WNDPROC g_comboProc = nullptr;
LRESULT CALLBACK DoublingLengthProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  const LRESULT r = CallWindowProcA(g_comboProc, w, msg, wp, lp);
  return msg == CB_GETLBTEXTLEN && r != CB_ERR ? r * 2 : r;
}

TEST_F(FileListPage, AHistoryReadThroughOverstatedLengthsKeepsEveryFolderOnce) {
  const std::string root = MakeRoot();
  WriteBmp(root + "\\a.bmp", 50, 50);
  const std::string other = dir_ + "\x8B\x8E\x93\x73";  // 京都
  WriteSettings("[Search]\r\nSubFolder=0\r\n", {other, Upper(root), "C:\\\x8E\xCA\x90\x5E"}, {});
  Open();
  HWND cb = Item(IDC_FOLDERNAMECOMBOBOX);
  g_comboProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(cb, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DoublingLengthProc)));
  ASSERT_NE(g_comboProc, nullptr);
  // The doubling is in force: the reported length exceeds the text.
  ASSERT_EQ(SendMessageA(cb, CB_GETLBTEXTLEN, 0, 0), LRESULT(2 * other.size()));

  // A search of a folder already in the history (in other letter case)
  // finds it there instead of adding it again.
  SendMessageA(cb, CB_SETCURSEL, 1, 0);
  Click(IDC_VIEWUPDATEBUTTON);
  EXPECT_EQ(ListItems(), (Names{Upper(root) + "\\a.bmp"}));
  EXPECT_EQ(History().size(), 3u);

  Click(IDOK);
  ASSERT_TRUE(Ended());
  SetWindowLongPtrA(cb, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_comboProc));
  // Every folder survives as its own line, without NUL bytes; the chosen
  // one first.
  EXPECT_EQ(ReadBytes(DirListPath()), dlgtest::Lines({Upper(root), other, "C:\\\x8E\xCA\x90\x5E"}));
}

TEST_F(FileListPage, TheTypeRowsAndTheLimitsAreReadFromTheLiveControls) {
  const std::string root = MakeRoot();
  WriteBmp(root + "\\a.bmp", 50, 50);
  WriteBytes(root + "\\b.jpg", JpegBytes(50, 50));
  WritePng(root + "\\c.png", 50, 50);
  WriteSettings("[Search]\r\nSubFolder=0\r\n", {Upper(root)}, {});
  Open();
  HWND types = Item(IDC_EXTENDNAMEEASYLISTVIEW);
  // Only the JPEG row checked.
  ListView_SetCheckState(types, 0, FALSE);
  ListView_SetCheckState(types, 2, FALSE);
  Click(IDC_VIEWUPDATEBUTTON);
  ASSERT_EQ(ListItems().size(), 1u);
  EXPECT_EQ(Upper(ListItems()[0]), Upper(root + "\\b.jpg"));
  EXPECT_EQ(History(), Names{Upper(root)});

  // No row checked: no candidates, and the list is emptied.
  ListView_SetCheckState(types, 1, FALSE);
  Click(IDC_VIEWUPDATEBUTTON);
  EXPECT_TRUE(ListItems().empty());

  // All rows again, with a minimum width of 51 typed over the old one.
  for (int i = 0; i < 3; ++i) ListView_SetCheckState(types, i, TRUE);
  SetWindowTextA(Item(IDC_WIDTHEDIT), "51");
  SendMessageA(Item(IDC_WIDTHUPDOWN), UDM_SETPOS32, 0, 51);
  Click(IDC_VIEWUPDATEBUTTON);
  EXPECT_TRUE(ListItems().empty());
}

HWND g_progress = nullptr;
BOOL CALLBACK FindProgress(HWND w, LPARAM) {
  char cls[32] = {};
  GetClassNameA(w, cls, sizeof cls);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || lstrcmpA(cls, "TProgressForm") != 0) return TRUE;
  g_progress = w;
  return FALSE;
}

TEST_F(FileListPage, CancelInALongRunKeepsTheFilesBeforeItAndEntersTheFolder) {
  const std::string root = MakeRoot();
  for (int i = 0; i < 300; ++i) WriteBmp(root + "\\p" + std::to_string(i) + ".bmp", 50, 50);
  WriteSettings("", {"C:\\other"}, {});
  Open();
  // Another thread watches the bar, as a user would, and presses Cancel
  // once a few files have been checked.
  std::atomic<bool> disabled{false}, pressed{false};
  std::thread user([&] {
    for (int i = 0; i < 3000 && !pressed; ++i, Sleep(10)) {
      g_progress = nullptr;
      EnumWindows(FindProgress, 0);
      if (!g_progress) continue;
      HWND bar = FindWindowExA(g_progress, nullptr, PROGRESS_CLASSA, nullptr);
      HWND cancel = FindWindowExA(g_progress, nullptr, "Button", "キャンセル");
      if (!bar || !cancel || SendMessageA(bar, PBM_GETPOS, 0, 0) < 5) continue;
      disabled = !IsWindowEnabled(dlg_->Handle());
      PostMessageA(cancel, BM_CLICK, 0, 0);
      pressed = true;
    }
  });
  // The refresh entry of the context menu searches as the button does;
  // the history's folder is the one shown, so pick the tree first.
  SendMessageA(Item(IDC_FOLDERNAMECOMBOBOX), CB_INSERTSTRING, 0,
               reinterpret_cast<LPARAM>(root.c_str()));
  SendMessageA(Item(IDC_FOLDERNAMECOMBOBOX), CB_SETCURSEL, 0, 0);
  Click(IDC_VIEWUPDATEBUTTON);
  user.join();
  ASSERT_TRUE(pressed);
  EXPECT_TRUE(disabled);
  const Names got = ListItems();
  ASSERT_GE(got.size(), 5u);
  ASSERT_LT(got.size(), 300u);
  tk::TStringList walked, mask;
  mask.Add(".bmp");
  orv::FindFiles(walked, root, mask);
  EXPECT_EQ(got, Names(walked.Items().begin(), walked.Items().begin() + got.size()));
  EXPECT_EQ(History()[0], root);
  EXPECT_TRUE(IsWindowEnabled(dlg_->Handle()));
}

// The menu as it stands when it opens, read from inside its own loop.
UINT g_delete_state = 0;
HMENU g_menu = nullptr;
void CALLBACK ReadMenuAndClose(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_delete_state = GetMenuState(g_menu, IDM_DELETESELECTITEM, MF_BYCOMMAND);
  EndMenu();
}

TEST_F(FileListPage, HintsFollowTheSelectionAndDeleteRemovesOnlySelectedEntries) {
  const Names files = {"C:\\p\\a.bmp", "C:\\p\\b.bmp", "C:\\p\\c.bmp", "C:\\p\\d.bmp",
                       "C:\\p\\e.bmp"};
  WriteSettings("", {}, files);
  const std::string onDisk = dir_ + "kept.bmp";
  WriteBmp(onDisk, 50, 50);
  Open();
  HWND lv = Item(IDC_FILENAMELISTVIEW);
  EXPECT_EQ(ListView_GetSelectedCount(lv), 0u);
  EXPECT_EQ(ListHint(), kInstruction);

  ClickItem(1);
  EXPECT_EQ(ListHint(), files[1]);
  ClickItem(3, MK_CONTROL);
  EXPECT_EQ(ListView_GetSelectedCount(lv), 2u);
  EXPECT_EQ(ListHint(), kInstruction);
  ClickItem(4);
  EXPECT_EQ(ListHint(), files[4]);
  // Moving over the list keeps the hint while something is selected...
  PostMessageA(lv, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  Pump(50);
  EXPECT_EQ(ListHint(), files[4]);
  // ...and restores the instruction once nothing is.
  ListView_SetItemState(lv, -1, 0, LVIS_SELECTED);
  PostMessageA(lv, WM_MOUSEMOVE, 0, MAKELPARAM(6, 6));
  Pump(50);
  EXPECT_EQ(ListHint(), kInstruction);

  g_menu = dlg_->FileListSelectPopupMenu();
  for (bool withSelection : {false, true}) {
    if (withSelection)
      for (int i : {0, 2, 4}) ListView_SetItemState(lv, i, LVIS_SELECTED, LVIS_SELECTED);
    SetTimer(nullptr, 0, 200, ReadMenuAndClose);
    PostMessageA(lv, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(lv), MAKELPARAM(-1, -1));
    Pump(600);
    EXPECT_EQ((g_delete_state & MF_GRAYED) != 0, !withSelection);
  }
  // The entry's command, as the menu sends it.
  PostMessageA(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(IDM_DELETESELECTITEM, 0), 0);
  Pump(50);
  EXPECT_EQ(ListItems(), (Names{files[1], files[3]}));
  EXPECT_EQ(ListView_GetSelectedCount(lv), 0u);
  EXPECT_NE(ReadBytes(onDisk), "<missing>");
  // Nothing is saved until OK; Cancel keeps the old list.
  Click(IDCANCEL);
  EXPECT_EQ(ReadBytes(FileListPath()), dlgtest::Lines(files));
}

}  // namespace

namespace {

std::string TestPicture(uint32_t w, uint32_t h, uint32_t mode) {
  std::string v = orvtest::FlatOrvPicture(w, h, mode);
  return v;
}

}  // namespace

// Pictures whose plug-in ends its decoder (abort(), a fault, a fault on a
// thread of its own) or takes a minute: each costs the search one report,
// the good pictures are listed (one whose plug-in provokes and catches a
// fault of its own among them), and the dialog lives on to save them.
TEST_F(FileListPage, PicturesThatBreakTheirDecoderCostOneReportEach) {
  const std::string root = dir_ + "bad";
  CreateDirectoryA(root.c_str(), nullptr);
  // A plug-in that can tell no size without decoding, so every file of it
  // is decoded.
  const std::string plugins = dir_ + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  std::string nosize = std::string(ORV_TEST_PLUGIN_DIR) + "/nosize/orvnosize.spi";
  if (nosize[0] == '/') nosize = "Z:" + nosize;
  std::replace(nosize.begin(), nosize.end(), '/', '\\');
  ASSERT_TRUE(CopyFileA(nosize.c_str(), (plugins + "\\orvnosize.spi").c_str(), FALSE));
  WriteBmp(root + "\\ok.bmp", 60, 60);
  WriteBytes(root + "\\fine.orv", TestPicture(60, 60, kModeBottomUp));
  WriteBytes(root + "\\catches.orv", TestPicture(60, 60, kModeCatchesOwnFault));
  const Names bad = {"aborts.orv", "faults.orv", "slow.orv", "thread.orv"};
  WriteBytes(root + "\\aborts.orv", TestPicture(60, 60, kModeAbort));
  WriteBytes(root + "\\faults.orv", TestPicture(60, 60, kModeFaultWrite));
  WriteBytes(root + "\\slow.orv", TestPicture(60, 60, kModeSlow));
  WriteBytes(root + "\\thread.orv", TestPicture(60, 60, kModeThreadFault));
  WriteSettings(
      "[Search]\r\nSubFolder=0\r\nReportError=1\r\nUseSusiePlugin=1\r\nPluginFolder=" + plugins +
          "\r\nCheckWidth=50\r\nCheckHeight=50\r\n"
          "[Extend]\r\nMaxIndex=4\r\nExtend0=1\r\nExtend1=1\r\nExtend2=1\r\nExtend3=1\r\n",
      {root}, {});
  Open();
  Names reports;
  {
    dlgtest::DialogBoxWatcher boxes;
    Click(IDC_VIEWUPDATEBUTTON);
    reports = boxes.Texts();
  }
  Names listed = ListItems();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (Names{root + "\\catches.orv", root + "\\fine.orv", root + "\\ok.bmp"}));
  ASSERT_EQ(reports.size(), bad.size()) << ::testing::PrintToString(reports);
  std::sort(reports.begin(), reports.end(), [](const std::string& a, const std::string& b) {
    return a.substr(a.rfind('\\')) < b.substr(b.rfind('\\'));
  });
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(bad[i]);
    EXPECT_EQ(reports[i], std::string(orv::kDecoderLostMessage) + " : " + root + "\\" + bad[i]);
  }
  EXPECT_TRUE(IsWindowEnabled(dlg_->Handle()));
  const Names inOrder = ListItems();
  Click(IDOK);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(ReadBytes(FileListPath()), dlgtest::Lines(inOrder));
}
