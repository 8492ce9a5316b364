// The file tests and the folder walk beneath the Paradox catalog. Paths use
// "/" as the separator; a folder in a walk's collection ends with one.
//
// Platform rules: there are no attribute bits that exclude a folder; a
// symbolic link to a folder is never entered (so a link loop cannot trap
// the walk); patterns match case-insensitively; lengths are counted as the
// original counted them, in UTF-16 code units.
#pragma once

#include <string>
#include <vector>

#include "ui/surfaces.h"

namespace corvane::catalog {

// Names (no folder) of the regular files in `folder` matching `pattern`
// ("*" and "?" wildcards, letters in any case), hidden ones included, in
// the order the directory gives them. A missing or unreadable folder has
// none. A trailing "/" on `folder` is optional.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& pattern);

// True for an existing regular file (through links). Never fails.
bool IsExistingFile(const std::string& path);

// True for an existing folder (through links); false when the path cannot
// be examined. Never fails.
bool IsFolder(const std::string& path);

// True when a code point of `name` is below 32, from 127 to 159, or "?",
// or when `name` is not valid UTF-8 (no such name has a faithful text).
bool HasUnsafeCharacters(const std::string& name);

// Everything after the last "/"; the whole text if there is none.
std::string FileNameOf(const std::string& path);

// Appends to `folders` (each ending in "/") the accepted sub-folders of its
// entries, breadth-first, at every depth when `recurse`. A folder that
// cannot be read (permission denied) or has vanished (not found) is removed
// from `folders`, so its files are not listed either. Sub-folders are
// accepted when their name is under 260 units, free of unsafe characters,
// and not a link; folders of 260 units or more are not entered. Pumps
// `pump` for each folder and sub-folder. Failures outside the silent
// stretch go through `dialogs` under the walk's own procedure tag.
void GetSubDirectories2016(std::vector<std::string>& folders, bool recurse, ui::EventPump& pump,
                           ui::Dialogs& dialogs);

}  // namespace corvane::catalog
