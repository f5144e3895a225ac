#include "search/Dirsearch.h"

#include <windows.h>

#include <vector>

#include "search/FolderIdentity.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Win32Handles.h"

namespace orv {

namespace {

bool IsFolder(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// From the last period to the end, lower-cased; "" without a period.
std::string EntryExtension(const std::string& s) {
  const size_t dot = s.rfind('.');
  if (dot == std::string::npos) return std::string();
  return tk::AsciiLower(s.substr(dot));
}

std::vector<std::string> LowerCopy(const tk::TStringList& extensions) {
  std::vector<std::string> out;
  out.reserve(extensions.Items().size());
  for (const std::string& e : extensions.Items()) out.push_back(tk::AsciiLower(e));
  return out;
}

UINT g_code_page = 0;  // 0: the system's ANSI code page

UINT CodePage() { return g_code_page ? g_code_page : GetACP(); }

std::wstring Wide(const std::string& ansi) {
  const UINT cp = CodePage();
  const int n = MultiByteToWideChar(cp, 0, ansi.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, ansi.c_str(), -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

// The name in the code page when it survives the trip there and back
// unchanged; false when a character would be lost or replaced by a look-
// alike (best fit would turn "Café" into "Cafe", a name that opens nothing).
// With UTF-8 as the ANSI code page (Windows' "Beta: Use Unicode UTF-8 for
// worldwide language support") the conversion refuses WC_NO_BEST_FIT_CHARS
// and a used-default flag, as documented: there every character has its
// bytes, and the round trip alone catches what does not (a lone surrogate
// turns into U+FFFD).
bool ExactAnsi(const wchar_t* name, std::string& out) {
  const UINT cp = CodePage();
  const bool utf8 = cp == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(cp, flags, name, -1, nullptr, 0, nullptr, used);
  if (n <= 0 || usedDefault) return false;
  std::string a(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(cp, flags, name, -1, &a[0], n, nullptr, used) != n) return false;
  a.resize(static_cast<size_t>(n - 1));
  if (usedDefault || Wide(a) != name) return false;
  out = std::move(a);
  return true;
}

}  // namespace

void UseAnsiCodePage(unsigned codePage) { g_code_page = codePage; }

bool AnsiEntryName(const wchar_t* longName, const wchar_t* shortName, std::string& name) {
  if (ExactAnsi(longName, name)) return true;
  // The system keeps an 8.3 name for such names (on the system volume at
  // least); it is plain ASCII and opens the same file.
  return shortName && shortName[0] && ExactAnsi(shortName, name);
}

bool AnsiPath(const wchar_t* path, std::string& out) {
  if (ExactAnsi(path, out)) return true;
  // The short form of every component that needs one.
  const DWORD n = GetShortPathNameW(path, nullptr, 0);
  if (n == 0) return false;
  std::wstring shortPath(n, L'\0');
  const DWORD got = GetShortPathNameW(path, &shortPath[0], n);
  if (got == 0 || got >= n) return false;
  shortPath.resize(got);
  return ExactAnsi(shortPath.c_str(), out);
}

namespace {

// Calls `take` with each entry of `folder` whose name the program can use,
// and adds the others (as the code page shows them) to `unnamed`.
template <typename Take>
void ForEachEntry(const std::string& folder, tk::TStringList* unnamed, Take&& take) {
  WIN32_FIND_DATAW data;
  tk::ScopedFindHandle find(FindFirstFileW((Wide(folder) + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    std::string name;
    if (AnsiEntryName(data.cFileName, data.cAlternateFileName, name)) {
      take(data, name);
    } else if (unnamed && !(IsFolder(data) && data.cFileName[0] == L'.')) {
      char shown[MAX_PATH * 2] = {};
      WideCharToMultiByte(CodePage(), 0, data.cFileName, -1, shown, sizeof shown - 1, nullptr,
                          nullptr);
      unnamed->Add(folder + "\\" + shown);
    }
  } while (FindNextFileW(find.Get(), &data));
}

void AppendMatchingFiles(tk::TStringList& list, const std::string& folder,
                         const std::vector<std::string>& lowerExtensions, tk::TStringList* unnamed,
                         std::vector<EntryFacts>* facts) {
  ForEachEntry(folder, unnamed, [&](const WIN32_FIND_DATAW& data, const std::string& name) {
    if (IsFolder(data)) return;
    const std::string ext = EntryExtension(name);
    for (const std::string& e : lowerExtensions) {
      if (e == ext) {
        list.Add(folder + "\\" + name);
        if (facts) {
          EntryFacts f;
          f.attributes = data.dwFileAttributes;
          f.size = (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
          facts->push_back(f);
        }
        break;
      }
    }
  });
}

bool GetFolderIdentity(const std::string& path, FolderIdentity& id) {
  // Backup semantics is what lets CreateFile open a folder; no access
  // rights beyond the attributes are needed to ask for its identity.
  tk::ScopedFileHandle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h.Get(), &info)) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.indexHigh = info.nFileIndexHigh;
  id.indexLow = info.nFileIndexLow;
  return true;
}

// One folder on the current path of the walk: its identity (when it could
// be read) and the sub-folders still to visit.
struct WalkLevel {
  FolderIdentity id;
  bool hasId = false;
  tk::TStringList subFolders;
  int next = 0;
};

}  // namespace

void FindFiles(tk::TStringList& List, const std::string& Folder, const tk::TStringList& Extensions,
               tk::TStringList* Unnamed, std::vector<EntryFacts>* Facts) {
  AppendMatchingFiles(List, Folder, LowerCopy(Extensions), Unnamed, Facts);
}

void FindSubFolders(tk::TStringList& List, const std::string& Folder, tk::TStringList* Unnamed) {
  ForEachEntry(Folder, Unnamed, [&](const WIN32_FIND_DATAW& data, const std::string& name) {
    if (!IsFolder(data) || name.empty() || name.back() == '.') return;
    List.Add(Folder + "\\" + name);
  });
}

void FindFilesRecursive(tk::TStringList& List, const std::string& Folder,
                        const tk::TStringList& Extensions, tk::TStringList* Unnamed,
                        std::vector<EntryFacts>* Facts) {
  const std::vector<std::string> lowerExtensions = LowerCopy(Extensions);
  // An explicit stack instead of recursion: a deep tree cannot exhaust the
  // thread's stack, and the identities of the folders on the current path
  // are at hand to recognise a link back to one of them.
  std::vector<WalkLevel> path;
  auto enter = [&](const std::string& folder, const FolderIdentity& id, bool hasId) {
    AppendMatchingFiles(List, folder, lowerExtensions, Unnamed, Facts);
    path.emplace_back();
    WalkLevel& level = path.back();
    level.id = id;
    level.hasId = hasId;
    FindSubFolders(level.subFolders, folder, Unnamed);
  };

  FolderIdentity rootId;
  const bool rootHasId = GetFolderIdentity(Folder, rootId);
  enter(Folder, rootId, rootHasId);
  while (!path.empty()) {
    WalkLevel& level = path.back();
    if (level.next >= level.subFolders.Count()) {
      path.pop_back();
      continue;
    }
    const std::string sub = level.subFolders[level.next++];
    FolderIdentity id;
    const bool hasId = GetFolderIdentity(sub, id);
    bool cycle = false;
    if (hasId) {
      for (const WalkLevel& ancestor : path) {
        if (ancestor.hasId && SameFolder(ancestor.id, id)) {
          cycle = true;
          break;
        }
      }
    }
    if (!cycle) enter(sub, id, hasId);
  }
}

}  // namespace orv
