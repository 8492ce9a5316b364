// The connection strings from the six login fields. A value goes in as
// typed; one that holds a character with a meaning in the string (";", "=",
// "{", "}") or blanks at either end is written between braces, "}" doubled,
// the way ODBC quotes it, so it reaches the driver whole and can set no other
// key. Ordinary values appear exactly as typed.
#pragma once

#include <map>
#include <string>

namespace corvane {

struct ConnectionSettings {
  std::string paradox_folder;  // Text1
  std::string server;          // Text2
  std::string port;            // Text3
  std::string user;            // Text4
  std::string password;        // Text5
  std::string database;        // Text6
  // Further libpq keywords (sslmode, options, ...) from a connection string
  // the command line gave; the window never sets any, so its string is as
  // it always was.
  std::map<std::string, std::string> libpq_extra = {};
};

// The prefix that carries a libpq keyword in the PostgreSQL string.
inline constexpr const char* kLibpqKeyPrefix = "pq.";

std::string PostgresConnectionString(const ConnectionSettings& s);
std::string ParadoxConnectionString(const ConnectionSettings& s);
// The staging database at `path` (the program folder's dbtemp.mdb).
std::string StagingConnectionString(const std::string& path);

// `value` as it must stand after "Key=": as it is, or in braces.
std::string QuoteConnectionValue(const std::string& value);

// Reads an ODBC-style string the way a driver does: pairs split at ";",
// the first "=" splits key from value, keys compared case-insensitively
// (returned lower-cased), a value in {braces} may hold anything, "}}"
// standing for "}". Later keys win.
std::map<std::string, std::string> ParseConnectionString(const std::string& text);

}  // namespace corvane
