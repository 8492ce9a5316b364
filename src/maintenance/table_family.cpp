#include "maintenance/table_family.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "maintenance/file_operations.h"
#include "paradox/companion_files.h"
#include "paradox/rule_file_names.h"
#include "paradox/table_lock.h"
#include "paradox/table_set_aside.h"
#include "paradox/temp_file.h"
#include "ui/procedure.h"
#include "ui/step_names.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;

bool StillThere(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

using Moves = std::vector<std::pair<fs::path, fs::path>>;

// Undoes a half-done rename, newest first. A file that cannot go back is
// named in a dialog of its own: the user must know the table is split.
int MoveBack(const Moves& moved, ui::Dialogs& dialogs, ui::EventPump& pump) {
  ui::Procedure proc(dialogs, "Main.RenameFile");
  for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
    Status st = MoveFileNoReplace(it->second.string(), it->first.string(), pump);
    if (!st.ok()) {
      proc.Fail(steps::rename_file::kMoveBack, Status::IoError(st.message() + "; the table's files now carry two names"));
    }
  }
  return proc.failures();
}

}  // namespace

FamilyDelete DeleteTableFiles(const fs::path& folder, const std::string& name,
                              ui::EventPump& pump) {
  Result<paradox::TableFamily> table = paradox::FindTable(folder, name);
  if (!table.ok()) return {table.status(), false};
  Status in_use = paradox::CheckTableNotInUse(table.value());
  if (!in_use.ok()) return {in_use, false};
  // Set aside first, so a process killed part way leaves the whole table
  // to be put back or the rest of it to be cleared, never half of it.
  auto aside = paradox::TableSetAside::Create(folder, table->table_file.stem().string());
  if (!aside.ok()) return {aside.status(), false};
  const auto& files = (*aside)->files();
  DeleteFileQuietly(files.front().hidden.string(), pump);
  if (StillThere(files.front().hidden)) {
    // Say why: the quiet delete swallowed it. The table stays as it was.
    Status why = ForceDeleteFile(files.front().hidden.string());
    if (!why.ok()) {
      Status back = (*aside)->Restore();
      return {Status::Error(why.code(), why.message() + (back.ok() ? "" : " " + back.message())),
              false};
    }
  }
  std::string left;
  for (size_t i = 1; i < files.size(); ++i) {
    DeleteFileQuietly(files[i].hidden.string(), pump);
    if (StillThere(files[i].hidden)) {
      left += (left.empty() ? "" : ", ") + files[i].original.filename().string();
    }
  }
  (void)(*aside)->Discard();  // deletes nothing more; lets go of the lock
  if (left.empty()) return {Status::Ok(), true};
  return {Status::IoError("Table " + name + " was deleted, but " + left + " could not be (" +
                          folder.string() + ")."),
          true};
}

Status CheckNewTableName(const fs::path& folder, const std::string& old_name,
                         const std::string& new_name) {
  if (new_name.find('/') != std::string::npos || new_name.find('\0') != std::string::npos ||
      new_name == "." || new_name == "..") {
    return Status::InvalidArgument("\"" + new_name +
                                   "\" is no valid table name: a name may not hold \"/\"");
  }
  Result<paradox::TableFamily> own = paradox::FindTable(folder, old_name);
  std::vector<fs::path> mine = own.ok() ? own->Files() : std::vector<fs::path>{};
  for (const fs::path& taken : paradox::TableFiles(folder, new_name)) {
    if (std::find(mine.begin(), mine.end(), taken) != mine.end()) continue;
    return Status::InvalidArgument("Cannot rename " + old_name + " to " + new_name + ": " +
                                   taken.filename().string() + " is already in " + folder.string() +
                                   ". Nothing was renamed.");
  }
  return Status::Ok();
}

// The .db and .px headers hold a file name of their own. It is left as it
// is: Paradox itself leaves names such as RESTTEMP.DB there after a
// restructure and opens tables by their file names. The names the .val and
// index files keep are set to the new one; indexes find records by block
// number, so the moved indexes still match their table. Lookups in other
// tables' .val files that name this table are not rewritten.
FamilyRename RenameTableFiles(const fs::path& folder, const std::string& old_name,
                              const std::string& new_name, ui::Dialogs& dialogs,
                              ui::EventPump& pump) {
  FamilyRename out;
  Result<paradox::TableFamily> table = paradox::FindTable(folder, old_name);
  out.refused = table.ok() ? paradox::CheckTableNotInUse(table.value()) : table.status();
  if (!out.refused.ok()) return out;
  // Recorded first, so a process killed part way is undone at the next
  // listing of the folder instead of leaving the table split.
  std::vector<std::pair<std::string, std::string>> names;
  for (const fs::path& from : table->Files()) {
    names.emplace_back(from.filename().string(), new_name + from.extension().string());
  }
  auto record = paradox::RecordRenames(folder, names);
  if (!record.ok()) {
    out.refused = record.status();
    return out;
  }
  Moves moved;
  for (const auto& [from, to] : names) {
    if (!RenameFile((folder / from).string(), (folder / to).string(), dialogs, pump)) {
      out.failures = 1 + MoveBack(moved, dialogs, pump);
      return out;
    }
    moved.emplace_back(folder / from, folder / to);
  }
  (void)paradox::SyncFolder(folder);
  out.renamed = true;
  for (const std::string& problem :
       paradox::StoreTableNameInRuleFiles(folder / (new_name + table->table_file.extension().string()))) {
    dialogs.Message("Renamed " + old_name + " to " + new_name +
                    ", but a rule file still names the old table: " + problem);
  }
  return out;
}

}  // namespace corvane::maintenance
