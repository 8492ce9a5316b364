// A plain libpq connection for test set-up and benchmarks. Keywords and
// values go in as arrays, so an empty or odd password cannot swallow the
// next setting as a conninfo string would.
#pragma once

#include <libpq-fe.h>

#include "connection/connection_strings.h"

namespace corvane::testing {

inline PGconn* ConnectLibpq(const ConnectionSettings& s, const char* options = nullptr) {
  const char* keys[] = {"host", "port", "user", "password", "dbname", "options", nullptr};
  const char* values[] = {s.server.c_str(),   s.port.c_str(), s.user.c_str(), s.password.c_str(),
                          s.database.c_str(), options,        nullptr};
  if (options == nullptr) keys[5] = nullptr;
  return PQconnectdbParams(keys, values, 0);
}

}  // namespace corvane::testing
