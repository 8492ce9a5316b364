// How the export reads a staging table: its rows in insert order on a
// thread of their own, or in key order through a scratch sort.
#include "staging/export_rows.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/ascii.h"
#include "base/served_call.h"
#include "base/stop_request.h"
#include "paradox/field_encode.h"
#include "paradox/header_encode.h"

namespace corvane::staging {

namespace fs = std::filesystem;

Status Interrupted(const std::string& table) {
  return Status::IoError("The export of `" + table + "` was stopped; no table file was written.");
}

RowShape ShapeFor(const std::vector<ColumnDef>& columns, bool large_values) {
  RowShape shape;
  if (!large_values) return shape;
  for (const ColumnDef& c : columns) {
    if (AsciiLowerCase(c.name) == "rowid") return RowShape{};  // the name would hide the row's own
    shape.large_columns.push_back(c.name);
  }
  return shape;
}

// A rowid table scanned whole comes in row number order anyway.
std::string SelectInInsertOrder(const std::string& table, const std::string& row,
                                const RowShape& shape) {
  return "SELECT " + shape.Text() + " FROM " + QuoteSqliteName(table) + " AS t" +
         (row.empty() ? "" : " ORDER BY t." + row);
}
std::string SelectInKeyOrder(const std::string& table, const std::string& row,
                             const RowShape& shape) {
  // The key table leads, read in its own order: nothing left to sort.
  return "SELECT " + shape.Text() + " FROM corvane_sort.keys AS k CROSS JOIN main." +
         QuoteSqliteName(table) + " AS t ON t." + row + " = k.r ORDER BY k.k";
}

namespace {

// A value of a megabyte or more that the row's user reads in pieces.
struct LargeValue {
  size_t column;
  int64_t rowid;
};

// Appends the value of column `c` of the current row of `st` to `batch`. A
// large one is read whole, or when `large` is given, left to be read in
// pieces: an empty text stands in for it, and `large` says where it is.
Status AddValue(StagingDb& db, const std::string& table, const RowShape& shape,
                sqlite3_stmt* st, size_t columns, size_t c, RowBatch& batch,
                std::vector<LargeValue>* large) {
  const int at = static_cast<int>(shape.large_columns.empty() ? c : 2 * c);
  if (!shape.large_columns.empty()) {
    if (sqlite3_column_type(st, at + 1) == SQLITE_NULL) {
      batch.Add(std::string_view(), true);
      return Status::Ok();
    }
    if (sqlite3_column_type(st, at) == SQLITE_NULL) {  // large
      const int64_t rowid = sqlite3_column_int64(st, static_cast<int>(2 * columns));
      if (large) {
        large->push_back({c, rowid});
        batch.Add(std::string_view(), false);
        return Status::Ok();
      }
      auto whole = db.ReadValue(table, shape.large_columns[c], rowid);
      if (!whole.ok()) return whole.status();
      batch.Add(std::move(whole).value());
      return Status::Ok();
    }
  }
  // One column call, not three: the reading thread is the export's busier one.
  sqlite3_value* v = sqlite3_column_value(st, at);
  if (sqlite3_value_type(v) == SQLITE_NULL) {
    batch.Add(std::string_view(), true);
    return Status::Ok();
  }
  const void* p = sqlite3_value_blob(v);
  const auto n = static_cast<size_t>(sqlite3_value_bytes(v));
  const std::string_view stored(static_cast<const char*>(p ? p : ""), n);
  if (n >= RowBatch::kLargeValue && IsStoredBytes(stored)) {
    batch.Add(HexOfStoredBytes(stored));  // read plainly, as when a column is named rowid
    return Status::Ok();
  }
  batch.Add(stored, false);
  return Status::Ok();
}

}  // namespace

KeySort::~KeySort() {
  if (attached_) {
    (void)db_.Commit();  // the export holds no transaction of its own; a detach needs none
    (void)db_.Exec("DETACH DATABASE corvane_sort");
  }
  std::error_code ec;
  fs::remove(path_, ec);
}

Status KeySort::Open() {
  // Made empty here: the staging connection may open files, not create them.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    return Status::IoError("Cannot make a scratch file to sort the rows by their key, " + path_ +
                           ": " + std::strerror(errno));
  }
  ::close(fd);
  auto attach = db_.Prepare("ATTACH DATABASE ?1 AS corvane_sort");
  if (!attach.ok()) return attach.status();
  sqlite3_bind_text(attach->get(), 1, path_.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(attach->get()) != SQLITE_DONE) {
    return db_.Error("Cannot open a scratch file to sort the rows by their key");
  }
  attached_ = true;
  // Scratch only: no journal, no syncs.
  CORVANE_RETURN_IF_ERROR(db_.Exec(
      "PRAGMA corvane_sort.journal_mode=OFF; PRAGMA corvane_sort.synchronous=OFF;"
      "CREATE TABLE corvane_sort.keys(k BLOB PRIMARY KEY, r INTEGER) WITHOUT ROWID"));
  return Status::Ok();
}

