// PostgreSQL over libpq.
//
// A query streams: it runs as a cursor inside a REPEATABLE READ transaction,
// whose one snapshot serves both a count(*) of the same query (so
// RecordCount is exact before the first row) and the cursor, fetched in
// chunks (so memory stays flat whatever the table's size). Single-row mode
// would stream too, but could not give the count of the very rows it
// returns. The transaction ends (COMMIT) as soon as the last chunk has
// arrived or the set is closed, so nothing lingers to change later
// statements. The price is that the query runs twice on the server.
// Statements that are not queries run directly, each on its own.
#include <charconv>

#include "connection/drivers.h"
#include "connection/pg_session.h"
#include "connection/pg_statement_scan.h"
#include "connection/pg_value_text.h"

namespace corvane {
namespace {

constexpr int kChunkRows = 1000;
constexpr const char* kCursor = "corvane_rows";
constexpr const char* kCopyOpenMessage =
    "A copy of rows on this connection is still open; end it first.";
constexpr const char* kNoRowMessage =
    "Either BOF or EOF is True, or the current record has been deleted.";

bool IsQueryWord(const std::string& w) {
  return w == "SELECT" || w == "WITH" || w == "VALUES" || w == "TABLE";
}

class PgRecordSet : public RecordSet {
 public:
  // Rows already at hand (a command's RETURNING, SHOW, EXPLAIN ...).
  explicit PgRecordSet(PgResultPtr rows) : count_(PQntuples(rows.get())) {
    TakeChunk(std::move(rows));
  }
  // Rows of an open cursor; `first` is its first chunk.
  PgRecordSet(std::shared_ptr<PgSession> session, bool own_transaction, int64_t count,
              PgResultPtr first)
      : session_(std::move(session)), own_transaction_(own_transaction), count_(count) {
    session_->streaming = true;
    cursor_open_ = true;
    TakeChunk(std::move(first));
  }
  ~PgRecordSet() override { Close(); }

  int64_t RecordCount() const override { return count_; }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int index) const override { return names_.at(index); }
  int FieldType(int index) const override { return PgTypeCode(oids_.at(index)); }
  const Value& FieldValue(int index) const override { return values_.at(index); }
  void TakeFieldValue(int index, Value& out) override { out.Swap(values_.at(index)); }
  bool Eof() const override { return row_ >= rows_; }

  Status MoveNext() override {
    if (Eof()) return Status::InvalidArgument(kNoRowMessage);
    if (++row_ < rows_) {
      LoadRow();
      return Status::Ok();
    }
    if (!cursor_open_) return Status::Ok();
    return FetchChunk();
  }

  void Close() override {
    if (cursor_open_) (void)EndCursor(Status::Ok());
    row_ = rows_ = 0;
    chunk_.reset();
  }

 private:
  void TakeChunk(PgResultPtr chunk) {
    chunk_ = std::move(chunk);
    rows_ = PQntuples(chunk_.get());
    row_ = 0;
    if (names_.empty()) {
      for (int i = 0; i < PQnfields(chunk_.get()); ++i) {
        names_.emplace_back(PQfname(chunk_.get(), i));
        oids_.push_back(PQftype(chunk_.get(), i));
      }
      values_.resize(names_.size());
    }
    if (cursor_open_ && rows_ < kChunkRows) (void)EndCursor(Status::Ok());
    if (rows_ > 0) LoadRow();
  }

  void LoadRow() {
    for (int i = 0; i < static_cast<int>(values_.size()); ++i) {
      if (PQgetisnull(chunk_.get(), row_, i)) {
        values_[i].SetNull();
        continue;
      }
      std::string_view raw(PQgetvalue(chunk_.get(), row_, i), PQgetlength(chunk_.get(), row_, i));
      PgValueText(oids_[i], raw, scratch_);
      values_[i].TakeText(scratch_);
    }
  }

  Status FetchChunk() {
    Result<PgResultPtr> next =
        session_->Run("FETCH FORWARD " + std::to_string(kChunkRows) + " FROM " + kCursor);
    if (!next.ok()) return EndCursor(next.status());
    TakeChunk(std::move(next).value());
    return Status::Ok();
  }

  // Closes the cursor and ends our transaction: COMMIT after success (what a
  // query did is kept, as with autocommit), ROLLBACK after a failure.
  Status EndCursor(Status why) {
    cursor_open_ = false;
    session_->streaming = false;
    if (!session_->conn()) return why.ok() ? PgClosedError() : why;
    if (!own_transaction_) {
      if (why.ok()) (void)session_->RunCommand(std::string("CLOSE ") + kCursor);
      return why;
    }
    (void)session_->RunCommand(why.ok() ? "COMMIT" : "ROLLBACK");
    return why;
  }

