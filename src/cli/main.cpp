// corvane-cli: the window's operations without a window.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "base/stop_request.h"
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
    {"to-postgres", "to-postgres TABLE... send Paradox tables (or --all) to PostgreSQL",
     corvane::cli::RunToPostgres},
    {"to-paradox", "to-paradox TABLE...  send PostgreSQL tables (or --all) to Paradox",
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

// Commands that poll the stop request: on SIGINT, SIGTERM or SIGHUP they
// put back what they had changed and remove their scratch files before the
// program ends. A second signal ends the program at once.
bool StopsCleanly(const char* command) { return std::strcmp(command, "to-paradox") == 0; }

void OnStopSignal(int signal) { corvane::RequestStop(signal); }

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    // One ignored by whoever started us (nohup, a background job) stays so.
    struct sigaction inherited = {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

// Ends the way the signal would have, once the command has cleaned up.
int Finish(int status) {
  const int signal = corvane::StopSignal();
  if (signal == 0) return status;
  std::cerr << "corvane-cli: stopped by signal " << signal
            << "; the table being copied was not written, and a table it was to replace is as it was\n";
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  return 128 + signal;
}

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

// A command that runs out of memory ends with one line and the status of
// a failure, never with an abort.
int RunGuarded(const Command& c, int argc, char** argv) {
  try {
    return c.run(argc - 2, argv + 2);
  } catch (const std::bad_alloc&) {
    std::fputs("corvane-cli: out of memory: the command needed more memory than the system "
               "could give, and was given up\n",
               stderr);
    return 1;
  }
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
    if (c.name == nullptr || std::strcmp(argv[1], c.name) != 0) continue;
    int status = 0;
    if (!StopsCleanly(c.name)) {
      status = RunGuarded(c, argc, argv);
    } else {
      CatchStopSignals();
      status = Finish(RunGuarded(c, argc, argv));
    }
    if (status == 0 && AsksForHelp(argc, argv)) std::cout << kExitStatuses;
    return status;
  }
  std::cerr << "corvane-cli: unknown command '" << argv[1] << "' (see --help)\n";
  return 2;
}
