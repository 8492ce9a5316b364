#include "maintenance/table_family.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "maintenance/file_operations.h"
#include "paradox/companion_files.h"
#include "paradox/table_lock.h"
#include "ui/procedure.h"

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
      proc.Fail(102, Status::IoError(st.message() + "; the table's files now carry two names"));
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
  DeleteFileQuietly(table->table_file.string(), pump);
  if (StillThere(table->table_file)) {
    // Say why: the quiet delete swallowed it.
    Status why = ForceDeleteFile(table->table_file.string());
    if (!why.ok()) return {why, false};
  }
  std::string left;
  for (const fs::path& f : table->companions) {
    DeleteFileQuietly(f.string(), pump);
    if (StillThere(f)) left += (left.empty() ? "" : ", ") + f.filename().string();
  }
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

// The .db, .px and .xNN/.yNN headers hold a file name of their own. It is
// left as it is: Paradox itself leaves names such as RESTTEMP.DB there after
// a restructure and opens tables by their file names, and indexes find
// records by block number, so the moved indexes still match their table.
// Lookups in other tables' .val files that name this table are not rewritten.
FamilyRename RenameTableFiles(const fs::path& folder, const std::string& old_name,
                              const std::string& new_name, ui::Dialogs& dialogs,
                              ui::EventPump& pump) {
  FamilyRename out;
  Result<paradox::TableFamily> table = paradox::FindTable(folder, old_name);
  out.refused = table.ok() ? paradox::CheckTableNotInUse(table.value()) : table.status();
  if (!out.refused.ok()) return out;
  Moves moved;
  for (const fs::path& from : table->Files()) {
    fs::path to = from.parent_path() / (new_name + from.extension().string());
    if (!RenameFile(from.string(), to.string(), dialogs, pump)) {
      out.failures = 1 + MoveBack(moved, dialogs, pump);
      return out;
    }
    moved.emplace_back(from, to);
  }
  out.renamed = true;
  return out;
}

}  // namespace corvane::maintenance
