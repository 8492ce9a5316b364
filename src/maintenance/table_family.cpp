#include "maintenance/table_family.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "maintenance/file_operations.h"
#include "paradox/companion_files.h"
#include "ui/procedure.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;

bool IsTableFile(const fs::path& p) {
  std::string ext = p.extension().string();
  return ext.size() == 3 && (ext[1] == 'd' || ext[1] == 'D') && (ext[2] == 'b' || ext[2] == 'B');
}

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

bool DeleteTableFiles(const fs::path& folder, const std::string& name, ui::EventPump& pump) {
  std::vector<fs::path> files = paradox::TableFiles(folder, name);
  auto companions = std::find_if_not(files.begin(), files.end(), IsTableFile);
  if (companions == files.begin()) return false;
  bool table_gone = true;
  for (auto it = files.begin(); it != companions; ++it) {
    DeleteFileQuietly(it->string(), pump);
    if (StillThere(*it)) table_gone = false;
  }
  if (!table_gone) return true;
  for (auto it = companions; it != files.end(); ++it) DeleteFileQuietly(it->string(), pump);
  return true;
}

Status CheckNewTableName(const fs::path& folder, const std::string& old_name,
                         const std::string& new_name) {
  if (new_name.find('/') != std::string::npos || new_name.find('\0') != std::string::npos) {
    return Status::InvalidArgument("\"" + new_name +
                                   "\" is no valid table name: a name may not hold \"/\"");
  }
  if (paradox::SameNameIgnoringCase(old_name, new_name)) return Status::Ok();
  std::vector<fs::path> taken = paradox::TableFiles(folder, new_name);
  if (taken.empty()) return Status::Ok();
  return Status::InvalidArgument("Cannot rename " + old_name + " to " + new_name + ": " +
                                 taken.front().filename().string() + " is already in " +
                                 folder.string() + ". Nothing was renamed.");
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
  std::vector<fs::path> files = paradox::TableFiles(folder, old_name);
  out.had_table = !files.empty() && IsTableFile(files.front());
  if (!out.had_table) return out;
  Moves moved;
  for (const fs::path& from : files) {
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
