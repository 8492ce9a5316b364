// corvane-cli to-paradox: "Send Table/s To Paradox" without a window. Both
// lists are filled as the tables window fills them, the named PostgreSQL
// tables selected, and the same handler run; the staging database is the
// dbtemp.mdb beside the program.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/commands.h"
#include "cli/console_surfaces.h"
#include "cli/name_patterns.h"
#include "cli/options.h"
#include "cli/paradox_folder.h"
#include "cli/postgres_names.h"
#include "cli/printable.h"
#include "cli/table_runs.h"
#include "connection/connection.h"
#include "paradox/code_page.h"
#include "paradox/companion_files.h"
#include "paradox/table_reader.h"
#include "transfer/long_names.h"
#include "transfer/shared_targets.h"
#include "transfer/to_paradox.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-paradox --paradox FOLDER [login options]\n"
    "                              [--overwrite | --skip-existing]\n"
    "                              [--trim-long-names | --skip-long-names] [--jobs N]\n"
    "                              [--quiet] [--verbose] [--report FILE] [--code-page N]\n"
    "                              [--keep-types]\n"
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
    "asked about on a terminal and skipped otherwise. --jobs N copies N tables at\n"
    "a time, each over its own connections and staging file. At the end one line\n"
    "per table gives the rows read, stored and refused; --quiet prints only\n"
    "failures, --report FILE writes the same as JSON. A new table's text is\n"
    "written in code page 1252 when it fits, else in the first code page of\n"
    "Paradox's language drivers that holds all of it; --code-page N (or\n"
    "ExportCodePage in the settings) forces one. With --keep-types each\n"
    "column's type chooses the Paradox field where one holds every value, and a\n"
    "table with a primary key becomes a keyed table. A failing statement is\n"
    "shown by its start and end; --verbose shows it whole.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "corvane-cli to-paradox: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

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
    unknown.push_back(TableFigures{typed, none ? TableState::kNotFound : TableState::kFailed,
                                   none ? "no such table" : "names several tables", 0, 0, 0, 0, 0});
  }
  return chosen;
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
  std::set<std::string> valued = LoginOptionNames(), flags = RunFlagNames();
  valued.insert(RunValuedOptionNames().begin(), RunValuedOptionNames().end());
  valued.insert("code-page");
  flags.insert(
      {"overwrite", "skip-existing", "trim-long-names", "skip-long-names", "keep-types", "help"});
  Result<Options> parsed = ParseOptions(argc, argv, valued, flags);
  if (!parsed.ok() || parsed->Has("help")) return parsed;
  if (parsed->Has("overwrite") && parsed->Has("skip-existing")) {
    return Status::InvalidArgument("--overwrite and --skip-existing exclude each other");
  }
  if (parsed->Has("trim-long-names") && parsed->Has("skip-long-names")) {
    return Status::InvalidArgument("--trim-long-names and --skip-long-names exclude each other");
  }
  if (auto cp = parsed->Get("code-page")) {
    auto checked = paradox::ParseExportCodePage(*cp);
    if (!checked.ok()) return Status::InvalidArgument("--code-page: " + checked.status().message());
  }
  return parsed;
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
      figures.push_back(TableFigures{sources[k].shown, TableState::kFailed,
                                     "shares its Paradox table with another", 0, 0, 0, 0, 0});
    }
  }
  std::vector<std::string> kept;
  for (const std::string& name : names) {
    if (refused.count(name) == 0) kept.push_back(name);
  }
  return kept;
}

// A table file of the folder as it stands: which file, and which version.
struct FileMark {
  std::string path;
  uint64_t inode = 0;
  int64_t modified_ns = 0;
  int64_t size = 0;
  bool operator==(const FileMark&) const = default;
};

