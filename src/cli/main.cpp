// corvane-cli: the window's operations without a window.
#include <cstring>
#include <iostream>
#include <string>

#include "cli/commands.h"

namespace corvane::cli {
// Each command lives in its own cmd_*.cpp file.
}  // namespace corvane::cli

namespace {

using corvane::cli::Command;

// One line per command: name, synopsis, entry point.
const Command kCommands[] = {
    {"dump", "dump FILE.db         print a Paradox table's rows as CSV", corvane::cli::RunDump},
    {"schema", "schema FILE.db       print a Paradox table's layout", corvane::cli::RunSchema},
    {"to-postgres", "to-postgres TABLE... send Paradox tables to PostgreSQL (see --help)",
     corvane::cli::RunToPostgres},
    {"to-paradox", "to-paradox TABLE...  send PostgreSQL tables to Paradox (see --help)",
     corvane::cli::RunToParadox},
    {"drop", "drop TABLE...        delete tables (--postgres or --paradox FOLDER)",
     corvane::cli::RunDrop},
    {"rename", "rename OLD NEW       rename a table (--postgres or --paradox FOLDER)",
     corvane::cli::RunRename},
    {"tables", "tables               list the tables (--postgres or --paradox FOLDER)",
     corvane::cli::RunTables},
    {nullptr, nullptr, nullptr},
};

constexpr const char* kExitStatuses =
    "\nExit status: 0 all done, 1 something failed or was refused, 2 wrong usage\n"
    "(nothing done).\n";

void PrintUsage(std::ostream& out) {
  out << "Usage: corvane-cli <command> [options]\n\n"
         "Copies tables between a folder of Paradox tables and PostgreSQL.\n\n"
         "Commands:\n";
  for (const Command& c : kCommands) {
    if (c.name) out << "  " << c.synopsis << "\n";
  }
  out << "\nLogin options:\n"
         "  --server HOST --port N --user NAME --password PW --database DB\n"
         "  --paradox FOLDER\n"
         "Options take \"--name value\" and \"--name=value\" alike. A login value not\n"
         "given comes from libpq's PGSERVICE, PGHOST, PGPORT, PGUSER, PGDATABASE,\n"
         "PGPASSWORD and ~/.pgpass, else from what the login window stored last.\n\n"
         "  --help      show this text (COMMAND --help: that command's)\n"
         "  --version   show the version\n"
      << kExitStatuses;
}

// "COMMAND --help": the command prints its usage; the exit statuses follow.
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(std::cout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << "corvane-cli " << CORVANE_VERSION << "\n";
    return 0;
  }
  for (const Command& c : kCommands) {
    if (c.name && std::strcmp(argv[1], c.name) == 0) {
      const int status = c.run(argc - 2, argv + 2);
      if (status == 0 && AsksForHelp(argc, argv)) std::cout << kExitStatuses;
      return status;
    }
  }
  std::cerr << "corvane-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return 2;
}
