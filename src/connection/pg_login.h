// What libpq itself makes of a login: the values its environment and
// service files give, a connection string where a database name may stand,
// and one trial connection that tells whether the server wants a password
// nobody gave. libpq stays the only judge of where a login goes. The
// PostgreSQL driver (src/postgres) implements these.
#pragma once

#include <map>
#include <string>

#include "base/status.h"
#include "connection/connection_strings.h"

namespace corvane {

// Login values PGSERVICE's service or the PG* variables set; "" where they
// set none. libpq's built-in defaults (port 5432, the system user) do not
// count as set.
struct LibpqLoginDefaults {
  std::string host, port, user, dbname;
};
LibpqLoginDefaults LibpqEnvironmentLogin();

// True for what libpq would read as a connection string where a database
// name stands: a postgresql:// or postgres:// URI, or text holding "=".
bool IsConnectionString(const std::string& dbname);
// Its keywords and values as libpq reads them; libpq's message when it
// cannot.
Result<std::map<std::string, std::string>> ParseLibpqConnectionString(const std::string& text);

struct PgLoginTrial {
  bool connected = false;
  // The server asked for a password and libpq had none (not given, no
  // PGPASSWORD, nothing in the password file).
  bool needs_password = false;
  std::string message;  // libpq's reason when not connected
  // Where libpq went: host (or socket folder), port, user and database.
  std::string host, port, user, database;
};
// Connects once with `s`, exactly as every later connection of the run
// would, and closes again.
PgLoginTrial TryPostgresLogin(const ConnectionSettings& s);

}  // namespace corvane
