// Rules of the settings dialog that need no window: values in and out,
// history, type rows, enable table, number edit, sample margin, open
// dialog placement and resizing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "config/ConfigValues.h"
#include "config/CooldlgRules.h"
#include "config/NumberFilter.h"

namespace orv {
namespace {

std::unique_ptr<TApplicationIniFile> Store() {
  // Never loaded or saved: the rules only touch the fields.
  return std::make_unique<TApplicationIniFile>(
      std::make_unique<tk::TPortableIniFile>("unused/Orvanelle.ini"), "d.dat", "f.dat");
}

tk::TStringList List(std::initializer_list<const char*> items) {
  tk::TStringList l;
  for (const char* s : items) l.Add(s);
  return l;
}

TEST(ConfigValues, OpeningShowsEverySettingAndOkStoresItBack) {
  auto s = Store();
  s->DirList = List({"C:\\a", "C:\\b"});
  s->FileList = List({"C:\\a\\1.jpg"});
  s->SubFolder = false;
  s->ReportError = true;
  s->UseSusiePlugin = true;
  s->PluginFolder = "C:\\spi";
  s->CheckSize = 30000;  // beyond the up-down's range
  s->CheckWidth = 640;
  s->CheckHeight = -4;
  s->Extend = {false, true, false, true};
  s->MaxIndex = 4;
  s->Font.Name = "Arial";
  s->Font.Style = tk::fsBold;
  s->RandamDisplay = false;
  s->StretchDraw = false;
  s->AllMonitors = false;
  s->BGColor = tk::clTeal;
  s->UseBGImageCheck = true;
  s->BGImagePath = "C:\\bg.bmp";
  s->Interval = 12;
  s->BlankScreenInterval = 30;
  s->WindowBorder = 0;
  s->ShowTextKind = 3;
  s->SelectTextFileName = "C:\\t.txt";
  s->AlwaysFirstRowCheck = true;
  s->TextArrangement = 0;
  s->TextAlign = 2;
  s->TextLayout = 0;
  s->TextWrap = false;
  s->MouseClick = false;
  s->MouseMove = false;

  ConfigValues v = OpenValues(*s, List({"C:\\spi\\ifjpeg.spi", "C:\\spi\\ifpng.spi"}));
  EXPECT_EQ(v.FolderIndex, 0);
  EXPECT_EQ(v.Size, 20480);
  EXPECT_EQ(v.Width, 640);
  EXPECT_EQ(v.Height, 1);
  ASSERT_EQ(v.TypeRows.size(), 5u);
  EXPECT_EQ(v.TypeRows[3], "ifjpeg.spi");
  // Rows 0..3 carry their stored flags; row 4 has none and shows checked.
  EXPECT_EQ(v.TypeChecked, (std::vector<bool>{false, true, false, true, true}));
  EXPECT_EQ(v.BlankScreenInterval, 10);
  EXPECT_EQ(v.WindowBorder, 5);
  EXPECT_EQ(v.SampleFont, s->Font);
  EXPECT_EQ(v.SelectTextCaption, "C:\\t.txt");
  EXPECT_TRUE((EnableStateOf(v) == EnableState{true, true, true, true, true}));

  auto out = Store();
  StoreValues(v, *out, 32);
  EXPECT_EQ(out->DirList.Items(), s->DirList.Items());
  EXPECT_EQ(out->FileList.Items(), s->FileList.Items());
  EXPECT_EQ(out->MaxIndex, 5);
  EXPECT_FALSE(v.AllMonitors);
  EXPECT_FALSE(out->AllMonitors);
  EXPECT_EQ(out->Extend, v.TypeChecked);
  EXPECT_EQ(out->CheckSize, 20480);
  EXPECT_EQ(out->CheckHeight, 1);
  EXPECT_EQ(out->BlankScreenInterval, 10);
  EXPECT_EQ(out->WindowBorder, 5);
  EXPECT_EQ(out->Font, s->Font);
  EXPECT_EQ(out->BGColor, tk::clTeal);
  EXPECT_EQ(out->BGImagePath, "C:\\bg.bmp");
  EXPECT_EQ(out->ShowTextKind, 3);
  EXPECT_EQ(out->TextAlign, 2);
  EXPECT_FALSE(out->TextWrap || out->MouseClick || out->MouseMove || out->SubFolder);
  EXPECT_TRUE(out->AlwaysFirstRowCheck && out->UseBGImageCheck && out->ReportError);
  // Set directly by their buttons, never by OK.
  EXPECT_EQ(out->PluginFolder, "");
  EXPECT_EQ(out->SelectTextFileName, "");
}

// The transition controls show what Load would have made of the record:
// a kind outside the list is none, a time outside the up-down's range its
// nearer end, taken from the whole integer.
TEST(ConfigValues, TransitionsOpenWithinTheControlsAndOkStoresThem) {
  struct Case {
    int32_t kind, time;
    int shownKind;
    int16_t shownTime;
  } cases[] = {
      {0, 1000, 0, 1000},
      {1, 200, 1, 200},
      {2, 5000, 2, 5000},
      {3, 199, 0, 200},
      {-1, 5001, 0, 5000},
      {2, 70000, 2, 5000},
      {2, 65736, 2, 5000},  // 200 after a cut to 16 bits
      {INT32_MIN, INT32_MIN, 0, 200},
  };
  for (const Case& c : cases) {
    auto s = Store();
    s->Transition = c.kind;
    s->TransitionTime = c.time;
    ConfigValues v = OpenValues(*s, {});
    EXPECT_EQ(v.Transition, c.shownKind) << c.kind;
    EXPECT_EQ(v.TransitionTime, c.shownTime) << c.time;
    auto out = Store();
    StoreValues(v, *out, 32);
    EXPECT_EQ(out->Transition, c.shownKind) << c.kind;
    EXPECT_EQ(out->TransitionTime, c.shownTime) << c.time;
  }
  ConfigValues designed;
  EXPECT_EQ(designed.Transition, kTransitionNone);
  EXPECT_EQ(designed.TransitionTime, kTransitionTimeDefault);
}

TEST(ConfigValues, FormDefaultsAndEnableRules) {
  ConfigValues v;
  EXPECT_EQ(v.TypeChecked, (std::vector<bool>{false, false, false}));
  EXPECT_TRUE((EnableStateOf(v) == EnableState{false, false, false, false, false}));
  struct Case {
    bool susie, image;
    int kind;
    EnableState want;
  } cases[] = {
      {true, false, 0, {true, false, false, false, false}},
      {false, true, 2, {false, true, true, false, false}},
      {false, false, 3, {false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    v.UseSusiePlugin = c.susie;
    v.UseBGImage = c.image;
    v.ShowTextKind = c.kind;
    EXPECT_TRUE(EnableStateOf(v) == c.want) << c.kind;
  }
}

TEST(ConfigValues, HistoryMovesTheSelectedEntryFirstAndIsCutAtOk) {
  std::vector<std::string> forty;
  for (int i = 0; i < 40; ++i) forty.push_back("F" + std::to_string(i));
  struct Case {
    int selected;
    size_t size;
    const char* first;
    const char* second;
  } cases[] = {
      {4, 32, "F4", "F0"}, {0, 32, "F0", "F1"}, {39, 32, "F39", "F0"}, {-1, 32, "F0", "F1"}};
  for (const Case& c : cases) {
    ConfigValues v;
    v.Folders = forty;
    v.FolderIndex = c.selected;
    auto s = Store();
    StoreValues(v, *s, 32);
    ASSERT_EQ(s->DirList.Count(), static_cast<int>(c.size));
    EXPECT_EQ(s->DirList[0], c.first) << c.selected;
    EXPECT_EQ(s->DirList[1], c.second) << c.selected;
    EXPECT_EQ(v.FolderIndex, c.selected < 0 ? -1 : 0);
  }
  ConfigValues empty;
  auto s = Store();
  StoreValues(empty, *s, 32);
  EXPECT_TRUE(s->DirList.Empty());
  EXPECT_TRUE(s->FileList.Empty());
}

TEST(ConfigValues, PluginRowsComeAndGoWithTheSwitchAndKeepBuiltInMarks) {
  ConfigValues v;
  v.TypeChecked = {true, false, true};
  v.UseSusiePlugin = true;
  UpdateTypeRows(v, List({"C:\\p\\a.spi", "C:\\p\\b.spi"}));
  EXPECT_EQ(v.TypeRows.size(), 5u);
  EXPECT_EQ(v.TypeRows[4], "b.spi");
  v.TypeChecked[3] = true;
  v.UseSusiePlugin = false;
  UpdateTypeRows(v, List({"C:\\p\\a.spi"}));
  EXPECT_EQ(v.TypeChecked, (std::vector<bool>{true, false, true}));
  v.UseSusiePlugin = true;
  UpdateTypeRows(v, List({"C:\\p\\a.spi"}));
  EXPECT_EQ(v.TypeChecked, (std::vector<bool>{true, false, true, false}));
}

TEST(SampleBorder, MarginSplitsOverBothSidesWithTruncation) {
  struct Case {
    int margin, tb, lr;
  } cases[] = {{5, 5, 5}, {10, 10, 11}, {50, 52, 58}, {100, 104, 116}, {1, 1, 1}};
  for (const Case& c : cases) {
    SampleBorder b{};
    ASSERT_TRUE(SampleBorderFor(c.margin, 233, 209, b)) << c.margin;
    EXPECT_EQ(b.topBottom, c.tb) << c.margin;
    EXPECT_EQ(b.leftRight, c.lr) << c.margin;
  }
  for (int margin : {0, -3, 101}) {
    SampleBorder b{77, 77};
    EXPECT_FALSE(SampleBorderFor(margin, 233, 209, b));
    EXPECT_EQ(b.topBottom, 77);
  }
  SampleBorder dpi{};
  ASSERT_TRUE(SampleBorderFor(10, 349, 313, dpi));  // the sample at 144 DPI
  EXPECT_EQ(dpi.topBottom, 15);
  EXPECT_EQ(dpi.leftRight, 17);
}

TEST(NumberFilter, KeysLimitsAndTextToValue) {
  for (char c : std::string("0123456789+-.\b \t")) EXPECT_TRUE(NumberKeyAccepted(c)) << int(c);
  for (char c : std::string("a,eE\r/:\x7f\x82\xff")) EXPECT_FALSE(NumberKeyAccepted(c)) << int(c);
  // Whole UTF-16 characters: full-width digits and signs, the ideographic
  // space and the minus sign, and characters whose low byte alone would be a
  // digit or a control key.
  for (uint32_t c : {0xFF10u, 0xFF19u, 0xFF0Bu, 0xFF0Du, 0xFF0Eu, 0x3000u, 0x2212u, 0x0130u,
                     0x0108u, 0x0120u, 0x0209u})
    EXPECT_FALSE(NumberKeyAccepted(c)) << std::hex << c;

  EXPECT_EQ(LimitValue(30000, 1, 20480), 20480);
  EXPECT_EQ(LimitValue(-2, 1, 20480), 1);
  EXPECT_EQ(LimitValue(7, 10, 5), 10);  // crossed limits: the lower one wins
  EXPECT_EQ(LimitValue(std::nanf(""), 1, 9), 1);

  struct Case {
    const char* text;
    bool ok;
    double value;
  } cases[] = {{"12", true, 12}, {" -3.5 ", true, -3.5}, {"+.5", true, 0.5},  {"1e3", true, 1000},
               {"", false, 0},   {"-", false, 0},        {"1.2.3", false, 0}, {"12a", false, 0},
               {"1e", false, 0}, {".", false, 0},        {"1,5", false, 0}};
  for (const Case& c : cases) {
    double v = -99;
    EXPECT_EQ(ValueFromText(c.text, v), c.ok) << c.text;
    if (c.ok) EXPECT_DOUBLE_EQ(v, c.value) << c.text;
  }
}

TEST(NumberFilter, FormatPatterns) {
  struct Case {
    const char* pattern;
    double value;
    const char* text;
  } cases[] = {
      {"#####0", 12.6, "13"},
      {"#####0", 12.5, "13"},
      {"#####0", 0, "0"},
      {"#####0", 20480, "20480"},
      {"##0", 5, "5"},
      {"#0", -2.5, "-3"},
      {"+0.0######;-0.0######;0", 1.25, "+1.25"},
      {"+0.0######;-0.0######;0", -3, "-3.0"},
      {"+0.0######;-0.0######;0", 0, "0"},
      {"0.00", 2.5, "2.50"},
      {"0.0#", 1.125, "1.13"},
      {"#####0", 123456, "123456"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatFloat(c.pattern, c.value), c.text) << c.pattern;
}

TEST(NumberFilter, EditModelFollowsTextValueAndFocusRules) {
  NumberEditModel size;
  size.SetNumberFilter("#####0");
  size.SetMaxFloatValue(20480);
  size.SetMinFloatValue(1);
  size.SetFloatValue(10240);
  EXPECT_EQ(size.Text(), "10240");

  size.Change("30000");  // typed: the value is limited, the text stays
  EXPECT_EQ(size.Text(), "30000");
  EXPECT_EQ(size.FloatValue(), 20480);
  size.DoExit();
  EXPECT_EQ(size.Text(), "20480");

  size.Change("12.6");
  size.DoExit();
  EXPECT_EQ(size.Text(), "13");
  EXPECT_EQ(size.FloatValue(), 13);

  size.Change("-");  // not a number yet: the value stays
  EXPECT_EQ(size.FloatValue(), 13);
  size.Change("");
  size.DoExit();
  EXPECT_EQ(size.Text(), "13");

  size.AssignText("0");  // set by program: kept as it is
  EXPECT_EQ(size.Text(), "0");
  EXPECT_EQ(size.FloatValue(), 13);
  size.AssignText("99999");  // an up-down writing into its buddy
  EXPECT_EQ(size.Text(), "20480");
  EXPECT_EQ(size.FloatValue(), 20480);

  NumberEditModel plain;  // the published defaults
  EXPECT_EQ(plain.Text(), "0");
  plain.SetFloatValue(5000);
  EXPECT_EQ(plain.FloatValue(), 1000);
  EXPECT_EQ(plain.Text(), "+1000.0");
}

TEST(Cooldlg, BrowseFlagsPlacementAndResizeRule) {
  EXPECT_EQ(BrowseFlags(FolderOption(sfReturnFSAncestors) | FolderOption(sfReturnOnlyFsDirs)), 9u);
  EXPECT_EQ(BrowseFlags(FolderOption(sfBrowseForComputer) | FolderOption(sfEditbox)), 0x1010u);
  EXPECT_EQ(BrowseFlags(0), 0u);

  int x = 0, y = 0;
  DialogPosition({0, 0, 1024, 768}, 500, 400, x, y);
  EXPECT_EQ(x, 262);
  EXPECT_EQ(y, 122);
  DialogPosition({1024, -100, 2048, 668}, 500, 400, x, y);  // a second monitor
  EXPECT_EQ(x, 1286);
  EXPECT_EQ(y, 22);
  DialogPosition({0, 0, 800, 600}, 900, 700, x, y);  // larger than the monitor
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  DialogPosition({-1024, 0, 0, 768}, 1034, 500, x, y);  // wider only, left monitor
  EXPECT_EQ(x, -1024);
  EXPECT_EQ(y, 89);

  // File view 20..420 x 40..300: centre (220, 170); the dialog grows 100 x 50.
  const int cx = CentreOf(20, 420), cy = CentreOf(40, 300);
  struct Case {
    IntRect before, after;
    bool changed;
  } cases[] = {
      {{300, 320, 380, 344}, {400, 370, 480, 394}, true},  // right of and below: moves
      {{10, 320, 400, 344}, {10, 370, 500, 394}, true},    // spans x, below: wider, down
      {{5, 5, 100, 30}, {5, 5, 100, 30}, false},           // left of and above: stays
      {{220, 5, 300, 30}, {320, 5, 400, 30}, true},        // left edge on the centre moves
      {{5, 100, 100, 200}, {5, 100, 100, 250}, true},      // spans y only: taller
  };
  for (const Case& c : cases) {
    IntRect r = c.before;
    EXPECT_EQ(ResizeChild(r, cx, cy, 100, 50), c.changed);
    EXPECT_TRUE(r == c.after) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  }
  EXPECT_EQ(CentreOf(-5, 2), -1);  // halved toward zero
}

}  // namespace
}  // namespace orv
