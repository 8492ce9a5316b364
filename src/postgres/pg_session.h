// One libpq connection with the session settings every Corvane connection
// uses, the RAII owners of libpq handles, and the error mapping.
#pragma once

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/drivers.h"

namespace corvane {

struct PgConnCloser {
  void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultClearer {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgConnCloser>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultClearer>;

// The error of a failed result as the user should read it: the server's
// primary message with its SQLSTATE, or libpq's own text (lost connection,
// protocol trouble) when the server sent none. A connection libpq has
// given up on carries 08006 when the server said nothing, so
// IsConnectionLost tells it from a refused statement.
Status PgError(PGconn* conn, const PGresult* result);

// Waits until libpq can hand out a result without blocking, calling
// `while_waiting` (if set) between short polls of the socket; false when the
// connection failed meanwhile (PQerrorMessage says why).
bool PgAwaitResult(PGconn* conn, const std::function<void()>& while_waiting);
// One short wait for input from the server, then `while_waiting` (if set);
// false when the connection failed.
bool PgAwaitInput(PGconn* conn, const std::function<void()>& while_waiting);
// The error of a statement on a connection that is closed (08003).
Status PgClosedError();

// The keywords and values one connection is opened with: the login of
// the connection string (Server, Port, Uid, Pwd, Database, and libpq
// keywords it carries), the time-out of `options` unless libpq's
// environment sets one, PGOPTIONS or given options followed by the fixed
// session settings, and "Corvane" as the application name unless PGAPPNAME
// or a given one names it. Empty values leave a keyword to libpq's
// environment and defaults.
struct PgConnectParams {
  std::vector<std::pair<std::string, std::string>> params;
  int timeout_s = 0;  // 0: none
  // Connects; served by `serve` while waiting when it is set. Never null
  // but out of memory; PQstatus tells whether it worked.
  PgConnPtr Open(const std::function<void()>& serve, bool& timed_out) const;
};
PgConnectParams PgConnectParamsFor(const ConnectionAttributes& attrs,
                                   const ConnectionOptions& options);

// Shared by a driver and the record sets it hands out, so a set that
// outlives its connection's Close fails cleanly instead of touching a freed
// handle.
class PgSession {
 public:
  // Opens the connection with PgConnectParamsFor(attrs, options).
  static Result<std::shared_ptr<PgSession>> Connect(const ConnectionAttributes& attrs,
                                                    const ConnectionOptions& options);
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  // Null after Finish.
  PGconn* conn() const { return conn_.get(); }
  // Runs one statement over the extended protocol, which on its own refuses
  // text holding two statements. Ok for a command or a query; the result
  // holds the rows of a query.
  Result<PgResultPtr> Run(const std::string& sql);
  // As PQexecParams without parameters, the waiting caller served: the
  // result whatever its status (a COPY's too); null when the connection failed.
  PgResultPtr Exec(const std::string& sql);
  // Runs a statement of our own whose result does not matter beyond success.
  Status RunCommand(const std::string& sql);
  void Finish() {
    if (before_finish) before_finish();
    conn_.reset();
  }
  // Served while this session waits for the server; may be empty.
  const std::function<void()>& while_waiting() const { return while_waiting_; }

  // Set while a record set streams rows from a cursor in an open transaction.
  bool streaming = false;
  // Set while a record set reads the connection on a thread of its own:
  // Finish calls it first, so that thread is done before the connection goes.
  std::function<void()> before_finish;
  // Set while a COPY FROM STDIN is open: the connection takes nothing else.
  bool copying = false;

 private:
  PgSession(PgConnPtr conn, std::function<void()> while_waiting)
      : conn_(std::move(conn)), while_waiting_(std::move(while_waiting)) {}
  PgConnPtr conn_;
  std::function<void()> while_waiting_;
};

// Runs each statement as if alone with autocommit (Driver::ExecuteEach).
std::vector<Status> PgExecuteEach(PgSession& session, const std::vector<std::string>& statements);

// Starts COPY quoted_table FROM STDIN (Driver::BeginCopy).
Result<std::unique_ptr<RowCopy>> PgBeginCopy(std::shared_ptr<PgSession> session,
                                             const std::string& quoted_table, int column_count,
                                             CopyEmpty empty);

}  // namespace corvane
