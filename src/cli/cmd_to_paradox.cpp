// corvane-cli to-paradox: "Send Table/s To Paradox" without a window. Both
// lists are filled as the tables window fills them, the named PostgreSQL
// tables selected, and the same handler run; the staging database is the
// dbtemp.mdb beside the program.
#include <cstdio>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "transfer/to_paradox.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-paradox --paradox FOLDER [login options]\n"
    "                              [--overwrite | --skip-existing]\n"
    "                              [--trim-long-names | --skip-long-names]\n"
    "                              [--keep-types] TABLE...\n"
    "Copies the named PostgreSQL tables (as the table list shows them) into the\n"
    "Paradox folder. A name longer than 8 characters is cut to 8 with\n"
    "--trim-long-names and the table skipped with --skip-long-names; an existing\n"
    "Paradox table is replaced with --overwrite and skipped with --skip-existing.\n"
    "Without them each case is asked about on a terminal and skipped otherwise.\n"
    "With --keep-types each column's type chooses the Paradox field where one\n"
    "holds every value, and a table with a primary key becomes a keyed table.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli to-paradox: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

// Selects the entries named in `wanted` (exact spelling, else the entry equal
// ignoring case); returns the names not in the list.
std::vector<std::string> SelectWanted(ui::MemoryTableList& list,
                                      const std::vector<std::string>& wanted) {
  std::vector<std::string> chosen, unknown;
  const std::vector<std::string> entries = list.Names();
  for (const std::string& name : wanted) {
    std::string hit;
    for (const std::string& e : entries) {
      if (e == name || (hit.empty() && ui::LowerCase(e) == ui::LowerCase(name))) hit = e;
    }
    (hit.empty() ? unknown : chosen).push_back(hit.empty() ? name : hit);
  }
  list.SelectNames(chosen);
  return unknown;
}

Status FillBothLists(const ConnectionSettings& settings, ui::Dialogs& dialogs,
                     ui::MemoryTableList& postgres, ui::MemoryTableList& paradox) {
  NullPump pump;
  CORVANE_RETURN_IF_ERROR(
      catalog::ListParadoxTables(settings.paradox_folder, paradox, pump, dialogs));
  Status listed = catalog::ListPostgreSQLTables(settings, postgres, pump);
  if (!listed.ok()) {
    return Status::Error(listed.code(), "cannot list the PostgreSQL tables: " + listed.message());
  }
  return Status::Ok();
}

Result<Options> ParseToParadox(int argc, char** argv) {
  Result<Options> parsed = ParseOptions(
      argc, argv, LoginOptionNames(),
      {"overwrite", "skip-existing", "trim-long-names", "skip-long-names", "keep-types", "help"});
  if (!parsed.ok() || parsed->Has("help")) return parsed;
  if (parsed->Has("overwrite") && parsed->Has("skip-existing")) {
    return Status::InvalidArgument("--overwrite and --skip-existing exclude each other");
  }
  if (parsed->Has("trim-long-names") && parsed->Has("skip-long-names")) {
    return Status::InvalidArgument("--trim-long-names and --skip-long-names exclude each other");
  }
  if (parsed->positional.empty()) return Status::InvalidArgument("name at least one table");
  return parsed;
}

}  // namespace

int RunToParadox(int argc, char** argv) {
  Result<Options> parsed = ParseToParadox(argc, argv);
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const ConnectionSettings settings = SettingsFrom(options);
  if (settings.paradox_folder.empty()) return Usage("no Paradox folder (--paradox FOLDER)");

  ConsoleDialogs dialogs;
  dialogs.overwrite = PolicyFrom(options.Has("overwrite"), options.Has("skip-existing"));
  dialogs.trim = PolicyFrom(options.Has("trim-long-names"), options.Has("skip-long-names"));
  ui::MemoryTableList postgres, paradox;
  if (Status s = FillBothLists(settings, dialogs, postgres, paradox); !s.ok()) {
    std::fprintf(stderr, "corvane-cli: %s\n", s.message().c_str());
    return 1;
  }
  const std::vector<std::string> unknown = SelectWanted(postgres, options.positional);
  for (const std::string& name : unknown) {
    std::fprintf(stderr, "corvane-cli: no PostgreSQL table %s\n", name.c_str());
  }
  if (!unknown.empty()) return 2;

  ConsoleProgress progress;
  ConsolePointer pointer;
  NullPump pump;
  ui::FixedSettings source(settings);
  ui::TablesWindow window{postgres, paradox, progress, dialogs,
                          pointer,  pump,    source,   app::ProgramFolder()};
  transfer::ToParadoxOptions transfer_options;
  transfer_options.keep_types = options.Has("keep-types");
  const transfer::TransferOutcome outcome =
      transfer::SendTablesToParadoxWith(window, transfer_options);
  return outcome.failures > 0 || dialogs.failures > 0 ? 1 : 0;
}

}  // namespace corvane::cli
