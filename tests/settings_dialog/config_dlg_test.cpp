// The settings dialog as a whole, driven through its message loop: every
// setting loads into its control, OK writes what changed and keeps the
// rest, every way of cancelling leaves the files alone, the history is cut
// at OK, the dialog's relation to the display properties, and the plug-in
// rows of the type list.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "search/Dirsearch.h"
#include "tests/settings_dialog/dialog_harness.h"
#include "toolkit/Bitmap.h"
#include "toolkit/FileUtil.h"

namespace {

using Names = std::vector<std::string>;
using dlgtest::ReadBytes;
using dlgtest::WriteBytes;

std::string PluginDir() {
  std::string dir = ORV_TEST_PLUGIN_DIR;
  if (!dir.empty() && dir[0] == '/') {
    dir = "Z:" + dir;
    for (char& c : dir)
      if (c == '/') c = '\\';
  }
  return dir;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

class ConfigDlgTest : public dlgtest::DialogTest {
 protected:
  bool IsChecked(int id) const { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  int UpDown(int id) const { return static_cast<int>(SendMessageA(Item(id), UDM_GETPOS32, 0, 0)); }
  int RadioOf(int first, int count) const {
    for (int i = 0; i < count; ++i)
      if (IsChecked(first + i)) return i;
    return -1;
  }
  Names TypeRows(std::vector<bool>* checks = nullptr) const {
    HWND lv = Item(IDC_EXTENDNAMEEASYLISTVIEW);
    Names rows;
    for (int i = 0; i < ListView_GetItemCount(lv); ++i) {
      char text[MAX_PATH] = {};
      ListView_GetItemText(lv, i, 0, text, sizeof text);
      rows.push_back(text);
      if (checks) checks->push_back(ListView_GetCheckState(lv, i) != 0);
    }
    return rows;
  }
  // A click on the upper half of an up-down, as the mouse gives it.
  void ClickUp(int upDownId) {
    HWND ud = Item(upDownId);
    RECT r;
    GetClientRect(ud, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 4);
    PostMessageA(ud, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(ud, WM_LBUTTONUP, 0, at);
    Pump(100);
  }
  void PressWithControl(WORD vk) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    Key(vk);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
  }
  int ActivePage() const {
    return static_cast<int>(SendMessageA(Item(IDC_PAGECONTROL1), TCM_GETCURSEL, 0, 0));
  }
  void PressWithShift(WORD vk) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    Key(vk);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
  // Selects every character of the edit and types `keys` into it.
  void Type(int editId, const std::string& keys) {
    HWND edit = Item(editId);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (char c : keys) PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    Pump(50);
  }
  Names ComboItems(int id) const {
    Names items;
    HWND combo = Item(id);
    for (int i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); ++i) {
      char text[256] = {};
      SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      items.push_back(text);
    }
    return items;
  }
  // Opens the page of control `id` as a user does, from the first page.
  void ShowPageOf(int id) {
    SetFocus(Item(IDC_FOLDERNAMECOMBOBOX));
    for (int i = 0; i < orv::TConfigDlg::kPageCount && !IsWindowVisible(Item(id)); ++i)
      PressWithControl(VK_TAB);
    ASSERT_TRUE(IsWindowVisible(Item(id))) << id;
  }
};

TEST_F(ConfigDlgTest, EverySettingLoadsIntoItsControlAndOkWritesWhatChanged) {
  // A plug-in folder of two plug-ins, and a background picture.
  const std::string plugins = dir_ + "spi";
  CreateDirectoryA(plugins.c_str(), nullptr);
  for (const char* name : {"orvtest.spi", "orvtwo.spi"})
    ASSERT_TRUE(
        CopyFileA((PluginDir() + "\\" + name).c_str(), (plugins + "\\" + name).c_str(), FALSE));
  const std::string bg = dir_ + "bg.bmp";
  {
    tk::TBitmap b;
    b.Allocate(tk::TPixelFormat::pf24bit, 40, 30);
    b.SaveToFile(bg);
  }
  // Every key away from its default, in the order OK writes them.
  const std::string ini =
      "[Search]\r\nSubFolder=0\r\nReportError=1\r\nUseSusiePlugin=1\r\nPluginFolder=" + plugins +
      "\r\nCheckSize=300\r\nCheckWidth=120\r\nCheckHeight=90\r\n"
      "[Extend]\r\nMaxIndex=5\r\nExtend0=0\r\nExtend1=1\r\nExtend2=0\r\nExtend3=1\r\nExtend4=0\r\n"
      "[Screen]\r\nRandamDisplay=0\r\nStretchDraw=0\r\nBGColor=clMaroon\r\nUseBGImageCheck=1\r\n"
      "BGImagePath=" +
      bg +
      "\r\nShowTextKind=3\r\nSelectTextFileName=C:\\texts\\caption.txt\r\nTextArrangement=0\r\n"
      "TextAlign=2\r\nTextLayout=0\r\nTextWrap=1\r\nInterval=17\r\nBlankScreenInterval=7\r\n"
      "WindowBorder=12\r\nPreviousRowNumber=4\r\nAlwaysFirstRowCheck=1\r\nAllMonitors=0\r\n"
      "Transition=2\r\nTransitionTime=1500\r\n"
      "[Font]\r\nName=ＭＳ ゴシック\r\nCharSet=128\r\nSize=20\r\nColor=clYellow\r\nBold=1\r\n"
      "Italic=1\r\nUnderline=0\r\nStrikeOut=1\r\n"
      "[Event]\r\nMouseClick=0\r\nMouseMove=0\r\n";
  const Names dirs = {"C:\\one", "C:\\two"}, files = {"C:\\one\\a.bmp", "C:\\one\\b.jpg"};
  WriteSettings(ini, dirs, files);
  Open();

  struct Check {
    int id;
    bool checked;
  };
  for (const Check& c : {Check{IDC_SUBFOLDERCHECKBOX, false},
                         {IDC_REPORTERRORCHECKBOX, true},
                         {IDC_USESUSIEPLUGINCHECKBOX, true},
                         {IDC_RANDAMDISPLAYCHECKBOX, false},
                         {IDC_STRETCHDRAWCHECKBOX, false},
                         {IDC_ALLMONITORSCHECKBOX, false},
                         {IDC_USEBGIMAGECHECKBOX, true},
                         {IDC_TEXTWRAPCHECKBOX, true},
                         {IDC_ALWAYSFIRSTROWCHECKBOX, true},
                         {IDC_MOUSECLICKCHECKBOX, false},
                         {IDC_MOUSEMOVECHECKBOX, false}})
    EXPECT_EQ(IsChecked(c.id), c.checked) << c.id;
  struct Number {
    int upDown, edit, value;
  };
  for (const Number& n :
       {Number{IDC_SIZEUPDOWN, IDC_SIZEEDIT, 300},
        {IDC_WIDTHUPDOWN, IDC_WIDTHEDIT, 120},
        {IDC_HEIGHTUPDOWN, IDC_HEIGHTEDIT, 90},
        {IDC_WINDOWBORDERUPDOWN, IDC_WINDOWBORDERNUMBERFILTEREDIT, 12},
        {IDC_INTERVALUPDOWN, IDC_INTERVALEDIT, 17},
        {IDC_BLANKSCREENINTERVALUPDOWN, IDC_BLANKSCREENINTERVALNUMBERFILTEREDIT, 7},
        {IDC_TRANSITIONTIMEUPDOWN, IDC_TRANSITIONTIMENUMBERFILTEREDIT, 1500}}) {
    EXPECT_EQ(UpDown(n.upDown), n.value) << n.upDown;
    EXPECT_EQ(dlgtest::WindowText(Item(n.edit)), std::to_string(n.value)) << n.edit;
  }
  EXPECT_EQ(RadioOf(IDC_TEXTARRANGEMENT0, 4), 0);
  EXPECT_EQ(RadioOf(IDC_TEXTALIGN0, 3), 2);
  EXPECT_EQ(RadioOf(IDC_TEXTLAYOUT0, 3), 0);
  EXPECT_EQ(SendMessageA(Item(IDC_SHOWTEXTKINDEASYCOMBOBOX), CB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(SendMessageA(Item(IDC_TRANSITIONEASYCOMBOBOX), CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(dlgtest::WindowText(Item(IDC_SELECTTEXTFILENAMESHADOWLABEL)), "C:\\texts\\caption.txt");
  std::vector<bool> checks;
  const Names rows = TypeRows(&checks);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(Names(rows.begin() + 3, rows.end()), (Names{"orvtest.spi", "orvtwo.spi"}));
  EXPECT_EQ(checks, (std::vector<bool>{false, true, false, true, false}));
  const orv::ConfigValues v = dlg_->ReadControls();
  EXPECT_EQ(v.Folders, dirs);
  EXPECT_EQ(v.FolderIndex, 0);
  EXPECT_EQ(v.Files, files);
  EXPECT_EQ(v.SampleFont.Name, "ＭＳ ゴシック");
  EXPECT_EQ(v.SampleFont.Size, 20);
  EXPECT_EQ(v.SampleFont.Color, tk::clYellow);
  EXPECT_EQ(v.SampleFont.Style, tk::fsBold | tk::fsItalic | tk::fsStrikeOut);
  EXPECT_EQ(v.BGColor, tk::clMaroon);
  EXPECT_EQ(v.BGImagePath, bg);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_SELECTPLUGINFOLDERBUTTON)));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_BGIMAGEBUTTON)));
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_SELECTTEXTBUTTON)));

  // OK without a change writes the same settings back.
  Click(IDOK);
  ASSERT_TRUE(Ended());
  const std::string unchanged = ReadBytes(IniPath());
  EXPECT_EQ(unchanged, ini);
  EXPECT_EQ(ReadBytes(DirListPath()), dlgtest::Lines(dirs));
  EXPECT_EQ(ReadBytes(FileListPath()), dlgtest::Lines(files));
  CloseDialog();

  // Two controls changed: exactly their keys differ.
  Open();
  Click(IDC_RANDAMDISPLAYCHECKBOX);
  ClickUp(IDC_INTERVALUPDOWN);
  EXPECT_EQ(dlgtest::WindowText(Item(IDC_INTERVALEDIT)), "18");
  // The monitors' box is reached with Tab like its neighbours.
  EXPECT_TRUE(GetWindowLongA(Item(IDC_ALLMONITORSCHECKBOX), GWL_STYLE) & WS_TABSTOP);
  Click(IDC_ALLMONITORSCHECKBOX);
  Click(IDOK);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(ReadBytes(IniPath()),
            Replace(Replace(Replace(unchanged, "RandamDisplay=0", "RandamDisplay=1"), "Interval=17",
                            "Interval=18"),
                    "AllMonitors=0", "AllMonitors=1"));
}

