#include "postgres/pg_session.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string_view>

#include "connection/connection_strings.h"
#include "postgres/sql_state.h"

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
//  - TimeZone is left to the server's setting, or to PGTZ when that is set
//    (libpq sends it): a timestamptz reads as the wall time psql shows.
//  - IntervalStyle postgres: the server's default form, which every
//    PostgreSQL reads back.
//  - extra_float_digits 1: floats print shortest-exact (nothing cut).
//  - standard_conforming_strings on: a backslash in a literal is a backslash.
//  - bytea_output hex: binary as \x followed by hex.
//  - lc_monetary C: money in one known shape, which the driver strips to a
//    plain decimal.
//  The caller puts the user's own options (PGOPTIONS, a search_path, say)
//  before these, so they are kept where we set nothing.
std::string SessionOptions(const ConnectionOptions& options) {
  std::string o =
      "-c DateStyle=ISO,MDY -c IntervalStyle=postgres -c extra_float_digits=1 "
      "-c standard_conforming_strings=on -c bytea_output=hex -c lc_monetary=C";
  const long long timeout_ms =
      options.command_timeout_s > 0 ? static_cast<long long>(options.command_timeout_s) * 1000 : 0;
  o += " -c statement_timeout=" + std::to_string(timeout_ms);
  return o;
}

void IgnoreNotice(void*, const char*) {}

// How long one wait on the socket lasts before the caller is served again.
constexpr int kPollMs = 10;

// Waits up to kPollMs for the socket to be ready for `events`; false when
// polling itself failed.
bool PollSocket(PGconn* conn, short events) {
  pollfd p{PQsocket(conn), events, 0};
  return poll(&p, 1, kPollMs) >= 0 || errno == EINTR;
}

// PQconnectdbParams, with the caller served while the server answers. The
// time-out is counted here, as polling leaves it to the caller; `timed_out`
// tells that it ran out.
PGconn* ConnectServed(const char* const* keys, const char* const* values, int timeout_s,
                      const std::function<void()>& while_waiting, bool& timed_out) {
  PGconn* conn = PQconnectStartParams(keys, values, 0);
  if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD) return conn;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
    const short events = state == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    pollfd p{PQsocket(conn), events, 0};
    const int ready = poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) state = PQconnectPoll(conn);
    if (timeout_s > 0 && std::chrono::steady_clock::now() > deadline) {
      timed_out = state != PGRES_POLLING_OK;
      break;
    }
    while_waiting();
  }
  return conn;
}

// libpq leaves its message at "... failed: " when the attempt is cut off
// from outside; the reader must still learn why.
std::string ConnectFailure(PGconn* conn, bool timed_out) {
  std::string why = TrimEnd(PQerrorMessage(conn));
  const char* reason = timed_out ? "timeout expired" : "the connection attempt was broken off";
  if (why.empty()) return "Could not connect to the PostgreSQL server: " + std::string(reason);
  if (why.back() == ':') why += " " + std::string(reason);
  return why;
}

// A value libpq's environment or service gives for `keyword` ("" for none).
std::string LibpqDefault(const char* keyword) {
  std::string out;
  PQconninfoOption* all = PQconndefaults();
  for (PQconninfoOption* o = all; o && o->keyword; ++o) {
    if (std::string_view(o->keyword) == keyword && o->val) out = o->val;
  }
  PQconninfoFree(all);
  return out;
}

}  // namespace

Status PgError(PGconn* conn, const PGresult* result) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const char* sqlstate = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = primary ? primary : "";
  if (message.empty() && conn) message = TrimEnd(PQerrorMessage(conn));
  if (message.empty()) message = "The PostgreSQL server did not answer.";
  std::string state = sqlstate ? sqlstate : "";
  if (state.empty() && conn && PQstatus(conn) == CONNECTION_BAD) state = kSqlStateConnectionFailure;
  return PgStatus(message, state);
}

Status PgClosedError() {
  return PgStatus("The connection to the PostgreSQL server is closed.", kSqlStateNoConnection);
}

