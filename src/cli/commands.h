// The subcommands of corvane-cli. Each gets the words after its name and
// returns the exit status (0 success, 1 failures reported, 2 bad usage).
#pragma once

namespace corvane::cli {

using CommandFn = int (*)(int argc, char** argv);

}  // namespace corvane::cli

namespace corvane::cli {
// Entry points, one per cmd_*.cpp; main.cpp maps the names of option_table.cpp to them.
int RunDump(int argc, char** argv);        // cmd_dump.cpp
int RunSchema(int argc, char** argv);      // cmd_dump.cpp
int RunDrop(int argc, char** argv);        // cmd_maintenance.cpp
int RunRename(int argc, char** argv);      // cmd_maintenance.cpp
int RunToPostgres(int argc, char** argv);  // cmd_to_postgres.cpp
int RunToParadox(int argc, char** argv);   // cmd_to_paradox.cpp
int RunTables(int argc, char** argv);      // cmd_tables.cpp
}  // namespace corvane::cli
