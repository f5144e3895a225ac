// What the source files of the settings dialog share beyond its class:
// ConfigDlg.cpp (the frame, its pages, the values in and out, OK and
// Cancel), ConfigDlgFileList.cpp (the file list page and the search run)
// and ConfigDlgPickers.cpp (the plug-in rows, the font, colour, picture and
// text pickers, the sample's margin).
#pragma once

#include <windows.h>

namespace orv {

inline constexpr char kFileListHint[] = "右クリックメニューから選択したファイルを削除できます";
inline constexpr UINT kExtensionsResource = 12;

// The system DPI the dialog is laid out for (it is system DPI aware).
int ScreenDpi();

}  // namespace orv
