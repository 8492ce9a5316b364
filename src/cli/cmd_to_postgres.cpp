// corvane-cli to-postgres: "Send Table/s To PostgreSQL" without a window.
// The lists are filled from the folder and the database the way the tables
// window fills them, the named tables selected, and the same handler run.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/copy_command.h"
#include "cli/name_patterns.h"
#include "cli/printable.h"
#include "transfer/paradox_rules.h"
#include "transfer/shared_targets.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-postgres --paradox FOLDER [login options]\n"
    "                               [--overwrite | --skip-existing] [--jobs N]\n"
    "                               [--quiet] [--verbose] [--report FILE] [--rejects FILE]\n"
    "                               [--keep-types] [--missing-memos-as-null] [--dry-run]\n"
    "                               (TABLE... | --all)\n"
    "Copies the named Paradox tables (as the table list shows them), or with --all\n"
    "every table of the folder, into PostgreSQL. Without --overwrite or\n"
    "--skip-existing an existing table is asked about on a terminal; without one\n"
    "it is skipped and the run fails. --jobs N copies N tables at a time, each\n"
    "over its own connection. At the end one line per table gives the rows read,\n"
    "stored and refused; --quiet prints only failures, --report FILE writes the\n"
    "same as JSON (also for a run that fails before its first table). Each refused\n"
    "row is one line; --rejects FILE writes them with their reasons and values as\n"
    "CSV. With --keep-types each field gets the column type that holds it (date,\n"
    "boolean, bytea ...) and a keyed table its primary key; the table's validity\n"
    "checks, secondary indexes and references become NOT NULL, CHECK, DEFAULT,\n"
    "indexes and foreign keys.\n"
    "A table whose .MB file is missing fails; with --missing-memos-as-null its rows\n"
    "are copied with the memo and blob values kept in that file as NULL, and the\n"
    "summary says how many values became NULL.\n"
    "--dry-run tells what each table would come to and its column types, and\n"
    "changes nothing.\n"
    "A failing statement is shown by its start and end; --verbose shows it whole.\n";

// The list entry for each wanted name: exact spelling first, else the first
// that matches ignoring case. Unknown names go to `missing`.
std::vector<std::string> Resolve(const ui::MemoryTableList& list,
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
    (match.empty() ? missing : found).push_back(match.empty() ? w : match);
  }
  return found;
}

Result<std::vector<std::string>> ChooseTables(const ConnectionSettings& settings,
                                              const ui::MemoryTableList& source,
                                              const Options& options, bool all,
                                              std::vector<TableFigures>& set_aside) {
  if (all) return ListOrder(source, source.Names());
  std::vector<std::string> missing;
  const std::vector<std::string> found =
      Resolve(source, ExpandPatterns(options.positional, source.Names(), true), missing);
  for (const std::string& m : missing) {
    std::fprintf(stderr, "corvane-cli: no Paradox table %s in %s\n", Printable(m).c_str(),
                 Printable(settings.paradox_folder).c_str());
    set_aside.push_back(NotRun(m, TableState::kNotFound, "no such table"));
  }
  return ListOrder(source, found);
}

// a.db and A.DB beside each other are one name and two units. The
// PostgreSQL list, for the names a renamed one must not take, is read only
// when there are such.
Result<transfer::ParadoxRunUnits> PlanUnits(const ConnectionSettings& settings,
                                            const ui::MemoryTableList& source,
                                            const std::vector<std::string>& names) {
  ui::MemoryTableList chosen = source;
  chosen.SelectNames(names);
  ui::MemoryTableList postgres;
  transfer::ParadoxRunUnits units(chosen, settings.paradox_folder, postgres);
  if (units.sources().empty()) return units;
  NullPump pump;
  CORVANE_RETURN_IF_ERROR(catalog::ListPostgreSQLTables(settings, postgres, pump));
  return transfer::ParadoxRunUnits(chosen, settings.paradox_folder, postgres);
}

// References may cross tables of other runs: they wait until every table is
// in. Each is read from its own file and folder.
void AddReferences(const transfer::ParadoxRunUnits& units, const ConnectionSettings& settings,
                   const Options& options, ui::Dialogs& dialogs,
                   const std::vector<TableFigures>& figures) {
  if (!options.Has("keep-types") || options.Has("dry-run")) return;
  std::vector<transfer::CopiedTable> copied;
  for (const TableFigures& f : figures) {
    if (f.state == TableState::kCopied) {
      copied.push_back({units.SourceOf(f.table), f.written_as, units.FolderOf(f.table)});
    }
  }
  if (!copied.empty()) transfer::AddParadoxReferences(settings, dialogs, copied);
}

}  // namespace

int RunToPostgres(int argc, char** argv) {
  std::optional<transfer::ParadoxRunUnits> units;  // planned as the names are chosen
  CopyDirection d;
  d.command = "to-postgres";
  d.usage = kUsage;
  d.flags = {"missing-memos-as-null"};
  d.choose = [&units](const ConnectionSettings& settings, const ui::MemoryTableList& source,
                      const Options& options, bool all,
                      std::vector<TableFigures>& set_aside) -> Result<std::vector<std::string>> {
    Result<std::vector<std::string>> names = ChooseTables(settings, source, options, all, set_aside);
    if (!names.ok()) return names;
    Result<transfer::ParadoxRunUnits> planned = PlanUnits(settings, source, *names);
    if (!planned.ok()) return planned.status();
    units = std::move(planned).value();
    for (const std::string& note : units->notes()) {
      if (!options.Has("quiet")) std::printf("%s\n", note.c_str());
    }
    return units->With(*names);
  };
  d.select = [&units](ui::MemoryTableList& list, const std::string& name) {
    units->Select(list, name);
  };
  // Tables of one name run in one job, so no two jobs write one PostgreSQL table.
  d.key = ui::LowerCase;
  d.program_folder = [](int) { return std::string(); };
  d.copy = [&units](ui::TablesWindow& window, const Options& options,
                    const transfer::TableEvents& events) {
    transfer::ToPostgresOptions transfer_options;
    transfer_options.keep_types = options.Has("keep-types");
    transfer_options.defer_references = true;
    transfer_options.missing_memos_as_null = options.Has("missing-memos-as-null");
    transfer_options.dry_run = options.Has("dry-run");
    transfer_options.events = events;
    transfer_options.sources = &units->sources();
    return transfer::SendTablesToPostgresWith(window, transfer_options);
  };
  d.finish = [&units](const ConnectionSettings& settings, const Options& options,
                      ui::Dialogs& dialogs, const std::vector<TableFigures>& figures) {
    AddReferences(*units, settings, options, dialogs, figures);
  };
  return RunCopyCommand(argc, argv, d);
}

}  // namespace corvane::cli
