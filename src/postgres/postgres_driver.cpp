// PostgreSQL over libpq.
//
// A query streams: it runs inside a REPEATABLE READ transaction, whose one
// snapshot serves both a count(*) of the same query (so RecordCount is exact
// before the first row) and the rows. The rows come from COPY (query) TO
// STDOUT, which the server sends without waiting to be asked for each chunk,
// so it produces rows while we store the ones before; memory stays flat
// because libpq hands them over one at a time. The query is first declared
// as a cursor, which checks that it is one the server can stream and tells
// the columns' names and types; where COPY refuses a query the cursor is
// read in chunks instead. Single-row mode would stream too, but could not
// give the count of the very rows it returns. The transaction ends (COMMIT)
// as soon as the last row has arrived or the set is closed, so nothing
// lingers to change later statements. The price is that the query runs
// twice on the server.
// Statements that are not queries run directly, each on its own.
#include <atomic>
#include <charconv>
#include <optional>
#include <thread>

#include "base/row_batches.h"
#include "connection/drivers.h"
#include "postgres/pg_copy_text.h"
#include "postgres/pg_session.h"
#include "postgres/pg_statement_scan.h"
#include "postgres/pg_value_text.h"

namespace corvane {
namespace {

constexpr int kChunkRows = 1000;
constexpr const char* kCursor = "corvane_rows";
constexpr const char* kSavepoint = "corvane_copy";
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

// Rows of COPY (query) TO STDOUT. A thread of the set's own reads them from
// the connection and turns them into value texts, a few batches ahead, while
// the caller works on the rows before; it is the only user of the connection
// until it has ended. A savepoint taken before the COPY lets a failed or
// abandoned copy leave the transaction (and the caller's, if the query ran
// in one) usable.
class PgCopyRecordSet : public RecordSet {
 public:
  // `binary`: the copy is in the binary format, every column but a bytea
  // one sent as its value text (see BinaryCopyQuery).
  PgCopyRecordSet(std::shared_ptr<PgSession> session, bool own_transaction, int64_t count,
                  const PGresult* description, bool binary)
      : session_(std::move(session)),
        own_transaction_(own_transaction),
        binary_(binary),
        count_(count) {
    for (int i = 0; i < PQnfields(description); ++i) {
      names_.emplace_back(PQfname(description, i));
      oids_.push_back(PQftype(description, i));
    }
    values_.resize(names_.size());
    session_->streaming = true;
    copying_ = true;
    // Closing the connection under the set first stops the reader.
    session_->before_finish = [this] { StopReader(); };
    reader_ = std::thread([this, conn = session_->conn()] { ReadAll(conn); });
  }
  ~PgCopyRecordSet() override { Close(); }

  // Reads the first row; not ok when the copy failed before it.
  Status Start() { return NextRow(); }

  int64_t RecordCount() const override { return count_; }
  int FieldCount() const override { return static_cast<int>(names_.size()); }
  const std::string& FieldName(int index) const override { return names_.at(index); }
  int FieldType(int index) const override { return PgTypeCode(oids_.at(index)); }
  const Value& FieldValue(int index) const override { return values_.at(index); }
  void TakeFieldValue(int index, Value& out) override { out.Swap(values_.at(index)); }
  bool Eof() const override { return !has_row_; }

  Status MoveNext() override {
    if (Eof()) return Status::InvalidArgument(kNoRowMessage);
    return NextRow();
  }

  void Close() override {
    has_row_ = false;
    if (!copying_) return;
    StopReader();
    // What the reader left unread goes, so the connection is ready for the
    // next statement.
    if (PGconn* conn = session_->conn(); conn && !copy_ended_) {
      char* buf = nullptr;
      while (PQgetCopyData(conn, &buf, 0) > 0) PQfreemem(buf);
      while (PGresult* r = PQgetResult(conn)) PQclear(r);
    }
    (void)EndCopy(Status::Ok(), /*abandoned=*/true);
  }

