// Command-line options: "--name value" and "--name=value" alike, flags, and
// the positional words left over.
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
  std::map<std::string, std::string> values;  // without the leading "--"
  std::set<std::string> flags;
  std::vector<std::string> positional;

  bool Has(const std::string& flag) const { return flags.count(flag) > 0; }
  std::optional<std::string> Get(const std::string& name) const;
};

// `valued` names take a value; `flag_names` take none. Anything else is an error.
Result<Options> ParseOptions(int argc, char** argv, const std::set<std::string>& valued,
                             const std::set<std::string>& flag_names);

// The login and folder: each option, else what libpq's service, PG*
// variables and (for the password) password file give, else what the login
// window stored last, else the window's defaults.
ConnectionSettings SettingsFrom(const Options& options);
// --code-page, else the stored setting ("" when neither is there).
std::string ExportCodePageFrom(const Options& options);

// Option names every command that reaches PostgreSQL takes.
const std::set<std::string>& LoginOptionNames();

}  // namespace corvane::cli
