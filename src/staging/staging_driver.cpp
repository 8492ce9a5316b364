// The staging driver: "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=<file>;"
// opens the SQLite file dbtemp.mdb and runs the transfer's statements on it.
//
// Outline: each Execute reads exactly one statement of the accepted shapes
// (staging_statements.h) and carries it out with SQLite statements of our
// own, names quoted the SQLite way and values bound as parameters. Writes
// share one transaction, committed before an export and on close; each
// statement still succeeds or fails on its own, as if run alone.
// Rows handed over as values (InsertRow) into a table created here are
// checked at once and stored by a writer on threads of its own
// (staging_writer.h); every other statement first waits for it.
#include <algorithm>
#include <filesystem>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "base/moved_bytes.h"
#include "base/row_batches.h"
#include "base/served_call.h"
#include "connection/drivers.h"
#include "staging/field_learner.h"
#include "staging/staging_door.h"
#include "staging/staging_db.h"
#include "staging/staging_export.h"
#include "staging/staging_rows.h"
#include "staging/staging_statements.h"
#include "staging/staging_writer.h"

namespace corvane {
namespace {

using staging::ColumnDef;
using staging::QuoteSqliteName;
using staging::Stmt;

constexpr int64_t kMaxFreeBytes = 512 * 1024;
constexpr int64_t kPageSize = 16384;
constexpr const char* kLargePages = "PRAGMA page_size=16384";

// SQLite finds table names ignoring ASCII case; so does the cache.
std::string CacheKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

class StagingDriver : public RowTakingDriver {
 public:
  StagingDriver(std::unique_ptr<staging::StagingDb> db, int code_page)
      : db_(std::move(db)), code_page_(code_page) {}

  Result<staging::ExportResult> Export(const staging::ExportStatement& st) {
    CORVANE_RETURN_IF_ERROR(staging::CheckExport(st));
    Drain();
    export_note_.clear();
    CORVANE_RETURN_IF_ERROR(Run(st));
    return staging::ExportResult{std::exchange(export_note_, std::string())};
  }

  // As the CREATE TABLE text of these columns would: the key places and
  // kept fields go into the columns' declared types, which the export reads.
  Status Create(const std::string& table, const std::vector<staging::StagingColumn>& columns) {
    staging::CreateStatement st{table, {}};
    for (const staging::StagingColumn& c : columns) {
      if (c.name.empty()) break;
      std::string word = staging::ColumnWordText(c);
      if (c.key > 0) word = "KEY" + std::to_string(c.key) + " " + word;
      st.columns.push_back({c.name, std::move(word)});
    }
    if (table.empty() || st.columns.empty() || st.columns.size() != columns.size()) {
      return Status::InvalidArgument("Syntax error in CREATE TABLE statement of the staging database.");
    }
    Drain();
    export_note_.clear();
    return Run(st);
  }

  Result<std::unique_ptr<RecordSet>> Execute(const std::string& sql) override {
    auto parsed = staging::ParseStagingStatement(sql);
    if (!parsed.ok()) return parsed.status();
    Drain();
    export_note_.clear();
    Status s = std::visit([this](const auto& st) { return Run(st); }, parsed.value());
    if (!s.ok()) return s;
    // An export that had to leave something out of the table says so.
    if (!export_note_.empty()) {
      return staging::RowsRecordSet({"NOTE"}, {{Value::Text(std::move(export_note_))}});
    }
    return EmptyRecordSet();
  }

  // The row statement without its text: a name the statement could not
  // hold fails as its text would, a null or empty value is NULL.
  Status InsertRow(const std::string& table, const std::vector<Value>& values) override {
    CORVANE_RETURN_IF_ERROR(staging::CheckInsertTableName(table));
    views_.clear();
    bytes_.clear();
    for (const Value& v : values) {
      // A large binary value goes in as its bytes, not its hex.
      const bool bytes = v.is_bytes() && !v.bytes().empty();
      bytes_.push_back(bytes ? 1 : 0);
      if (bytes) {
        views_.emplace_back(v.bytes());
        continue;
      }
      views_.push_back(v.is_null() || v.text().empty() ? std::nullopt
                                                       : std::optional<std::string_view>(v.text()));
    }
    return InsertValues(table, views_, true);
  }

  DeferredRows FinishRows() override {
    Drain();
    return std::exchange(deferred_, DeferredRows{});
  }

