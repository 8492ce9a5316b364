// Export outline: check that the folder has no table of the target name;
// read the staging table once so the schema chooser sees every value; read
// it again and append each row to the writer; move the files into place
// only if still no table of that name appeared meanwhile.
#include "connection/staging_export.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/row_batches.h"
#include "base/served_call.h"
#include "base/stop_request.h"
#include "paradox/companion_files.h"
#include "paradox/schema_chooser.h"
#include "paradox/table_lock.h"
#include "paradox/table_set_aside.h"
#include "paradox/table_writer.h"

namespace corvane::staging {
namespace {

namespace fs = std::filesystem;
using RowFn = std::function<Status(std::span<const paradox::CellView>)>;

// The live grants. Tables of different names may be exported side by side
// on several threads, so every look goes through the lock.
std::mutex& GrantsLock() {
  static std::mutex mu;
  return mu;
}
std::vector<std::pair<std::string, std::string>>& Grants() {
  static std::vector<std::pair<std::string, std::string>> grants;
  return grants;
}

std::string FolderKey(const std::string& folder) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(folder), ec);
  if (ec) p = fs::path(folder).lexically_normal();
  std::string key = p.string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

bool Granted(const std::string& folder, const std::string& table) {
  const auto wanted = std::make_pair(FolderKey(folder), table);
  std::lock_guard<std::mutex> lock(GrantsLock());
  return std::find(Grants().begin(), Grants().end(), wanted) != Grants().end();
}

Status Interrupted(const std::string& table) {
  return Status::IoError("The export of `" + table + "` was stopped; no table file was written.");
}

// Calls `fn` with each row of `table` in the order it was inserted. A
// second thread reads the rows from the file while `fn` works on the ones
// before; only it uses the database until it ends.
Status ForEachRow(StagingDb& db, const std::string& table, size_t columns, const RowFn& fn) {
  auto stmt = db.Prepare("SELECT * FROM " + QuoteSqliteName(table) + " ORDER BY rowid");
  if (!stmt.ok()) return stmt.status();
  BatchPipe pipe;
  Status read = Status::Ok();  // the reader's; looked at after it ended
  std::thread reader([&] {
    sqlite3_stmt* st = stmt->get();
    int rc = SQLITE_DONE;
    std::optional<RowBatch> batch = pipe.Empty(columns);
    while (batch && (rc = sqlite3_step(st)) == SQLITE_ROW) {
      for (int c = 0; c < static_cast<int>(columns); ++c) {
        const void* p = sqlite3_column_blob(st, c);
        const auto n = static_cast<size_t>(sqlite3_column_bytes(st, c));
        batch->Add(std::string_view(static_cast<const char*>(p ? p : ""), n),
                   sqlite3_column_type(st, c) == SQLITE_NULL);
      }
      if (BatchPipe::IsFull(*batch)) {
        pipe.Send(std::move(*batch));
        batch = pipe.Empty(columns);
      }
    }
    if (batch) {
      if (rc != SQLITE_DONE) read = db.Error("Cannot read staging table `" + table + "`");
      if (batch->rows() > 0) pipe.Send(std::move(*batch));
    }
    pipe.Finish();
  });
  // Views into the batch: its texts are not copied again.
  std::vector<paradox::CellView> row(columns);
  Status done = Status::Ok();
  while (done.ok()) {
    std::optional<RowBatch> batch = pipe.Next(db.serve());
    if (!batch) break;
    for (size_t r = 0; r < batch->rows() && done.ok(); ++r) {
      for (size_t i = 0; i < columns; ++i) {
        row[i] = paradox::CellView(batch->is_null(r, i), batch->text(r, i));
      }
      done = fn(row);
      if (done.ok() && StopRequested()) done = Interrupted(table);
    }
    pipe.Recycle(std::move(*batch));
    // The reading thread cannot serve the window; this one does, per batch.
    if (db.serve()) db.serve()();
  }
  pipe.Cancel();
  reader.join();
  return done.ok() ? read : done;
}

Status CheckTarget(const fs::path& folder, const std::string& target, bool replace) {
  // The name becomes a file name in the folder: it may not lead elsewhere.
  if (target.find('/') != std::string::npos || target.find('\0') != std::string::npos ||
      target == "." || target == "..") {
    return Status::InvalidArgument("'" + target +
                                   "' cannot be the name of a Paradox table file: a name may "
                                   "not hold \"/\" or be \".\" or \"..\".");
  }
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return Status::NotFound("The Paradox folder '" + folder.string() + "' does not exist.");
  }
  auto files = replace ? std::vector<fs::path>{} : paradox::TableFiles(folder, target);
  if (!files.empty()) {
    return Status::InvalidArgument(
        "The Paradox folder already holds a table named " + target + " (" +
        files.front().filename().string() +
        "); it was left as it was and this table was not written. Another table may have "
        "been cut to the same 8-character name.");
  }
  return Status::Ok();
}

