// Export outline: check that the folder has no table of the target name;
// read the staging table once so the schema chooser sees every value; read
// it again and append each row to the writer; move the files into place
// only if still no table of that name appeared meanwhile.
// A staging table with a key (its columns' words name Paradox fields and
// key places) becomes a keyed table: key fields first, and the rows read in
// the order of their stored key bytes, sorted by SQLite in a scratch file
// so memory does not grow. Where the key cannot be kept (a blank or
// repeated key, a key field that became a blob) the table is written
// without one and the note says why.
#include "connection/staging_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cerrno>
#include <cstring>
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
#include "paradox/field_encode.h"
#include "paradox/header_encode.h"
#include "paradox/schema_chooser.h"
#include "paradox/table_lock.h"
#include "paradox/table_set_aside.h"
#include "paradox/table_writer.h"

namespace corvane::staging {
namespace {

namespace fs = std::filesystem;
// A row as views into the batch it was read into: its texts are not copied again.
using RowFn = std::function<Status(std::span<const paradox::CellView>)>;
using CellsFn = std::function<Status(const std::vector<paradox::Cell>&)>;

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

// How rows are read. Plainly, every column as it is. Where values of a
// megabyte or more may be, each column comes as its value unless it is that
// large (NULL then) and its length, and the rowid last: a large value is
// then read whole through a blob handle, instead of SQLite loading it and
// the reader copying it.
struct RowShape {
  std::vector<std::string> large_columns;  // the columns' names; empty: plainly
  std::string Text() const {
    if (large_columns.empty()) return "t.*";
    std::string out;
    for (const std::string& name : large_columns) {
      const std::string c = "t." + QuoteSqliteName(name);
      out += "iif(length(" + c + ") < " + std::to_string(RowBatch::kLargeValue) + ", " + c +
             ", NULL), length(" + c + "), ";
    }
    return out + "t.rowid";
  }
};

RowShape ShapeFor(const std::vector<ColumnDef>& columns, bool large_values) {
  RowShape shape;
  if (!large_values) return shape;
  for (const ColumnDef& c : columns) {
    std::string lower = c.name;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (lower == "rowid") return RowShape{};  // the name would hide the row's own
    shape.large_columns.push_back(c.name);
  }
  return shape;
}

// The name a row's number goes by in a table of `names`: each of SQLite's
// names for it yields to a column of that name. "" when columns take all.
template <typename Names>
std::string RowNumberName(const Names& names) {
  for (std::string_view alias : {"rowid", "_rowid_", "oid"}) {
    const bool taken = std::any_of(names.begin(), names.end(), [&](const auto& n) {
      const std::string& name = n.name;
      return std::equal(name.begin(), name.end(), alias.begin(), alias.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      });
    });
    if (!taken) return std::string(alias);
  }
  return "";
}

// A rowid table scanned whole comes in row number order anyway.
std::string SelectInInsertOrder(const std::string& table, const std::string& row,
                                const RowShape& shape = {}) {
  return "SELECT " + shape.Text() + " FROM " + QuoteSqliteName(table) + " AS t" +
         (row.empty() ? "" : " ORDER BY t." + row);
}
std::string SelectInKeyOrder(const std::string& table, const std::string& row,
                             const RowShape& shape) {
  // The key table leads, read in its own order: nothing left to sort.
  return "SELECT " + shape.Text() + " FROM corvane_sort.keys AS k CROSS JOIN main." +
         QuoteSqliteName(table) + " AS t ON t." + row + " = k.r ORDER BY k.k";
}

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

// The rows' keys in key order, in a scratch database beside the staging
// file. The staging connection keeps temporary tables and sorts in memory,
// which would grow with the table; this stays on disk, and goes when the
// export ends (or, after a crash, when the staging file is next opened).
class KeySort {
 public:
  explicit KeySort(StagingDb& db) : db_(db), path_(KeySortPath(db.path())) {}
  ~KeySort() {
    if (attached_) {
      (void)db_.Commit();  // the export holds no transaction of its own; a detach needs none
      (void)db_.Exec("DETACH DATABASE corvane_sort");
    }
    std::error_code ec;
    fs::remove(path_, ec);
  }
  KeySort(const KeySort&) = delete;
  KeySort& operator=(const KeySort&) = delete;

