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

void PrintUsage(std::ostream& out) {
  out << "Usage: corvane-cli <command> [options]\n\n"
         "Copies tables between a folder of Paradox tables and PostgreSQL.\n\n"
         "Commands:\n";
  for (const Command& c : kCommands) {
    if (c.name) out << "  " << c.synopsis << "\n";
  }
  out << "\nLogin options (default: what the login window stored last):\n"
         "  --server HOST --port N --user NAME --password PW (or PGPASSWORD) --database DB\n"
         "  --paradox FOLDER\n"
         "Options take \"--name value\" and \"--name=value\" alike.\n\n"
         "  --help      show this text\n"
         "  --version   show the version\n";
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
    if (c.name && std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
  }
  std::cerr << "corvane-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return 2;
}
