// "Send Table/s To PostgreSQL": copies the selected tables of the Paradox
// list into PostgreSQL (procedure tag Form2.PushButton4_Click).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "transfer/shared_targets.h"
#include "transfer/table_report.h"
#include "ui/windows.h"

namespace corvane::transfer {

struct TransferOutcome {
  int failures = 0;  // failure dialogs shown
  // Rows each written table got from this run, as the server confirmed
  // them, under the name the table was written as. A count made after the
  // run could meet another program's copy of the table.
  std::vector<std::pair<std::string, int64_t>> rows_stored;
  // Memo and blob values stored as NULL because a table's .mb is missing
  // (only with ToPostgresOptions::missing_memos_as_null), per table.
  std::vector<std::pair<std::string, int64_t>> values_made_null;
  // One per table the walk reached, in walk order.
  std::vector<TableReport> tables;
  // The first failure outside any table (a login refused): why no table ran.
  std::string failure;
  int list_failures = 0;  // failures of the folder listing after the copies
};

// How rows travel. What the user sees (rows stored, dialogs, progress, list)
// does not depend on these; only the speed does.
struct ToPostgresOptions {
  size_t batch_rows = 1000;      // rows sent together as statements
  size_t batch_bytes = 1 << 20;  // ... or fewer, once they hold this many bytes
  // The same for rows copied in bulk: the server takes them as they are
  // read, so larger batches cost no wait, only the memory for a replay.
  size_t copy_rows = 20000;
  size_t copy_bytes = 8 << 20;
  // Rows into a table this click created go in bulk, one COPY per batch
  // (or, where the driver cannot copy, one set-based INSERT), replayed row
  // by row if it fails; otherwise, or when false, as single-row INSERTs
  // through ExecuteEach.
  bool multi_row = true;
  // "Keep field types and keys": typed columns, the primary key and the
  // notes on columns, from the Paradox table's layout.
  bool keep_types = false;
  TableEvents events = {};
  // With keep_types: leave the foreign keys to the caller, which adds them
  // once its other runs are done (AddParadoxReferences).
  bool defer_references = false;
  // A table whose .mb is missing is copied with the values kept there as
  // NULL, and TransferOutcome says how many; otherwise it fails, once.
  bool missing_memos_as_null = false;
  // Spellings of one folder name (a.db, A.DB) as the caller told them
  // apart (corvane-cli, which copies them one at a time); null: the
  // handler tells them apart itself.
  const std::map<int, ParadoxSource>* sources = nullptr;
  // Decide each table (create, replace, skip) and report the columns it
  // would get, without dropping, creating or sending anything.
  bool dry_run = false;
};

// Runs the handler on the window's surfaces. Every failure is shown as a
// failure dialog and the handler goes on; nothing is thrown.
TransferOutcome SendTablesToPostgres(ui::TablesWindow& window);
// The same with chosen batch sizes (a separate name keeps the plain entry
// point usable as a function pointer).
TransferOutcome SendTablesToPostgresWith(ui::TablesWindow& window,
                                         const ToPostgresOptions& options);

}  // namespace corvane::transfer
