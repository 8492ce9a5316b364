// A plain libpq connection for test set-up and benchmarks. Keywords and
// values go in as arrays, so an empty or odd password cannot swallow the
// next setting as a conninfo string would.
#pragma once

#include <libpq-fe.h>

#include <cstdio>
#include <string>

#include "connection/connection_strings.h"

namespace corvane::testing {

inline PGconn* ConnectLibpq(const ConnectionSettings& s, const char* options = nullptr) {
  const char* keys[] = {"host", "port", "user", "password", "dbname", "options", nullptr};
  const char* values[] = {s.server.c_str(),   s.port.c_str(), s.user.c_str(), s.password.c_str(),
                          s.database.c_str(), options,        nullptr};
  if (options == nullptr) keys[5] = nullptr;
  return PQconnectdbParams(keys, values, 0);
}

// Runs `sql`; on failure says so on stderr with the statement's start.
inline bool ExecLibpq(PGconn* pg, const std::string& sql) {
  PGresult* r = PQexec(pg, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok) std::fprintf(stderr, "%.60s: %s", sql.c_str(), PQerrorMessage(pg));
  PQclear(r);
  return ok;
}

}  // namespace corvane::testing