TEST_F(ConfigDlgTest, CancelEscAndTheCloseBoxLeaveEveryFileAlone) {
  WriteSettings("[Screen]\r\nInterval=9\r\n", {"C:\\a", "C:\\b"}, {"C:\\a\\1.bmp"});
  const std::string before = Files();
  enum Way { kButton, kEsc, kCloseBox };
  for (Way way : {kButton, kEsc, kCloseBox}) {
    Open();
    Click(IDC_MOUSECLICKCHECKBOX);
    ClickUp(IDC_INTERVALUPDOWN);
    // Ctrl+Tab walks the pages from the keyboard, Ctrl+Shift+Tab back.
    SetFocus(Item(IDC_FOLDERNAMECOMBOBOX));
    PressWithControl(VK_TAB);
    EXPECT_EQ(ActivePage(), 1);
    PressWithControl(VK_NEXT);
    EXPECT_EQ(ActivePage(), 2);
    PressWithControl(VK_PRIOR);
    EXPECT_EQ(ActivePage(), 1);
    if (way == kButton) Click(IDCANCEL);
    if (way == kEsc) Key(VK_ESCAPE);
    if (way == kCloseBox) {
      PostMessageA(dlg_->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
      Pump(100);
    }
    EXPECT_TRUE(Ended()) << way;
    EXPECT_EQ(Files(), before) << way;
    CloseDialog();
  }
}

TEST_F(ConfigDlgTest, AHistoryOfFortyIsSavedAsThirtyTwoWithTheChosenEntryFirst) {
  Names dirs;
  for (int i = 0; i < 40; ++i) dirs.push_back("C:\\folder" + std::to_string(i));
  WriteSettings("", dirs, {});
  Open();
  // The fifth entry, chosen with the arrow keys; Enter is OK.
  SetFocus(Item(IDC_FOLDERNAMECOMBOBOX));
  for (int i = 0; i < 4; ++i) Key(VK_DOWN);
  EXPECT_EQ(dlg_->Hint(Item(IDC_FOLDERNAMECOMBOBOX)), dirs[4]);
  Key(VK_RETURN);
  ASSERT_TRUE(Ended());
  Names want = {dirs[4], dirs[0], dirs[1], dirs[2], dirs[3]};
  for (int i = 5; i < 32; ++i) want.push_back(dirs[i]);
  EXPECT_EQ(ReadBytes(DirListPath()), dlgtest::Lines(want));
}

// The transition controls show what the settings store makes of the file
// (a kind it does not know is none, a time is held to 200..5000 ms), and
// OK writes back exactly the keys the user changed.
TEST_F(ConfigDlgTest, TransitionControlsShowTheStoredChoiceAndOkSavesTheChange) {
  struct Case {
    const char* keys;
    int kind;
    const char* time;
  };
  const Case cases[] = {
      {"", 0, "1000"},
      {"Transition=1\r\nTransitionTime=300\r\n", 1, "300"},
      {"Transition=2\r\nTransitionTime=5000\r\n", 2, "5000"},
      {"Transition=9\r\nTransitionTime=99999\r\n", 0, "5000"},
      {"Transition=-2\r\nTransitionTime=12\r\n", 0, "200"},
      {"Transition=fade\r\nTransitionTime=long\r\n", 0, "1000"},
  };
  for (const Case& c : cases) {
    WriteSettings(std::string("[Screen]\r\nInterval=9\r\n") + c.keys, {}, {});
    Open();
    EXPECT_EQ(ComboItems(IDC_TRANSITIONEASYCOMBOBOX),
              (Names{"なし", "クロスフェード", "パン・ズーム"}));
    EXPECT_EQ(SendMessageA(Item(IDC_TRANSITIONEASYCOMBOBOX), CB_GETCURSEL, 0, 0), c.kind) << c.keys;
    EXPECT_EQ(dlgtest::WindowText(Item(IDC_TRANSITIONTIMENUMBERFILTEREDIT)), c.time) << c.keys;
    EXPECT_EQ(UpDown(IDC_TRANSITIONTIMEUPDOWN), std::stoi(c.time)) << c.keys;
    Click(IDCANCEL);
    CloseDialog();
  }

  const std::string ini =
      "[Screen]\r\nInterval=9\r\nTransition=0\r\nTransitionTime=1000\r\n[Event]\r\n"
      "MouseMove=0\r\n";
  WriteSettings(ini, {}, {});
  Open();
  Click(IDOK);
  ASSERT_TRUE(Ended());
  const std::string unchanged = ReadBytes(IniPath());
  CloseDialog();

  // The kind chosen from the keyboard, the time typed, then one step up.
  Open();
  ShowPageOf(IDC_TRANSITIONEASYCOMBOBOX);
  SetFocus(Item(IDC_TRANSITIONEASYCOMBOBOX));
  Key(VK_DOWN);
  EXPECT_EQ(dlgtest::WindowText(Item(IDC_TRANSITIONEASYCOMBOBOX)), "クロスフェード");
  Type(IDC_TRANSITIONTIMENUMBERFILTEREDIT, "2499");
  ClickUp(IDC_TRANSITIONTIMEUPDOWN);
  EXPECT_EQ(dlgtest::WindowText(Item(IDC_TRANSITIONTIMENUMBERFILTEREDIT)), "2500");
  Click(IDOK);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(ReadBytes(IniPath()), Replace(Replace(unchanged, "Transition=0", "Transition=1"),
                                          "TransitionTime=1000", "TransitionTime=2500"));
  CloseDialog();
}

// The time edit keeps to its limits as its neighbours do: what is typed
// beyond them is brought to the nearer end when the focus leaves, and OK
// saves the up-down's position, which never leaves the range.
TEST_F(ConfigDlgTest, ATransitionTimeTypedOutOfRangeIsHeldToItsLimits) {
  WriteSettings("[Screen]\r\nTransition=2\r\nTransitionTime=800\r\n", {}, {});
  Open();
  ShowPageOf(IDC_TRANSITIONTIMENUMBERFILTEREDIT);
  const int edit = IDC_TRANSITIONTIMENUMBERFILTEREDIT, upDown = IDC_TRANSITIONTIMEUPDOWN;
  Type(edit, "12345");  // four characters at most
  EXPECT_EQ(dlgtest::WindowText(Item(edit)), "1234");
  Type(edit, "9x9.9");  // and only number characters
  EXPECT_EQ(dlgtest::WindowText(Item(edit)), "99.9");
  Key(VK_TAB);
  EXPECT_EQ(dlgtest::WindowText(Item(edit)), "200");
  EXPECT_EQ(UpDown(upDown), 200);
  Type(edit, "9999");
  Key(VK_TAB);
  EXPECT_EQ(dlgtest::WindowText(Item(edit)), "5000");
  EXPECT_EQ(UpDown(upDown), 5000);
  ClickUp(upDown);  // the up-down stops at its end
  EXPECT_EQ(dlgtest::WindowText(Item(edit)), "5000");
  // Enter while the edit still shows too little: OK keeps the last time
  // within the range.
  Type(edit, "50");
  Key(VK_RETURN);
  ASSERT_TRUE(Ended());
  char value[16] = {};
  GetPrivateProfileStringA("Screen", "TransitionTime", "", value, sizeof value, IniPath().c_str());
  EXPECT_STREQ(value, "5000");
  GetPrivateProfileStringA("Screen", "Transition", "", value, sizeof value, IniPath().c_str());
  EXPECT_STREQ(value, "2");
}

// Tab walks the page from the intervals to the transition's kind and its
// time, and Shift+Tab walks back.
TEST_F(ConfigDlgTest, TabReachesTheTransitionControlsAfterTheIntervals) {
  WriteSettings("", {}, {});
  Open();
  ShowPageOf(IDC_INTERVALEDIT);
  SetFocus(Item(IDC_INTERVALEDIT));
  std::vector<int> forward;
  for (int i = 0; i < 3; ++i) {
    Key(VK_TAB);
    forward.push_back(GetDlgCtrlID(GetFocus()));
  }
  EXPECT_EQ(forward,
            (std::vector<int>{IDC_BLANKSCREENINTERVALNUMBERFILTEREDIT, IDC_TRANSITIONEASYCOMBOBOX,
                              IDC_TRANSITIONTIMENUMBERFILTEREDIT}));
  std::vector<int> back;
  for (int i = 0; i < 2; ++i) {
    PressWithShift(VK_TAB);
    back.push_back(GetDlgCtrlID(GetFocus()));
  }
  EXPECT_EQ(back, (std::vector<int>{IDC_TRANSITIONEASYCOMBOBOX,
                                    IDC_BLANKSCREENINTERVALNUMBERFILTEREDIT}));
  // The up-down is not a stop of its own.
  EXPECT_FALSE(GetWindowLongA(Item(IDC_TRANSITIONTIMEUPDOWN), GWL_STYLE) & WS_TABSTOP);
}

// The page that took the transition controls, as laid out at this DPI:
// no two controls share a pixel (a group box holds what lies in it, an
// up-down sits on its edit's border), every control stays inside its page
// and every text fits its control.
TEST_F(ConfigDlgTest, TheIntervalPageHasRoomForEveryControlAndText) {
  WriteSettings("[Screen]\r\nTransition=1\r\n", {}, {});
  Open();
  HWND page = GetParent(Item(IDC_TRANSITIONEASYCOMBOBOX));
  struct Control {
    HWND wnd;
    RECT r;  // in the page's client coordinates
    bool group;
    std::string cls, text;
  };
  std::vector<Control> controls;
  for (HWND w = GetWindow(page, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    Control c;
    c.wnd = w;
    GetWindowRect(w, &c.r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&c.r), 2);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    c.cls = cls;
    c.group = lstrcmpiA(cls, "Button") == 0 &&
              (GetWindowLongA(w, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
    c.text = dlgtest::WindowText(w);
    controls.push_back(c);
  }
  ASSERT_GT(controls.size(), 20u);
  RECT client;
  GetClientRect(page, &client);
  auto inside = [](const RECT& in, const RECT& out) {
    return in.left >= out.left && in.top >= out.top && in.right <= out.right &&
           in.bottom <= out.bottom;
  };
  auto buddies = [](const Control& a, const Control& b) {
    return reinterpret_cast<HWND>(SendMessageA(a.wnd, UDM_GETBUDDY, 0, 0)) == b.wnd ||
           reinterpret_cast<HWND>(SendMessageA(b.wnd, UDM_GETBUDDY, 0, 0)) == a.wnd;
  };
  for (size_t i = 0; i < controls.size(); ++i) {
    const Control& a = controls[i];
    EXPECT_TRUE(inside(a.r, client)) << a.text;
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const Control& b = controls[j];
      RECT common;
      if (!IntersectRect(&common, &a.r, &b.r)) continue;
      if ((a.group && inside(b.r, a.r)) || (b.group && inside(a.r, b.r))) continue;
      if (a.cls == UPDOWN_CLASSA || b.cls == UPDOWN_CLASSA) {
        EXPECT_TRUE(buddies(a, b)) << a.text << " / " << b.text;
        continue;
      }
      ADD_FAILURE() << "'" << a.text << "' (" << a.cls << ") overlaps '" << b.text << "' (" << b.cls
                    << ")";
    }
  }

  // Texts against their controls' room, in the controls' own font.
  HDC dc = GetDC(page);
  auto width = [&](HWND w, const std::string& text) {
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0)));
    SIZE size = {};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    return static_cast<int>(size.cx);
  };
  for (const Control& c : controls) {
    if (c.text.empty()) continue;
    const int room = c.r.right - c.r.left;
    if (c.cls == "Static") {
      EXPECT_LE(width(c.wnd, c.text), room) << c.text;
    } else if (c.group) {
      EXPECT_LE(width(c.wnd, c.text) + 8, room) << c.text;
    } else if (lstrcmpiA(c.cls.c_str(), "Button") == 0) {
      EXPECT_LE(width(c.wnd, c.text) + GetSystemMetrics(SM_CXMENUCHECK) + 4, room) << c.text;
    }
  }
  HWND combo = Item(IDC_TRANSITIONEASYCOMBOBOX);
  COMBOBOXINFO info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(combo, &info));
  for (const std::string& item : ComboItems(IDC_TRANSITIONEASYCOMBOBOX))
    EXPECT_LE(width(combo, item), info.rcItem.right - info.rcItem.left) << item;
  ReleaseDC(page, dc);
}

