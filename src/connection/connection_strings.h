// The connection strings, byte for byte, from the six login fields. Values go
// in as typed: nothing is trimmed, quoted or escaped.
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
};

std::string PostgresConnectionString(const ConnectionSettings& s);
std::string ParadoxConnectionString(const ConnectionSettings& s);
// The staging database at `path` (the program folder's dbtemp.mdb).
std::string StagingConnectionString(const std::string& path);

// Reads an ODBC-style string the way a driver does: pairs split at ";",
// the first "=" splits key from value, keys compared case-insensitively
// (returned lower-cased), a value in {braces} may hold ";". Later keys win.
std::map<std::string, std::string> ParseConnectionString(const std::string& text);

}  // namespace corvane