 private:
  // The reader thread: rows into batches until the copy ends or the set
  // wants no more.
  void ReadAll(PGconn* conn) {
    const size_t columns = names_.size();
    CopyRow row;  // decodes each row in libpq's buffer of it
    std::string text;
    bool trailer = false;
    std::optional<RowBatch> batch = pipe_.Empty(columns);
    while (batch) {
      char* buf = nullptr;
      const int n = PQgetCopyData(conn, &buf, 0);
      if (n <= 0) {
        // -1: the copy is over and its result says how it went; -2: failure.
        Status outcome = n == -2 ? PgError(conn, nullptr) : Status::Ok();
        while (PGresult* r = PQgetResult(conn)) {
          if (outcome.ok() && PQresultStatus(r) != PGRES_COMMAND_OK) outcome = PgError(conn, r);
          PQclear(r);
        }
        outcome_ = outcome;
        copy_ended_ = true;
        break;
      }
      const bool whole = binary_ ? row.DecodeBinary(buf, static_cast<size_t>(n), columns, trailer)
                                 : row.Decode(buf, static_cast<size_t>(n), columns);
      if (whole && trailer) {
        PQfreemem(buf);
        continue;
      }
      for (size_t i = 0; whole && i < columns; ++i) {
        if (row.is_null(i)) {
          batch->Add(std::string_view(), true);
        } else if (binary_ && oids_[i] == kPgByteaOid) {
          if (row.field(i).size() >= RowBatch::kLargeValue) {
            batch->AddBytes(row.TakeField(i));  // its bytes: half its hex
          } else if (2 * row.field(i).size() >= RowBatch::kLargeValue) {
            batch->Add(row.TakeFieldAsHex(i));  // never whole beside its hex
          } else {
            PgByteaText(row.field(i), text);
            batch->Add(text, false);
          }
        } else if (!PgValueTextIsServerText(oids_[i], row.field(i))) {
          PgValueText(oids_[i], row.field(i), text);
          batch->Add(text, false);
        } else if (row.field(i).size() >= RowBatch::kLargeValue) {
          batch->Add(row.TakeField(i));  // handed on whole, never resident twice
        } else {
          batch->Add(row.field(i), false);
        }
      }
      PQfreemem(buf);
      if (!whole) {
        outcome_ = Status::Database("The server sent a row that does not have " +
                                    std::to_string(columns) + " columns.");
        break;  // the rest is read and dropped by Close
      }
      if (BatchPipe::IsFull(*batch)) {
        pipe_.Send(std::move(*batch));
        batch = pipe_.Empty(columns);
      }
    }
    if (batch && batch->rows() > 0) pipe_.Send(std::move(*batch));
    pipe_.Finish();
  }

  // Ends the reader: the server is asked to stop sending unless it is done.
  void StopReader() {
    if (!reader_.joinable()) return;
    if (PGconn* conn = session_->conn(); conn && !copy_ended_) {
      if (PGcancel* cancel = PQgetCancel(conn)) {
        char err[256];
        (void)PQcancel(cancel, err, sizeof err);
        PQfreeCancel(cancel);
      }
    }
    pipe_.Cancel();
    reader_.join();
    session_->before_finish = nullptr;
  }

  Status NextRow() {
    has_row_ = false;
    if (!copying_) return Status::Ok();
    if (!batch_ || ++row_ >= batch_->rows()) {
      if (batch_) pipe_.Recycle(std::move(*batch_));
      batch_ = pipe_.Next(session_->while_waiting());
      row_ = 0;
      if (!batch_) return Ended();
    }
    for (size_t i = 0; i < values_.size(); ++i) {
      if (batch_->is_null(row_, i)) {
        values_[i].SetNull();
      } else {
        const std::string_view text = batch_->text(row_, i);
        if (text.size() < RowBatch::kLargeValue) {
          values_[i].SetText(text);
          continue;
        }
        std::string whole;
        const bool bytes = batch_->is_bytes(row_, i);
        batch_->Take(row_, i, whole);
        if (bytes) {
          values_[i].TakeBytes(whole);
        } else {
          values_[i].TakeText(whole);
        }
      }
    }
    has_row_ = true;
    return Status::Ok();
  }

  // Every row the reader sent has been taken.
  Status Ended() {
    if (reader_.joinable()) reader_.join();
    session_->before_finish = nullptr;
    if (!session_->conn()) return EndCopy(PgClosedError());
    if (!copy_ended_) return Close(), outcome_;
    return EndCopy(outcome_);
  }

  // Leaves the savepoint and ends the cursor and, if it is ours, the
  // transaction: COMMIT after success (what the query did is kept, as with
  // autocommit), ROLLBACK after a failure. An abandoned copy is rolled back
  // to the savepoint first. A cancel sent just as the copy ended may still
  // stop the next statement, which is then run again.
  Status EndCopy(Status why, bool abandoned = false) {
    copying_ = false;
    session_->streaming = false;
    if (!session_->conn()) return why.ok() ? PgClosedError() : why;
    auto run = [&](const std::string& sql) {
      Status s = session_->RunCommand(sql);
      if (!s.ok() && s.fault() == SqlFault::kCanceled) s = session_->RunCommand(sql);
      return s;
    };
    if (abandoned) (void)run(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint);
    if (own_transaction_) {
      (void)run(why.ok() ? "COMMIT" : "ROLLBACK");
      return why;
    }
    if (!abandoned) {
      (void)run(std::string(why.ok() ? "RELEASE SAVEPOINT " : "ROLLBACK TO SAVEPOINT ") +
                kSavepoint);
    }
    (void)run(std::string("CLOSE ") + kCursor);
    return why;
  }

