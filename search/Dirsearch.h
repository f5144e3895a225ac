// Listing picture candidates and plug-in files: the files of a folder (or a
// folder tree) whose extension is in a given set, and the sub-folders of a
// folder. Stateless free functions; each only appends full paths to a list
// the caller owns (never clears, sorts or de-duplicates it) and raises
// nothing: a folder that is missing or unreadable simply adds nothing.
//
// Joined names are Folder + "\" + entry name, exactly as given: a folder with
// a trailing separator yields doubled separators. Extensions are compared
// with their leading period after ASCII lower-casing of both sides. Hidden
// and system entries take part. Order is the platform's enumeration order
// within a folder, pre-order over the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/StringList.h"

namespace orv {

// What the walk learnt of a file from its folder entry, without opening it.
struct EntryFacts {
  uint32_t attributes = 0;  // FILE_ATTRIBUTE_* of the entry
  int64_t size = 0;
};

// A file whose data is not on this PC: a cloud folder's placeholder
// (OneDrive Files On-Demand and the like, marked recall on open or on data
// access) or an offline file. Opening one downloads it, so a search over a
// cloud-kept Pictures folder must not open them.
constexpr uint32_t kAttributeOffline = 0x1000;             // FILE_ATTRIBUTE_OFFLINE
constexpr uint32_t kAttributeRecallOnOpen = 0x40000;       // FILE_ATTRIBUTE_RECALL_ON_OPEN
constexpr uint32_t kAttributeRecallOnDataAccess = 0x400000;  // ..._RECALL_ON_DATA_ACCESS
inline bool IsNotOnThisPc(uint32_t attributes) {
  return (attributes & (kAttributeOffline | kAttributeRecallOnOpen |
                        kAttributeRecallOnDataAccess)) != 0;
}

// Names come back in the program's code page. An entry whose name does not
// survive the trip there (a character the code page lacks, which the system
// would replace by "?" or a look-alike, so that the name opens nothing)
// comes under its short 8.3 name; one without a short name is passed over
// and, when `Unnamed` is given, added to it as the code page shows it.

// `Facts`, when given, gets one entry per file added to `List`, in step.

// Files (not folders) directly in Folder whose extension is in Extensions.
void FindFiles(tk::TStringList& List, const std::string& Folder, const tk::TStringList& Extensions,
               tk::TStringList* Unnamed = nullptr, std::vector<EntryFacts>* Facts = nullptr);

// Sub-folders of Folder, except names ending with a period ("." and "..").
void FindSubFolders(tk::TStringList& List, const std::string& Folder,
                    tk::TStringList* Unnamed = nullptr);

// Matching files of Folder and of every folder below it, each folder's own
// files before those of its sub-folders. A folder link that leads back to a
// folder on the current path is not entered again, so the walk ends.
void FindFilesRecursive(tk::TStringList& List, const std::string& Folder,
                        const tk::TStringList& Extensions, tk::TStringList* Unnamed = nullptr,
                        std::vector<EntryFacts>* Facts = nullptr);

#ifdef _WIN32
// The code page names are converted to: the system's ANSI code page (0),
// or the one given (tests: 65001, which Windows uses when "Beta: Use
// Unicode UTF-8 for worldwide language support" is on).
void UseAnsiCodePage(unsigned codePage);
// The name of one directory entry as the program can use it: `longName`
// when it converts to the code page and back unchanged, else `shortName`
// (may be null or empty) under the same test. False when neither does.
bool AnsiEntryName(const wchar_t* longName, const wchar_t* shortName, std::string& name);
// A full path the program can use: as it is when it survives the code
// page, else its short form. False when neither does.
bool AnsiPath(const wchar_t* path, std::string& out);
#endif

}  // namespace orv
