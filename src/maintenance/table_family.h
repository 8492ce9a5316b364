// One Paradox table as all of its files: the table file and its companions
// (memo, indexes, validity checks, view settings), found by name ignoring
// case directly in the folder. Deleting or renaming only the .db would strand
// its memos and leave indexes and checks beside a table they no longer match.
#pragma once

#include <filesystem>
#include <string>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::maintenance {

// Deletes the table `name` of `folder`: its table files first, then, once
// they are gone, the companions (a table file that stays keeps its memos and
// indexes). Every failure is ignored. Returns whether a table file existed.
bool DeleteTableFiles(const std::filesystem::path& folder, const std::string& name,
                      ui::EventPump& pump);

// Whether the table `old_name` of `folder` may take the name `new_name`: no
// path separator in it, and no file of another table's family already called
// so. Renaming a table to its own name, in any case, is allowed.
Status CheckNewTableName(const std::filesystem::path& folder, const std::string& old_name,
                         const std::string& new_name);

struct FamilyRename {
  bool had_table = false;  // a table file of the old name was there
  bool renamed = false;    // every file now carries the new name
  int failures = 0;        // failure dialogs shown
};

// Moves every file of the table `old_name` to `new_name`, each keeping its
// extension as spelled. A file that cannot be moved is shown in RenameFile's
// failure dialog and the files moved before it are moved back, so the table
// stays whole under its old name. Call CheckNewTableName first.
FamilyRename RenameTableFiles(const std::filesystem::path& folder, const std::string& old_name,
                              const std::string& new_name, ui::Dialogs& dialogs,
                              ui::EventPump& pump);

}  // namespace corvane::maintenance
