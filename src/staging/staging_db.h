// The staging database file: a SQLite database used as scratch space for
// the tables on their way to Paradox.
//
// Tables are stored under their own names (quoted the SQLite way) with the
// declared type words as column types. Values are stored as blobs holding
// their text, so SQLite's type affinity never rewrites one ('007' stays
// '007', '1.50' stays '1.50'); NULL stays NULL. A large binary value may be
// stored as its bytes behind kBytesMark, at half the size of its hex; it
// reads back as its "\\x" hex text.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/status.h"
#include "connection/sql_names.h"
#include "staging/staging_statements.h"
#include "paradox/format.h"

namespace corvane::staging {

// Owns one prepared statement.
class Stmt {
 public:
  Stmt() = default;
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(Stmt&& o) noexcept : s_(o.s_) { o.s_ = nullptr; }
  Stmt& operator=(Stmt&& o) noexcept {
    std::swap(s_, o.s_);
    return *this;
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return s_; }

 private:
  sqlite3_stmt* s_ = nullptr;
};

using corvane::QuoteSqliteName;

// The scratch file a keyed export sorts its rows in, beside the staging
// file; only the holder of the staging file's lock uses it.
std::string KeySortPath(const std::string& staging_path);

// Beside the staging file while a connection holds it: the tables it
// created, so that the next opener can drop those a killed run left.
std::string TablesNotePath(const std::string& staging_path);

// Called about every 50 ms while another process holds the staging
// database; `first` on the first call. Returning false stops waiting.
using WaitHook = std::function<bool(bool first)>;

// Starts a binary value stored as its bytes. No stored text starts so:
// texts are valid UTF-8, where 0xFF never appears.
inline constexpr std::string_view kBytesMark{"\xFF" "BYTES" "\xFF\xFF", 8};
// Whether `stored` is such a value, and its "\\x" hex text.
bool IsStoredBytes(std::string_view stored);
std::string HexOfStoredBytes(std::string_view stored);

class StagingDb {
 public:
  // Opens an existing file read-write; never creates one. A missing file,
  // or one that is not a SQLite database, fails with a message naming it.
  //
  // One process at a time: the file is locked (flock) for the life of the
  // object, and a second opener waits, calling `wait` meanwhile. A file
  // left damaged (a crash of an old version, a torn write) is emptied and
  // used afresh: it only ever holds scratch copies. Tables a killed run
  // created (NoteTable) are dropped, and free space past a mebibyte given
  // back.
  static Result<std::unique_ptr<StagingDb>> Open(const std::string& path,
                                                 const WaitHook& wait = {});
  ~StagingDb();
  StagingDb(const StagingDb&) = delete;
  StagingDb& operator=(const StagingDb&) = delete;

  // Notes that this connection created `table` (see TablesNotePath).
  void NoteTable(const std::string& table);

  Result<Stmt> Prepare(std::string_view sql);
  // Runs SQL without rows (fixed text of ours only).
  Status Exec(const char* sql);
  // Writes run in one transaction, begun on the first write; Commit ends it.
  Status BeginIfNeeded();
  Status Commit();
  // True when SQLite rolled the open transaction back by itself after a
  // failure (disk full, I/O error): writes since Begin are gone.
  bool LostTransaction() const { return in_transaction_ && sqlite3_get_autocommit(db_) != 0; }
  void ForgetTransaction() { in_transaction_ = false; }

  // Declared columns of `table`, in order; an empty list when there is no
  // such table.
  Result<std::vector<ColumnDef>> Columns(const std::string& table);
  // The whole value of `column` in row `rowid` of `table`, read through a
  // blob handle: SQLite holds no copy of it meanwhile. Bytes behind the
  // mark come as their hex text.
  Result<std::string> ReadValue(const std::string& table, const std::string& column,
                                int64_t rowid);
  int64_t LastRowid() const { return sqlite3_last_insert_rowid(db_); }
  // A value of a row read in pieces through a blob handle. No other
  // statement may use the connection while it lives. Bytes behind the mark
  // read as their hex text, made a piece at a time; HexBytes gives the
  // bytes themselves.
  class ValueReader : public paradox::ValuePieces {
   public:
    ~ValueReader() override { sqlite3_blob_close(blob_); }
    ValueReader(const ValueReader&) = delete;
    ValueReader& operator=(const ValueReader&) = delete;
    uint64_t size() const override;
    Status Read(uint64_t offset, size_t n, char* out) const override;
    const ValuePieces* HexBytes() const override { return bytes_ ? &bytes_reader_ : nullptr; }

   private:
    friend class StagingDb;
    // The bytes behind the mark.
    class Bytes : public paradox::ValuePieces {
     public:
      explicit Bytes(const ValueReader& r) : r_(r) {}
      uint64_t size() const override;
      Status Read(uint64_t offset, size_t n, char* out) const override;

     private:
      const ValueReader& r_;
    };
    ValueReader(const StagingDb& db, std::string what) : db_(db), what_(std::move(what)) {}
    Status ReadStored(uint64_t offset, size_t n, char* out) const;
    const StagingDb& db_;
    std::string what_;  // the start of its error messages
    sqlite3_blob* blob_ = nullptr;
    bool bytes_ = false;  // stored as bytes behind the mark
    Bytes bytes_reader_{*this};
    mutable std::string piece_, hex_;  // bytes being turned into hex
  };
  Result<std::unique_ptr<ValueReader>> OpenValue(const std::string& table,
                                                 const std::string& column, int64_t rowid);
  // Writes `head` and `value` over the zeroblob of their size that row
  // `rowid` holds in `column`, through a blob handle in pieces: a row bound
  // whole would be copied once more into SQLite's record of it. The column
  // may not be part of an index.
  Status WriteValue(const std::string& table, const std::string& column, int64_t rowid,
                    std::string_view head, std::string_view value);
  // The error SQLite reports for the last call, with `what` in front.
  Status Error(const std::string& what) const;

  const std::string& path() const { return path_; }

  // Calls `serve` every few thousand steps of any statement (a long read,
  // an export, a drop) so the caller's window is served meanwhile.
  void ServeWhileBusy(std::function<void()> serve);
  const std::function<void()>& serve() const { return serve_; }

 private:
  StagingDb(int lock_fd, std::string path) : lock_fd_(lock_fd), path_(std::move(path)) {}
  Status Connect();
  Status Rebuild();
  void ClearLeftovers();
  void Disconnect();

  sqlite3* db_ = nullptr;
  int lock_fd_ = -1;  // holds the flock; closed only after db_
  std::string path_;
  bool in_transaction_ = false;
  bool own_note_ = false;  // a killed run's note was dealt with: the note is ours
  std::function<void()> serve_;
  std::thread::id serving_thread_;
};

}  // namespace corvane::staging
