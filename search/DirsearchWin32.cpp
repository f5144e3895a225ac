#include "search/Dirsearch.h"

#include <windows.h>

#include <vector>

#include "search/FolderIdentity.h"
#include "toolkit/FileUtil.h"
#include "toolkit/Win32Handles.h"

namespace orv {

namespace {

bool IsFolder(const WIN32_FIND_DATAA& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// From the last period to the end, lower-cased; "" without a period.
std::string EntryExtension(const char* name) {
  const std::string s(name);
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

void AppendMatchingFiles(tk::TStringList& list, const std::string& folder,
                         const std::vector<std::string>& lowerExtensions) {
  WIN32_FIND_DATAA data;
  tk::ScopedFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find) return;
  do {
    if (IsFolder(data)) continue;
    const std::string ext = EntryExtension(data.cFileName);
    for (const std::string& e : lowerExtensions) {
      if (e == ext) {
        list.Add(folder + "\\" + data.cFileName);
        break;
      }
    }
  } while (FindNextFileA(find.Get(), &data));
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

void FindFiles(tk::TStringList& List, const std::string& Folder,
               const tk::TStringList& Extensions) {
  AppendMatchingFiles(List, Folder, LowerCopy(Extensions));
}

void FindSubFolders(tk::TStringList& List, const std::string& Folder) {
  WIN32_FIND_DATAA data;
  tk::ScopedFindHandle find(FindFirstFileA((Folder + "\\*").c_str(), &data));
  if (!find) return;
  do {
    if (!IsFolder(data)) continue;
    const size_t len = strlen(data.cFileName);
    if (len == 0 || data.cFileName[len - 1] == '.') continue;
    List.Add(Folder + "\\" + data.cFileName);
  } while (FindNextFileA(find.Get(), &data));
}

void FindFilesRecursive(tk::TStringList& List, const std::string& Folder,
                        const tk::TStringList& Extensions) {
  const std::vector<std::string> lowerExtensions = LowerCopy(Extensions);
  // An explicit stack instead of recursion: a deep tree cannot exhaust the
  // thread's stack, and the identities of the folders on the current path
  // are at hand to recognise a link back to one of them.
  std::vector<WalkLevel> path;
  auto enter = [&](const std::string& folder, const FolderIdentity& id, bool hasId) {
    AppendMatchingFiles(List, folder, lowerExtensions);
    path.emplace_back();
    WalkLevel& level = path.back();
    level.id = id;
    level.hasId = hasId;
    FindSubFolders(level.subFolders, folder);
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
