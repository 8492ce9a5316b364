#include "connection/staging_db.h"

#include <filesystem>
#include <system_error>

namespace corvane::staging {

std::string QuoteSqliteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

Result<std::unique_ptr<StagingDb>> StagingDb::Open(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    return Status::NotFound("Could not find the staging database file '" + path + "'.");
  }
  sqlite3* raw = nullptr;
  // One connection used by one thread: no locking inside SQLite needed.
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<StagingDb> db(new StagingDb(raw, path));
  if (rc != SQLITE_OK) return db->Error("Cannot open the staging database '" + path + "'");
  // Scratch data: a crash may lose it, nothing else does, so skip the
  // journal file and the syncs. The in-memory journal keeps a failed
  // statement undoable. Without secure_delete a DROP only lists the freed
  // pages instead of zeroing them, which would journal the whole table in
  // memory.
  Status s = db->Exec(
      "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA temp_store=MEMORY;"
      "PRAGMA secure_delete=OFF; SELECT count(*) FROM sqlite_schema;");
  if (!s.ok()) {
    return Status::IoError("The staging database '" + path + "' cannot be used: " + s.message());
  }
  return db;
}

StagingDb::~StagingDb() {
  if (in_transaction_ && sqlite3_get_autocommit(db_) == 0)
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db_);
}

void StagingDb::ServeWhileBusy(std::function<void()> serve) {
  serve_ = std::move(serve);
  if (!serve_) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return;
  }
  // About every 4000 virtual machine steps: a few tens of microseconds.
  sqlite3_progress_handler(
      db_, 4000,
      [](void* self) {
        static_cast<StagingDb*>(self)->serve_();
        return 0;  // never interrupts the statement
      },
      this);
}

Result<Stmt> StagingDb::Prepare(std::string_view sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK) {
    return Error("The staging database refused a statement");
  }
  return Stmt(s);
}

Status StagingDb::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return Error("The staging database failed");
  }
  return Status::Ok();
}

Status StagingDb::BeginIfNeeded() {
  if (sqlite3_get_autocommit(db_) == 0) return Status::Ok();
  CORVANE_RETURN_IF_ERROR(Exec("BEGIN"));
  in_transaction_ = true;
  return Status::Ok();
}

Status StagingDb::Commit() {
  in_transaction_ = false;
  if (sqlite3_get_autocommit(db_) != 0) return Status::Ok();
  return Exec("COMMIT");
}

Result<std::vector<ColumnDef>> StagingDb::Columns(const std::string& table) {
  auto stmt = Prepare("SELECT name, type FROM pragma_table_info(?1)");
  if (!stmt.ok()) return stmt.status();
  sqlite3_bind_text(stmt->get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  std::vector<ColumnDef> columns;
  int rc;
  while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) {
    auto text = [&](int i) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt->get(), i));
      return std::string(p ? p : "");
    };
    columns.push_back({text(0), text(1)});
  }
  if (rc != SQLITE_DONE) return Error("Cannot read the columns of staging table `" + table + "`");
  return columns;
}

Status StagingDb::Error(const std::string& what) const {
  std::string message = what + ": " + sqlite3_errmsg(db_);
  const int code = sqlite3_errcode(db_) & 0xFF;
  if (code == SQLITE_CANTOPEN || code == SQLITE_NOTADB || code == SQLITE_IOERR ||
      code == SQLITE_FULL || code == SQLITE_READONLY) {
    return Status::IoError(std::move(message));
  }
  return Status::Database(std::move(message));
}

}  // namespace corvane::staging