  Result<std::unique_ptr<RecordSet>> OpenSchemaTables() override;

  void Close() override {
    Drain();
    ForgetRowTarget();
    inserts_.clear();
    learned_.clear();
    if (db_) {
      (void)db_->Commit();
      Shrink();
    }
    db_.reset();
  }

 private:
  struct InsertTarget {
    std::vector<ColumnDef> columns;
    std::vector<char> datetime;  // per column: IsDateTimeColumn
    std::vector<char> indexed;   // per column: part of an index (a key)
    Stmt stmt;
  };

  Status Run(const staging::CreateStatement& st);
  Status Run(const staging::InsertStatement& st);
  Status Run(const staging::DropStatement& st);
  Status Run(const staging::ExportStatement& st);
  Status RunWrite(const std::string& sql);
  Result<InsertTarget*> Target(const std::string& table);
  using Row = std::span<const std::optional<std::string_view>>;
  // `defer`: the row may be stored later, by the writer.
  Status InsertValues(const std::string& table, Row values, bool defer);
  Status InsertNow(const std::string& table, Row values, paradox::CodePageChoice& pages);
  void Drain();
  // Where the rows of `table` go; the table of the last row is kept at hand,
  // so a long run of rows costs no name lookups.
  struct RowTarget {
    std::string table;
    InsertTarget* insert = nullptr;
    paradox::CodePageChoice* pages = nullptr;
    staging::FieldLearner* learner = nullptr;
  };
  Result<RowTarget*> RowTargetOf(const std::string& table);
  void ForgetRowTarget() { row_target_.insert = nullptr; }
  Status Check(InsertTarget& target, const std::string& table, Row values,
               paradox::CodePageChoice& pages);
  Status WriteLargeValues(InsertTarget& target, const std::string& table, Status inserted);
  paradox::CodePageChoice& PagesOf(const std::string& table);
  void NoteFailure();
  int64_t Number(const char* query);
  void Shrink();

 public:
  void UseLargePages();

