// corvane-cli: the window's operations without a window.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "base/stop_request.h"
#include "cli/commands.h"
#include "cli/option_table.h"

namespace {

using corvane::cli::CommandFn;

// Each command lives in its own cmd_*.cpp file; option_table.cpp describes it.
CommandFn EntryPoint(const std::string& name) {
  static const std::pair<const char*, CommandFn> kEntries[] = {
      {"dump", corvane::cli::RunDump},
      {"schema", corvane::cli::RunSchema},
      {"to-postgres", corvane::cli::RunToPostgres},
      {"to-paradox", corvane::cli::RunToParadox},
      {"drop", corvane::cli::RunDrop},
      {"rename", corvane::cli::RunRename},
      {"tables", corvane::cli::RunTables},
  };
  for (const auto& [n, fn] : kEntries)
    if (name == n) return fn;
  return nullptr;
}

// Commands that poll the stop request: on SIGINT, SIGTERM or SIGHUP they
// put back what they had changed and remove their scratch files before the
// program ends. A second signal ends the program at once.
bool StopsCleanly(const char* command) {
  return std::strcmp(command, "to-paradox") == 0 || std::strcmp(command, "to-postgres") == 0;
}

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
  std::cerr
      << "corvane-cli: stopped by signal " << signal
      << "; the table being copied was not written, and a table it was to replace is as it was\n";
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  return 128 + signal;
}

bool IsHelp(const char* word) {
  return std::strcmp(word, "--help") == 0 || std::strcmp(word, "-?") == 0;
}

// "COMMAND --help" or "COMMAND -?" before any "--".
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (IsHelp(argv[i])) return true;
  }
  return false;
}

int Help(const std::string& command) {
  if (command.empty()) return std::fputs(corvane::cli::ProgramHelp().c_str(), stdout) < 0;
  const corvane::cli::CommandSpec* c = corvane::cli::FindCommand(command);
  if (c == nullptr) {
    std::cerr << "corvane-cli: unknown command '" << command << "' (see corvane-cli --help)\n";
    return 2;
  }
  return std::fputs(corvane::cli::CommandHelp(*c).c_str(), stdout) < 0;
}

// A command that runs out of memory ends with one line and the status of
// a failure, never with an abort.
int RunGuarded(CommandFn run, int argc, char** argv) {
  try {
    return run(argc - 2, argv + 2);
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
    std::cerr << corvane::cli::ProgramHelp();
    return 2;
  }
  const std::string first = argv[1];
  // -h stays help here, where no command takes a host.
  if (IsHelp(argv[1]) || first == "-h") return Help("");
  if (first == "--version" || first == "-V") {
    std::cout << "corvane-cli " << CORVANE_VERSION << "\n";
    return 0;
  }
  if (first == "help") {
    if (argc > 3) {
      std::cerr << "corvane-cli: help takes one command at most\n";
      return 2;
    }
    return Help(argc == 3 ? argv[2] : "");
  }
  const CommandFn run = EntryPoint(first);
  if (run == nullptr) {
    std::cerr << "corvane-cli: unknown command '" << first << "' (see corvane-cli --help)\n";
    return 2;
  }
  if (AsksForHelp(argc, argv)) return Help(first);
  if (!StopsCleanly(first.c_str())) return RunGuarded(run, argc, argv);
  CatchStopSignals();
  return Finish(RunGuarded(run, argc, argv));
}
