// Rows taken in by the staging driver: checked at once against the staging
// table and the code pages, then stored now or handed to the writer.

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/moved_bytes.h"
#include "base/row_batches.h"
#include "staging/staging_driver.h"

namespace corvane {

using staging::ColumnDef;
using staging::QuoteSqliteName;

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

}  // namespace corvane
