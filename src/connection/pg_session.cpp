#include "connection/pg_session.h"

#include <string_view>

namespace corvane {
namespace {

std::string TrimEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// Session settings fixed for every connection, so values read the same on
// any server whatever its configuration:
//  - DateStyle ISO: dates and timestamps as YYYY-MM-DD[ HH:MM:SS[.ffffff]];
//    MDY only orders ambiguous input, which we never send.
//  - TimeZone UTC: a timestamptz prints as one instant with "+00", the same
//    from any client, and reads back to the same instant.
//  - IntervalStyle postgres: the server's default form, which every
//    PostgreSQL reads back.
//  - extra_float_digits 1: floats print shortest-exact (nothing cut).
//  - standard_conforming_strings on: a backslash in a literal is a backslash.
//  - bytea_output hex: binary as \x followed by hex.
//  - lc_monetary C: money in one known shape, which the driver strips to a
//    plain decimal.
std::string SessionOptions(const ConnectionOptions& options) {
  std::string o =
      "-c DateStyle=ISO,MDY -c TimeZone=UTC -c IntervalStyle=postgres -c extra_float_digits=1 "
      "-c standard_conforming_strings=on -c bytea_output=hex -c lc_monetary=C";
  const long long timeout_ms =
      options.command_timeout_s > 0 ? static_cast<long long>(options.command_timeout_s) * 1000 : 0;
  o += " -c statement_timeout=" + std::to_string(timeout_ms);
  return o;
}

void IgnoreNotice(void*, const char*) {}

// SQLSTATEs of connection exceptions that libpq itself detects.
constexpr const char* kConnectionFailure = "08006";
constexpr const char* kNoConnection = "08003";
constexpr const char* kCannotConnect = "08001";

}  // namespace

Status PgError(PGconn* conn, const PGresult* result) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const char* sqlstate = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = primary ? primary : "";
  if (message.empty() && conn) message = TrimEnd(PQerrorMessage(conn));
  if (message.empty()) message = "The PostgreSQL server did not answer.";
  std::string state = sqlstate ? sqlstate : "";
  if (state.empty() && conn && PQstatus(conn) == CONNECTION_BAD) state = kConnectionFailure;
  return Status::Database(message, state);
}

Status PgClosedError() {
  return Status::Database("The connection to the PostgreSQL server is closed.", kNoConnection);
}

Result<std::shared_ptr<PgSession>> PgSession::Connect(const ConnectionAttributes& attrs,
                                                      const ConnectionOptions& options) {
  std::vector<std::pair<const char*, std::string>> params;
  const std::pair<const char*, const char*> kMapped[] = {{"server", "host"},
                                                         {"port", "port"},
                                                         {"uid", "user"},
                                                         {"pwd", "password"},
                                                         {"database", "dbname"}};
  for (const auto& [from, to] : kMapped) {
    if (auto it = attrs.find(from); it != attrs.end()) params.emplace_back(to, it->second);
  }
  if (options.connection_timeout_s > 0) {
    params.emplace_back("connect_timeout", std::to_string(options.connection_timeout_s));
  }
  params.emplace_back("client_encoding", "UTF8");
  params.emplace_back("application_name", "Corvane");
  params.emplace_back("options", SessionOptions(options));
  std::vector<const char*> keys, values;
  for (const auto& [k, v] : params) {
    keys.push_back(k);
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  // expand_dbname 0: a database name is a name, never a connection string.
  PgConnPtr conn(PQconnectdbParams(keys.data(), values.data(), 0));
  if (!conn) return Status::Database("Out of memory while connecting to PostgreSQL.");
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    return Status::Database(TrimEnd(PQerrorMessage(conn.get())), kCannotConnect);
  }
  PQsetNoticeProcessor(conn.get(), IgnoreNotice, nullptr);
  return std::shared_ptr<PgSession>(new PgSession(std::move(conn)));
}

Result<PgResultPtr> PgSession::Run(const std::string& sql) {
  if (!conn_) return PgClosedError();
  PgResultPtr r(PQexecParams(conn_.get(), sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY) return r;
  return PgError(conn_.get(), r.get());
}

Status PgSession::RunCommand(const std::string& sql) {
  Result<PgResultPtr> r = Run(sql);
  return r.ok() ? Status::Ok() : r.status();
}

}  // namespace corvane
