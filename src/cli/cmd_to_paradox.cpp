// corvane-cli to-paradox: "Send Table/s To Paradox" without a window. Both
// lists are filled as the tables window fills them, the named PostgreSQL
// tables selected, and the same handler run; the staging database is the
// dbtemp.mdb beside the program.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/name_patterns.h"
#include "cli/options.h"
#include "cli/postgres_names.h"
#include "cli/printable.h"
#include "paradox/code_page.h"
#include "transfer/long_names.h"
#include "transfer/run_folders.h"
#include "transfer/shared_targets.h"
#include "transfer/to_paradox.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-paradox --paradox FOLDER [login options]\n"
    "                              [--overwrite | --skip-existing]\n"
    "                              [--trim-long-names | --skip-long-names] [--jobs N]\n"
    "                              [--quiet] [--verbose] [--report FILE] [--rejects FILE]\n"
    "                              [--code-page N] [--keep-types] [--dry-run]\n"
    "                              (TABLE... | --all)\n"
    "Copies the named PostgreSQL tables (as `tables --postgres` prints them: TABLE\n"
    "or SCHEMA.TABLE), or with --all every table outside PostgreSQL's own\n"
    "schemas, into the Paradox folder. Tables that would be written as one\n"
    "Paradox table (one name in two schemas, names that differ only in case or\n"
    "agree in their first 8 characters) are refused, whatever --overwrite says.\n"
    "A name longer than 8 characters is cut to 8 with --trim-long-names and the\n"
    "table skipped with --skip-long-names. A column name Paradox cannot hold as a\n"
    "field name (over 25 characters, [ ] { } ( ) or -> in it, # alone, a leading\n"
    "blank, twice ignoring case) refuses the table; --trim-long-names makes it\n"
    "valid and says the new name. An existing Paradox table is replaced\n"
    "with --overwrite and skipped with --skip-existing. Without them each case is\n"
    "asked about on a terminal; without one an existing table is skipped and the\n"
    "run fails, a long name is skipped. --jobs N copies N tables at\n"
    "a time, each over its own connections and staging file. At the end one line\n"
    "per table gives the rows read, stored and refused; --quiet prints only\n"
    "failures, --report FILE writes the same as JSON (also for a run that fails\n"
    "before its first table). Each refused row is one line; --rejects FILE writes\n"
    "them with their reasons and values as CSV. A new table's text is\n"
    "written in code page 1252 when it fits, else in the first code page of\n"
    "Paradox's language drivers that holds all of it; --code-page N (or\n"
    "ExportCodePage in the settings) forces one. With --keep-types each\n"
    "column's type chooses the Paradox field where one holds every value, and a\n"
    "table with a primary key becomes a keyed table. --dry-run tells what each\n"
    "table would come to and its field types, and changes nothing. A failing statement is\n"
    "shown by its start and end; --verbose shows it whole.\n";

// Every entry by the name `tables --postgres` prints.
std::vector<std::string> ListedNames(const ui::MemoryTableList& list, const std::string& first_schema) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(CommandLineName(list, i, first_schema));
  return names;
}

// The entries the typed names mean (by the names `tables --postgres`
// prints), as those names; names that mean no table, or several, are told
// and get their figures in `unknown`.
std::vector<std::string> ResolveWanted(const ui::MemoryTableList& list,
                                       const std::vector<std::string>& wanted,
                                       const std::string& first_schema,
                                       std::vector<TableFigures>& unknown) {
  std::vector<std::string> chosen;
  for (const std::string& typed : wanted) {
    Result<int> entry = FindPostgresEntry(list, typed, first_schema, true);
    if (entry.ok()) {
      chosen.push_back(CommandLineName(list, entry.value(), first_schema));
      continue;
    }
    std::fprintf(stderr, "corvane-cli: %s\n", Printable(entry.status().message()).c_str());
    const bool none = entry.status().code() == Status::Code::kNotFound;
    unknown.push_back(NotRun(typed, none ? TableState::kNotFound : TableState::kFailed,
                             none ? "no such table" : "names several tables"));
  }
  return chosen;
}

Status CheckToParadox(const Options& options) {
  if (options.Has("trim-long-names") && options.Has("skip-long-names")) {
    return Status::InvalidArgument("--trim-long-names and --skip-long-names exclude each other");
  }
  if (auto cp = options.Get("code-page")) {
    auto checked = paradox::ParseExportCodePage(*cp);
    if (!checked.ok()) return Status::InvalidArgument("--code-page: " + checked.status().message());
  }
  return Status::Ok();
}

// The tables --all means: every entry outside PostgreSQL's own schemas.
std::vector<std::string> UserTables(const ui::MemoryTableList& list,
                                    const std::string& first_schema) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) {
    if (!IsSystemSchema(list.Schema(i))) names.push_back(CommandLineName(list, i, first_schema));
  }
  return names;
}

// Takes out of `names` those that would land on one Paradox table, each
// group told once and counted failed in `figures`.
std::vector<std::string> RefuseSharedTargets(const std::vector<std::string>& names,
                                             const std::map<std::string, int>& entry_of,
                                             const ui::MemoryTableList& list, bool cut_long,
                                             std::vector<TableFigures>& figures) {
  std::vector<transfer::RunSource> sources;
  for (const std::string& name : names) {
    sources.push_back({name, transfer::ParadoxTargetOf(list.Text(entry_of.at(name)), cut_long)});
  }
  std::set<std::string> refused;
  for (const std::vector<size_t>& group : transfer::SharedTargets(sources)) {
    const Status why = transfer::SharedTargetError(sources, group, "Paradox");
    std::fprintf(stderr, "corvane-cli: %s\n", Printable(why.message()).c_str());
    for (size_t k : group) {
      refused.insert(sources[k].shown);
      figures.push_back(
          NotRun(sources[k].shown, TableState::kFailed, "shares its Paradox table with another"));
    }
  }
  std::vector<std::string> kept;
  for (const std::string& name : names) {
    if (refused.count(name) == 0) kept.push_back(name);
  }
  return kept;
}