PgConnectParams PgConnectParamsFor(const ConnectionAttributes& attrs,
                                   const ConnectionOptions& options) {
  PgConnectParams out;
  const std::pair<const char*, const char*> kMapped[] = {{"server", "host"},
                                                         {"port", "port"},
                                                         {"uid", "user"},
                                                         {"pwd", "password"},
                                                         {"database", "dbname"}};
  for (const auto& [from, to] : kMapped) {
    if (auto it = attrs.find(from); it != attrs.end()) out.params.emplace_back(to, it->second);
  }
  const std::string_view prefix = kLibpqKeyPrefix;
  std::map<std::string, std::string> extra;
  for (const auto& [key, value] : attrs) {
    if (key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0)
      extra[key.substr(prefix.size())] = value;
  }
  // What the user set for libpq (a connection string, PGCONNECT_TIMEOUT,
  // PGOPTIONS, a service) stands; our own values only fill the gaps.
  auto given = [&](const char* keyword) {
    auto it = extra.find(keyword);
    return it != extra.end() ? it->second : LibpqDefault(keyword);
  };
  std::string timeout = given("connect_timeout");
  if (timeout.empty() && options.connection_timeout_s > 0)
    timeout = std::to_string(options.connection_timeout_s);
  out.timeout_s = std::atoi(timeout.c_str());
  if (!timeout.empty()) extra["connect_timeout"] = timeout;
  // Ours go last: the values must read back in the one shape we parse.
  const std::string user_options = given("options");
  extra["options"] = (user_options.empty() ? "" : user_options + " ") + SessionOptions(options);
  extra["client_encoding"] = "UTF8";
  extra["fallback_application_name"] = "Corvane";  // PGAPPNAME or a given name wins
  for (auto& [key, value] : extra) out.params.emplace_back(key, value);
  return out;
}

PgConnPtr PgConnectParams::Open(const std::function<void()>& serve, bool& timed_out) const {
  std::vector<const char*> keys, values;
  for (const auto& [k, v] : params) {
    keys.push_back(k.c_str());
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  timed_out = false;
  // expand_dbname 0: a database name is a name, never a connection string.
  return PgConnPtr(serve ? ConnectServed(keys.data(), values.data(), timeout_s, serve, timed_out)
                         : PQconnectdbParams(keys.data(), values.data(), 0));
}

Result<std::shared_ptr<PgSession>> PgSession::Connect(const ConnectionAttributes& attrs,
                                                      const ConnectionOptions& options) {
  bool timed_out = false;
  PgConnPtr conn = PgConnectParamsFor(attrs, options).Open(options.serve, timed_out);
  if (!conn) return Status::Database("Out of memory while connecting to PostgreSQL.");
  if (PQstatus(conn.get()) != CONNECTION_OK)
    return PgStatus(ConnectFailure(conn.get(), timed_out), kSqlStateCannotConnect);
  PQsetNoticeProcessor(conn.get(), IgnoreNotice, nullptr);
  return std::shared_ptr<PgSession>(new PgSession(std::move(conn), options.serve));
}

bool PgAwaitInput(PGconn* conn, const std::function<void()>& while_waiting) {
  if (!PollSocket(conn, POLLIN) || !PQconsumeInput(conn)) return false;
  if (while_waiting) while_waiting();
  return true;
}

bool PgAwaitResult(PGconn* conn, const std::function<void()>& while_waiting) {
  while (PQisBusy(conn)) {
    if (!PgAwaitInput(conn, while_waiting)) return false;
  }
  return true;
}

namespace {

// PQexecParams sent and awaited with the caller served: the result of the
// statement, its error result when it failed, null when the connection did.
PgResultPtr ExecServed(PGconn* conn, const std::string& sql,
                       const std::function<void()>& while_waiting) {
  if (PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) != 1) {
    return nullptr;
  }
  PgResultPtr kept;
  for (;;) {
    if (!PgAwaitResult(conn, while_waiting)) return nullptr;
    PgResultPtr next(PQgetResult(conn));
    if (!next) break;
    const ExecStatusType got = PQresultStatus(next.get());
    // A COPY has begun: the rows come next, not further results.
    if (got == PGRES_COPY_IN || got == PGRES_COPY_OUT || got == PGRES_COPY_BOTH) return next;
    // As PQexec: the last result, but an error is never replaced.
    const ExecStatusType st = kept ? PQresultStatus(kept.get()) : PGRES_COMMAND_OK;
    if (st != PGRES_FATAL_ERROR) kept = std::move(next);
  }
  return kept;
}

}  // namespace

PgResultPtr PgSession::Exec(const std::string& sql) {
  if (!conn_) return nullptr;
  if (while_waiting_) return ExecServed(conn_.get(), sql, while_waiting_);
  return PgResultPtr(
      PQexecParams(conn_.get(), sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
}

Result<PgResultPtr> PgSession::Run(const std::string& sql) {
  if (!conn_) return PgClosedError();
  PgResultPtr r = Exec(sql);
  const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK || st == PGRES_EMPTY_QUERY) return r;
  return PgError(conn_.get(), r.get());
}

Status PgSession::RunCommand(const std::string& sql) {
  Result<PgResultPtr> r = Run(sql);
  return r.ok() ? Status::Ok() : r.status();
}

}  // namespace corvane
