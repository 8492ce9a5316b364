// Login values as every PostgreSQL tool on the machine finds them: the
// connection service named by PGSERVICE, the PG* variables, and the
// password file.
#pragma once

#include <optional>
#include <string>

namespace corvane::cli {

struct LibpqLogin {
  std::optional<std::string> host, port, user, dbname, password;
};

// The service's values first, then PGHOST, PGPORT, PGUSER, PGDATABASE and
// PGPASSWORD for what the service leaves open: libpq's own order. The
// service is looked up in PGSERVICEFILE (else ~/.pg_service.conf), then in
// pg_service.conf of PGSYSCONFDIR (else Debian's /etc/postgresql-common).
// A service no file defines gives nothing here; libpq reports it when the
// connection is opened. Empty variables count as unset.
LibpqLogin LibpqEnvironmentLogin();

// The password the password file (PGPASSFILE, else ~/.pgpass) holds for
// this login, as libpq picks it: the first line whose four fields match,
// "*" matching anything, "\" escaping ":" and "\". An empty host or a socket
// folder is "localhost", an empty port 5432, an empty database the user. A
// file that its group or others may read is ignored, as libpq ignores it.
std::optional<std::string> PasswordFileLookup(std::string host, std::string port,
                                              std::string dbname, std::string user);

}  // namespace corvane::cli
