// "Send Table/s To Paradox": copies the selected tables of the PostgreSQL
// list into the Paradox folder through the staging database
// (procedure tag Form2.PushButton3_Click).
#pragma once

#include "transfer/to_postgres.h"
#include "ui/windows.h"

namespace corvane::transfer {

struct ToParadoxOptions {
  // "Keep field types and keys": each column's PostgreSQL type (and the
  // note on it left by the other direction) names the Paradox field where
  // that field holds every value; a primary key makes a keyed table.
  bool keep_types = false;
  TableEvents events = {};
  // A column name Paradox cannot hold as a field name (too long, a
  // character it does not allow, one name twice ignoring case) is made
  // valid and the user told; otherwise the table is refused.
  bool trim_field_names = false;
  // Decide each table (create, replace, skip) and report the fields it would
  // get, leaving the Paradox folder as it is: the rows go through the
  // staging database and the table is written to a scratch folder instead.
  bool dry_run = false;
};

// What a dry run's scratch folders are named after (run_folders.h).
inline constexpr char kDryRunFolderPrefix[] = "dry-run-";

TransferOutcome SendTablesToParadox(ui::TablesWindow& window);
TransferOutcome SendTablesToParadoxWith(ui::TablesWindow& window, const ToParadoxOptions& options);

}  // namespace corvane::transfer
