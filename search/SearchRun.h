// The picture search run of the settings dialog: walk a folder for files of
// the enabled types, keep those within the size limit that decode to at
// least the minimum width and height, and hand the result and the folder to
// the dialog. Portable: the walk, the plug-in host and everything shown to
// the user come in through the interfaces below, so the rules run (and are
// tested) natively; the dialog supplies the Win32 side.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "imaging/PictureLoader.h"
#include "search/Dirsearch.h"
#include "toolkit/StringList.h"

namespace orv {

// What the run reads from the dialog's live controls, plus the plug-in
// folder of the settings object.
struct SearchConditions {
  bool subFolders = false;
  bool reportErrors = false;
  bool usePlugins = false;
  // Check marks of the BMP, JPEG and PNG rows.
  bool bmp = true, jpeg = true, png = true;
  // Captions (file names) of the checked plug-in rows, in row order.
  std::vector<std::string> pluginFiles;
  std::string pluginFolder;
  float sizeLimitKb = 10240;  // SizeEdit's value
  int minWidth = 50, minHeight = 50;
  // String table entry 12 (".bmp,.jpg,.jpeg,.png").
  std::string typeExtensions = ".bmp,.jpg,.jpeg,.png";
};

// The dialog's side of a run: the progress window, message boxes, cursor,
// file list view and folder history.
class ISearchUi {
 public:
  virtual ~ISearchUi() = default;
  virtual void RejectFolderName() = 0;  // "フォルダ名が正しくありません"
  virtual void BeginWait() = 0;         // hourglass on
  virtual void EndWait() = 0;           // the remembered cursor back
  // Creates and shows the progress window ("検索しています...",
  // "ファイルを取得しています...") and disables the dialog.
  virtual void ShowProgress() = 0;
  virtual void SetProgressRange(int max) = 0;
  virtual void SetProgressMessage(const std::string& text) = 0;
  // Sets the bar, lets pending messages through (Cancel among them) and
  // throws tk::EAbort when Cancel was pressed.
  virtual void UpdateProgress(int position) = 0;
  virtual void DisableCancel() = 0;
  virtual void HideProgress() = 0;  // enables the dialog again
  virtual void ReportError(const std::string& text) = 0;  // stop icon, OK
  virtual void SetFileNameList(const tk::TStringList& files) = 0;
  // Selects `folder` in the history, inserting it first when no entry
  // matches it without regard to letter case.
  virtual void EnterHistory(const std::string& folder) = 0;
};

// What a decoder outside the dialog's process found of one candidate.
struct MeasureResult {
  enum Kind {
    kSized,   // width and height are the picture's upright size
    kFailed,  // not decoded; `message` says why, empty: nothing took it
    kLost,    // the decoder died or ran over its time on this file
  } kind = kFailed;
  int width = 0, height = 0;
  std::string message;
};

// Measures `file` (its entry's size `bytes`, 0 when not known) in a
// decoder of its own, calling `wait` while it waits: `wait` lets the
// dialog's messages through and throws tk::EAbort for Cancel.
using MeasureFunction = std::function<MeasureResult(
    const std::string& file, uint64_t bytes, const std::function<void()>& wait)>;

// The upright size of a picture as the search measures it: BMP and PNG
// decoded, a JPEG by its header, a plug-in's file by the size its plug-in
// reads from the header, decoded only without one. `types` is the type
// rows' extension list (".bmp,.jpg,.jpeg,.png"). Throws what the readers
// throw; 0 x 0 when nothing takes the file.
void MeasurePictureFile(const std::string& fileName, const tk::TStringList& types,
                        IPluginDecoder* plugins, int& width, int& height);

// Reported for a candidate during which the decoder died or ran over its
// time.
constexpr char kDecoderLostMessage[] = "画像のデコーダーが異常終了しました";

struct SearchServices {
  // FindFilesRecursive when `recursive`, else FindFiles; entries whose name
  // the program cannot use go to `unnamed`; `facts` gets what each listed
  // file's folder entry says (a walk that leaves it empty gives none).
  std::function<void(tk::TStringList& list, const std::string& folder,
                     const tk::TStringList& extensions, bool recursive, tk::TStringList& unnamed,
                     std::vector<EntryFacts>& facts)>
      walk;
  // Loads the listed plug-in files into the dialog's host and returns its
  // PFilter.
  std::function<std::string(const tk::TStringList& files)> loadPlugIns;
  // The dialog's host, for files of no built-in type; may be null.
  IPluginDecoder* plugins = nullptr;
  // When set, every candidate is measured through it and the run opens no
  // picture itself (`plugins` is then not asked).
  MeasureFunction measure;
};

// The extensions a PFilter text claims: "*.pic;*.mag;" gives ".pic" and
// ".mag", "*.*" a single ".", "*" nothing; letter case is kept.
tk::TStringList PlugInFilterExtensions(const std::string& pfilter);

// The size limit in bytes: the kilobytes in single precision times 1,024,
// truncated toward zero.
int64_t SizeLimitBytes(float kilobytes);

// Position of `folder` in `history` compared without regard to letter case
// (double-byte characters compared as they are), -1 when absent.
int HistoryIndexOf(const tk::TStringList& history, const std::string& folder);

// True when the file is within the size limit, decodes and is at least as
// large as the minimums. A decoding failure, or a file that cannot be
// opened, fails it and goes to ui.ReportError as "message : path" when
// errors are to be reported. A JPEG is measured by its header, and so is a
// plug-in's file whose plug-in can tell its size without decoding it.
//
// A file whose data is not on this PC (`facts` says so: a cloud folder's
// placeholder) is never opened, since opening it would download it: it
// passes by extension and the size its entry gives. The show decodes it in
// its turn and passes over it when it cannot.
//
// With `measure`, the picture is measured through it (`wait` is what it
// calls while it waits); a candidate during which the decoder was lost
// fails with kDecoderLostMessage, and the search goes on.
bool CheckPictureFile(const std::string& fileName, const SearchConditions& c, ISearchUi& ui,
                      IPluginDecoder* plugins, const EntryFacts* facts = nullptr,
                      const MeasureFunction* measure = nullptr,
                      const std::function<void()>& wait = nullptr);

// Reported for an entry whose name cannot be written in the code page and
// that has no short name, so that no program here could open it.
constexpr char kUnnamedEntryMessage[] = "名前に使えない文字があり、開けません";

// The whole run for one folder. Every way out (a rejected name aside)
// leaves the progress window hidden, the cursor restored and the list and
// history updated with what was accepted; a Cancel keeps the files
// accepted before it.
void SearchFolder(const std::string& folder, const SearchConditions& c, ISearchUi& ui,
                  const SearchServices& services);

}  // namespace orv