 private:
  std::unique_ptr<staging::StagingDb> db_;
  std::unordered_map<std::string, InsertTarget> inserts_;
  // The field chooser of each table created on this connection, shown every
  // row stored since, so that the export reads the table only once.
  std::unordered_map<std::string, std::unique_ptr<staging::FieldLearner>> learned_;
  // The code page the export will write: 0 chooses it by the text.
  int code_page_ = 0;
  // Per staged table, the code pages that hold every row taken so far: a
  // row only fails when no single code page could hold the whole table.
  std::unordered_map<std::string, paradox::CodePageChoice> pages_;
  std::vector<std::optional<std::string_view>> views_;
  // Per value of the row being inserted: given as the bytes of a binary
  // value, stored so behind kBytesMark (or, bound whole, as its hex).
  std::vector<char> bytes_;
  std::vector<std::string> hex_;  // the hex of such values bound whole
  RowTarget row_target_;
  // Staged tables that took a value of a megabyte or more on this connection.
  std::unordered_set<std::string> large_;
  std::vector<std::string_view> stored_;
  std::vector<size_t> large_values_;  // columns of the row bound as zeroblobs
  // Set when SQLite rolled back the shared transaction after a failure:
  // rows reported stored are gone, so no export may pretend otherwise.
  bool lost_writes_ = false;
  std::string export_note_;
  // The writer of the rows handed over for table `writer_table_`, while it
  // holds any; what became of them once it ended with a failure; and the
  // tables that lost rows so, which are not exported.
  std::unique_ptr<staging::RowWriter> writer_;
  std::string writer_table_;
  DeferredRows deferred_;
  std::unordered_set<std::string> broken_;
};

void StagingDriver::Drain() {
  if (!writer_) return;
  DeferredRows out = writer_->Finish(db_->serve());
  writer_.reset();
  if (out.failure.ok()) return;
  broken_.insert(CacheKey(writer_table_));
  deferred_ = std::move(out);
  NoteFailure();
}

Status StagingDriver::RunWrite(const std::string& sql) {
  CORVANE_RETURN_IF_ERROR(db_->BeginIfNeeded());
  auto stmt = db_->Prepare(sql);
  if (!stmt.ok()) return stmt.status();
  if (sqlite3_step(stmt->get()) != SQLITE_DONE) {
    Status s = db_->Error("The staging database refused the statement");
    NoteFailure();
    return s;
  }
  return Status::Ok();
}

void StagingDriver::NoteFailure() {
  if (db_->LostTransaction()) {
    ForgetRowTarget();
    learned_.clear();
    lost_writes_ = true;
    db_->ForgetTransaction();
  }
}

paradox::CodePageChoice& StagingDriver::PagesOf(const std::string& table) {
  return pages_.try_emplace(CacheKey(table), code_page_).first->second;
}

Status StagingDriver::Run(const staging::CreateStatement& st) {
  ForgetRowTarget();
  inserts_.clear();
  paradox::CodePageChoice pages(code_page_);
  for (const ColumnDef& c : st.columns) {
    Status s = pages.Admit(c.name);
    if (!s.ok()) {
      return Status::InvalidArgument("The column name `" + c.name +
                                     "` cannot be stored in a Paradox table: " + s.message() +
                                     ".");
    }
  }
  std::string sql = "CREATE TABLE " + QuoteSqliteName(st.table) + "(";
  for (size_t i = 0; i < st.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += QuoteSqliteName(st.columns[i].name) + " " + st.columns[i].type_word;
  }
  sql += ")";
  learned_.erase(CacheKey(st.table));
  large_.erase(CacheKey(st.table));
  deferred_ = DeferredRows{};
  CORVANE_RETURN_IF_ERROR(RunWrite(sql));
  db_->NoteTable(st.table);
  broken_.erase(CacheKey(st.table));
  pages_.insert_or_assign(CacheKey(st.table), pages);
  lost_writes_ = false;
  std::vector<paradox::SchemaChooser::Column> columns;
  std::vector<char> datetime;
  for (const ColumnDef& c : st.columns) {
    columns.push_back(staging::ChooserColumnOf(c));
    datetime.push_back(staging::IsDateTimeColumn(c) ? 1 : 0);
  }
  learned_[CacheKey(st.table)] = std::make_unique<staging::FieldLearner>(
      std::move(columns), code_page_, std::move(datetime),
      std::filesystem::path(db_->path()).parent_path().string());
  return Status::Ok();
}

Status StagingDriver::Run(const staging::DropStatement& st) {
  ForgetRowTarget();
  inserts_.clear();  // an open statement on the table would block the drop
  learned_.erase(CacheKey(st.table));
  large_.erase(CacheKey(st.table));
  deferred_ = DeferredRows{};
  // Freeing a large table's pages is one step SQLite does not interrupt.
  CORVANE_RETURN_IF_ERROR(CallServed(
      [&] { return RunWrite("DROP TABLE " + QuoteSqliteName(st.table)); }, db_->serve()));
  pages_.erase(CacheKey(st.table));
  broken_.erase(CacheKey(st.table));
  return Status::Ok();
}

Result<StagingDriver::InsertTarget*> StagingDriver::Target(const std::string& table) {
  const std::string key = CacheKey(table);
  auto it = inserts_.find(key);
  if (it != inserts_.end()) return &it->second;
  auto columns = db_->Columns(table);
  if (!columns.ok()) return columns.status();
  if (columns->empty()) {
    return Status::NotFound("The staging database has no table `" + table + "`.");
  }
  std::string sql = "INSERT INTO " + QuoteSqliteName(table) + " VALUES(";
  for (size_t i = 1; i <= columns->size(); ++i) {
    sql += (i > 1 ? ", ?" : "?") + std::to_string(i);
  }
  sql += ")";
  auto stmt = db_->Prepare(sql);
  if (!stmt.ok()) return stmt.status();
  InsertTarget& target = inserts_[key];
  target.columns = std::move(columns).value();
  for (const ColumnDef& c : target.columns) target.datetime.push_back(staging::IsDateTimeColumn(c));
  target.indexed.assign(target.columns.size(), 0);
  // A blob handle cannot write an indexed column; its large values are bound whole.
  auto indexed = db_->Prepare(
      "SELECT i.cid FROM pragma_index_list(?1) AS l, pragma_index_info(l.name) AS i");
  if (!indexed.ok()) return indexed.status();
  sqlite3_bind_text(indexed->get(), 1, table.c_str(), -1, SQLITE_STATIC);
  while (sqlite3_step(indexed->get()) == SQLITE_ROW) {
    const int cid = sqlite3_column_int(indexed->get(), 0);
    if (cid >= 0 && static_cast<size_t>(cid) < target.indexed.size()) target.indexed[cid] = 1;
  }
  target.stmt = std::move(stmt).value();
  return &target;
}

// Whether the staging table can take the row, and what it would store of
// each value (in stored_).
Status StagingDriver::Check(InsertTarget& target, const std::string& table, Row values,
                            paradox::CodePageChoice& pages) {
  if (values.size() != target.columns.size()) {
    return Status::InvalidArgument("The row has " + std::to_string(values.size()) +
                                   " values, but staging table `" + table + "` has " +
                                   std::to_string(target.columns.size()) + " columns.");
  }
  stored_.assign(values.size(), std::string_view());
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i]) continue;
    if (bytes_[i] != 0) {
      stored_[i] = *values[i];
      if (!target.datetime[i]) continue;  // hex text needs no code page
      // Refused as its hex text would be, which is no date: its start shows.
      const std::string head = HexText(values[i]->substr(0, 32));
      auto refused = staging::StagingValue(table, target.columns[i], true, head, pages);
      if (!refused.ok()) return refused.status();
      continue;
    }
    auto stored = staging::StagingValue(table, target.columns[i], target.datetime[i] != 0,
                                        *values[i], pages);
    if (!stored.ok()) return stored.status();
    stored_[i] = stored.value();
  }
  return Status::Ok();
}

