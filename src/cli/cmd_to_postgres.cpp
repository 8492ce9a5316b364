// corvane-cli to-postgres: "Send Table/s To PostgreSQL" without a window.
// The lists are filled from the folder and the database the way the tables
// window fills them, the named tables selected, and the same handler run.
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/printable.h"
#include "transfer/to_postgres.h"
#include "ui/memory_surfaces.h"

namespace corvane::cli {

namespace {

constexpr const char* kUsage =
    "Usage: corvane-cli to-postgres --paradox FOLDER [login options]\n"
    "                               [--overwrite | --skip-existing] [--jobs N]\n"
    "                               [--quiet] [--verbose] [--report FILE] [--rejects FILE]\n"
    "                               [--keep-types]\n"
    "                               (TABLE... | --all)\n"
    "Copies the named Paradox tables (as the table list shows them), or with --all\n"
    "every table of the folder, into PostgreSQL. Without --overwrite or\n"
    "--skip-existing an existing table is asked about on a terminal; without one\n"
    "it is skipped and the run fails. --jobs N copies N tables at a time, each over its own connection.\n"
    "At the end one line per table gives the rows read, stored and refused;\n"
    "--quiet prints only failures, --report FILE writes the same as JSON (also for\n"
    "a run that fails before its first table). Each refused row is one line;\n"
    "--rejects FILE writes them with their reasons and values as CSV.\n"
    "With --keep-types each field gets the column type that holds it (date,\n"
    "boolean, bytea ...) and a keyed table its primary key.\n"
    "A failing statement is shown by its start and end; --verbose shows it whole.\n";

}  // namespace

int RunToPostgres(int argc, char** argv) {
  CopyDirection d;
  d.command = "to-postgres";
  d.usage = kUsage;
  d.all = [](const ConnectionSettings&, const ui::MemoryTableList& source) {
    return Result<std::vector<std::string>>(source.Names());
  };
  d.missing_text = [](const std::string& name, const ConnectionSettings& settings) {
    return "no Paradox table " + Printable(name) + " in " + Printable(settings.paradox_folder);
  };
  // Tables of one name run in one job, so no two jobs write one PostgreSQL table.
  d.key = ui::LowerCase;
  d.program_folder = [](int) { return std::string(); };
  d.copy = [](ui::TablesWindow& window, const Options& options,
              const transfer::TableEvents& events) {
    transfer::ToPostgresOptions transfer_options;
    transfer_options.keep_types = options.Has("keep-types");
    transfer_options.events = events;
    return transfer::SendTablesToPostgresWith(window, transfer_options);
  };
  return RunCopyCommand(argc, argv, d);
}

}  // namespace corvane::cli