// Side by side, each job needs a staging database of its own: one transfer
// at a time holds a staging file. These live in scratch folders that go
// when the run ends; folders a killed run left are removed by the next.
class JobStaging {
 public:
  ~JobStaging() {
    std::error_code ec;
    for (const std::string& f : folders_) std::filesystem::remove_all(f, ec);
  }
  Status Make(int jobs) {
    for (int j = 0; j < jobs; ++j) {
      auto made = transfer::MakeRunFolder(transfer::RunFolderBase(), kPrefix);
      if (!made.ok()) return made.status();
      const std::string folder = std::move(made).value();
      folders_.push_back(folder);
      // An empty file is an empty SQLite database.
      std::ofstream(folder + "/dbtemp.mdb", std::ios::binary);
      std::error_code ec;
      if (!std::filesystem::is_regular_file(folder + "/dbtemp.mdb", ec)) {
        return Status::IoError("cannot make a staging file in " + folder);
      }
    }
    return Status::Ok();
  }
  const std::string& Folder(int job) const { return folders_.at(static_cast<size_t>(job)); }

  // Any run removes what a killed one left, whether it runs jobs or not.
  static void RemoveLeftovers() {
    for (const char* prefix : {kPrefix, transfer::kDryRunFolderPrefix}) {
      transfer::RemoveFoldersOfEndedRuns(transfer::RunFolderBase(), prefix);
    }
  }

 private:
  static constexpr const char* kPrefix = "staging-";
  std::vector<std::string> folders_;
};

// The names of the run in the list's order, as `tables --postgres` prints
// them; the first schema of the search path decides which are bare.
Result<std::vector<std::string>> ChooseTables(const ConnectionSettings& settings,
                                              const ui::MemoryTableList& postgres,
                                              const Options& options, bool all,
                                              std::vector<TableFigures>& set_aside,
                                              std::map<std::string, int>& entry_of) {
  Result<std::string> first = catalog::PostgresFirstSchema(settings);
  if (!first.ok()) return Status::Error(first.status().code(),
                                        "cannot list the PostgreSQL tables: " +
                                            first.status().message());
  const std::string& first_schema = first.value();
  const std::vector<std::string> chosen =
      all ? UserTables(postgres, first_schema)
          : ResolveWanted(postgres,
                          ExpandPatterns(options.positional, ListedNames(postgres, first_schema),
                                         false),
                          first_schema, set_aside);
  auto name_of = [&](int i) { return CommandLineName(postgres, i, first_schema); };
  for (int i = 0; i < postgres.Count(); ++i) entry_of.emplace(name_of(i), i);
  const bool cut_long = !options.Has("skip-long-names");
  return RefuseSharedTargets(ListOrder(postgres, chosen, name_of), entry_of, postgres, cut_long,
                             set_aside);
}

}  // namespace

int RunToParadox(int argc, char** argv) {
  JobStaging::RemoveLeftovers();
  JobStaging staging;
  int jobs = 1;
  std::string export_code_page;
  // Each chosen name is one entry: the same in every job's copy of the list.
  std::map<std::string, int> entry_of;
  const ui::MemoryTableList* source = nullptr;
  CopyDirection d;
  d.command = "to-paradox";
  d.usage = kUsage;
  d.valued = {"code-page"};
  d.flags = {"trim-long-names", "skip-long-names"};
  d.check = CheckToParadox;
  d.from_postgres = true;
  d.writes_folder = true;
  d.choose = [&](const ConnectionSettings& settings, const ui::MemoryTableList& postgres,
                 const Options& options, bool all, std::vector<TableFigures>& set_aside) {
    source = &postgres;
    return ChooseTables(settings, postgres, options, all, set_aside, entry_of);
  };
  // Names that end up as the same Paradox table never run side by side.
  d.key = [&](const std::string& name) {
    const std::string& bare = source->Text(entry_of.at(name));
    return ui::LowerCase(transfer::FirstUtf16Units(bare, transfer::kParadoxNameUnits));
  };
  d.select = [&](ui::MemoryTableList& list, const std::string& name) {
    ui::DeselectAll(list);
    const int entry = entry_of.at(name);
    list.SetSelected(entry, true);
    list.SetCurrentIndex(entry);
  };
  d.prepare = [&](const Options& options, int n) {
    jobs = n;
    export_code_page = ExportCodePageFrom(options);  // the settings file, read once
    return n > 1 ? staging.Make(n) : Status::Ok();
  };
  d.settings = [&](ui::FixedSettings& s, const Options&) { s.export_code_page = export_code_page; };
  d.program_folder = [&](int job) {
    return jobs > 1 ? staging.Folder(job) : app::ProgramFolder();
  };
  d.copy = [](ui::TablesWindow& window, const Options& options,
              const transfer::TableEvents& events) {
    transfer::ToParadoxOptions transfer_options;
    transfer_options.keep_types = options.Has("keep-types");
    transfer_options.trim_field_names = options.Has("trim-long-names");
    transfer_options.dry_run = options.Has("dry-run");
    transfer_options.events = events;
    return transfer::SendTablesToParadoxWith(window, transfer_options);
  };
  return RunCopyCommand(argc, argv, d);
}

}  // namespace corvane::cli