  std::shared_ptr<PgSession> session_;
  bool own_transaction_ = false;
  bool cursor_open_ = false;
  int64_t count_ = 0;
  PgResultPtr chunk_;
  int rows_ = 0;
  int row_ = 0;
  std::vector<std::string> names_;
  std::vector<unsigned int> oids_;
  std::vector<Value> values_;
  std::string scratch_;
};

class PostgresDriver : public Driver {
 public:
  explicit PostgresDriver(std::shared_ptr<PgSession> session) : session_(std::move(session)) {}
  ~PostgresDriver() override { Close(); }

  Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql) override {
    if (!session_->conn()) return PgClosedError();
    const StatementScan scan = ScanStatement(sql);
    if (!scan.single) {
      return Status::InvalidArgument(
          "The statement text holds more than one statement; only one may run at a time.");
    }
    if (session_->streaming) {
      return Status::InvalidArgument(
          "The rows of an earlier query on this connection are still being read; close that "
          "record set first.");
    }
    if (session_->copying) return Status::InvalidArgument(kCopyOpenMessage);
    if (IsQueryWord(scan.first_word)) {
      bool not_a_cursor = false;
      auto streamed = OpenCursor(std::string(scan.body), not_a_cursor);
      if (!not_a_cursor) return streamed;
    }
    Result<PgResultPtr> r = session_->Run(sql);
    if (!r.ok()) return r.status();
    if (PQresultStatus(r.value().get()) != PGRES_TUPLES_OK) return EmptyRecordSet();
    return std::unique_ptr<RecordSet>(new PgRecordSet(std::move(r).value()));
  }

  std::vector<Status> ExecuteEach(const std::vector<std::string>& statements) override {
    if (session_->streaming) {
      return std::vector<Status>(
          statements.size(),
          Status::InvalidArgument("The rows of an earlier query on this connection are still "
                                  "being read; close that record set first."));
    }
    if (session_->copying) {
      return std::vector<Status>(statements.size(), Status::InvalidArgument(kCopyOpenMessage));
    }
    return PgExecuteEach(*session_, statements);
  }

  Result<std::unique_ptr<RowCopy>> BeginCopy(const std::string& quoted_table, int column_count,
                                             CopyEmpty empty) override {
    return PgBeginCopy(session_, quoted_table, column_count, empty);
  }

  void Close() override { session_->Finish(); }

 private:
  Result<std::unique_ptr<RecordSet>> OpenCursor(const std::string& body, bool& not_a_cursor);
  Result<int64_t> CountRows(const std::string& body);
  Status Abandon(bool own_transaction, Status why) {
    if (own_transaction) (void)session_->RunCommand("ROLLBACK");
    return why;
  }

  std::shared_ptr<PgSession> session_;
};

Result<int64_t> PostgresDriver::CountRows(const std::string& body) {
  // The newlines keep a trailing "--" comment of the query from eating ")".
  Result<PgResultPtr> r = session_->Run("SELECT count(*) FROM (\n" + body + "\n) AS corvane_count");
  if (!r.ok()) return r.status();
  const PGresult* res = r.value().get();
  if (PQntuples(res) != 1) return Status::Internal("count(*) returned no row");
  const char* text = PQgetvalue(res, 0, 0);
  int64_t n = 0;
  std::from_chars(text, text + PQgetlength(res, 0, 0), n);
  return n;
}

// `not_a_cursor` is set when the server will not run this text as a cursor
// (SELECT INTO gives 42601, a data-modifying WITH 0A000): the caller then
// runs it directly, which also reports a plain syntax error as written.
Result<std::unique_ptr<RecordSet>> PostgresDriver::OpenCursor(const std::string& body,
                                                              bool& not_a_cursor) {
  const bool own = PQtransactionStatus(session_->conn()) == PQTRANS_IDLE;
  if (own) CORVANE_RETURN_IF_ERROR(session_->RunCommand("BEGIN ISOLATION LEVEL REPEATABLE READ"));
  Status declared =
      session_->RunCommand(std::string("DECLARE ") + kCursor + " NO SCROLL CURSOR FOR " + body);
  if (!declared.ok()) {
    not_a_cursor = own && (declared.sqlstate() == "0A000" || declared.sqlstate() == "42601");
    return Abandon(own, declared);
  }
  Result<int64_t> count = CountRows(body);
  if (!count.ok()) return Abandon(own, count.status());
  Result<PgResultPtr> first =
      session_->Run("FETCH FORWARD " + std::to_string(kChunkRows) + " FROM " + kCursor);
  if (!first.ok()) return Abandon(own, first.status());
  return std::unique_ptr<RecordSet>(
      new PgRecordSet(session_, own, count.value(), std::move(first).value()));
}

}  // namespace

Result<std::unique_ptr<Driver>> OpenPostgresDriver(const ConnectionAttributes& attrs,
                                                   const ConnectionOptions& options) {
  auto session = PgSession::Connect(attrs, options);
  if (!session.ok()) return session.status();
  return std::unique_ptr<Driver>(new PostgresDriver(std::move(session).value()));
}

}  // namespace corvane
