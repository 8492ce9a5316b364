// corvane-cli drop and rename: the tables window's "Delete Table/s" and
// "Rename Table" without a window. The side's list is filled the way the
// window fills it, the named entries selected, and the same handler run.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/folder_walk.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/options.h"
#include "cli/paradox_folder.h"
#include "cli/postgres_names.h"
#include "cli/printable.h"
#include "maintenance/maintenance.h"
#include "paradox/companion_files.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kDropUsage =
    "Usage: corvane-cli drop (--postgres | --paradox FOLDER) [login options] [--verbose]\n"
    "                        TABLE...\n"
    "Deletes the named tables. A Paradox name means the table file spelled so, else\n"
    "the one table whose name matches ignoring case; the table goes with its memo,\n"
    "index, form, report and other family files. A name that means several tables,\n"
    "or none, is refused (exit 2); a table another program has open is left alone.\n"
    "A very long failure text is shown by its start and end; --verbose shows it whole.\n";
constexpr const char* kRenameUsage =
    "Usage: corvane-cli rename (--postgres | --paradox FOLDER) [login options] [--verbose]\n"
    "                          OLD NEW\n"
    "Renames one table. A Paradox table takes its family files along; a name\n"
    "another table already has is refused, as is a table another program has open.\n"
    "A very long failure text is shown by its start and end; --verbose shows it whole.\n";

int Usage(const char* command, const char* usage, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli %s: %s\n", command, problem.c_str());
  std::fputs(usage, stderr);
  return 2;
}

struct Request {
  bool postgres = false;
  bool verbose = false;  // failure texts whole
  ConnectionSettings settings;
  std::vector<std::string> names;  // the positional words
};

// The side and the names; an error text for bad usage.
Result<Request> ParseRequest(int argc, char** argv) {
  Result<Options> parsed =
      ParseOptions(argc, argv, LoginOptionNames(), {"postgres", "help", "verbose"});
  if (!parsed.ok()) return parsed.status();
  const Options& options = parsed.value();
  Request r;
  r.postgres = options.Has("postgres");
  r.verbose = options.Has("verbose");
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

void Say(const std::string& text) {
  std::fprintf(stderr, "corvane-cli: %s\n", Printable(text).c_str());
}

// PostgreSQL names are exact: "Orders" and "orders" are two tables, and so
// are sales.dup and archive.dup; a bare name means the first schema's table
// or the only one, and a name that could mean several is refused.
Result<int> ResolvePostgres(const ui::MemoryTableList& list, const std::string& typed,
                            const std::string& first_schema) {
  Result<int> entry = FindPostgresEntry(list, typed, first_schema, false);
  if (entry.ok() || entry.status().code() != Status::Code::kNotFound) return entry;
  Result<int> other_case = FindPostgresEntry(list, typed, first_schema, true);
  return Status::NotFound(
      "no table " + typed + " in the PostgreSQL database" +
      (other_case.ok() ? " (did you mean " + CommandLineName(list, *other_case, first_schema) + "?)"
                       : ""));
}

// A Paradox name means the table file of that exact base name, else the one
// table that matches it ignoring case. The entry handed to the handler is the
// file's own base name, which means that table and no other.
Result<std::string> ResolveParadox(const Request& r, const std::string& typed, int& exit_code) {
  const std::string& folder = r.settings.paradox_folder;
  Result<paradox::TableFamily> table = paradox::FindTable(folder, typed);
  if (table.ok()) return table->table_file.stem().string();
  exit_code = 2;
  if (table.status().code() != Status::Code::kNotFound) return table.status();
  ui::MemoryTableList listed;
  ConsoleDialogs quiet;
  NullPump pump;
  (void)catalog::ListParadoxTables(folder, listed, pump, quiet);
  if (ui::ListContains(listed, typed)) {
    exit_code = 1;
    return Status::NotFound(typed + " was not changed: no table file of that name in " + folder +
                            " itself (the table is in a sub-folder)");
  }
  return Status::NotFound("no table " + typed + " in " + folder);
}

// The entries the typed names mean, each selected. A name the command cannot
// act on is told on stderr, and the exit status returned: 2 for a name that
// means no table or several, 1 for a table only in a sub-folder.
int FillAndSelect(const Request& r, const std::vector<std::string>& names,
                  ui::MemoryTableList& list) {
  std::vector<std::string> entries;
  std::vector<int> postgres_entries;
  std::string first_schema;
  int worst = 0;
  if (r.postgres) {
    NullPump pump;
    Status filled = catalog::ListPostgreSQLTables(r.settings, list, pump);
    Result<std::string> first =
        filled.ok() ? catalog::PostgresFirstSchema(r.settings) : Result<std::string>(std::string());
    if (!filled.ok() || !first.ok()) {
      Say("cannot list the tables: " + (filled.ok() ? first.status() : filled).message());
      return 1;
    }
    first_schema = first.value();
  } else if (std::string why = ParadoxFolderProblem(r.settings.paradox_folder, true);
             !why.empty()) {
    Say(why);
    return 1;
  }
  for (const std::string& typed : names) {
    int code = 2;
    Status why;
    if (r.postgres) {
      Result<int> entry = ResolvePostgres(list, typed, first_schema);
      if (entry.ok()) postgres_entries.push_back(entry.value());
      why = entry.status();
    } else {
      Result<std::string> entry = ResolveParadox(r, typed, code);
      if (entry.ok()) entries.push_back(entry.value());
      why = entry.status();
    }
    if (!why.ok()) {
      Say(why.message());
      worst = std::max(worst, code);
    }
  }
  if (worst != 0) return worst;
  if (!r.postgres) {
    std::vector<ui::ListEntry> batch;
    for (const std::string& e : entries) batch.push_back({e, ""});
    list.AddAll(std::move(batch));
    list.SelectNames(entries);
  }
  // The entry itself, not every entry of its name.
  for (int e : postgres_entries) {
    list.SetSelected(e, true);
    list.SetCurrentIndex(e);
  }
  return 0;
}

// Fills the list, selects the names and runs the button's handler.
int Run(const Request& r, const std::vector<std::string>& names, const std::string& answer) {
  ConsoleDialogs dialogs;
  dialogs.prompt_answer = answer;
  dialogs.verbose = r.verbose;
  ui::MemoryTableList postgres, paradox;
  ui::MemoryTableList& list = r.postgres ? postgres : paradox;
  if (int refused = FillAndSelect(r, names, list); refused != 0) return refused;
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
  return out.failures > 0 || dialogs.failures > 0 ? 1 : 0;
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