// Calls `fn` with each row `select` gives; column i of the result goes to
// place order[i] of the row (all in place when `order` is empty). A
// second thread reads the rows from the file while `fn` works on the ones
// before; only it uses the database until it ends, except where `pieces`
// lets `fn` read the large values of a row in pieces itself: such a row
// ends its batch, and the reading thread waits until `fn` is done with it,
// so that no value is ever whole in memory.
Status ForEachRow(StagingDb& db, const std::string& table, const std::string& select,
                  const RowShape& shape, size_t columns, const std::vector<size_t>& order,
                  bool pieces, const RowFn& fn) {
  auto stmt = db.Prepare(select);
  if (!stmt.ok()) return stmt.status();
  BatchPipe pipe;
  Status read = Status::Ok();  // the reader's; looked at after it ended
  // The handing over of the connection for a row with large values.
  std::mutex turn;
  std::condition_variable turned;
  std::vector<LargeValue> large;  // of row number large_row; 0: none waits
  uint64_t large_row = 0;
  bool stopped = false;  // the writer wants no more rows
  std::thread reader([&] {
    sqlite3_stmt* st = stmt->get();
    int rc = SQLITE_DONE;
    std::vector<LargeValue> found;
    uint64_t number = 0;
    std::optional<RowBatch> batch = pipe.Empty(columns);
    while (batch && read.ok() && (rc = sqlite3_step(st)) == SQLITE_ROW) {
      ++number;
      found.clear();
      for (size_t c = 0; c < columns && read.ok(); ++c) {
        read = AddValue(db, table, shape, st, columns, c, *batch, pieces ? &found : nullptr);
      }
      if (!read.ok()) break;
      if (!found.empty()) {
        std::unique_lock lock(turn);
        large.swap(found);
        large_row = number;
        lock.unlock();
        pipe.Send(std::move(*batch));
        lock.lock();
        turned.wait(lock, [&] { return large_row == 0 || stopped; });
        lock.unlock();
        batch = pipe.Empty(columns);
        continue;
      }
      if (BatchPipe::IsFull(*batch)) {
        pipe.Send(std::move(*batch));
        batch = pipe.Empty(columns);
      }
    }
    if (batch && read.ok()) {
      if (rc != SQLITE_DONE) read = db.Error("Cannot read staging table `" + table + "`");
      if (batch->rows() > 0) pipe.Send(std::move(*batch));
    }
    pipe.Finish();
  });
  std::vector<paradox::CellView> row(columns);
  const bool may_be_large = pieces && !shape.large_columns.empty();
  std::vector<std::unique_ptr<StagingDb::ValueReader>> readers;
  uint64_t number = 0;
  Status done = Status::Ok();
  while (done.ok()) {
    std::optional<RowBatch> batch = pipe.Next(db.serve());
    if (!batch) break;
    for (size_t r = 0; r < batch->rows() && done.ok(); ++r) {
      for (size_t i = 0; i < columns; ++i) {
        row[order.empty() ? i : order[i]] =
            paradox::CellView(batch->is_null(r, i), batch->text(r, i));
      }
      std::unique_lock lock(turn, std::defer_lock);
      if (may_be_large) lock.lock();
      const bool has_large = may_be_large && ++number == large_row;
      if (may_be_large) lock.unlock();
      for (size_t k = 0; has_large && k < large.size() && done.ok(); ++k) {
        const LargeValue& v = large[k];
        auto opened = db.OpenValue(table, shape.large_columns[v.column], v.rowid);
        if (!opened.ok()) {
          done = opened.status();
          break;
        }
        readers.push_back(std::move(opened).value());
        row[order.empty() ? v.column : order[v.column]].pieces = readers.back().get();
      }
      if (done.ok()) done = fn(row);
      if (done.ok() && StopRequested()) done = Interrupted(table);
      if (!has_large) continue;
      readers.clear();  // the connection goes back to the reading thread
      lock.lock();
      large_row = 0;
      turned.notify_all();
    }
    pipe.Recycle(std::move(*batch));
    // The reading thread cannot serve the window; this one does, per batch.
    if (db.serve()) db.serve()();
  }
  {
    std::lock_guard lock(turn);
    stopped = true;
    turned.notify_all();
  }
  pipe.Cancel();
  reader.join();
  return done.ok() ? read : done;
}