Status StagingDriver::Run(const staging::InsertStatement& st) {
  views_.clear();
  for (const auto& v : st.values) {
    views_.push_back(v ? std::optional<std::string_view>(*v) : std::nullopt);
  }
  bytes_.assign(views_.size(), 0);
  return InsertValues(st.table, views_, false);
}

Result<StagingDriver::RowTarget*> StagingDriver::RowTargetOf(const std::string& table) {
  if (row_target_.insert && row_target_.table == table) return &row_target_;
  Drain();
  auto target = Target(table);
  if (!target.ok()) return target.status();
  row_target_.table = table;
  row_target_.insert = target.value();
  row_target_.pages = &PagesOf(table);
  auto learner = learned_.find(CacheKey(table));
  row_target_.learner = learner == learned_.end() ? nullptr : learner->second.get();
  return &row_target_;
}

// A row of at least this size is stored at once, on this thread: the
// writer would copy it, and the chooser looks at a large value in place.
constexpr size_t kRowStoredAtOnce = RowBatch::kLargeValue;

size_t RowBytes(std::span<const std::optional<std::string_view>> values) {
  size_t bytes = 0;
  for (const auto& v : values) bytes += v ? v->size() : 0;
  return bytes;
}

Status StagingDriver::InsertValues(const std::string& table, Row values, bool defer) {
  if (writer_ && (writer_->failed() || writer_table_ != table)) Drain();
  if (!deferred_.failure.ok()) return deferred_.failure;  // an earlier row broke off
  auto target = RowTargetOf(table);
  if (!target.ok()) return target.status();
  if (!deferred_.failure.ok()) return deferred_.failure;
  RowTarget& to = **target;
  paradox::CodePageChoice pages = *to.pages;
  CORVANE_RETURN_IF_ERROR(Check(*to.insert, table, values, pages));
  // Only a table created here goes to the writer: it has no constraints,
  // so no row can fail there on its own.
  // The writer takes texts only: a row with a value given as bytes goes now.
  const bool has_bytes = std::find(bytes_.begin(), bytes_.end(), 1) != bytes_.end();
  if (defer && to.learner && !has_bytes && RowBytes(values) < kRowStoredAtOnce) {
    if (!writer_) {
      auto writer = staging::RowWriter::Start(*db_, table, to.insert->datetime, to.learner);
      if (!writer.ok()) return writer.status();
      writer_ = std::move(writer).value();
      writer_table_ = table;
    }
    writer_->Add(values);
    *to.pages = pages;
    return Status::Ok();
  }
  Drain();
  if (!deferred_.failure.ok()) return deferred_.failure;
  return InsertNow(table, values, pages);
}

