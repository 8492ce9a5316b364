// corvane-cli to-postgres: "Send Table/s To PostgreSQL" without a window.
// The lists are filled from the folder and the database the way the tables
// window fills them, the named tables selected, and the same handler run.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/name_patterns.h"
#include "cli/options.h"
#include "cli/paradox_folder.h"
#include "cli/printable.h"
#include "cli/table_runs.h"
#include "connection/connection.h"
#include "transfer/field_types.h"
#include "transfer/paradox_rules.h"
#include "transfer/shared_targets.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {

namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-postgres --paradox FOLDER [login options]\n"
    "                               [--overwrite | --skip-existing] [--jobs N]\n"
    "                               [--quiet] [--verbose] [--report FILE] [--keep-types]\n"
    "                               [--missing-memos-as-null] (TABLE... | --all)\n"
    "Copies the named Paradox tables (as the table list shows them), or with --all\n"
    "every table of the folder, into PostgreSQL. Without --overwrite or\n"
    "--skip-existing an existing table is asked about on a terminal and skipped\n"
    "otherwise. --jobs N copies N tables at a time, each over its own connection.\n"
    "At the end one line per table gives the rows read, stored and refused;\n"
    "--quiet prints only failures, --report FILE writes the same as JSON.\n"
    "With --keep-types each field gets the column type that holds it (date,\n"
    "boolean, bytea ...) and a keyed table its primary key; the table's validity\n"
    "checks, secondary indexes and references become NOT NULL, CHECK, DEFAULT,\n"
    "indexes and foreign keys.\n"
    "A table whose .MB file is missing fails; with --missing-memos-as-null its rows\n"
    "are copied with the memo and blob values kept in that file as NULL, and the\n"
    "summary says how many values became NULL.\n"
    "A failing statement is shown by its start and end; --verbose shows it whole.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli to-postgres: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// The list entry for each wanted name: exact spelling first, else the one
// entry that matches ignoring case. Unknown names are collected in `missing`.
std::vector<std::string> ResolveNames(const ui::MemoryTableList& list,
                                      const std::vector<std::string>& wanted,
                                      std::vector<std::string>& missing) {
  const std::vector<std::string> names = list.Names();
  std::vector<std::string> found;
  for (const std::string& w : wanted) {
    std::string match;
    for (const std::string& n : names) {
      if (n == w) match = n;
    }
    for (size_t i = 0; match.empty() && i < names.size(); ++i) {
      if (ui::LowerCase(names[i]) == ui::LowerCase(w)) match = names[i];
    }
    if (match.empty()) {
      missing.push_back(w);
    } else {
      found.push_back(match);
    }
  }
  return found;
}

struct Lists {
  ui::MemoryTableList postgres;
  ui::MemoryTableList paradox;
};

// Fills both lists; false (after saying why) when either cannot be read.
bool FillLists(const ConnectionSettings& settings, ConsoleDialogs& dialogs, Lists& lists) {
  NullPump pump;
  Status px = catalog::ListParadoxTables(settings.paradox_folder, lists.paradox, pump, dialogs);
  if (!px.ok()) {
    std::fprintf(stderr, "corvane-cli: %s\n", px.message().c_str());
    return false;
  }
  Status pg = catalog::ListPostgreSQLTables(settings, lists.postgres, pump);
  if (!pg.ok()) {
    // Without the list an existing table would not be asked about.
    std::fprintf(stderr, "corvane-cli: cannot list the PostgreSQL tables: %s\n",
                 pg.message().c_str());
    return false;
  }
  return true;
}

}  // namespace

