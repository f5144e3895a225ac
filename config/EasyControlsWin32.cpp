#include "config/EasyControlsWin32.h"

#include <commctrl.h>
#include <imm.h>

#include <vector>

namespace orv {

// A length that a control reports is an upper bound, not the text's length:
// an ANSI program asking a Unicode control on a double-byte code page may
// be told twice the real length. Everything after the first NUL is not
// text, so it never reaches a list, a file or a comparison.
std::string TextUpToNul(std::string s) {
  s.resize(std::char_traits<char>::length(s.c_str()));
  return s;
}

std::string WindowText(HWND wnd) {
  const int n = GetWindowTextLengthA(wnd);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(wnd, &s[0], n + 1);
  return TextUpToNul(std::move(s));
}

// ---- TNumberFilterEdit ----------------------------------------------------

void TNumberFilterEdit::Attach(HWND edit, int maxLength) {
  handle_ = edit;
  ImmAssociateContext(edit, nullptr);
  SendMessageA(edit, EM_LIMITTEXT, static_cast<WPARAM>(maxLength), 0);
  SetWindowSubclass(edit, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  ShowModelText();
}

void TNumberFilterEdit::SetFloatValue(float v) {
  model_.SetFloatValue(v);
  ShowModelText();
}

void TNumberFilterEdit::SetNumberFilter(const std::string& f) {
  model_.SetNumberFilter(f);
  ShowModelText();
}

void TNumberFilterEdit::SetMinFloatValue(float v) {
  model_.SetMinFloatValue(v);
  ShowModelText();
}

void TNumberFilterEdit::SetMaxFloatValue(float v) {
  model_.SetMaxFloatValue(v);
  ShowModelText();
}

std::string TNumberFilterEdit::Text() const {
  return handle_ ? WindowText(handle_) : model_.Text();
}

void TNumberFilterEdit::ShowModelText() {
  if (!handle_ || WindowText(handle_) == model_.Text()) return;
  assigning_ = true;
  SetWindowTextA(handle_, model_.Text().c_str());
  assigning_ = false;
}

void TNumberFilterEdit::DoExit() {
  model_.Change(WindowText(handle_));
  model_.DoExit();
  ShowModelText();
  if (OnExit) OnExit();
}

bool TNumberFilterEdit::ReflectedCommand(WORD code) {
  if (code != EN_CHANGE) return false;
  // Our own assignments keep the model as the text rule left it.
  if (!assigning_) {
    model_.Change(WindowText(handle_));
    if (OnChange) OnChange();
  }
  return true;
}

LRESULT CALLBACK TNumberFilterEdit::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                                 UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TNumberFilterEdit*>(data);
  switch (msg) {
    case WM_CHAR:
      // The whole character: the dialog's windows are Unicode, and the low
      // byte of a full-width digit (U+FF10) would pass for a control key.
      if (!NumberKeyAccepted(static_cast<uint32_t>(wParam))) return 0;
      break;
    case WM_GETDLGCODE:
      // A multi-line edit would take Enter and Esc from the dialog; this
      // one has a single line, so they stay OK and Cancel.
      return DefSubclassProc(wnd, msg, wParam, lParam) & ~DLGC_WANTALLKEYS;
    case WM_SETTEXT: {
      const LRESULT r = DefSubclassProc(wnd, msg, wParam, lParam);
      // The dialog made a Unicode window, so the text is read back in the
      // program's code page rather than taken from the message.
      if (!self->assigning_) {
        self->model_.AssignText(WindowText(wnd));
        self->ShowModelText();
      }
      return r;
    }
    case WM_KILLFOCUS: {
      const LRESULT r = DefSubclassProc(wnd, msg, wParam, lParam);
      self->DoExit();
      return r;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(wnd, SubclassProc, 1);
      self->handle_ = nullptr;
      break;
    default:
      break;
  }
  return DefSubclassProc(wnd, msg, wParam, lParam);
}

// ---- TEasyListView --------------------------------------------------------

void TEasyListView::Attach(HWND listView, bool alwaysSelected) {
  handle_ = listView;
  SetWindowSubclass(listView, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  SetAlwaysSelected(alwaysSelected);
}

void TEasyListView::SetAlwaysSelected(bool b) {
  always_selected_ = b;
  if (b && handle_ && Count() > 0 && SelectItemIndex() < 0) SetSelectItemIndex(0);
}

int TEasyListView::SelectItemIndex() const {
  return static_cast<int>(SendMessageA(handle_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                       MAKELPARAM(LVNI_SELECTED, 0)));
}

void TEasyListView::SetSelectItemIndex(int i) {
  const int n = Count();
  if (n == 0) return;
  if (i < 0) i = 0;
  if (i >= n) i = n - 1;
  ListView_SetItemState(handle_, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

bool TEasyListView::ReadOnlyEx() const {
  return (GetWindowLongA(handle_, GWL_STYLE) & LVS_EDITLABELS) == 0;
}

void TEasyListView::SetReadOnlyEx(bool b) {
  LONG style = GetWindowLongA(handle_, GWL_STYLE);
  style = b ? (style & ~LVS_EDITLABELS) : (style | LVS_EDITLABELS);
  SetWindowLongA(handle_, GWL_STYLE, style);
  // An item in and out again: with AlwaysSelected on, the list then has
  // its selection as after any insertion.
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.pszText = const_cast<char*>("");
  const int at =
      static_cast<int>(SendMessageA(handle_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (at >= 0) SendMessageA(handle_, LVM_DELETEITEM, static_cast<WPARAM>(at), 0);
}

int TEasyListView::Count() const {
  return static_cast<int>(SendMessageA(handle_, LVM_GETITEMCOUNT, 0, 0));
}

std::string TEasyListView::Caption(int i) const {
  std::vector<char> buf(1024);
  LVITEMA item = {};
  item.iSubItem = 0;
  item.pszText = buf.data();
  item.cchTextMax = static_cast<int>(buf.size() - 1);
  SendMessageA(handle_, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  // Terminated whatever the control wrote: the text ends at its first NUL.
  return std::string(buf.data());
}

void TEasyListView::AddItem(const std::string& caption) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = Count();
  item.pszText = const_cast<char*>(caption.c_str());
  SendMessageA(handle_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void TEasyListView::DeleteItem(int i) {
  SendMessageA(handle_, LVM_DELETEITEM, static_cast<WPARAM>(i), 0);
}

void TEasyListView::Clear() { SendMessageA(handle_, LVM_DELETEALLITEMS, 0, 0); }

bool TEasyListView::Checked(int i) const { return ListView_GetCheckState(handle_, i) != 0; }

void TEasyListView::SetChecked(int i, bool b) {
  ListView_SetCheckState(handle_, i, b ? TRUE : FALSE);
}

int TEasyListView::SelectedCount() const {
  return static_cast<int>(SendMessageA(handle_, LVM_GETSELECTEDCOUNT, 0, 0));
}

LRESULT CALLBACK TEasyListView::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TEasyListView*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(wnd, SubclassProc, 1);
    self->handle_ = nullptr;
    return DefSubclassProc(wnd, msg, wParam, lParam);
  }
  if (msg == WM_MOUSEMOVE && self->OnMouseMove) self->OnMouseMove();
  const bool keep = self->always_selected_ &&
                    (msg == LVM_INSERTITEMA || msg == LVM_INSERTITEMW || msg == LVM_DELETEITEM);
  if (!keep) return DefSubclassProc(wnd, msg, wParam, lParam);
  const int remembered = self->SelectItemIndex();
  const LRESULT r = DefSubclassProc(wnd, msg, wParam, lParam);
  if (self->Count() > 0 && self->SelectItemIndex() < 0) self->SetSelectItemIndex(remembered);
  return r;
}

// ---- TEasyComboBox --------------------------------------------------------

void TEasyComboBox::Attach(HWND comboBox, bool alwaysSelected) {
  handle_ = comboBox;
  SetWindowSubclass(comboBox, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  SetAlwaysSelected(alwaysSelected);
}

void TEasyComboBox::SetAlwaysSelected(bool b) {
  always_selected_ = b;
  if (b && handle_ && Count() > 0 && ItemIndex() < 0) SetItemIndex(0);
}

int TEasyComboBox::ItemIndex() const {
  return static_cast<int>(SendMessageA(handle_, CB_GETCURSEL, 0, 0));
}

void TEasyComboBox::SetItemIndex(int i) {
  SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
}

int TEasyComboBox::Count() const {
  return static_cast<int>(SendMessageA(handle_, CB_GETCOUNT, 0, 0));
}

std::string TEasyComboBox::Item(int i) const {
  const LRESULT n = SendMessageA(handle_, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
  if (n == CB_ERR) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  if (SendMessageA(handle_, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&s[0])) ==
      CB_ERR)
    return std::string();
  return TextUpToNul(std::move(s));
}

std::string TEasyComboBox::Text() const { return WindowText(handle_); }

void TEasyComboBox::Add(const std::string& s) {
  SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
}

void TEasyComboBox::Insert(int i, const std::string& s) {
  SendMessageA(handle_, CB_INSERTSTRING, static_cast<WPARAM>(i),
               reinterpret_cast<LPARAM>(s.c_str()));
}

void TEasyComboBox::Delete(int i) {
  SendMessageA(handle_, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
}

void TEasyComboBox::Clear() { SendMessageA(handle_, CB_RESETCONTENT, 0, 0); }

LRESULT CALLBACK TEasyComboBox::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TEasyComboBox*>(data);
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(wnd, SubclassProc, 1);
    self->handle_ = nullptr;
    return DefSubclassProc(wnd, msg, wParam, lParam);
  }
  const bool keep = self->always_selected_ &&
                    (msg == CB_ADDSTRING || msg == CB_DELETESTRING || msg == CB_INSERTSTRING);
  if (!keep) return DefSubclassProc(wnd, msg, wParam, lParam);
  const int remembered = self->ItemIndex();
  const LRESULT r = DefSubclassProc(wnd, msg, wParam, lParam);
  const int n = self->Count();
  if (n == 0) {
    SendMessageA(wnd, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetWindowTextA(wnd, "");
  } else if (self->ItemIndex() < 0) {
    int i = remembered < 0 ? 0 : remembered;
    if (i >= n) i = n - 1;
    SendMessageA(wnd, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
  }
  return r;
}

// ---- up-downs -------------------------------------------------------------

void UpDownSetRange(HWND upDown, int min, int max) {
  SendMessageA(upDown, UDM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
}

int UpDownPosition(HWND upDown) {
  return static_cast<int>(SendMessageA(upDown, UDM_GETPOS32, 0, 0));
}

void UpDownSetPosition(HWND upDown, int pos) {
  SendMessageA(upDown, UDM_SETPOS32, 0, static_cast<LPARAM>(pos));
}

}  // namespace orv