  std::shared_ptr<PgSession> session_;
  bool own_transaction_ = false;
  bool binary_ = false;
  bool copying_ = false;
  bool has_row_ = false;
  int64_t count_ = 0;
  std::vector<std::string> names_;
  std::vector<unsigned int> oids_;
  std::vector<Value> values_;
  BatchPipe pipe_;
  std::optional<RowBatch> batch_;  // the batch of the current row
  size_t row_ = 0;
  std::thread reader_;
  // The reader's; read once it has ended.
  Status outcome_ = Status::Ok();
  std::atomic<bool> copy_ended_ = false;
};

class PostgresDriver : public CopyingDriver {
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

  // One round trip: the rows come whole in the result.
  Result<std::unique_ptr<RecordSet>> LookUp(const std::string& sql) override {
    if (!session_->conn()) return PgClosedError();
    if (session_->streaming || session_->copying) return Execute(sql);  // says why not
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
  Result<std::unique_ptr<RecordSet>> StartCopy(const std::string& body, bool own, int64_t count,
                                               bool& refused);
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
    not_a_cursor = own && (declared.fault() == SqlFault::kNotSupported ||
                           declared.fault() == SqlFault::kSyntax);
    return Abandon(own, declared);
  }
  Result<int64_t> count = CountRows(body);
  if (!count.ok()) return Abandon(own, count.status());
  bool refused = false;
  auto copied = StartCopy(body, own, count.value(), refused);
  if (!refused) return copied;
  Result<PgResultPtr> first =
      session_->Run("FETCH FORWARD " + std::to_string(kChunkRows) + " FROM " + kCursor);
  if (!first.ok()) return Abandon(own, first.status());
  return std::unique_ptr<RecordSet>(
      new PgRecordSet(session_, own, count.value(), std::move(first).value()));
}

// The COPY of a query with a bytea column. Its text form is hex, twice the
// value's size, which libpq would then hold twice; the binary format sends
// the bytes. Every other column is sent as text its own output function
// makes, as the text format would print it (format's %s calls it; a NULL
// stays NULL), so every value arrives exactly as before. Nothing for a
// query without a bytea column.
std::optional<std::string> BinaryCopyQuery(const PGresult* description, const std::string& body) {
  const int n = PQnfields(description);
  bool bytea = false;
  std::string names, columns;
  for (int i = 0; i < n; ++i) {
    const std::string c = "c" + std::to_string(i + 1);
    names += (i > 0 ? ", " : "") + c;
    const bool raw = PQftype(description, i) == kPgByteaOid;
    bytea = bytea || raw;
    columns += (i > 0 ? ", " : "") +
               (raw ? c : "CASE WHEN num_nulls(" + c + ") = 0 THEN format('%s', " + c + ") END");
  }
  if (!bytea) return std::nullopt;
  return "COPY (SELECT " + columns + " FROM (\n" + body + "\n) AS corvane_copy(" + names +
         ")) TO STDOUT (FORMAT binary)";
}

// COPY of the declared query. `refused` is set, with the transaction as it
// was before, when the server will not copy this query; the cursor is then
// still there to be read.
Result<std::unique_ptr<RecordSet>> PostgresDriver::StartCopy(const std::string& body, bool own,
                                                             int64_t count, bool& refused) {
  PGconn* conn = session_->conn();
  PgResultPtr description(PQdescribePortal(conn, kCursor));
  if (!description || PQresultStatus(description.get()) != PGRES_COMMAND_OK) {
    return Abandon(own, PgError(conn, description.get()));
  }
  Status saved = session_->RunCommand(std::string("SAVEPOINT ") + kSavepoint);
  if (!saved.ok()) return Abandon(own, saved);
  const std::optional<std::string> binary_copy = BinaryCopyQuery(description.get(), body);
  const bool binary = binary_copy.has_value();
  const std::string copy = binary ? *binary_copy : "COPY (\n" + body + "\n) TO STDOUT";
  PgResultPtr started = session_->Exec(copy);
  if (!started || PQresultStatus(started.get()) != PGRES_COPY_OUT) {
    Status why = PgError(conn, started.get());
    started.reset();
    while (PGresult* r = PQgetResult(conn)) PQclear(r);
    Status back = session_->RunCommand(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint);
    if (!back.ok()) return Abandon(own, why);
    refused = true;
    return why;
  }
  auto rows = std::make_unique<PgCopyRecordSet>(session_, own, count, description.get(), binary);
  Status first = rows->Start();
  if (!first.ok()) return first;  // the set has ended the transaction
  return std::unique_ptr<RecordSet>(std::move(rows));
}

}  // namespace

Result<std::unique_ptr<Driver>> OpenPostgresDriver(const ConnectionAttributes& attrs,
                                                   const ConnectionOptions& options) {
  auto session = PgSession::Connect(attrs, options);
  if (!session.ok()) return session.status();
  return std::unique_ptr<Driver>(new PostgresDriver(std::move(session).value()));
}

}  // namespace corvane