// The files `<name>.db` of the folder itself, any case. The folder's kept
// family list is asked, not the folder: a run of thousands of tables must
// not list it twice per table. The spellings the writer gives are looked
// at as well, in case a letter's case is one that list does not fold.
std::vector<FileMark> TableFiles(const std::string& folder, const std::string& name) {
  std::vector<FileMark> out;
  const std::string wanted = ui::LowerCase(name + ".db");
  std::vector<std::filesystem::path> paths = paradox::TableFiles(folder, name);
  for (const char* ext : {".db", ".DB"}) paths.push_back(std::filesystem::path(folder) / (name + ext));
  for (const std::filesystem::path& p : paths) {
    if (ui::LowerCase(p.filename().string()) != wanted) continue;
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    FileMark mark{p.string(), static_cast<uint64_t>(st.st_ino),
                  static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                  static_cast<int64_t>(st.st_size)};
    if (std::find(out.begin(), out.end(), mark) == out.end()) out.push_back(std::move(mark));
  }
  return out;
}

// The rows of a table file the run wrote (one not among `before`); nullopt
// when it wrote none.
std::optional<int64_t> WrittenRows(const std::vector<FileMark>& before,
                                   const std::vector<FileMark>& after) {
  for (const FileMark& m : after) {
    if (std::find(before.begin(), before.end(), m) != before.end()) continue;
    auto info = paradox::TableReader::ReadInfo(m.path);
    if (info.ok()) return static_cast<int64_t>(info->record_count);
  }
  return std::nullopt;
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
    const std::string base = Base();
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    for (int j = 0; j < jobs; ++j) {
      std::string tmpl = base + "/staging-" + std::to_string(::getpid()) + "-XXXXXX";
      if (::mkdtemp(tmpl.data()) == nullptr) {
        return Status::IoError("cannot make a staging folder in " + base + ": " +
                               std::strerror(errno));
      }
      folders_.push_back(tmpl);
      // An empty file is an empty SQLite database.
      std::ofstream(tmpl + "/dbtemp.mdb", std::ios::binary);
      if (!std::filesystem::is_regular_file(tmpl + "/dbtemp.mdb", ec)) {
        return Status::IoError("cannot make a staging file in " + tmpl);
      }
    }
    return Status::Ok();
  }
  const std::string& Folder(int job) const { return folders_.at(static_cast<size_t>(job)); }

  // Any run removes what a killed one left, whether it runs jobs or not.
  static void RemoveLeftovers() {
    const std::string base = Base();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("staging-", 0) != 0 || !entry.is_directory(ec)) continue;
      const long pid = std::strtol(name.c_str() + 8, nullptr, 10);
      if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        std::filesystem::remove_all(entry.path(), ec);
      }
    }
  }

 private:
  static std::string Base() {
    auto cache = app::UserCacheFolder();
    return cache.ok() ? cache.value() : std::filesystem::temp_directory_path().string();
  }
  std::vector<std::string> folders_;
};

}  // namespace

