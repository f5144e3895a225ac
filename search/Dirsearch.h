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

#include <string>

#include "toolkit/StringList.h"

namespace orv {

// Files (not folders) directly in Folder whose extension is in Extensions.
void FindFiles(tk::TStringList& List, const std::string& Folder, const tk::TStringList& Extensions);

// Sub-folders of Folder, except names ending with a period ("." and "..").
void FindSubFolders(tk::TStringList& List, const std::string& Folder);

// Matching files of Folder and of every folder below it, each folder's own
// files before those of its sub-folders. A folder link that leads back to a
// folder on the current path is not entered again, so the walk ends.
void FindFilesRecursive(tk::TStringList& List, const std::string& Folder,
                        const tk::TStringList& Extensions);

}  // namespace orv
