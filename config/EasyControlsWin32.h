// The settings dialog's own input controls over system controls made by
// the dialog templates: a number edit, a list view and a combo box that
// can keep a selection. Each subclasses its window; the form passes the
// control's WM_COMMAND back to it (tk::TReflectTarget).
//
// Ownership: the objects are members of the dialog; the windows belong to
// the dialog's pages and are destroyed with them. Attach once, after the
// page exists.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "config/NumberFilter.h"
#include "toolkit/Forms.h"

namespace orv {

class TNumberFilterEdit : public tk::TReflectTarget {
 public:
  // Takes over an edit made with the multi-line and alignment styles;
  // the input method editor is switched off for it.
  void Attach(HWND edit, int maxLength);
  HWND Handle() const { return handle_; }

  float FloatValue() const { return model_.FloatValue(); }
  void SetFloatValue(float v);
  void SetNumberFilter(const std::string& f);
  void SetMinFloatValue(float v);
  void SetMaxFloatValue(float v);
  std::string Text() const;

  std::function<void()> OnChange;
  std::function<void()> OnExit;

  bool ReflectedCommand(WORD code) override;

 private:
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  // Puts the model's text into the window without reading it back again.
  void ShowModelText();
  void DoExit();

  HWND handle_ = nullptr;
  NumberEditModel model_;
  bool assigning_ = false;
};

class TEasyListView {
 public:
  void Attach(HWND listView, bool alwaysSelected);
  HWND Handle() const { return handle_; }

  bool AlwaysSelected() const { return always_selected_; }
  void SetAlwaysSelected(bool b);
  // The lowest selected index, or -1. Writing brings the index into the
  // list and selects and focuses that item; others stay selected.
  int SelectItemIndex() const;
  void SetSelectItemIndex(int i);
  bool ReadOnlyEx() const;
  void SetReadOnlyEx(bool b);

  int Count() const;
  std::string Caption(int i) const;
  void AddItem(const std::string& caption);
  void DeleteItem(int i);
  void Clear();
  bool Checked(int i) const;
  void SetChecked(int i, bool b);
  int SelectedCount() const;

  std::function<void()> OnMouseMove;

 private:
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  HWND handle_ = nullptr;
  bool always_selected_ = true;
};

class TEasyComboBox {
 public:
  void Attach(HWND comboBox, bool alwaysSelected);
  HWND Handle() const { return handle_; }

  bool AlwaysSelected() const { return always_selected_; }
  void SetAlwaysSelected(bool b);
  int ItemIndex() const;
  void SetItemIndex(int i);
  int Count() const;
  std::string Item(int i) const;
  std::string Text() const;
  void Add(const std::string& s);
  void Insert(int i, const std::string& s);
  void Delete(int i);
  void Clear();

 private:
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  HWND handle_ = nullptr;
  bool always_selected_ = true;
};

// The text of a window or control in the program's code page, up to its
// first NUL whatever length the control reported.
std::string WindowText(HWND wnd);
std::string TextUpToNul(std::string s);

// An up-down's range and position (16 bits, no wrap, no separators).
void UpDownSetRange(HWND upDown, int min, int max);
int UpDownPosition(HWND upDown);
void UpDownSetPosition(HWND upDown, int pos);

}  // namespace orv