// The chooser shown every row: `seen`, or one that reads the table now.
Result<paradox::SchemaChooser> Learn(StagingDb& db, const std::string& table,
                                     const std::vector<ColumnDef>& columns, int code_page,
                                     const paradox::SchemaChooser* seen) {
  if (seen) return *seen;
  std::vector<paradox::SchemaChooser::Column> defs;
  for (const ColumnDef& c : columns) defs.push_back({c.name, c.type_word});
  paradox::SchemaChooser chooser(std::move(defs), code_page);
  std::vector<std::string_view> texts(columns.size());
  CORVANE_RETURN_IF_ERROR(ForEachRow(db, table, columns.size(), [&](const auto& row) {
    for (size_t i = 0; i < row.size(); ++i) texts[i] = row[i].null ? std::string_view() : row[i].text;
    chooser.Observe(std::span<const std::string_view>(texts));
    return Status::Ok();
  }));
  return chooser;
}

// Moves the new files in, the old table set aside meanwhile: deleted once
// the new one stands, put back when it could not take its place.
Status PlaceReplacing(paradox::TableWriter& writer, const fs::path& folder,
                      const std::string& target) {
  std::unique_ptr<paradox::TableSetAside> old_table;
  Status placed = writer.Finish([&]() -> Status {
    if (StopRequested()) return Interrupted(target);
    if (paradox::DroppableTableFiles(folder, target).empty()) return Status::Ok();  // gone meanwhile
    CORVANE_RETURN_IF_ERROR(paradox::CheckTableNotInUse(folder, target));  // opened meanwhile
    auto aside = paradox::TableSetAside::Create(folder, target);
    if (!aside.ok()) return aside.status();
    old_table = std::move(aside).value();
    return Status::Ok();
  });
  if (!old_table) return placed;
  if (placed.ok()) return old_table->Discard();
  Status restored = old_table->Restore();
  if (restored.ok()) return placed;
  return Status::Error(placed.code(), placed.message() + " " + restored.message());
}

}  // namespace

ReplaceGrant::ReplaceGrant(std::string folder, std::string table)
    : folder_(FolderKey(folder)), table_(std::move(table)) {
  std::lock_guard<std::mutex> lock(GrantsLock());
  Grants().emplace_back(folder_, table_);
}

ReplaceGrant::~ReplaceGrant() {
  std::lock_guard<std::mutex> lock(GrantsLock());
  auto& grants = Grants();
  auto it = std::find(grants.begin(), grants.end(), std::make_pair(folder_, table_));
  if (it != grants.end()) grants.erase(it);
}

Status ExportStagingTable(StagingDb& db, const ExportStatement& e, int code_page,
                          const paradox::SchemaChooser* seen) {
  auto columns = db.Columns(e.source);
  if (!columns.ok()) return columns.status();
  if (columns->empty()) {
    return Status::NotFound("The staging database has no table `" + e.source + "`.");
  }
  const fs::path folder(e.folder);
  const bool replace = Granted(e.folder, e.target);
  CORVANE_RETURN_IF_ERROR(CheckTarget(folder, e.target, replace));
  auto chooser = Learn(db, e.source, *columns, code_page, seen);
  if (!chooser.ok()) return chooser.status();
  chooser->AdmitName(e.target);  // the header holds the table's name too
  const uint64_t rows = chooser->rows_observed();
  code_page = chooser->code_page();
  auto fields = chooser->Choose();
  const fs::path db_path = folder / (e.target + ".db");
  auto writer =
      paradox::TableWriter::Create(db_path.string(), std::move(fields), code_page, rows);
  if (!writer.ok()) return writer.status();
  uint64_t number = 0;
  Status written = ForEachRow(db, e.source, columns->size(), [&](const auto& row) -> Status {
    ++number;
    Status s = (*writer)->Append(row);
    if (s.ok()) return s;
    // The staging database took this row, so leaving it out would lose it.
    return Status::Error(s.code(), "Row " + std::to_string(number) + " of `" + e.source +
                                       "` cannot be written to " + db_path.string() + ": " +
                                       s.message() + " No table file was written.");
  });
  if (!written.ok()) {
    (*writer)->Abandon();
    return written;
  }
  // Placing the files syncs them to disk first.
  if (replace) {
    return CallServed([&] { return PlaceReplacing(**writer, folder, e.target); }, db.serve());
  }
  return CallServed([&] { return (*writer)->Finish(paradox::TableWriter::Replace::kNever); },
                    db.serve());
}

}  // namespace corvane::staging