  Status Open() {
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

 private:
  StagingDb& db_;
  std::string path_;
  bool attached_ = false;
};

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

// The field a Paradox field word names, and the usual word to fall back on
// when that field cannot hold every value.
struct WordMeaning {
  paradox::FieldType type;
  const char* fallback;
};
std::optional<WordMeaning> MeaningOf(const std::string& word) {
  using paradox::FieldType;
  static const std::pair<const char*, WordMeaning> kMeanings[] = {
      {"ALPHA", {FieldType::kAlpha, "VARCHAR"}},
      {"SHORT", {FieldType::kShort, "DECIMAL"}},
      {"LONG", {FieldType::kLong, "DECIMAL"}},
      {"AUTOINC", {FieldType::kAutoIncrement, "DECIMAL"}},
      {"NUMBER", {FieldType::kNumber, "FLOAT"}},
      {"MONEY", {FieldType::kMoney, "FLOAT"}},
      {"BCD", {FieldType::kBcd, "DECIMAL"}},
      {"DATE", {FieldType::kDate, "DATETIME"}},
      {"TIME", {FieldType::kTime, "VARCHAR"}},
      {"TIMESTAMP", {FieldType::kTimestamp, "DATETIME"}},
      {"LOGICAL", {FieldType::kLogical, "VARCHAR"}},
      {"MEMOBLOB", {FieldType::kMemo, "MEMO"}},
      {"BINARY", {FieldType::kBinary, "OLEOBJECT"}},
      {"FMTMEMO", {FieldType::kFormattedMemo, "OLEOBJECT"}},
      {"OLE", {FieldType::kOle, "OLEOBJECT"}},
      {"GRAPHIC", {FieldType::kGraphic, "OLEOBJECT"}},
      {"BYTES", {FieldType::kBytes, "OLEOBJECT"}},
  };
  for (const auto& [name, meaning] : kMeanings) {
    if (word == name) return meaning;
  }
  return std::nullopt;
}

}  // namespace

paradox::SchemaChooser::Column ChooserColumnOf(const ColumnDef& c) {
  const TypeWordParts parts = SplitTypeWord(c.type_word);
  const std::optional<WordMeaning> meaning = MeaningOf(parts.word);
  if (!meaning) return {c.name, parts.word};
  paradox::FieldInfo f{c.name, meaning->type, 0, 0};
  // AUTOINC(n) gives the counter (AutoIncrementCounter), not a size.
  if (f.type != paradox::FieldType::kAutoIncrement) {
    (f.type == paradox::FieldType::kBcd ? f.scale : f.size) = std::max(parts.size, 0);
  }
  return {c.name, meaning->fallback, f};
}

namespace {

// The chooser shown every row: `seen`, or one that reads the table now.
Result<paradox::SchemaChooser> Learn(StagingDb& db, const std::string& table,
                                     const std::vector<ColumnDef>& columns, int code_page,
                                     const paradox::SchemaChooser* seen) {
  if (seen) return *seen;
  std::vector<paradox::SchemaChooser::Column> defs;
  for (const ColumnDef& c : columns) defs.push_back(ChooserColumnOf(c));
  paradox::SchemaChooser chooser(std::move(defs), code_page);
  std::vector<std::string_view> texts(columns.size());
  const RowShape shape = ShapeFor(columns, true);  // filled elsewhere: any value may be large
  CORVANE_RETURN_IF_ERROR(ForEachRow(db, table,
                                     SelectInInsertOrder(table, RowNumberName(columns), shape),
                                     shape, columns.size(), {}, false, [&](const auto& row) {
                                       for (size_t i = 0; i < row.size(); ++i)
                                         texts[i] = row[i].null ? "" : row[i].text;
                                       chooser.Observe(std::span<const std::string_view>(texts));
                                       return Status::Ok();
                                     }));
  return chooser;
}

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

// How the rows stand to their key: why they cannot keep it, or whether
// they are in key order already (else the temporary key table sorts them).
struct KeyOrder {
  std::string why_not;
  bool in_order = false;
};

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

// Moves the new files in, the old table set aside meanwhile: deleted once
// the new one stands, put back when it could not take its place.
Status PlaceReplacing(paradox::TableWriter& writer, const fs::path& folder,
                      const std::string& target) {
  std::unique_ptr<paradox::TableSetAside> old_table;
  Status placed = writer.Finish([&]() -> Status {
    if (StopRequested()) return Interrupted(target);
    if (paradox::DroppableTableFiles(folder, target).empty())
      return Status::Ok();                                                 // gone meanwhile
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

// The failure of row `number`, which the staging database took, so that
// leaving it out would lose it.
Status RowNotWritten(const Status& why, uint64_t number, const std::string& source,
                     const fs::path& db_path) {
  return Status::Error(why.code(), "Row " + std::to_string(number) + " of `" + source +
                                       "` cannot be written to " + db_path.string() + ": " +
                                       why.message() + " No table file was written.");
}

// The rows kept encoded into a new table file. Not ok with `redo` set when
// they could not all go in as they are: the table is then written from the
// staging table, which says which row and why as it always does.
Status WriteEncoded(StagingDb& db, const ExportStatement& e, const fs::path& db_path,
                    const std::vector<paradox::FieldInfo>& fields, int code_page, uint64_t rows,
                    const EncodedRows& encoded,
                    std::unique_ptr<paradox::TableWriter>& writer, bool& redo) {
  redo = false;
  auto made = paradox::TableWriter::Create(db_path.string(), fields, code_page, rows, 0);
  if (!made.ok()) return made.status();
  writer = std::move(made).value();
  uint64_t number = 0;
  Status final_failure = Status::Ok();
  Status written = encoded.ForEach([&](std::span<const paradox::CellView> row) -> Status {
    ++number;
    Status s = writer->Append(row);
    if (!s.ok()) {
      if (s.code() == Status::Code::kInvalidArgument) return s;
      return final_failure = RowNotWritten(s, number, e.source, db_path);
    }
    if (StopRequested()) return final_failure = Interrupted(e.source);
    // As often as the rows read from the file would serve it.
    if (number % BatchPipe::kRowsPerBatch == 0 && db.serve()) db.serve()();
    return Status::Ok();
  });
  if (written.ok()) return written;
  writer->Abandon();
  writer.reset();
  redo = final_failure.ok();
  return final_failure.ok() ? written : final_failure;
}

// The Autoincrement counter AUTOINC(n) words ask for, where the field
// chosen is one (`fields` in staging column order); 0 when none does.
uint32_t AutoIncrementCounter(const std::vector<ColumnDef>& columns,
                              const std::vector<paradox::FieldInfo>& fields) {
  uint32_t counter = 0;
  for (size_t i = 0; i < columns.size() && i < fields.size(); ++i) {
    const TypeWordParts parts = SplitTypeWord(columns[i].type_word);
    if (parts.word == "AUTOINC" && parts.size > 0 &&
        fields[i].type == paradox::FieldType::kAutoIncrement) {
      counter = std::max(counter, static_cast<uint32_t>(parts.size));
    }
  }
  return counter;
}

Status ExportStagingTable(StagingDb& db, const ExportStatement& e, int code_page,
                          const paradox::SchemaChooser* seen, std::string* note,
                          bool large_values, const EncodedRows* encoded) {
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
  std::vector<paradox::FieldInfo> fields = chooser->Choose();
  const uint32_t counter = AutoIncrementCounter(*columns, fields);

  const std::vector<size_t> key = KeyColumns(*columns);
  const RowShape shape = ShapeFor(*columns, large_values);
  const std::string row_number = RowNumberName(*columns);
  std::string select = SelectInInsertOrder(e.source, row_number, shape);
  std::vector<size_t> order;  // staging column i -> field order[i]
  std::optional<KeySort> sort;  // lives until the rows are written
  if (!key.empty()) {
    auto sorted = SortByKey(db, e.source, fields, key, code_page, sort.emplace(db));
    if (!sorted.ok()) return sorted.status();
    if (sorted->why_not.empty()) {
      // Key fields first, in key order; the others keep theirs.
      std::vector<size_t> fields_from(key);
      for (size_t i = 0; i < fields.size(); ++i) {
        if (std::find(key.begin(), key.end(), i) == key.end()) fields_from.push_back(i);
      }
      order.resize(fields.size());
      std::vector<paradox::FieldInfo> reordered;
      for (size_t place = 0; place < fields_from.size(); ++place) {
        order[fields_from[place]] = place;
        reordered.push_back(fields[fields_from[place]]);
      }
      fields = std::move(reordered);
      if (!sorted->in_order) select = SelectInKeyOrder(e.source, row_number, shape);
    } else if (note) {
      *note = e.target + " was written without a key: " + sorted->why_not + ".";
    }
  }
  const int key_fields = order.empty() ? 0 : static_cast<int>(key.size());
  const fs::path db_path = folder / (e.target + ".db");
  auto finish = [&](paradox::TableWriter& writer) {
    writer.RaiseAutoIncrement(counter);
    // Placing the files syncs them to disk first.
    if (replace) {
      return CallServed([&] { return PlaceReplacing(writer, folder, e.target); }, db.serve());
    }
    return CallServed([&] { return writer.Finish(paradox::TableWriter::Replace::kNever); },
                      db.serve());
  };
  if (key.empty() && encoded && encoded->Serves(fields, rows)) {
    std::unique_ptr<paradox::TableWriter> writer;
    bool redo = false;
    Status written = WriteEncoded(db, e, db_path, fields, code_page, rows, *encoded, writer, redo);
    if (written.ok()) return finish(*writer);
    if (!redo) return written;
  }
  auto writer = paradox::TableWriter::Create(db_path.string(), std::move(fields), code_page,
                                             rows, key_fields);
  if (!writer.ok()) return writer.status();
  uint64_t number = 0;
  Status written =
      ForEachRow(db, e.source, select, shape, columns->size(), order, true,
                 [&](const auto& row) -> Status {
        ++number;
        Status s = (*writer)->Append(row);
        return s.ok() ? s : RowNotWritten(s, number, e.source, db_path);
      });
  sort.reset();
  if (!written.ok()) {
    (*writer)->Abandon();
    return written;
  }
  return finish(**writer);
}

}  // namespace corvane::staging