// The row checked into stored_, inserted on this thread.
Status StagingDriver::InsertNow(const std::string& table, Row values,
                                paradox::CodePageChoice& pages) {
  RowTarget& to = row_target_;
  sqlite3_stmt* stmt = to.insert->stmt.get();
  sqlite3_reset(stmt);
  large_values_.clear();
  // A large value goes in as room (a zeroblob) and its bytes once the row
  // stands (WriteLargeValues). SQLite leaves the zeros unmade only when
  // nothing but zeroblobs and NULLs follows them in the row, so from the
  // first large value on every value goes so, unless one of them is
  // indexed (a blob handle cannot write it): then all are bound whole.
  size_t lazy_from = values.size();
  for (size_t i = 0; i < values.size() && lazy_from == values.size(); ++i) {
    if (values[i] && stored_[i].size() >= RowBatch::kLargeValue) lazy_from = i;
  }
  for (size_t i = lazy_from; i < values.size(); ++i) {
    if (values[i] && !stored_[i].empty() && to.insert->indexed[i]) lazy_from = values.size();
  }
  hex_.clear();
  hex_.reserve(values.size());  // bound in place: never moved
  for (size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    if (!values[i]) {
      sqlite3_bind_null(stmt, index);
      continue;
    }
    std::string_view v = stored_[i];
    const bool bytes = bytes_[i] != 0;
    if (bytes && i < lazy_from) {
      // Bound whole, it is stored as its text, as any value read plainly is.
      v = hex_.emplace_back(HexText(v));
    }
    const uint64_t size = v.size() + (bytes && i >= lazy_from ? staging::kBytesMark.size() : 0);
    // A blob keeps the text's bytes away from type affinity; "" is not NULL.
    const int bound = i >= lazy_from ? sqlite3_bind_zeroblob64(stmt, index, size)
                                     : sqlite3_bind_blob64(stmt, index, v.empty() ? "" : v.data(),
                                                           v.size(), SQLITE_STATIC);
    if (bound != SQLITE_OK) {
      // A refused binding leaves NULL in its place: the row must not go in.
      sqlite3_clear_bindings(stmt);
      hex_.clear();
      return Status::InvalidArgument("Column `" + to.insert->columns[i].name + "` of `" + table +
                                     "`: a value of " + std::to_string(size) +
                                     " bytes is more than the staging database can hold (" +
                                     std::to_string(sqlite3_limit(sqlite3_db_handle(stmt), SQLITE_LIMIT_LENGTH, -1)) +
                                     " bytes).");
    }
    if (i >= lazy_from && !v.empty()) large_values_.push_back(i);
  }
  CORVANE_RETURN_IF_ERROR(db_->BeginIfNeeded());
  const bool large = !large_values_.empty();
  if (large) CORVANE_RETURN_IF_ERROR(db_->Exec("SAVEPOINT corvane_row"));
  const int rc = sqlite3_step(stmt);
  Status s = rc == SQLITE_DONE ? Status::Ok() : db_->Error("The staging database refused the row");
  // Every parameter is bound afresh for each row, so the texts bound now
  // are never read again.
  sqlite3_reset(stmt);
  hex_.clear();
  if (large) s = WriteLargeValues(*to.insert, table, s);
  if (!s.ok()) {
    sqlite3_clear_bindings(stmt);
    NoteFailure();
    return s;
  }
  *to.pages = pages;
  if (to.learner) to.learner->Observe(stored_, bytes_);
  for (std::string_view v : stored_) {
    if (v.size() >= RowBatch::kLargeValue) large_.insert(CacheKey(table));
  }
  return s;
}

// The large values of the row just inserted (`inserted` says whether it
// was), over their zeroblobs. A row whose values could not all be written
// is taken out again: its zeros are no value of the user's.
Status StagingDriver::WriteLargeValues(InsertTarget& target, const std::string& table,
                                       Status inserted) {
  const int64_t rowid = db_->LastRowid();
  for (size_t i = 0; inserted.ok() && i < large_values_.size(); ++i) {
    const size_t c = large_values_[i];
    inserted = db_->WriteValue(table, target.columns[c].name, rowid,
                               bytes_[c] != 0 ? staging::kBytesMark : std::string_view(), stored_[c]);
  }
  if (inserted.ok()) {
    inserted = db_->Exec("RELEASE corvane_row");
  } else if (!db_->LostTransaction() &&
             !db_->Exec("ROLLBACK TO corvane_row; RELEASE corvane_row").ok()) {
    lost_writes_ = true;  // a row of zeros may stand: no export may use it
  }
  return inserted;
}

