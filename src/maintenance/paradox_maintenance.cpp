// Delete and rename of Paradox tables, straight on the folder's files.
#include <filesystem>

#include "base/stop_request.h"
#include "maintenance/list_steps.h"
#include "maintenance/maintenance.h"
#include "maintenance/table_family.h"
#include "ui/procedure.h"
#include "ui/step_names.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;
using ui::PointerShape;

fs::path ParadoxFolder(const ui::TablesWindow& w) { return w.settings.Current().paradox_folder; }

// Renames the table of the entry at `index`; returns the RenameFile dialogs
// shown. A refused name changes nothing, not even the list; a rename that
// failed on disk still replaces the entry, as the list is not reread.
int RenameEntry(ui::Procedure& proc, ui::TablesWindow& w, int index) {
  ui::TableList& list = w.paradox_list;
  const std::string old_name = list.Text(index);
  const std::string new_name = AskNewName(w.dialogs, old_name);
  if (new_name.empty()) return 0;
  if (!list.Folder(index).empty()) {
    // Found only in a sub-folder: a table of that name in the folder itself
    // is another table and keeps its name; the entry still takes the new
    // name, as the list is not reread.
    ReplaceEntry(list, index, new_name);
    return 0;
  }
  const fs::path folder = ParadoxFolder(w);
  Status check = CheckNewTableName(folder, old_name, new_name);
  if (!check.ok()) {
    proc.Fail(steps::paradox_rename::kCheckName, check);
    return 0;
  }
  FamilyRename done = RenameTableFiles(folder, old_name, new_name, w.dialogs, w.pump);
  if (done.refused.code() == Status::Code::kNotFound) {
    // Found only in a sub-folder: nothing here to rename; the entry still
    // takes the new name, as the list is not reread.
    ReplaceEntry(list, index, new_name);
    return 0;
  }
  if (!done.refused.ok()) {
    proc.Fail(steps::paradox_rename::kRename, done.refused);
    return 0;
  }
  // A rename that failed on disk and was undone keeps the old entry: the
  // list shows the table as it is.
  if (done.renamed) ReplaceEntry(list, index, new_name);
  return done.failures;
}

}  // namespace

// Every failure is shown; an entry leaves the list only when its table
// file is gone, so the list never hides a table that is still there.
Outcome DeleteParadoxTables(ui::TablesWindow& w) {
  ui::Procedure proc(w.dialogs, "Form2.PushButton5_Click");
  ui::TableList& list = w.paradox_list;
  w.pointer.Set(PointerShape::kHourglass);
  if (list.CurrentIndex() == -1) {
    w.dialogs.Message("Please select a table to delete.");
    w.pointer.Set(PointerShape::kDefault);
    return {};
  }
  const fs::path folder = ParadoxFolder(w);
  // A window closed meanwhile stops before the next table.
  for (int i = list.Count() - 1; i >= 0 && !StopRequested(); --i) {
    if (!list.Selected(i)) continue;
    // A sub-folder's table is not deleted from here, nor is a table of the
    // same name in the folder itself, which is another table.
    if (!list.Folder(i).empty()) continue;
    FamilyDelete done = DeleteTableFiles(folder, list.Text(i), w.pump);
    // A table found only in a sub-folder has no file here: its entry stays.
    if (done.status.code() == Status::Code::kNotFound) continue;
    if (!done.status.ok()) proc.Fail(steps::paradox_delete::kDelete, done.status);
    if (done.table_gone) list.RemoveAt(i);
  }
  w.pointer.Set(PointerShape::kDefault);
  return {proc.failures()};
}

Outcome RenameParadoxTable(ui::TablesWindow& w) {
  ui::Procedure proc(w.dialogs, "Form2.PushButton7_Click");
  ui::TableList& list = w.paradox_list;
  int rename_failures = 0;
  w.pointer.Set(PointerShape::kHourglass);
  if (list.CurrentIndex() == -1) {
    w.dialogs.Message(kSelectToRename);
  } else if (list.SelectedCount() != 1) {
    w.dialogs.Message(kSelectJustOne);
  } else {
    rename_failures = RenameEntry(proc, w, LastSelected(list));
  }
  w.pointer.Set(PointerShape::kDefault);
  return {proc.failures() + rename_failures};
}

}  // namespace corvane::maintenance
