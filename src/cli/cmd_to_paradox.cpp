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
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/options.h"
#include "paradox/code_page.h"
#include "cli/printable.h"
#include "connection/connection.h"
#include "transfer/long_names.h"
#include "transfer/to_paradox.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {
namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-paradox --paradox FOLDER [login options]\n"
    "                              [--overwrite | --skip-existing]\n"
    "                              [--trim-long-names | --skip-long-names] [--jobs N]\n"
    "                              [--quiet] [--verbose] [--report FILE] [--rejects FILE]\n"
    "                              [--code-page N] [--keep-types]\n"
    "                              (TABLE... | --all)\n"
    "Copies the named PostgreSQL tables (as the table list shows them), or with\n"
    "--all every table outside PostgreSQL's own schemas, into the Paradox folder.\n"
    "A name longer than 8 characters is cut to 8 with --trim-long-names and the\n"
    "table skipped with --skip-long-names; an existing Paradox table is replaced\n"
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
    "table with a primary key becomes a keyed table. A failing statement is\n"
    "shown by its start and end; --verbose shows it whole.\n";

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

// The tables --all means: every list entry that some schema other than
// PostgreSQL's own holds.
Result<std::vector<std::string>> UserTables(const ConnectionSettings& settings) {
  Connection pg;
  CORVANE_RETURN_IF_ERROR(pg.Open(PostgresConnectionString(settings)));
  auto rows = pg.Execute(
      "SELECT tablename FROM pg_tables WHERE schemaname <> 'information_schema' AND "
      "schemaname NOT LIKE 'pg\\_%'");
  if (!rows.ok()) return rows.status();
  std::vector<std::string> names;
  for (RecordSet& r = **rows; !r.Eof();) {
    names.push_back(r.FieldValue(0).text());
    CORVANE_RETURN_IF_ERROR(r.MoveNext());
  }
  return names;
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
    auto cache = app::UserCacheFolder();
    std::string base = cache.ok() ? cache.value() : std::filesystem::temp_directory_path().string();
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    RemoveLeftovers(base);
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

 private:
  static void RemoveLeftovers(const std::string& base) {
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
  std::vector<std::string> folders_;
};

}  // namespace

int RunToParadox(int argc, char** argv) {
  JobStaging staging;
  int jobs = 1;
  std::string export_code_page;
  CopyDirection d;
  d.command = "to-paradox";
  d.usage = kUsage;
  d.valued = {"code-page"};
  d.flags = {"trim-long-names", "skip-long-names"};
  d.check = CheckToParadox;
  d.from_postgres = true;
  d.all = [](const ConnectionSettings& settings, const ui::MemoryTableList&) {
    return UserTables(settings);
  };
  d.missing_text = [](const std::string& name, const ConnectionSettings&) {
    return "no PostgreSQL table " + Printable(name);
  };
  // Names that end up as the same Paradox table never run side by side.
  d.key = [](const std::string& name) {
    return ui::LowerCase(transfer::FirstUtf16Units(name, transfer::kParadoxNameUnits));
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
    transfer_options.events = events;
    return transfer::SendTablesToParadoxWith(window, transfer_options);
  };
  return RunCopyCommand(argc, argv, d);
}

}  // namespace corvane::cli