namespace {

using CellsFn = std::function<Status(const std::vector<paradox::Cell>&)>;

// The rowid and key columns of each row, read on this thread: the key
// passes write to the database as they read.
Status ForEachRowHere(StagingDb& db, const std::string& table, const std::string& select,
                      size_t columns, const CellsFn& fn) {
  auto stmt = db.Prepare(select);
  if (!stmt.ok()) return stmt.status();
  std::vector<paradox::Cell> row(columns);
  int rc;
  while ((rc = sqlite3_step(stmt->get())) == SQLITE_ROW) {
    for (size_t i = 0; i < columns; ++i) {
      const int c = static_cast<int>(i);
      row[i].null = sqlite3_column_type(stmt->get(), c) == SQLITE_NULL;
      const void* p = sqlite3_column_blob(stmt->get(), c);
      row[i].text.assign(static_cast<const char*>(p ? p : ""),
                         static_cast<size_t>(sqlite3_column_bytes(stmt->get(), c)));
    }
    CORVANE_RETURN_IF_ERROR(fn(row));
    if (StopRequested()) return Interrupted(table);
  }
  if (rc != SQLITE_DONE) return db.Error("Cannot read staging table `" + table + "`");
  return Status::Ok();
}

}  // namespace

// The columns of the key in key order; empty for a table without one.
std::vector<size_t> KeyColumns(const std::vector<ColumnDef>& columns) {
  std::vector<std::pair<int, size_t>> places;
  for (size_t i = 0; i < columns.size(); ++i) {
    const int key = SplitTypeWord(columns[i].type_word).key;
    if (key > 0) places.emplace_back(key, i);
  }
  std::sort(places.begin(), places.end());
  std::vector<size_t> key;
  for (const auto& p : places) key.push_back(p.second);
  return key;
}

namespace {

using KeyFn = std::function<Status(int64_t rowid, const std::string& key)>;

// Calls `fn` with each row's key bytes, in insert order. A key field that
// is blank or cannot hold its value ends the walk with `why` set.
Status ForEachKey(StagingDb& db, const std::string& table,
                  const std::vector<paradox::FieldInfo>& fields, const std::vector<size_t>& key,
                  int code_page, std::string& why, const KeyFn& fn) {
  std::string bytes;
  const std::string row_number = RowNumberName(fields);
  std::string select = "SELECT " + row_number;
  for (size_t k : key) select += ", " + QuoteSqliteName(fields[k].name);
  select += " FROM " + QuoteSqliteName(table) + " ORDER BY " + row_number;
  return ForEachRowHere(
      db, table, select, key.size() + 1, [&](const std::vector<paradox::Cell>& row) -> Status {
        bytes.clear();
        for (size_t i = 0; i < key.size(); ++i) {
          const paradox::FieldInfo& f = fields[key[i]];
          const paradox::Cell& cell = row[i + 1];
          std::string part(static_cast<size_t>(f.size), '\0');
          Status st = cell.null || cell.text.empty()
                          ? Status::InvalidArgument("it is blank in some row")
                          : paradox::EncodeScalar(f, cell, code_page,
                                                  reinterpret_cast<unsigned char*>(part.data()));
          if (!st.ok()) {
            why = "key field \"" + f.name + "\" cannot be a key: " + st.message();
            return Status::Internal(why);
          }
          bytes += part;
        }
        return fn(std::strtoll(row[0].text.c_str(), nullptr, 10), bytes);
      });
}

}  // namespace

