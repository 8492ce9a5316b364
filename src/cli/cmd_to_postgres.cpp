// corvane-cli to-postgres: "Send Table/s To PostgreSQL" without a window.
// The lists are filled from the folder and the database the way the tables
// window fills them, the named tables selected, and the same handler run.
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {

namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-postgres --paradox FOLDER [login options]\n"
    "                               [--overwrite | --skip-existing] [--keep-types]\n"
    "                               TABLE...\n"
    "Copies the named Paradox tables (as the table list shows them) into PostgreSQL.\n"
    "With --keep-types each field gets the column type that holds it (date,\n"
    "boolean, bytea ...) and a keyed table its primary key.\n"
    "Without --overwrite or --skip-existing an existing table is asked about on a\n"
    "terminal and skipped otherwise.\n";

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
  Result<Options> parsed = ParseOptions(argc, argv, LoginOptionNames(),
                                        {"overwrite", "skip-existing", "keep-types", "help"});
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.Has("overwrite") && options.Has("skip-existing"))
    return Usage("--overwrite and --skip-existing exclude each other");
  if (options.positional.empty()) return Usage("name at least one table");
  const ConnectionSettings settings = SettingsFrom(options);
  if (settings.paradox_folder.empty()) return Usage("no Paradox folder (--paradox FOLDER)");

  ConsoleDialogs dialogs;
  dialogs.overwrite = PolicyFrom(options.Has("overwrite"), options.Has("skip-existing"));
  Lists lists;
  if (!FillLists(settings, dialogs, lists)) return 1;
  std::vector<std::string> missing;
  std::vector<std::string> names = ResolveNames(lists.paradox, options.positional, missing);
  for (const std::string& m : missing) {
    std::fprintf(stderr, "corvane-cli: no Paradox table %s in %s\n", m.c_str(),
                 settings.paradox_folder.c_str());
  }
  if (!missing.empty()) return 2;
  lists.paradox.SelectNames(names);

  ConsoleProgress progress;
  ConsolePointer pointer;
  NullPump pump;
  ui::FixedSettings source(settings);
  ui::TablesWindow window{lists.postgres, lists.paradox, progress, dialogs,
                          pointer,        pump,          source,   ""};
  transfer::ToPostgresOptions transfer_options;
  transfer_options.keep_types = options.Has("keep-types");
  transfer::TransferOutcome outcome = transfer::SendTablesToPostgresWith(window, transfer_options);
  return outcome.failures > 0 || dialogs.failures > 0 ? 1 : 0;
}

}  // namespace corvane::cli