int RunToParadox(int argc, char** argv) {
  Result<Options> parsed = ParseToParadox(argc, argv);
  if (!parsed.ok()) return Usage(parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Result<RunOptions> run = RunOptionsFrom(options);
  if (!run.ok()) return Usage(run.status().message());
  const ConnectionSettings settings = SettingsFrom(options);
  if (settings.paradox_folder.empty()) return Usage("no Paradox folder (--paradox FOLDER)");
  if (std::string why = ParadoxFolderProblem(settings.paradox_folder, true); !why.empty()) {
    std::fprintf(stderr, "corvane-cli: %s\n", why.c_str());
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();

  ConsoleDialogs dialogs;
  dialogs.verbose = run->verbose;
  ui::MemoryTableList postgres, paradox;
  if (Status s = FillBothLists(settings, dialogs, postgres, paradox); !s.ok()) {
    std::fprintf(stderr, "corvane-cli: %s\n", s.message().c_str());
    return 1;
  }
  Result<std::string> first_schema = catalog::PostgresFirstSchema(settings);
  if (!first_schema.ok()) {
    std::fprintf(stderr, "corvane-cli: cannot list the PostgreSQL tables: %s\n",
                 first_schema.status().message().c_str());
    return 1;
  }
  std::vector<TableFigures> unknown;
  const std::vector<std::string> chosen =
      run->all ? UserTables(postgres, first_schema.value())
               : ResolveWanted(postgres,
                               ExpandPatterns(options.positional,
                                              ListedNames(postgres, first_schema.value()), false),
                               first_schema.value(), unknown);
  // Each chosen name is one entry: the same in every job's copy of the list.
  std::map<std::string, int> entry_of;
  auto name_of = [&](int i) { return CommandLineName(postgres, i, first_schema.value()); };
  for (int i = 0; i < postgres.Count(); ++i) entry_of.emplace(name_of(i), i);

  JobStaging::RemoveLeftovers();
  JobStaging staging;
  if (run->jobs > 1) {
    if (Status s = staging.Make(run->jobs); !s.ok()) {
      std::fprintf(stderr, "corvane-cli: %s\n", s.message().c_str());
      return 1;
    }
  }
  struct Job {
    ui::MemoryTableList postgres, paradox;
  };
  std::vector<Job> jobs(static_cast<size_t>(run->jobs), Job{postgres, paradox});
  const auto export_code_page = ExportCodePageFrom(options);  // the settings file, read once
  auto copy_one = [&](const std::string& table, int j, TableWatch& watch) {
    Job& job = jobs[static_cast<size_t>(j)];
    ui::DeselectAll(job.postgres);
    const int entry = entry_of.at(table);
    job.postgres.SetSelected(entry, true);
    job.postgres.SetCurrentIndex(entry);
    const std::string bare = job.postgres.Text(entry);
    const std::string cut = transfer::FirstUtf16Units(bare, transfer::kParadoxNameUnits);
    const std::vector<FileMark> before_full = TableFiles(settings.paradox_folder, bare);
    const std::vector<FileMark> before_cut =
        cut == bare ? before_full : TableFiles(settings.paradox_folder, cut);
    ConsolePointer pointer;
    NullPump pump;
    ui::FixedSettings source(settings);
    source.export_code_page = export_code_page;
    ui::TablesWindow window{job.postgres, job.paradox, watch,  watch, pointer,
                            pump,         source,      run->jobs > 1 ? staging.Folder(j) : app::ProgramFolder()};
    transfer::ToParadoxOptions transfer_options;
    transfer_options.keep_types = options.Has("keep-types");
    transfer_options.trim_field_names = options.Has("trim-long-names");
    transfer_options.refill_paradox_list = false;  // read once above; each table adds its own
    transfer::SendTablesToParadoxWith(window, transfer_options);
    const std::string target = watch.trimmed() ? cut : bare;
    const std::optional<int64_t> stored =
        WrittenRows(watch.trimmed() ? before_cut : before_full,
                    TableFiles(settings.paradox_folder, target));
    return watch.Finish(stored, "no Paradox table was written");
  };
  // Names that end up as the same Paradox table never run side by side.
  auto key = [&](const std::string& name) {
    const std::string& bare = postgres.Text(entry_of.at(name));
    return ui::LowerCase(transfer::FirstUtf16Units(bare, transfer::kParadoxNameUnits));
  };
  const Policy trim = PolicyFrom(options.Has("trim-long-names"), options.Has("skip-long-names"));
  std::vector<TableFigures> refused;
  const std::vector<std::string> walk = RefuseSharedTargets(
      WalkOrder(postgres, chosen, name_of), entry_of, postgres, trim != Policy::kNo, refused);
  Terminal terminal(run->quiet, run->jobs > 1, run->verbose);
  std::vector<TableFigures> figures =
      RunTables(walk, key, run->jobs, terminal,
                PolicyFrom(options.Has("overwrite"), options.Has("skip-existing")), trim, copy_one);
  figures.insert(figures.end(), refused.begin(), refused.end());
  figures.insert(figures.end(), unknown.begin(), unknown.end());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A folder listed in part was reported; --all would have missed tables.
  return EndOfRun("to-paradox", *run, figures, seconds, dialogs.failures + terminal.walk_failures());
}

}  // namespace corvane::cli
