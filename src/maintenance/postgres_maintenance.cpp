// Delete and rename of PostgreSQL tables: one statement per table on a
// connection of the click's own, then the list changed in place.
#include "connection/connection.h"
#include "connection/sql_names.h"
#include "connection/connection_strings.h"
#include "base/stop_request.h"
#include "maintenance/list_steps.h"
#include "maintenance/maintenance.h"
#include "ui/procedure.h"
#include "ui/pump.h"
#include "ui/step_names.h"

namespace corvane::maintenance {
namespace {

using ui::PointerShape;

// What both buttons do around their steps: a connection of the click's own,
// opened under the hourglass before the selection is looked at, with the
// driver's defaults. A failed open is shown; every statement then fails with
// a dialog of its own. The pointer returns to the default at the end.
struct Click {
  Click(ui::TablesWindow& w, const char* tag) : window(w), proc(w.dialogs, tag) {
    window.pointer.Set(PointerShape::kHourglass);
    conn.options().serve = ui::ServeWith(window.pump);
    proc.Step(steps::postgres_maintenance::kOpen, [&] { return conn.Open(PostgresConnectionString(window.settings.Current())); });
  }
  ~Click() { window.pointer.Set(PointerShape::kDefault); }
  Click(const Click&) = delete;
  Click& operator=(const Click&) = delete;

  ui::TablesWindow& window;
  ui::Procedure proc;
  Connection conn;
};

Status Run(Connection& conn, const std::string& sql) {
  auto done = conn.Execute(sql);
  return done.ok() ? Status::Ok() : done.status();
}

// The server's answer does not change what the list shows: the entry takes
// the new name, as the list is not reread.
void RenameEntry(ui::Procedure& proc, Connection& conn, ui::TablesWindow& w, int index) {
  ui::TableList& list = w.postgres_list;
  const std::string old_name = list.Text(index);
  const std::string new_name = AskNewName(w.dialogs, old_name);
  if (new_name.empty()) return;
  // The server would cut a longer name and rename to another one: nothing
  // is sent, and the entry stays as the table does.
  Status fits = CheckPostgresName(new_name, "The new name");
  if (!fits.ok()) {
    proc.Fail(steps::postgres_maintenance::kRename, fits);
    return;
  }
  proc.Step(steps::postgres_maintenance::kRename, [&] {
    // The table stays in its schema; RENAME TO takes a bare name.
    return Run(conn, "ALTER TABLE " +
                         QualifiedPostgresName(list.Schema(index), old_name) +
                         " RENAME TO " + QuotePostgresName(new_name) + ";");
  });
  ReplaceEntry(list, index, new_name);
}

}  // namespace

Outcome DeletePostgresTables(ui::TablesWindow& w) {
  Click click(w, "Form2.PushButton1_Click");
  ui::TableList& list = w.postgres_list;
  if (list.CurrentIndex() == -1) {
    w.dialogs.Message("Please select a table");
  } else {
    // Bottom-up, so removing an entry leaves the indexes still to visit.
    // A window closed meanwhile stops before the next table.
    for (int i = list.Count() - 1; i >= 0 && !StopRequested(); --i) {
      if (!list.Selected(i)) continue;
      click.proc.Step(steps::postgres_maintenance::kDrop, [&] {
        return Run(click.conn,
                   "DROP TABLE " + QualifiedPostgresName(list.Schema(i), list.Text(i)));
      });
      list.RemoveAt(i);
    }
  }
  return {click.proc.failures()};
}

Outcome RenamePostgresTable(ui::TablesWindow& w) {
  Click click(w, "Form2.PushButton6_Click");
  ui::TableList& list = w.postgres_list;
  if (list.CurrentIndex() == -1) {
    w.dialogs.Message(kSelectToRename);
  } else if (list.SelectedCount() != 1) {
    w.dialogs.Message(kSelectJustOne);
  } else {
    RenameEntry(click.proc, click.conn, w, LastSelected(list));
  }
  return {click.proc.failures()};
}

}  // namespace corvane::maintenance
