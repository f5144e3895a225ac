// The dialog's own controls over real system windows: typing into a number
// edit, and the lists that keep (or do not keep) a selection.
#include <windows.h>

#include <commctrl.h>

#include "config/EasyControlsWin32.h"
#include "tests/settings_dialog/dialog_harness.h"
#include "tests/win/test_form.h"

namespace {

class NumberEditTyping : public dlgtest::DialogTest {
 protected:
  void Type(int editId, const std::string& keys) {
    HWND edit = Item(editId);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (char c : keys) PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    Pump(50);
  }
};

TEST_F(NumberEditTyping, TypedTextIsFilteredAndLimitedOnLeaving) {
  WriteSettings("", {}, {});
  Open();
  const int size = IDC_SIZEEDIT, sizeUpDown = IDC_SIZEUPDOWN;
  Type(size, "3a0,0\xB1" "00");  // letters, commas and a katakana are not taken
  EXPECT_EQ(dlgtest::WindowText(Item(size)), "30000");
  Key(VK_TAB);  // leaving the edit applies the upper limit
  EXPECT_EQ(dlgtest::WindowText(Item(size)), "20480");
  EXPECT_EQ(SendMessageA(Item(sizeUpDown), UDM_GETPOS32, 0, 0), 20480);
  Type(size, "0");
  Key(VK_TAB);  // and the lower one
  EXPECT_EQ(dlgtest::WindowText(Item(size)), "1");
  // A "0" set by program stays as it is.
  SetWindowTextA(Item(size), "0");
  EXPECT_EQ(dlgtest::WindowText(Item(size)), "0");
  // The margin edit stops at 50 and the sample follows on leaving.
  Type(IDC_WINDOWBORDERNUMBERFILTEREDIT, "99");
  Key(VK_TAB);
  EXPECT_EQ(dlgtest::WindowText(Item(IDC_WINDOWBORDERNUMBERFILTEREDIT)), "50");
  EXPECT_EQ(SendMessageA(Item(IDC_WINDOWBORDERUPDOWN), UDM_GETPOS32, 0, 0), 50);
}

class EasyLists : public testing::Test {
 protected:
  void SetUp() override {
    tk::Application.Initialize();
    form_.CreateForm();
    lv_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 150,
                          form_.Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
    LVCOLUMNA col = {};
    col.mask = LVCF_WIDTH;
    col.cx = 180;
    SendMessageA(lv_, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
    cb_ = CreateWindowExA(0, WC_COMBOBOXA, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, 0, 160,
                          200, 100, form_.Handle(), nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  orvtest::TestForm form_;
  HWND lv_ = nullptr, cb_ = nullptr;
};

TEST_F(EasyLists, AlwaysSelectedKeepsASelectionThroughInsertAndDelete) {
  for (bool always : {true, false}) {
    orv::TEasyListView list;
    list.Attach(lv_, always);
    list.Clear();
    for (const char* s : {"a", "b", "c"}) list.AddItem(s);
    EXPECT_EQ(list.SelectItemIndex(), always ? 0 : -1) << always;
    ListView_SetItemState(lv_, -1, 0, LVIS_SELECTED);
    list.SetSelectItemIndex(-5);  // brought into the list
    EXPECT_EQ(list.SelectItemIndex(), 0) << always;
    ListView_SetItemState(lv_, -1, 0, LVIS_SELECTED);
    list.SetSelectItemIndex(99);
    EXPECT_EQ(list.SelectItemIndex(), 2) << always;
    list.DeleteItem(2);
    EXPECT_EQ(list.SelectItemIndex(), always ? 1 : -1) << always;
    EXPECT_EQ(list.Count(), 2);
    list.SetReadOnlyEx(false);
    EXPECT_FALSE(list.ReadOnlyEx());
    list.SetReadOnlyEx(true);
    EXPECT_TRUE(list.ReadOnlyEx());
    EXPECT_EQ(list.SelectItemIndex() >= 0, always) << "read-only switch keeps the rule";
  }
  orv::TEasyComboBox combo;
  combo.Attach(cb_, true);
  for (const char* s : {"x", "y", "z"}) combo.Add(s);
  EXPECT_EQ(combo.ItemIndex(), 0);
  combo.SetItemIndex(2);
  combo.Delete(2);
  EXPECT_GE(combo.ItemIndex(), 0);
  combo.SetAlwaysSelected(false);
  combo.SetItemIndex(-1);
  combo.Insert(0, "w");
  EXPECT_EQ(combo.ItemIndex(), -1);
}

}  // namespace
