#include "cli/copy_command.h"

#include <chrono>
#include <cstdio>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/console_surfaces.h"
#include "cli/printable.h"
#include "cli/table_runs.h"

namespace corvane::cli {
namespace {

int Usage(const CopyDirection& d, const std::string& problem) {
  if (!problem.empty()) {
    std::fprintf(stderr, "corvane-cli %s: %s\n", d.command.c_str(), problem.c_str());
  }
  std::fputs(d.usage, stderr);
  return 2;
}

// A folder listed in part fails the run: --all would have missed tables.
class ListingDialogs : public ConsoleDialogs {
 public:
  void Message(const std::string& text, std::optional<std::string> title,
               ui::MessageIcon icon) override {
    if (icon == ui::MessageIcon::kExclamation) ++shown_failures;
    ConsoleDialogs::Message(text, std::move(title), icon);
  }
  int shown_failures = 0;
};

struct Lists {
  ui::MemoryTableList postgres, paradox;
};

Status FillLists(const ConnectionSettings& settings, ui::Dialogs& dialogs, Lists& lists) {
  NullPump pump;
  CORVANE_RETURN_IF_ERROR(
      catalog::ListParadoxTables(settings.paradox_folder, lists.paradox, pump, dialogs));
  // Without the list an existing table would not be asked about.
  Status listed = catalog::ListPostgreSQLTables(settings, lists.postgres, pump);
  if (!listed.ok()) {
    return Status::Error(listed.code(), "cannot list the PostgreSQL tables: " + listed.message());
  }
  return Status::Ok();
}

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

}  // namespace

int RunCopyCommand(int argc, char** argv, const CopyDirection& d) {
  std::set<std::string> valued = LoginOptionNames(), flags = RunFlagNames();
  valued.insert(RunValuedOptionNames().begin(), RunValuedOptionNames().end());
  valued.insert(d.valued.begin(), d.valued.end());
  flags.insert({"overwrite", "skip-existing", "keep-types", "help"});
  flags.insert(d.flags.begin(), d.flags.end());
  Result<Options> parsed = ParseOptions(argc, argv, valued, flags);
  if (!parsed.ok()) return Usage(d, parsed.status().message());
  const Options& options = parsed.value();
  if (options.Has("help")) {
    std::fputs(d.usage, stdout);
    return 0;
  }
  if (options.Has("overwrite") && options.Has("skip-existing")) {
    return Usage(d, "--overwrite and --skip-existing exclude each other");
  }
  if (Status s = d.check ? d.check(options) : Status::Ok(); !s.ok()) return Usage(d, s.message());
  Result<RunOptions> run = RunOptionsFrom(options);
  if (!run.ok()) return Usage(d, run.status().message());
  const ConnectionSettings settings = SettingsFrom(options);
  if (settings.paradox_folder.empty()) {
    const std::string problem = "no Paradox folder (--paradox FOLDER)";
    FailedRun(d.command, *run, problem, 2, false);
    return Usage(d, problem);
  }
  const auto started = std::chrono::steady_clock::now();

  // From here every way out writes the report, also before the first table.
  ListingDialogs dialogs;
  dialogs.verbose = run->verbose;
  Lists lists;
  if (Status s = FillLists(settings, dialogs, lists); !s.ok()) {
    return FailedRun(d.command, *run, s.message());
  }
  const ui::MemoryTableList& source = d.from_postgres ? lists.postgres : lists.paradox;
  std::vector<std::string> wanted = options.positional;
  if (run->all) {
    auto all = d.all(settings, source);
    if (!all.ok()) return FailedRun(d.command, *run, all.status().message());
    wanted = std::move(all).value();
  }
  std::vector<std::string> missing;
  const std::vector<std::string> names = ListOrder(source, Resolve(source, wanted, missing));
  for (const std::string& m : missing) {
    std::fprintf(stderr, "corvane-cli: %s\n", d.missing_text(m, settings).c_str());
  }
  if (d.prepare) {
    if (Status s = d.prepare(options, run->jobs); !s.ok()) {
      return FailedRun(d.command, *run, s.message());
    }
  }

  // Each job keeps its own copy of the lists.
  std::vector<Lists> jobs(static_cast<size_t>(run->jobs), lists);
  auto copy_one = [&](const std::string& table, int j, TableWatch& watch) {
    Lists& job = jobs[static_cast<size_t>(j)];
    ui::MemoryTableList& list = d.from_postgres ? job.postgres : job.paradox;
    ui::DeselectAll(list);
    list.SelectNames({table});
    ConsolePointer pointer;
    NullPump pump;
    ui::FixedSettings window_settings(settings);
    if (d.settings) d.settings(window_settings, options);
    ui::TablesWindow window{job.postgres, job.paradox, watch, watch, pointer,
                            pump,         window_settings, d.program_folder(j)};
    return watch.Finish(d.copy(window, options, watch.Events()));
  };
  Terminal terminal(run->quiet, run->jobs > 1, run->verbose);
  std::vector<TableFigures> figures = RunTables(
      names, d.key, run->jobs, terminal,
      PolicyFrom(options.Has("overwrite"), options.Has("skip-existing")),
      PolicyFrom(options.Has("trim-long-names"), options.Has("skip-long-names")), copy_one);
  for (const std::string& m : missing) {
    TableFigures f;
    f.table = m;
    f.state = TableState::kNotFound;
    f.note = "no such table";
    figures.push_back(std::move(f));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return EndOfRun(d.command, *run, figures, seconds,
                  dialogs.shown_failures + terminal.walk_failures());
}

}  // namespace corvane::cli
