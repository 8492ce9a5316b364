// corvane-cli drop and rename: the tables window's "Delete Table/s" and
// "Rename Table" without a window. The side's list is filled the way the
// window fills it, the named entries selected, and the same handler run.
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "maintenance/maintenance.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kDropUsage =
    "Usage: corvane-cli drop (--postgres | --paradox FOLDER) [login options] TABLE...\n"
    "Deletes the named tables (as the table list shows them). A Paradox table goes\n"
    "with its memo, index and other companion files.\n";
constexpr const char* kRenameUsage =
    "Usage: corvane-cli rename (--postgres | --paradox FOLDER) [login options] OLD NEW\n"
    "Renames one table (OLD as the table list shows it). A Paradox table keeps its\n"
    "companion files; a name another table already has is refused.\n";

int Usage(const char* command, const char* usage, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli %s: %s\n", command, problem.c_str());
  std::fputs(usage, stderr);
  return 2;
}

struct Request {
  bool postgres = false;
  ConnectionSettings settings;
  std::vector<std::string> names;  // the positional words
};

// The side and the names; an error text for bad usage.
Result<Request> ParseRequest(int argc, char** argv) {
  Result<Options> parsed = ParseOptions(argc, argv, LoginOptionNames(), {"postgres", "help"});
  if (!parsed.ok()) return parsed.status();
  const Options& options = parsed.value();
  Request r;
  r.postgres = options.Has("postgres");
  if (r.postgres == options.Get("paradox").has_value()) {
    return Status::InvalidArgument("give exactly one of --postgres and --paradox FOLDER");
  }
  r.settings = SettingsFrom(options);
  r.names = options.positional;
  return r;
}

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--help") return true;
  }
  return false;
}

Status FillList(const Request& r, ui::MemoryTableList& list, ConsoleDialogs& dialogs) {
  NullPump pump;
  if (r.postgres) return catalog::ListPostgreSQLTables(r.settings, list, pump);
  return catalog::ListParadoxTables(r.settings.paradox_folder, list, pump, dialogs);
}

// The entries a typed name means: its exact spelling; on the Paradox side,
// whose names ignore case, also any spelling of it. A PostgreSQL name that
// differs in case is another table, so it is only suggested.
std::vector<std::string> Resolve(const Request& r, const ui::MemoryTableList& list,
                                 const std::string& typed) {
  std::vector<std::string> out;
  std::string other_case;
  for (const std::string& n : list.Names()) {
    bool same_ignoring_case = ui::LowerCase(n) == ui::LowerCase(typed);
    if (n == typed || (!r.postgres && same_ignoring_case)) {
      out.push_back(n);
    } else if (same_ignoring_case) {
      other_case = n;
    }
  }
  if (out.empty()) {
    std::string where = r.postgres ? "the PostgreSQL database" : r.settings.paradox_folder;
    std::fprintf(stderr, "corvane-cli: no table %s in %s%s\n", typed.c_str(), where.c_str(),
                 other_case.empty() ? "" : (" (did you mean " + other_case + "?)").c_str());
  }
  return out;
}

// Selects every entry the names mean; false when a name means none.
bool SelectNamed(const Request& r, ui::MemoryTableList& list,
                 const std::vector<std::string>& names) {
  std::vector<std::string> entries;
  bool all_found = true;
  for (const std::string& typed : names) {
    std::vector<std::string> found = Resolve(r, list, typed);
    all_found = all_found && !found.empty();
    entries.insert(entries.end(), found.begin(), found.end());
  }
  if (all_found) list.SelectNames(entries);
  return all_found;
}

// The handler leaves an entry in the list when it found no table file for it
// in the folder itself; a command asked to drop it must not stay silent.
int ReportLeftOver(const Request& r, const ui::MemoryTableList& list) {
  int left = 0;
  for (int i = 0; i < list.Count(); ++i) {
    if (!list.Selected(i)) continue;
    ++left;
    std::fprintf(stderr, "corvane-cli: %s was not deleted: no table file of that name in %s\n",
                 list.Text(i).c_str(), r.settings.paradox_folder.c_str());
  }
  return left;
}

// Fills the list, selects the names and runs the button's handler.
int Run(const Request& r, const std::vector<std::string>& names, const std::string& answer) {
  ConsoleDialogs dialogs;
  dialogs.prompt_answer = answer;
  ui::MemoryTableList postgres, paradox;
  ui::MemoryTableList& list = r.postgres ? postgres : paradox;
  Status filled = FillList(r, list, dialogs);
  if (!filled.ok()) {
    std::fprintf(stderr, "corvane-cli: cannot list the tables: %s\n", filled.message().c_str());
    return 1;
  }
  if (!SelectNamed(r, list, names)) return 2;
  ConsoleProgress progress;
  ConsolePointer pointer;
  NullPump pump;
  ui::FixedSettings source(r.settings);
  ui::TablesWindow w{postgres, paradox, progress, dialogs, pointer, pump, source, ""};
  const bool rename = !answer.empty();
  maintenance::Outcome out =
      r.postgres
          ? (rename ? maintenance::RenamePostgresTable(w) : maintenance::DeletePostgresTables(w))
          : (rename ? maintenance::RenameParadoxTable(w) : maintenance::DeleteParadoxTables(w));
  int left = (!rename && !r.postgres) ? ReportLeftOver(r, list) : 0;
  return out.failures > 0 || dialogs.failures > 0 || left > 0 ? 1 : 0;
}

}  // namespace

int RunDrop(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return std::fputs(kDropUsage, stdout) < 0;
  Result<Request> r = ParseRequest(argc, argv);
  if (!r.ok()) return Usage("drop", kDropUsage, r.status().message());
  if (r->names.empty()) return Usage("drop", kDropUsage, "name at least one table");
  return Run(r.value(), r->names, "");
}

int RunRename(int argc, char** argv) {
  if (WantsHelp(argc, argv)) return std::fputs(kRenameUsage, stdout) < 0;
  Result<Request> r = ParseRequest(argc, argv);
  if (!r.ok()) return Usage("rename", kRenameUsage, r.status().message());
  if (r->names.size() != 2) return Usage("rename", kRenameUsage, "name the table and its new name");
  if (r->names[1].empty()) return Usage("rename", kRenameUsage, "the new name is empty");
  return Run(r.value(), {r->names[0]}, r->names[1]);
}

}  // namespace corvane::cli
