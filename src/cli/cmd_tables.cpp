// corvane-cli tables: one side's table list, one name per line, in the
// order the tables window shows it (sorted ignoring case), filled by the
// same catalog the window uses.
#include <cstdio>
#include <set>
#include <string>

#include "catalog/folder_walk.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "cli/printable.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kTablesUsage =
    "Usage: corvane-cli tables (--postgres [login options] | --paradox FOLDER)\n"
    "Prints the tables of one side, one name per line, as the table list shows\n"
    "them: PostgreSQL tables of every schema; Paradox tables of the folder and\n"
    "all its sub-folders, upper-cased without \".DB\". Control characters and\n"
    "backslashes in names are shown as escapes (\\n, \\t, \\xNN, \\\\).\n";

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

int ListPostgres(const ConnectionSettings& settings) {
  ui::MemoryTableList list;
  NullPump pump;
  Status st = catalog::ListPostgreSQLTables(settings, list, pump);
  Print(list);  // on a failure mid-list, the names read so far
  if (st.ok()) return 0;
  std::fprintf(stderr, "corvane-cli tables: %s\n", st.message().c_str());
  return 1;
}

}  // namespace

int RunTables(int argc, char** argv) {
  std::set<std::string> flags = {"postgres", "help"};
  Result<Options> parsed = ParseOptions(argc, argv, LoginOptionNames(), flags);
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) return std::fputs(kTablesUsage, stdout) < 0 ? 1 : 0;
  if (!options.positional.empty()) return Usage("unexpected word " + options.positional[0]);
  if (options.Has("postgres") == options.Get("paradox").has_value()) {
    return Usage("give exactly one of --postgres and --paradox FOLDER");
  }
  const ConnectionSettings settings = SettingsFrom(options);
  return options.Has("postgres") ? ListPostgres(settings) : ListParadox(settings.paradox_folder);
}

}  // namespace corvane::cli
