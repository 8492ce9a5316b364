// The one description of corvane-cli's commands and options. The parser,
// --help, COMMAND --help, the man page and the bash completion are all made
// from these tables, so none of them can know an option the others miss.
#pragma once

#include <string>
#include <vector>

namespace corvane::cli {

// Which commands take an option: one bit per command.
enum : unsigned {
  kDump = 1u << 0,
  kSchema = 1u << 1,
  kToPostgres = 1u << 2,
  kToParadox = 1u << 3,
  kDrop = 1u << 4,
  kRename = 1u << 5,
  kTables = 1u << 6,
  kCopies = kToPostgres | kToParadox,
  kLogins = kCopies | kDrop | kRename | kTables,
  kEvery = kLogins | kDump | kSchema,
};

// How bash completes an option's value.
enum class Completes { kNothing, kFolder, kHost, kUser, kJsonFile, kFile };

struct OptionSpec {
  const char* key;         // the name a command reads it by
  char short_name;         // 0: none
  const char* long_names;  // blank-separated, the usual one first
  const char* argument;    // nullptr: takes no value
  unsigned commands;       // 0: the program itself only (--version)
  const char* help;
  Completes completes = Completes::kNothing;
};

struct CommandSpec {
  const char* name;
  unsigned bit;
  const char* operands;  // what follows the options in a synopsis
  const char* summary;   // one line, for the list of commands
  const char* help;      // what it does, as COMMAND --help tells it
  // Its exit status for a table name that means no table: the copies go on
  // with the other tables (1), drop and rename do nothing (2). 0: no tables.
  int unknown_table_status;
};

const std::vector<OptionSpec>& OptionTable();
const std::vector<CommandSpec>& CommandTable();
// Null for a name no command has.
const CommandSpec* FindCommand(const std::string& name);
// The options `command` takes (a CommandSpec bit; 0 for the program).
std::vector<const OptionSpec*> OptionsOf(unsigned command);
// Null for a key the table does not describe.
const OptionSpec* FindOption(const std::string& key);

std::string ProgramHelp();
std::string CommandHelp(const CommandSpec& command);
// The man page from `page`, a roff template whose @SYNOPSIS@, @COMMANDS@,
// @OPTIONS@ and @EXIT_STATUS@ lines are filled in here, @PROJECT_VERSION@
// with `version`.
std::string ManPage(const std::string& page, const std::string& version);
std::string BashCompletion();

}  // namespace corvane::cli
