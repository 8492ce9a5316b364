// Data access: Connection, RecordSet and the drivers behind them.
//
// A Connection is created empty, given its properties, then opened with a
// connection string; the string picks the driver:
//   Driver={PostgreSQL Unicode}...            -> PostgreSQL over libpq
//   Driver={Microsoft Paradox Driver (*.db )}... -> a folder of Paradox tables
//   PROVIDER=Microsoft.Jet.OLEDB.4.0;...      -> the staging database (SQLite)
// Every failure is a Status whose message is the description the user sees.
// Execute runs exactly one statement; text holding a second one is refused.
//
// What each driver runs:
//  - PostgreSQL: any one statement. A query streams from a cursor in its own
//    REPEATABLE READ snapshot, ended as soon as the last row has arrived or
//    the set is closed; while a set still has unread rows, other statements
//    on that connection are refused (open a second connection instead).
//    Values in the fixed forms of value.h; server errors carry the server's
//    primary message and SQLSTATE. BeginCopy runs COPY FROM STDIN; the
//    other drivers do not copy in bulk.
//  - Paradox folder (DefaultDir/Dbq): SELECT * FROM "T" (T matched to T.db
//    ignoring case; also bare or in ``/[]) and DROP TABLE `T` (the table
//    with its companion files); anything else is refused.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "connection/value.h"

namespace corvane {

struct ConnectionOptions {
  int command_timeout_s = 30;  // 0 = none
  int connection_timeout_s = 15;
  // Staging database: the code page of the Paradox tables it exports, as
  // the setting reads ("" or "auto": chosen by each table's text).
  std::string export_code_page;
  // Paradox folder: a table whose .mb is missing is read with the values
  // kept there as nulls, instead of failing (RecordSet::ValuesMadeNull).
  bool missing_blobs_as_null = false;
  // Called about every 20 ms while Open waits for a resource another
  // process holds (the staging database during its transfer); `first` on
  // the first call. Returning false gives up. Unset: wait without a word.
  std::function<bool(bool first)> while_waiting;
  // Called every few milliseconds while the connection keeps its caller
  // waiting (connecting, a statement on the server, an export), so a window
  // can serve its events meanwhile. May be empty.
  std::function<void()> serve;
};

// Rows of one query, streamed: memory does not grow with the row count.
// Positioned on the first row when returned (Eof() when there is none).
class RecordSet {
 public:
  virtual ~RecordSet() = default;
  // Known before the first row is read.
  virtual int64_t RecordCount() const = 0;
  virtual int FieldCount() const = 0;
  virtual const std::string& FieldName(int index) const = 0;
  virtual int FieldType(int index) const = 0;  // type_code
  // Value of column `index` in the current row. Precondition: !Eof().
  virtual const Value& FieldValue(int index) const = 0;
  // Moves the value of column `index` of the current row into `out` (which
  // may be reused storage); FieldValue(index) is unspecified afterwards
  // until MoveNext. Large values then pass without a copy.
  virtual void TakeFieldValue(int index, Value& out) { out = FieldValue(index); }
  virtual bool Eof() const = 0;
  // Moves to the next row; a failure to read it is an error.
  virtual Status MoveNext() = 0;
  // Not ok when the current row could not be read (a damaged record): its
  // values are all null and MoveNext goes on with the row after it. The
  // same error was returned by the MoveNext that reached it; for the first
  // row Execute succeeds and only this tells.
  virtual Status CurrentRowStatus() const { return Status::Ok(); }
  // Not ok when the rows can be read but the source itself says it holds a
  // different number (a Paradox header whose record count its data blocks
  // do not match): RecordCount is what can be read, and a copy should tell
  // the user that rows may be missing.
  virtual Status CountStatus() const { return Status::Ok(); }
  // Values the rows so far gave as null only because the source could not
  // hold them (a Paradox table's missing .mb, when the connection asked).
  virtual int64_t ValuesMadeNull() const { return 0; }
  virtual void Close() = 0;
};

// How COPY writes a value that is not null but empty.
enum class CopyEmpty {
  kEmptyText,  // stored as the empty text
  kNull,       // stored as NULL, as the row statement writes it
};

// Rows streamed into one table with COPY ... FROM STDIN, in the table's
// column order. Nothing is stored unless End succeeds; then every row added
// is stored and durable. Destroying an open copy abandons it (nothing
// stored). While a copy is open its connection runs nothing else.
class RowCopy {
 public:
  virtual ~RowCopy() = default;
  // Adds one row of exactly the copy's column count. After the first
  // failure (a row of another width, a lost connection) every later call
  // returns it, and End does too without storing anything.
  virtual Status Add(const std::vector<Value>& row) = 0;
  // Ends the copy; ok when the server stored every row added. The server
  // may still be storing rows sent long before; while it does,
  // `while_waiting` (if set) is called every few milliseconds.
  virtual Status End(const std::function<void()>& while_waiting) = 0;
};

// What became of the rows a driver took from InsertRow to store later.
struct DeferredRows {
  Status failure;          // ok when every row taken is stored
  int64_t lost = 0;        // rows taken but not stored: the failing one and all after it
  std::vector<Value> row;  // the failing one's values
};

// What every connection string's driver implements.
class Driver {
 public:
  virtual ~Driver() = default;
  // Runs one statement. Queries return their rows; other statements an empty
  // record set (RecordCount 0, no fields).
  virtual Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql) = 0;
  // Runs a query whose rows are few (a look-up in the catalog) and reads
  // them at once: no count before, no stream. By default, Execute.
  virtual Result<std::unique_ptr<RecordSet>> LookUp(const std::string& sql) { return Execute(sql); }
  // Runs each statement as if it ran alone with autocommit and returns one
  // Status per statement, in order. A driver may send them together (one
  // transaction, pipelined) but must then replay after a failure so that the
  // rows stored and the statuses equal one-at-a-time execution; all effects
  // are durable when it returns.
  virtual std::vector<Status> ExecuteEach(const std::vector<std::string>& statements);
  virtual void Close() = 0;
};