Status StagingDriver::Run(const staging::ExportStatement& st) {
  ForgetRowTarget();
  inserts_.clear();
  CORVANE_RETURN_IF_ERROR(db_->Commit());
  if (broken_.count(CacheKey(st.source)) > 0) {
    return Status::IoError("Rows of staging table `" + st.source +
                           "` could not all be stored; the table is not exported.");
  }
  if (lost_writes_) {
    return Status::IoError("Rows of staging table `" + st.source +
                           "` were lost when the staging database failed; the table is not "
                           "exported.");
  }
  auto learned = learned_.find(CacheKey(st.source));
  // A table this connection did not fill may hold anything.
  const bool filled_here = learned != learned_.end();
  return staging::ExportStagingTable(
      *db_, st, code_page_, filled_here ? &learned->second->Settled() : nullptr, &export_note_,
      !filled_here || large_.count(CacheKey(st.source)) > 0,
      filled_here ? learned->second->Encoded() : nullptr);
}

// Gives the pages of dropped tables back to the file system, so the file
// does not keep the size of the largest table it ever held.
int64_t StagingDriver::Number(const char* query) {
  auto stmt = db_->Prepare(query);
  if (!stmt.ok() || sqlite3_step(stmt->get()) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(stmt->get(), 0);
}

void StagingDriver::Shrink() {
  const int64_t free_bytes = Number("PRAGMA freelist_count") * Number("PRAGMA page_size");
  if (free_bytes <= kMaxFreeBytes) return;
  (void)db_->Exec(kLargePages);
  // Rebuilding and truncating the file is felt: the window is served meanwhile.
  (void)CallServed([&] { return db_->Exec("VACUUM"); }, db_->serve());
}

// Larger pages cut the file reads and writes of a big table to a quarter.
// The page size changes only when the file is rebuilt, which costs nothing
// while it holds no table.
void StagingDriver::UseLargePages() {
  if (Number("PRAGMA page_size") >= kPageSize || Number("SELECT count(*) FROM sqlite_schema") > 0) {
    return;
  }
  (void)db_->Exec(kLargePages);
  (void)db_->Exec("VACUUM");
}

Result<std::unique_ptr<RecordSet>> StagingDriver::OpenSchemaTables() {
  Drain();
  auto stmt = db_->Prepare(
      "SELECT CASE type WHEN 'view' THEN 'VIEW' ELSE 'TABLE' END, name FROM sqlite_schema "
      "WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
      "ORDER BY name");
  if (!stmt.ok()) return stmt.status();
  std::vector<std::vector<Value>> rows;
  int rc;
  while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) {
    std::vector<Value> row;
    for (int i = 0; i < 2; ++i) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt->get(), i));
      row.push_back(Value::Text(p ? p : ""));
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) return db_->Error("Cannot list the tables of the staging database");
  return staging::RowsRecordSet({"TABLE_TYPE", "TABLE_NAME"}, std::move(rows));
}


// The staging driver behind `staging`, or why there is none.
Result<StagingDriver*> DriverOf(Connection& staging) {
  // A closed connection fails as any statement on it would.
  if (!staging.is_open()) return staging.Execute(std::string()).status();
  auto* driver = dynamic_cast<StagingDriver*>(staging.driver());
  if (!driver) return Status::InvalidArgument("The connection is not open on a staging database.");
  return driver;
}

}  // namespace

Result<staging::ExportResult> staging::Export(Connection& staging, const ExportStatement& e) {
  auto driver = DriverOf(staging);
  if (!driver.ok()) return driver.status();
  return (*driver)->Export(e);
}

Status staging::CreateTable(Connection& staging, const std::string& table,
                            const std::vector<StagingColumn>& columns) {
  auto driver = DriverOf(staging);
  if (!driver.ok()) return driver.status();
  return (*driver)->Create(table, columns);
}

Result<std::unique_ptr<Driver>> OpenStagingDriver(const ConnectionAttributes& attrs,
                                                  const ConnectionOptions& options) {
  auto code_page = paradox::ParseExportCodePage(options.export_code_page);
  if (!code_page.ok()) {
    return Status::InvalidArgument("The code page set for new Paradox tables: " +
                                   code_page.status().message());
  }
  auto it = attrs.find("data source");
  if (it == attrs.end() || it->second.empty()) {
    return Status::InvalidArgument("The staging connection string names no Data Source.");
  }
  auto db = staging::StagingDb::Open(it->second, options.while_waiting);
  if (!db.ok()) return db.status();
  if (options.serve) (*db)->ServeWhileBusy(options.serve);
  auto driver = std::make_unique<StagingDriver>(std::move(db).value(), *code_page);
  driver->UseLargePages();
  return std::unique_ptr<Driver>(std::move(driver));
}

}  // namespace corvane
