// corvane-cli tables: one side's table list, one name per line, in the
// order the tables window shows it (sorted ignoring case), filled by the
// same catalog the window uses. PostgreSQL tables are named as the copy
// commands take them back (schema.table outside the first schema) and
// sorted by that name.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "catalog/folder_walk.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "cli/postgres_names.h"
#include "cli/printable.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kTablesUsage =
    "Usage: corvane-cli tables (--postgres [--system] [login options] | --paradox FOLDER)\n"
    "Prints the tables of one side, one name per line, sorted ignoring case.\n"
    "PostgreSQL: the tables of every schema but PostgreSQL's own (--system adds\n"
    "those), as schema.table where the schema is not the first of the search path;\n"
    "a part holding a dot is written in double quotes.\n"
    "Paradox: the tables of the folder and all its sub-folders, upper-cased\n"
    "without \".DB\". Control characters and backslashes in names are shown as\n"
    "escapes (\\n, \\t, \\xNN, \\\\).\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli tables: %s\n", problem.c_str());
  std::fputs(kTablesUsage, stderr);
  return 2;
}

// One name a line: a name holding a newline must not read as two.
void Print(const ui::MemoryTableList& list) {
  for (const std::string& name : list.Names()) std::printf("%s\n", Printable(name).c_str());
}

int ListParadox(const std::string& folder) {
  if (folder.empty()) return Usage("--paradox needs a folder");
  // The window lists nothing for a missing folder; a command says why.
  if (!catalog::IsFolder(folder)) {
    std::fprintf(stderr, "corvane-cli tables: %s is not a folder\n", folder.c_str());
    return 1;
  }
  ui::MemoryTableList list;
  ConsoleDialogs dialogs;
  NullPump pump;
  Status st = catalog::ListParadoxTables(folder, list, pump, dialogs);
  Print(list);
  if (!st.ok()) std::fprintf(stderr, "corvane-cli tables: %s\n", st.message().c_str());
  return st.ok() && dialogs.failures == 0 ? 0 : 1;
}

int ListPostgres(const ConnectionSettings& settings, bool system) {
  ui::MemoryTableList list;
  NullPump pump;
  Status st = catalog::ListPostgreSQLTables(settings, list, pump);
  Result<std::string> first =
      st.ok() ? catalog::PostgresFirstSchema(settings) : Result<std::string>(std::string());
  if (!first.ok()) st = first.status();
  const std::string first_schema = first.ok() ? first.value() : "";
  // On a failure mid-list, the names read so far; sorted as printed, so
  // a schema's tables stand together.
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) {
    if (system || !IsSystemSchema(list.Schema(i)))
      names.push_back(CommandLineName(list, i, first_schema));
  }
  std::stable_sort(names.begin(), names.end(), ui::ListOrderLess);
  for (const std::string& name : names) std::printf("%s\n", Printable(name).c_str());
  if (st.ok()) return 0;
  std::fprintf(stderr, "corvane-cli tables: %s\n", st.message().c_str());
  return 1;
}

}  // namespace

int RunTables(int argc, char** argv) {
  std::set<std::string> flags = {"postgres", "system", "help"};
  Result<Options> parsed = ParseOptions(argc, argv, LoginOptionNames(), flags);
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) return std::fputs(kTablesUsage, stdout) < 0 ? 1 : 0;
  if (!options.positional.empty()) return Usage("unexpected word " + options.positional[0]);
  if (options.Has("postgres") == options.Get("paradox").has_value()) {
    return Usage("give exactly one of --postgres and --paradox FOLDER");
  }
  const ConnectionSettings settings = SettingsFrom(options);
  if (options.Has("system") && !options.Has("postgres"))
    return Usage("--system goes with --postgres");
  return options.Has("postgres") ? ListPostgres(settings, options.Has("system"))
                                 : ListParadox(settings.paradox_folder);
}

}  // namespace corvane::cli
