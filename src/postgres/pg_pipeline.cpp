// Many statements, stored exactly as if each ran alone with autocommit,
// without a network round trip per statement.
//
// Outline: a run of statements is sent in one pipeline as
// BEGIN; s1; ...; sn; COMMIT; Sync. If every one succeeds the COMMIT makes
// them durable together. If statement k fails the server skips the rest and
// the transaction rolls back, so nothing of the run is stored; the run is
// then replayed so that the end state is that of one-at-a-time execution:
// s1..s(k-1) again as a run, sk alone (its own status), then s(k+1)..sn as a
// new run. A lost connection leaves the uncommitted run unstored, and each
// of its statements reports the loss.
#include <poll.h>

#include <cerrno>

#include "postgres/pg_session.h"
#include "postgres/pg_statement_scan.h"

namespace corvane {
namespace {

constexpr int kPollMs = 10;  // between servings of a waiting caller

enum class Outcome { kCommitted, kStatementFailed, kCommitFailed, kLost };

struct RunResult {
  Outcome outcome = Outcome::kCommitted;
  size_t failed = 0;  // index of the failing statement (kStatementFailed)
  Status status;      // the failure (kLost, kCommitFailed)
};

Status Refusal() {
  return Status::InvalidArgument(
      "The statement text holds more than one statement; only one may run at a time.");
}

// Sends what libpq has queued without blocking, reading the server's answers
// meanwhile so neither side stalls on a full socket buffer.
// While waiting, `serve` is called between short polls.
bool Drain(PGconn* c, bool wait, const std::function<void()>& serve) {
  for (;;) {
    const int r = PQflush(c);
    if (r == 0) return true;
    if (r < 0) return false;
    pollfd p{PQsocket(c), static_cast<short>(POLLIN | POLLOUT), 0};
    if (poll(&p, 1, wait ? kPollMs : 0) < 0 && errno != EINTR) return false;
    if ((p.revents & POLLIN) && !PQconsumeInput(c)) return false;
    if (!wait && !(p.revents & POLLOUT)) return true;
    if (serve) serve();
  }
}

bool Send(PGconn* c, const std::string& sql) {
  return PQsendQueryParams(c, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
         Drain(c, false, nullptr);
}

bool SendRun(PGconn* c, const std::vector<std::string>& st, size_t begin, size_t end,
             const std::function<void()>& serve) {
  if (!Send(c, "BEGIN")) return false;
  for (size_t i = begin; i < end; ++i) {
    if (!Send(c, st[i])) return false;
  }
  return Send(c, "COMMIT") && PQpipelineSync(c) == 1 && Drain(c, true, serve);
}

// The result of the next query in the pipeline, its trailing null consumed.
// A sync point is not followed by a null.
PgResultPtr NextResult(PGconn* c, const std::function<void()>& serve) {
  if (!PgAwaitResult(c, serve)) return nullptr;
  PgResultPtr first(PQgetResult(c));
  if (!first || PQresultStatus(first.get()) == PGRES_PIPELINE_SYNC) return first;
  while (PgResultPtr more{PQgetResult(c)}) {
  }
  return first;
}

bool Succeeded(const PGresult* r) {
  const ExecStatusType s = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_EMPTY_QUERY;
}

// Reads BEGIN, the statements, COMMIT and the sync point, in that order.
RunResult ReadRun(PGconn* c, size_t begin, size_t end, const std::function<void()>& serve) {
  RunResult out;
  bool failed = false;
  // i == begin is BEGIN, begin < i <= end statement i - 1, end + 1 COMMIT.
  for (size_t i = begin; i <= end + 1; ++i) {
    PgResultPtr r = NextResult(c, serve);
    if (!r || PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC || PQstatus(c) == CONNECTION_BAD) {
      // The server's own reason (a terminated backend) beats libpq's.
      return {Outcome::kLost, 0, failed ? out.status : PgError(c, r.get())};
    }
    if (PQresultStatus(r.get()) == PGRES_PIPELINE_ABORTED || Succeeded(r.get())) continue;
    if (!failed) {
      failed = true;
      const bool is_statement = i > begin && i <= end;
      out = is_statement ? RunResult{Outcome::kStatementFailed, i - 1, PgError(c, r.get())}
                         : RunResult{Outcome::kCommitFailed, 0, PgError(c, r.get())};
    }
  }
  // The COMMIT has answered: what it did stands even if the sync goes astray.
  PgResultPtr sync = NextResult(c, serve);
  const bool synced = sync && PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC;
  if (!synced && failed) return {Outcome::kLost, 0, out.status};
  return out;
}

RunResult RunPipelined(PgSession& s, const std::vector<std::string>& st, size_t begin, size_t end) {
  PGconn* c = s.conn();
  if (PQenterPipelineMode(c) != 1) return {Outcome::kLost, 0, PgError(c, nullptr)};
  PQsetnonblocking(c, 1);
  const bool sent = SendRun(c, st, begin, end, s.while_waiting());
  PQsetnonblocking(c, 0);
  RunResult out = sent ? ReadRun(c, begin, end, s.while_waiting())
                       : RunResult{Outcome::kLost, 0, PgError(c, nullptr)};
  if (PQexitPipelineMode(c) != 1 || out.outcome == Outcome::kLost) {
    // Unread results leave the connection unusable for single statements:
    // close it, so later statements fail plainly rather than oddly. A run
    // that committed stays stored; any other is gone with the connection.
    s.Finish();
    if (out.outcome != Outcome::kCommitted) out.outcome = Outcome::kLost;
    return out;
  }
  if (PQtransactionStatus(c) != PQTRANS_IDLE) (void)s.RunCommand("ROLLBACK");
  return out;
}

Status RunAlone(PgSession& s, const std::string& sql) {
  if (!ScanStatement(sql).single) return Refusal();
  return s.RunCommand(sql);
}

// Pipelining needs a connection of our own: idle, outside any transaction.
bool CanPipeline(PgSession& s) {
  return s.conn() && !s.streaming && PQstatus(s.conn()) == CONNECTION_OK &&
         PQtransactionStatus(s.conn()) == PQTRANS_IDLE;
}

void RunRange(PgSession& s, const std::vector<std::string>& st, size_t begin, size_t end,
              std::vector<Status>& out);

// One run of sendable statements [begin, end); returns where to go on.
size_t RunOnce(PgSession& s, const std::vector<std::string>& st, size_t begin, size_t end,
               std::vector<Status>& out) {
  RunResult r = RunPipelined(s, st, begin, end);
  switch (r.outcome) {
    case Outcome::kCommitted:
      for (size_t i = begin; i < end; ++i) out[i] = Status::Ok();
      return end;
    case Outcome::kStatementFailed:
      if (r.failed > begin) RunRange(s, st, begin, r.failed, out);
      out[r.failed] = RunAlone(s, st[r.failed]);
      return r.failed + 1;
    case Outcome::kCommitFailed:  // no statement to blame: one at a time
      for (size_t i = begin; i < end; ++i) out[i] = RunAlone(s, st[i]);
      return end;
    case Outcome::kLost:
      for (size_t i = begin; i < end; ++i) out[i] = r.status;
      return end;
  }
  return end;
}

void RunRange(PgSession& s, const std::vector<std::string>& st, size_t begin, size_t end,
              std::vector<Status>& out) {
  while (begin < end) {
    if (!s.conn()) {
      out[begin++] = PgClosedError();
      continue;
    }
    size_t stop = begin;
    while (stop < end && ScanStatement(st[stop]).single) ++stop;
    if (stop == begin) {
      out[begin++] = Refusal();
    } else if (stop - begin == 1 || !CanPipeline(s)) {
      out[begin] = RunAlone(s, st[begin]);
      ++begin;
    } else {
      begin = RunOnce(s, st, begin, stop, out);
    }
  }
}

}  // namespace

std::vector<Status> PgExecuteEach(PgSession& session, const std::vector<std::string>& statements) {
  std::vector<Status> out(statements.size());
  RunRange(session, statements, 0, statements.size(), out);
  return out;
}

}  // namespace corvane
