// The Paradox folder catalog: which .db tables a folder and its sub-folders
// hold. Works on the file system alone.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::catalog {

// True when `folder` itself (not its sub-folders) holds a *.db file
// (matched case-insensitively; a "~" file counts). Empty folder: false.
Result<bool> TestParadoxFolder(const std::string& folder);

// The name a table file is listed by: its file name upper-cased, with every
// ".DB" removed ("my.dbase.db" -> "MYASE").
std::string TableNameOf(const std::string& file_name);

// Clears `list` and adds the table names of `folder` and all its sub-folders
// (breadth-first), upper-cased with every ".DB" removed, "~" files skipped;
// each entry keeps the sub-folder it was found in.
// A file whose name is not valid UTF-8 cannot be named in the list: it is
// left out, and one message names every such file.
// The walk's own failures are shown through `dialogs` under the folder
// walk's tag; the pump is served per folder.
Status ListParadoxTables(const std::string& folder, ui::TableList& list, ui::EventPump& pump,
                         ui::Dialogs& dialogs);

}  // namespace corvane::catalog