// A driver that copies rows in bulk (PostgreSQL).
class CopyingDriver : public Driver {
 public:
  // Starts COPY into `quoted_table` (one identifier in double quotes, inner
  // quotes doubled; anything else is refused) of `column_count` columns;
  // see RowCopy.
  virtual Result<std::unique_ptr<RowCopy>> BeginCopy(const std::string& quoted_table,
                                                     int column_count, CopyEmpty empty) = 0;
};

// A driver that takes rows as values and lists its tables (the staging
// database).
class RowTakingDriver : public Driver {
 public:
  // Runs the statement INSERT INTO `table` VALUES(...) of these values (a
  // null or empty one as NULL) without its text being built and read back:
  // the same effect and the same failure as Execute of that text. The
  // driver may take a row once it is checked and store it later: a row
  // that cannot be stored then fails every later InsertRow (taking nothing)
  // and FinishRows tells which it was.
  virtual Status InsertRow(const std::string& table, const std::vector<Value>& values) = 0;
  // Waits until every row InsertRow took is stored, or one failed.
  virtual DeferredRows FinishRows() = 0;
  // The table list: columns TABLE_TYPE and TABLE_NAME.
  virtual Result<std::unique_ptr<RecordSet>> OpenSchemaTables() = 0;
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  ConnectionOptions& options() { return options_; }
  Status Open(const std::string& connection_string);
  bool is_open() const { return driver_ != nullptr; }
  Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql);
  // See Driver::LookUp.
  Result<std::unique_ptr<RecordSet>> LookUp(const std::string& sql);
  // See Driver::ExecuteEach. On a closed connection every statement fails.
  std::vector<Status> ExecuteEach(const std::vector<std::string>& statements);
  // See CopyingDriver::BeginCopy; refused by the other drivers. The copy
  // must not outlive the connection.
  Result<std::unique_ptr<RowCopy>> BeginCopy(const std::string& quoted_table, int column_count,
                                             CopyEmpty empty);
  // Copies `rows` whole or not at all: one BeginCopy, Add per row, End.
  Status CopyRows(const std::string& quoted_table, int column_count,
                  std::span<const std::vector<Value>> rows, CopyEmpty empty);
  // See RowTakingDriver::InsertRow; refused by the other drivers. On a
  // closed connection it fails as Execute does.
  Status InsertRow(const std::string& table, const std::vector<Value>& values);
  // See RowTakingDriver::FinishRows; nothing deferred on the other drivers.
  DeferredRows FinishRows();
  // OpenSchema(20): the tables of the database (the staging database's).
  Result<std::unique_ptr<RecordSet>> OpenSchema(int schema);
  void Close();

  // The driver itself, for a caller that needs more than statements.
  Driver* driver() const { return driver_.get(); }

 private:
  ConnectionOptions options_;
  std::unique_ptr<Driver> driver_;
};

// A record set over rows held in memory (schema lists, statements without rows).
std::unique_ptr<RecordSet> EmptyRecordSet();

}  // namespace corvane