int RunToPostgres(int argc, char** argv) {
  std::set<std::string> valued = LoginOptionNames(), flags = RunFlagNames();
  valued.insert(RunValuedOptionNames().begin(), RunValuedOptionNames().end());
  flags.insert({"overwrite", "skip-existing", "keep-types", "missing-memos-as-null", "help"});
  Result<Options> parsed = ParseOptions(argc, argv, valued, flags);
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.Has("overwrite") && options.Has("skip-existing"))
    return Usage("--overwrite and --skip-existing exclude each other");
  Result<RunOptions> run = RunOptionsFrom(options);
  if (!run.ok()) return Usage(run.status().message());
  const ConnectionSettings settings = SettingsFrom(options);
  if (settings.paradox_folder.empty()) return Usage("no Paradox folder (--paradox FOLDER)");
  if (std::string why = ParadoxFolderProblem(settings.paradox_folder, false); !why.empty()) {
    std::fprintf(stderr, "corvane-cli: %s\n", why.c_str());
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();

  ConsoleDialogs dialogs;
  dialogs.verbose = run->verbose;
  Lists lists;
  if (!FillLists(settings, dialogs, lists)) return 1;
  std::vector<std::string> missing;
  std::vector<std::string> names =
      run->all ? lists.paradox.Names() : ResolveNames(lists.paradox,
                         ExpandPatterns(options.positional, lists.paradox.Names(), true), missing);
  for (const std::string& m : missing) {
    std::fprintf(stderr, "corvane-cli: no Paradox table %s in %s\n", Printable(m).c_str(),
                 Printable(settings.paradox_folder).c_str());
  }

  // a.db and A.DB beside each other are one name and two units.
  ui::MemoryTableList chosen = lists.paradox;
  chosen.SelectNames(names);
  const transfer::ParadoxRunUnits units(chosen, settings.paradox_folder, lists.postgres);

  Terminal terminal(run->quiet, run->jobs > 1, run->verbose);
  // Each job keeps its own copy of the lists; tables of one name run in
  // one job, so no two jobs write the same PostgreSQL table.
  std::vector<Lists> jobs(static_cast<size_t>(run->jobs), lists);
  const bool keep_types = options.Has("keep-types");
  std::mutex copied_lock;
  std::vector<transfer::CopiedTable> copied;  // for the foreign keys at the end
  auto copy_one = [&](const std::string& table, int j, TableWatch& watch) {
    Lists& job = jobs[static_cast<size_t>(j)];
    units.Select(job.paradox, table);
    // Spellings are told apart by the names listed when the run began.
    if (units.Planned(table)) job.postgres = lists.postgres;
    // An existing table is replaced under its own spelling (the last of the
    // list's that match ignoring case); a new one gets the Paradox name.
    std::string target = table;
    for (const std::string& n : job.postgres.Names()) {
      if (ui::LowerCase(n) == ui::LowerCase(table)) target = n;
    }
    ConsolePointer pointer;
    NullPump pump;
    ui::FixedSettings source(settings);
    ui::TablesWindow window{job.postgres, job.paradox, watch, watch, pointer, pump,
                            source, ""};
    transfer::ToPostgresOptions transfer_options;
    transfer_options.keep_types = keep_types;
    transfer_options.defer_references = true;
    transfer_options.missing_memos_as_null = options.Has("missing-memos-as-null");
    const transfer::TransferOutcome outcome =
        transfer::SendTablesToPostgresWith(window, transfer_options);
    std::string nulls_note;
    for (const auto& [name, count] : outcome.values_made_null) {
      nulls_note = std::to_string(count) + (count == 1 ? " memo value" : " memo values") +
                   " stored as NULL: the .MB file is missing";
      watch.Message(name + ": " + nulls_note + ".", std::nullopt, ui::MessageIcon::kNone);
    }
    std::optional<int64_t> stored;
    if (ui::ListContains(job.postgres, target)) {
      for (const auto& [name, rows] : outcome.rows_stored) {
        if (ui::LowerCase(name) == ui::LowerCase(target)) stored = rows;
      }
    }
    if (stored) {
      std::lock_guard<std::mutex> hold(copied_lock);
      copied.push_back(
          {units.SourceOf(table), target, job.paradox.Folder(job.paradox.CurrentIndex())});
    }
    TableFigures figures = watch.Finish(stored, "the table was not created");
    if (!nulls_note.empty()) {
      figures.note = figures.note.empty() ? nulls_note : figures.note + "; " + nulls_note;
    }
    return figures;
  };
  const Policy overwrite = PolicyFrom(options.Has("overwrite"), options.Has("skip-existing"));
  std::vector<TableFigures> figures =
      RunTables(WalkOrder(lists.paradox, units.With(names),
                          [&](int i) { return units.NameOf(lists.paradox, i); }),
                ui::LowerCase, run->jobs, terminal, overwrite,
                Policy::kNo, copy_one);
  for (const std::string& m : missing) {
    figures.push_back(TableFigures{m, TableState::kNotFound, "no such table", 0, 0, 0, 0, 0});
  }
  // References may cross jobs; they wait until every table is in.
  if (keep_types && !copied.empty()) transfer::AddParadoxReferences(settings, dialogs, copied);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A folder listed in part was reported; --all would have missed tables.
  return EndOfRun("to-postgres", *run, figures, seconds, dialogs.failures + terminal.walk_failures());
}

}  // namespace corvane::cli