Result<KeyOrder> SortByKey(StagingDb& db, const std::string& table,
                           const std::vector<paradox::FieldInfo>& fields,
                           const std::vector<size_t>& key, int code_page, KeySort& sort) {
  KeyOrder out;
  std::vector<paradox::FieldInfo> key_fields;
  for (size_t k : key) {
    const paradox::FieldInfo& f = fields[k];
    if (paradox::IsBlobType(f.type) || f.type == paradox::FieldType::kBytes) {
      out.why_not = "key field \"" + f.name + "\" became a " + paradox::TypeLabel(f.type) +
                    " field, which cannot be part of a key";
      return out;
    }
    key_fields.push_back(f);
  }
  Status keyable = paradox::CheckKeyFields(key_fields, static_cast<int>(key.size()), code_page);
  if (!keyable.ok()) {
    out.why_not = keyable.message();
    return out;
  }
  if (RowNumberName(fields).empty()) {
    out.why_not = "its columns named rowid, _rowid_ and oid leave the rows no number to sort by";
    return out;
  }
  // Tables often arrive in key order: one pass tells, with nothing stored.
  std::string previous;
  bool first = true, ascending = true;
  const Status out_of_order = Status::Internal("out of key order");
  Status walked = ForEachKey(db, table, fields, key, code_page, out.why_not, [&](int64_t, const auto& k) {
    ascending = first || previous < k;
    first = false;
    previous = k;
    return ascending ? Status::Ok() : out_of_order;
  });
  if (!out.why_not.empty()) return out;
  if (ascending) {
    if (!walked.ok()) return walked;
    out.in_order = true;
    return out;
  }
  CORVANE_RETURN_IF_ERROR(sort.Open());
  auto insert = db.Prepare("INSERT INTO corvane_sort.keys VALUES(?1, ?2)");
  if (!insert.ok()) return insert.status();
  CORVANE_RETURN_IF_ERROR(db.BeginIfNeeded());
  const std::string twice = "some rows share the same key value";
  // Keys are sorted here in batches of bounded size, so each batch goes
  // into the key table in one ordered sweep rather than a random page a row.
  constexpr size_t kBatchBytes = size_t{16} << 20;
  std::vector<std::pair<std::string, int64_t>> batch;
  size_t batch_bytes = 0;
  auto flush = [&]() -> Status {
    std::sort(batch.begin(), batch.end());
    for (size_t i = 0; i < batch.size(); ++i) {
      const auto& [k, rowid] = batch[i];
      int rc = SQLITE_CONSTRAINT;
      if (i == 0 || k != batch[i - 1].first) {
        sqlite3_bind_blob(insert->get(), 1, k.data(), static_cast<int>(k.size()), SQLITE_STATIC);
        sqlite3_bind_int64(insert->get(), 2, rowid);
        rc = sqlite3_step(insert->get());
        sqlite3_reset(insert->get());
      }
      if (rc == SQLITE_CONSTRAINT) {
        out.why_not = twice;
        return Status::Internal(twice);
      }
      if (rc != SQLITE_DONE) return db.Error("Cannot sort the rows by their key");
    }
    batch.clear();
    batch_bytes = 0;
    return Status::Ok();
  };
  Status filled = ForEachKey(db, table, fields, key, code_page, out.why_not,
                             [&](int64_t rowid, const std::string& k) {
                               batch.emplace_back(k, rowid);
                               batch_bytes += k.size() + sizeof(batch[0]);
                               return batch_bytes >= kBatchBytes ? flush() : Status::Ok();
                             });
  if (filled.ok() && out.why_not.empty()) filled = flush();
  Status committed = db.Commit();
  if (!out.why_not.empty()) return out;
  CORVANE_RETURN_IF_ERROR(filled);
  CORVANE_RETURN_IF_ERROR(committed);
  return out;
}

}  // namespace corvane::staging
