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

#include "base/ascii.h"
#include "base/moved_bytes.h"
#include "base/row_batches.h"
#include "base/served_call.h"
#include "connection/drivers.h"
#include "staging/field_learner.h"
#include "staging/staging_door.h"
#include "staging/staging_driver.h"
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

}  // namespace

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

namespace {

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