class PropertiesWindow {
 public:
  PropertiesWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvFakeDisplayProperties";
    RegisterClassA(&wc);
    wnd_ = CreateWindowExA(0, wc.lpszClassName, "画面のプロパティ", WS_POPUP | WS_VISIBLE, 10, 10,
                           200, 150, nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~PropertiesWindow() { DestroyWindow(wnd_); }
  HWND Handle() const { return wnd_; }

 private:
  HWND wnd_;
};

TEST_F(ConfigDlgTest, OpenedFromTheDisplayPropertiesItOwnsAndBlocksThemUntilItCloses) {
  WriteSettings("", {}, {});
  PropertiesWindow properties;
  ASSERT_NE(properties.Handle(), nullptr);
  for (bool inFront : {true, false}) {
    HWND other = nullptr;
    if (inFront) {
      SetForegroundWindow(properties.Handle());
    } else {
      other =
          CreateWindowExA(0, "OrvFakeDisplayProperties", "something else", WS_POPUP | WS_VISIBLE,
                          300, 10, 100, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
      SetForegroundWindow(other);
    }
    Pump(50);
    ASSERT_EQ(GetForegroundWindow() == properties.Handle(), inFront);
    Open();
    EXPECT_EQ(GetWindow(dlg_->Handle(), GW_OWNER) == properties.Handle(), inFront);
    EXPECT_EQ(IsWindowEnabled(properties.Handle()) != 0, !inFront);
    Click(IDCANCEL);
    CloseDialog();
    EXPECT_TRUE(IsWindowEnabled(properties.Handle())) << inFront;
    if (other) DestroyWindow(other);
  }
}

// Today's Screen Saver Settings pass their own handle ("/c:<handle>") and
// carry another title: that window owns the dialog wherever the focus is.
TEST_F(ConfigDlgTest, TheWindowNamedOnTheCommandLineOwnsAndBlocksItUntilItCloses) {
  WriteSettings("", {}, {});
  HWND settings =
      CreateWindowExA(0, "Static", "スクリーン セーバーの設定", WS_POPUP | WS_VISIBLE, 10, 10, 200,
                      150, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  HWND child = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, settings,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  HWND other = CreateWindowExA(0, "Static", "something else", WS_POPUP | WS_VISIBLE, 300, 10, 100,
                               100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_TRUE(settings && child && other);
  SetForegroundWindow(other);
  Pump(50);

  Open(settings);
  EXPECT_EQ(GetWindow(dlg_->Handle(), GW_OWNER), settings);
  EXPECT_FALSE(IsWindowEnabled(settings));
  Click(IDCANCEL);
  CloseDialog();
  EXPECT_TRUE(IsWindowEnabled(settings));

  // A child window, or a handle that names no window, is no owner.
  for (HWND named : {child, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFFFF00))}) {
    Open(named);
    EXPECT_NE(GetWindow(dlg_->Handle(), GW_OWNER), settings);
    EXPECT_NE(GetWindow(dlg_->Handle(), GW_OWNER), child);
    EXPECT_TRUE(IsWindowEnabled(settings));
    Click(IDCANCEL);
    CloseDialog();
  }

  // A dialog that fails while it is made still gives the owner back.
  orv::TConfigDlg failing(
      []() -> std::unique_ptr<orv::TApplicationIniFile> {
        throw std::runtime_error("no settings");
      },
      settings);
  std::string shown;
  tk::Application.OnException = [&](const std::exception& e) { shown = e.what(); };
  tk::RunMainForm(failing);
  tk::Application.OnException = nullptr;
  tk::Application.ClearTerminated();
  EXPECT_EQ(shown, "no settings");
  EXPECT_TRUE(IsWindowEnabled(settings));
  DestroyWindow(other);
  DestroyWindow(settings);
}

TEST_F(ConfigDlgTest, TheAboutPageStatesTheLicenceAndTheReleaseItShipsWith) {
  WriteSettings("", {}, {});
  Open();
  char text[4096] = {};
  GetWindowTextA(Item(IDC_ABOUTTEXT), text, sizeof text);
  const std::string about = text;
  EXPECT_EQ(about.rfind("Version ver2.01\r\n", 0), 0u) << about;
  EXPECT_NE(about.find(std::string("リリース ") + ORV_RELEASE_VERSION), std::string::npos) << about;
  EXPECT_NE(about.find("MIT ライセンス"), std::string::npos);
  EXPECT_NE(about.find("Copyright (c) 2026 The Orvanelle developers"), std::string::npos);
  // The libraries of the photo plug-ins, and where their licences and
  // the LGPL ones' sources are.
  for (const char* named : {"libheif", "libde265", "dav1d", "libwebp", "LGPL-3.0-or-later",
                            "licenses", "photo-libraries.txt",
                            "This software is based in part on the work of the Independent JPEG "
                            "Group."})
    EXPECT_NE(about.find(named), std::string::npos) << named;
  EXPECT_NE(
      about.find(std::string("Orvanelle-") + ORV_RELEASE_VERSION + "-third-party-sources.zip"),
      std::string::npos);
  // Nothing that contradicts the licence: no "freeware, redistribute only
  // unchanged", no "all rights reserved".
  EXPECT_EQ(about.find("フリーウェア"), std::string::npos);
  EXPECT_EQ(about.find("改変しないかぎり"), std::string::npos);
  EXPECT_EQ(about.find("All rights reserved"), std::string::npos);
}

TEST_F(ConfigDlgTest, PluginRowsComeAndGoWithTheCheckBoxAndKeepTheBuiltInMarks) {
  WriteSettings("[Search]\r\nUseSusiePlugin=0\r\nPluginFolder=" + PluginDir() +
                    "\r\n[Extend]\r\nMaxIndex=3\r\nExtend0=1\r\nExtend1=0\r\nExtend2=1\r\n",
                {}, {});
  Open();
  EXPECT_FALSE(IsWindowEnabled(Item(IDC_SELECTPLUGINFOLDERBUTTON)));
  std::vector<bool> checks;
  EXPECT_EQ(TypeRows(&checks).size(), 3u);
  EXPECT_EQ(checks, (std::vector<bool>{true, false, true}));

  tk::TStringList spi, mask;
  mask.Add(".spi");
  orv::FindFiles(spi, PluginDir(), mask);
  ASSERT_GT(spi.Count(), 0);
  Click(IDC_USESUSIEPLUGINCHECKBOX);
  EXPECT_TRUE(IsWindowEnabled(Item(IDC_SELECTPLUGINFOLDERBUTTON)));
  checks.clear();
  const Names rows = TypeRows(&checks);
  ASSERT_EQ(rows.size(), 3u + spi.Count());
  for (int i = 0; i < spi.Count(); ++i) EXPECT_EQ(rows[3 + i], tk::ExtractFileName(spi.Items()[i]));
  EXPECT_EQ(std::vector<bool>(checks.begin(), checks.begin() + 3),
            (std::vector<bool>{true, false, true}));
  EXPECT_EQ(std::count(checks.begin() + 3, checks.end(), true), 0) << "new rows start unchecked";

  Click(IDC_USESUSIEPLUGINCHECKBOX);
  checks.clear();
  EXPECT_EQ(TypeRows(&checks).size(), 3u);
  EXPECT_EQ(checks, (std::vector<bool>{true, false, true}));
}

TEST_F(ConfigDlgTest, AFailedSaveIsShownAndTheDialogStaysOpen) {
  WriteSettings("[Screen]\r\nInterval=9\r\n", {"C:\\a"}, {"C:\\a\\1.bmp"});
  Open();
  // The history file can no longer be written (a folder took its name).
  DeleteFileA(DirListPath().c_str());
  ASSERT_TRUE(CreateDirectoryA(DirListPath().c_str(), nullptr));
  Click(IDC_RANDAMDISPLAYCHECKBOX);
  {
    dlgtest::DialogBoxWatcher boxes;
    Click(IDOK);
    dlgtest::WaitUntil([&] { return !boxes.Texts().empty(); }, 5000);
    EXPECT_EQ(boxes.Texts().size(), 1u);
  }
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
  EXPECT_TRUE(IsWindowEnabled(dlg_->Handle()));
  // What the user set is still there to be saved once the folder is gone.
  RemoveDirectoryA(DirListPath().c_str());
  Click(IDOK);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(ReadBytes(DirListPath()), dlgtest::Lines({"C:\\a"}));
  char value[8] = {};
  GetPrivateProfileStringA("Screen", "RandamDisplay", "", value, sizeof value, IniPath().c_str());
  EXPECT_STREQ(value, "0");
}

// A module in a folder the user may not write (System32, Program Files):
// here a folder that does not exist, which takes no file either. The dialog
// opens without a word, and OK says why nothing can be saved there and
// where the module belongs, then stays open with the user's changes.
TEST_F(ConfigDlgTest, OkInAFolderThatCannotBeWrittenSaysWhereTheModuleBelongs) {
  const std::string folder = dir_ + "not-writable\\";
  dir_ = folder;
  {
    dlgtest::DialogBoxWatcher boxes;
    Open();
    Pump(500);
    EXPECT_TRUE(boxes.Texts().empty()) << boxes.Texts().front();
  }
  Click(IDC_RANDAMDISPLAYCHECKBOX);
  {
    dlgtest::DialogBoxWatcher boxes;
    Click(IDOK);
    dlgtest::WaitUntil([&] { return !boxes.Texts().empty(); }, 5000);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    const std::string text = boxes.Texts()[0];
    EXPECT_NE(text.find("設定を保存できません"), std::string::npos) << text;
    EXPECT_NE(text.find(folder), std::string::npos) << text;
    EXPECT_NE(text.find("インストール"), std::string::npos) << text;
  }
  EXPECT_FALSE(Ended());
  EXPECT_TRUE(IsWindowVisible(dlg_->Handle()));
  // Once the folder can be written, the same OK keeps the change.
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  Click(IDOK);
  ASSERT_TRUE(Ended());
  char value[8] = {};
  GetPrivateProfileStringA("Screen", "RandamDisplay", "", value, sizeof value, IniPath().c_str());
  EXPECT_STREQ(value, "0");
}

}  // namespace
