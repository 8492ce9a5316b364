// Command-line options, parsed with getopt_long from the option table
// (option_table.h): short and long spellings, "--name value" and
// "--name=value" alike, options and operands in any order, "--" ending the
// options. Values and flags are kept under the option's key, whatever
// spelling was typed.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/connection_strings.h"

namespace corvane::cli {

struct Options {
  std::map<std::string, std::string> values;  // by key; the last one typed counts
  std::set<std::string> flags;
  std::vector<std::string> positional;
  // The command works on PostgreSQL: it takes a login and is no --paradox
  // -only listing, deletion or rename.
  bool reaches_postgres = false;

  bool Has(const std::string& flag) const { return flags.count(flag) > 0; }
  std::optional<std::string> Get(const std::string& name) const;
};

// `valued` keys take a value; `flag_names` take none; the table gives their
// spellings. Anything else typed is an error. A key the table does not
// describe is an error too, so no option goes undocumented.
Result<Options> ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                             const std::set<std::string>& flag_names);

// The folder and the login. The login holds what the options give (a
// connection string in --dbname taken apart), then what the login window
// stored for values nothing else gives, when it was stored for this server;
// the rest is left to libpq. A command that reaches PostgreSQL then tries
// the login once: a server that wants a password nobody gave gets the
// window's stored one when this is the very login it was stored with, else
// the one the user types at a terminal's prompt (not with --no-password).
ConnectionSettings SettingsFrom(const Options& options);
// --code-page, else the stored setting ("" when neither is there).
std::string ExportCodePageFrom(const Options& options);

// Option keys every command that reaches PostgreSQL takes.
const std::set<std::string>& LoginOptionNames();

}  // namespace corvane::cli
