// The dialog's pickers: the shell's folder browser starting at a given
// folder, and the open dialog that shows the places bar, opens centred at
// one third of the free height of the main form's monitor and, where the
// system does not make it resizable itself, gets a size grip, moves its
// controls when it is resized and opens the next time as large as it was
// left.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>

#include "config/CooldlgRules.h"
#include "toolkit/Win32Handles.h"

namespace orv {

class TSelectFolderDialog {
 public:
  std::string DirectoryName;  // the result; empty after a cancel
  TSelectFolderOptions Options = 0;
  std::string InitialDir;
  std::string Title;
  std::function<void()> OnShow;
  std::function<void()> OnClose;

  // The browser owned by `owner`; true when a folder was chosen.
  bool Execute(HWND owner);
};

class TCoolOpenDialog;
using TCODSetPositionEvent =
    std::function<void(TCoolOpenDialog* sender, int& x, int& y, int w, int h)>;

class TCoolOpenDialog {
 public:
  TCoolOpenDialog();
  virtual ~TCoolOpenDialog();
  TCoolOpenDialog(const TCoolOpenDialog&) = delete;
  TCoolOpenDialog& operator=(const TCoolOpenDialog&) = delete;

  std::string FileName;  // in and out; kept as it was after a cancel
  std::string Filter;    // "description|pattern|description|pattern"
  std::string Title;
  std::string InitialDir;
  DWORD Options = OFN_HIDEREADONLY | OFN_ENABLESIZING;  // OFN_ flags
  bool PlaceBar = true;
  bool OldStyleDialog = false;  // the old-style dialog, without the explorer view
  TCODSetPositionEvent OnSettingPos;
  std::function<void()> OnShow;
  std::function<void()> OnClose;

  bool Execute(HWND owner);

  // Growth the user gave the last closed dialog; every open dialog of the
  // program opens that much larger.
  static int CoolDlgWidth;
  static int CoolDlgHeight;

 protected:
  virtual BOOL RunSystemDialog(OPENFILENAMEA& ofn);
  virtual void SetPosition(HWND window);
  // Called after each size change; for descendants.
  virtual void Resize() {}
  void ResizeControl(int width, int height);

 private:
  static UINT_PTR CALLBACK ExplorerHook(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static UINT_PTR CALLBACK OldStyleHook(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK CoolWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
  void DoShow(HWND hookDialog);
  void DoClose();
  void WMShowResize();
  bool OldStyle() const;

  HWND hook_dialog_ = nullptr;
  HWND window_ = nullptr;  // the visible dialog window, from showing to closing
  bool system_sizing_ = false;
  bool subclassed_ = false;
  int initial_width_ = 0, initial_height_ = 0;
  int last_width_ = 0, last_height_ = 0;
  HWND grip_ = nullptr;
};

// The same with the system's save-file dialog.
class TCoolSaveDialog : public TCoolOpenDialog {
 protected:
  BOOL RunSystemDialog(OPENFILENAMEA& ofn) override;
};

}  // namespace orv
