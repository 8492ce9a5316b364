#include "cli/copy_command.h"

#include <chrono>
#include <cstdio>

#include "catalog/paradox_catalog.h"
#include "catalog/postgres_catalog.h"
#include "cli/console_surfaces.h"
#include "cli/paradox_folder.h"
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
  // From here every way out writes the report, also before the first table.
  if (std::string why = ParadoxFolderProblem(settings.paradox_folder, d.writes_folder);
      !why.empty()) {
    return FailedRun(d.command, *run, why);
  }
  const auto started = std::chrono::steady_clock::now();

  ConsoleDialogs dialogs;
  dialogs.verbose = run->verbose;
  Lists lists;
  if (Status s = FillLists(settings, dialogs, lists); !s.ok()) {
    return FailedRun(d.command, *run, s.message());
  }
  const ui::MemoryTableList& source = d.from_postgres ? lists.postgres : lists.paradox;
  std::vector<TableFigures> set_aside;
  Result<std::vector<std::string>> names = d.choose(settings, source, options, run->all, set_aside);
  if (!names.ok()) return FailedRun(d.command, *run, names.status().message());
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
    d.select(list, table);
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
      names.value(), d.key, run->jobs, terminal,
      PolicyFrom(options.Has("overwrite"), options.Has("skip-existing")),
      PolicyFrom(options.Has("trim-long-names"), options.Has("skip-long-names")), copy_one);
  figures.insert(figures.end(), set_aside.begin(), set_aside.end());
  if (d.finish) d.finish(settings, options, dialogs, figures);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  // A folder listed in part was reported; --all would have missed tables.
  return EndOfRun(d.command, *run, figures, seconds,
                  dialogs.failures + terminal.walk_failures());
}

}  // namespace corvane::cli
