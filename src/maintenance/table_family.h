// One Paradox table as all of its files: the table file and its family
// (memo, indexes, validity checks, view settings, forms, reports), found as
// paradox::FindTable finds them: the exact spelling first, another case only
// when it is the one table of that name. Deleting or renaming only the .db
// would strand its memos and leave indexes and checks beside a table they
// no longer match. A table another program has open is left alone.
#pragma once

#include <filesystem>
#include <string>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::maintenance {

struct FamilyDelete {
  Status status;            // NotFound: no table file of that name here
  bool table_gone = false;  // the table file is no longer there
};

// Deletes the table `name` of `folder`: its table file first, then, once it
// is gone, the companions (a table file that stays keeps its memos and
// indexes). Refused when the name means several tables or the table is in
// use. A file that cannot be deleted is named in the status.
FamilyDelete DeleteTableFiles(const std::filesystem::path& folder, const std::string& name,
                              ui::EventPump& pump);

// Whether the table `old_name` of `folder` may take the name `new_name`: no
// path separator in it, not "." or "..", and no file of another table's
// family already called so (ignoring case). Renaming a table to another
// spelling of its own name is allowed.
Status CheckNewTableName(const std::filesystem::path& folder, const std::string& old_name,
                         const std::string& new_name);

struct FamilyRename {
  Status refused;        // the name means no table, several, or one in use
  bool renamed = false;  // every file now carries the new name
  int failures = 0;      // failure dialogs shown
};

// Moves every file of the table `old_name` to `new_name`, each keeping its
// extension as spelled. A file that cannot be moved is shown in RenameFile's
// failure dialog and the files moved before it are moved back, so the table
// stays whole under its old name. Call CheckNewTableName first.
FamilyRename RenameTableFiles(const std::filesystem::path& folder, const std::string& old_name,
                              const std::string& new_name, ui::Dialogs& dialogs,
                              ui::EventPump& pump);

}  // namespace corvane::maintenance
