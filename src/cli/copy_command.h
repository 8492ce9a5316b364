// The skeleton both copy commands share: options, the two lists, the names
// wanted, one table at a time through the window's handler (N jobs), the
// summary, the report and the rejects file. A direction supplies only
// what differs.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "cli/options.h"
#include "cli/table_runs.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"
#include "ui/windows.h"

namespace corvane::cli {

struct CopyDirection {
  std::string command;  // "to-paradox"
  const char* usage;
  // Options besides the login, the run's and --overwrite/--skip-existing/
  // --keep-types.
  std::set<std::string> valued, flags;
  // Usage errors beyond those every copy shares; Ok when none.
  std::function<Status(const Options&)> check;
  bool from_postgres = false;  // the source is the PostgreSQL list
  bool writes_folder = false;  // the Paradox folder must take new files
  // The names to copy (the operands, or every table with `all`), in the
  // list's order. A name that means no table, or one refused before any
  // row goes, is told here and its figures put in `set_aside`.
  std::function<Result<std::vector<std::string>>(
      const ConnectionSettings&, const ui::MemoryTableList& source, const Options&, bool all,
      std::vector<TableFigures>& set_aside)>
      choose;
  // Selects the entry `name` means, alone, in a job's copy of the list.
  std::function<void(ui::MemoryTableList& source, const std::string& name)> select;
  // Names with one key never run side by side (they write one destination).
  std::function<std::string(const std::string&)> key;
  // Ready before the tables go (scratch folders for the jobs, say).
  std::function<Status(const Options&, int jobs)> prepare;
  // Runs the handler on `window` (the table selected alone) with `events`.
  std::function<transfer::TransferOutcome(ui::TablesWindow& window, const Options& options,
                                          const transfer::TableEvents& events)>
      copy;
  // The window's settings and program folder for job `job`.
  std::function<void(ui::FixedSettings&, const Options&)> settings;
  std::function<std::string(int job)> program_folder;
  // Work that spans tables, once every table ran (foreign keys).
  std::function<void(const ConnectionSettings&, const Options&, ui::Dialogs&,
                     const std::vector<TableFigures>&)>
      finish;
};

int RunCopyCommand(int argc, char** argv, const CopyDirection& direction);

}  // namespace corvane::cli
