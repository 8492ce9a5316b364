#include "staging/staging_db.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <thread>

#include "base/moved_bytes.h"
#include "base/served_call.h"

namespace corvane::staging {

std::string KeySortPath(const std::string& staging_path) { return staging_path + "-keysort"; }
std::string TablesNotePath(const std::string& staging_path) { return staging_path + "-tables"; }

namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(20);  // a window waits no longer

// A rollback journal (deleted at commit) synced: a kill or a power cut part way
// leaves a journal that the next open plays back, and a full disk fails the
// statement and rolls back, so the file is always whole. New pages of a
// bulk insert are not journalled, so the cost is a few syncs per table.
// Without secure_delete a DROP lists the freed pages instead of zeroing
// (and journalling) them.
constexpr const char* kSettings =
    "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; PRAGMA temp_store=MEMORY;"
    "PRAGMA secure_delete=OFF;";
constexpr int kBusyTimeoutMs = 5000;
// Free space in the staging file past which opening it gives the space back.
constexpr int64_t kShrinkFrom = int64_t{1} << 20;

// True for a file we may empty when SQLite finds it damaged: one that starts
// as a SQLite database does, or with zeros (a torn first page). Anything
// else may be some other program's file and is left alone.
bool MayRebuild(int fd) {
  static constexpr char kMagic[16] = "SQLite format 3";  // with its NUL
  char head[16] = {};
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  if (n < static_cast<ssize_t>(sizeof head)) return n >= 0;
  if (std::memcmp(head, kMagic, sizeof head) == 0) return true;
  return std::all_of(std::begin(head), std::end(head), [](char c) { return c == 0; });
}

// Opens `path` and takes its exclusive lock, calling `wait` while another
// process holds it. File systems without flock run unlocked.
Result<int> LockFile(const std::string& path, const WaitHook& wait) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return Status::IoError("Cannot open the staging database '" + path + "': " +
                           std::strerror(errno));
  }
  for (bool first = true;; first = false) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return fd;
    if (wait && !wait(first)) {
      ::close(fd);
      return Status::IoError("Stopped waiting for the staging database '" + path +
                             "', which another transfer is using.");
    }
    std::this_thread::sleep_for(kWaitStep);
  }
}

}  // namespace

Result<std::unique_ptr<StagingDb>> StagingDb::Open(const std::string& path, const WaitHook& wait) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    return Status::NotFound("Could not find the staging database file '" + path + "'.");
  }
  auto fd = LockFile(path, wait);
  if (!fd.ok()) return fd.status();
  std::unique_ptr<StagingDb> db(new StagingDb(*fd, path));
  std::filesystem::remove(KeySortPath(path), ec);  // left by a run that was killed
  Status s = db->Connect();
  if (s.code() == Status::Code::kCorruption && MayRebuild(db->lock_fd_)) s = db->Rebuild();
  if (!s.ok()) {
    return Status::IoError("The staging database '" + path + "' cannot be used: " + s.message());
  }
  db->ClearLeftovers();
  return db;
}

// The tables created under the lock are noted beside the file, and the
// note goes when the connection ends. A note found on opening (the lock is
// ours now) was left by a run that was killed: its tables are dropped and
// their space given back, or the file would keep that size (and be read
// whole by every check). Best effort: the scratch copies only cost room.
void StagingDb::ClearLeftovers() {
  std::string names;
  if (std::FILE* f = std::fopen(TablesNotePath(path_).c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) names.append(buf, n);
    std::fclose(f);
  }
  own_note_ = true;
  if (names.empty()) return;
  for (size_t at = 0, end; (end = names.find('\0', at)) != std::string::npos; at = end + 1) {
    (void)Exec(("DROP TABLE IF EXISTS " + QuoteSqliteName(names.substr(at, end - at))).c_str());
  }
  int64_t free_pages = 0, page_size = 0;
  if (auto count = Prepare("PRAGMA freelist_count"); count.ok()) {
    if (sqlite3_step(count->get()) == SQLITE_ROW) free_pages = sqlite3_column_int64(count->get(), 0);
  }
  if (auto size = Prepare("PRAGMA page_size"); size.ok()) {
    if (sqlite3_step(size->get()) == SQLITE_ROW) page_size = sqlite3_column_int64(size->get(), 0);
  }
  if (free_pages * page_size >= kShrinkFrom) (void)Exec("VACUUM");
  ::unlink(TablesNotePath(path_).c_str());
}

void StagingDb::NoteTable(const std::string& table) {
  if (!own_note_) return;
  const int fd = ::open(TablesNotePath(path_).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                        0600);
  if (fd < 0) return;  // the table is dropped by its transfer all the same
  const std::string entry = table + '\0';
  (void)!::write(fd, entry.data(), entry.size());
  ::close(fd);
}

// Opens SQLite on the locked file and checks it; kCorruption when damaged.
Status StagingDb::Connect() {
  // One connection used by one thread: no locking inside SQLite needed.
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) return Error("Cannot open the staging database '" + path_ + "'");
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);  // for programs that skip the flock
  // The check also plays back the journal of an interrupted write.
  CORVANE_RETURN_IF_ERROR(Exec(kSettings));
  auto check = Prepare("PRAGMA quick_check(1)");
  if (!check.ok()) return check.status();
  const int step = sqlite3_step(check->get());
  const auto* text = step == SQLITE_ROW ? sqlite3_column_text(check->get(), 0) : nullptr;
  if (text != nullptr && std::strcmp(reinterpret_cast<const char*>(text), "ok") == 0) {
    return Status::Ok();
  }
  if (text != nullptr) return Status::Corruption(reinterpret_cast<const char*>(text));
  return Error("The staging database failed its check");
}

// Empties the damaged file in place (same file, same owner and mode) and
// opens it again; a journal of the damaged one must not be played back.
Status StagingDb::Rebuild() {
  Disconnect();
  if (::ftruncate(lock_fd_, 0) != 0 || ::fsync(lock_fd_) != 0) {
    return Status::IoError(std::string("it is damaged and could not be emptied: ") +
                           std::strerror(errno));
  }
  for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  return Connect();
}

void StagingDb::Disconnect() {
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

StagingDb::~StagingDb() {
  if (db_ != nullptr && in_transaction_ && sqlite3_get_autocommit(db_) == 0)
    sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  Disconnect();
  if (own_note_) ::unlink(TablesNotePath(path_).c_str());  // ended, not killed
  if (lock_fd_ >= 0) ::close(lock_fd_);  // after SQLite's own descriptors
}

void StagingDb::ServeWhileBusy(std::function<void()> serve) {
  serve_ = std::move(serve);
  serving_thread_ = std::this_thread::get_id();
  if (!serve_) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return;
  }
  // About every 4000 virtual machine steps: a few tens of microseconds.
  sqlite3_progress_handler(
      db_, 4000,
      [](void* self) {
        auto* db = static_cast<StagingDb*>(self);
        // A statement run on a helper thread (CallServed) is served from here.
        if (std::this_thread::get_id() == db->serving_thread_) db->serve_();
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
  // The commit syncs a whole table's pages to disk: long enough to be felt.
  return CallServed([this] { return Exec("COMMIT"); }, serve_);
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

bool IsStoredBytes(std::string_view stored) { return stored.starts_with(kBytesMark); }

std::string HexOfStoredBytes(std::string_view stored) {
  return HexText(stored.substr(kBytesMark.size()));
}

Result<std::string> StagingDb::ReadValue(const std::string& table, const std::string& column,
                                         int64_t rowid) {
  auto reader = OpenValue(table, column, rowid);
  if (!reader.ok()) return reader.status();
  constexpr size_t kPiece = size_t{1} << 20;
  const ValueReader& r = **reader;
  std::string out(static_cast<size_t>(r.size()), '\0');
  for (size_t at = 0; at < out.size(); at += kPiece) {
    CORVANE_RETURN_IF_ERROR(r.Read(at, std::min(kPiece, out.size() - at), out.data() + at));
  }
  return out;
}

Result<std::unique_ptr<StagingDb::ValueReader>> StagingDb::OpenValue(const std::string& table,
                                                                     const std::string& column,
                                                                     int64_t rowid) {
  std::unique_ptr<ValueReader> reader(
      new ValueReader(*this, "Cannot read a value of staging table `" + table + "`"));
  if (sqlite3_blob_open(db_, "main", table.c_str(), column.c_str(), rowid, 0, &reader->blob_) !=
      SQLITE_OK) {
    return Error(reader->what_);
  }
  const auto stored = static_cast<size_t>(sqlite3_blob_bytes(reader->blob_));
  if (stored >= kBytesMark.size()) {
    char head[kBytesMark.size()];
    CORVANE_RETURN_IF_ERROR(reader->ReadStored(0, sizeof head, head));
    reader->bytes_ = std::string_view(head, sizeof head) == kBytesMark;
  }
  return reader;
}

Status StagingDb::ValueReader::ReadStored(uint64_t offset, size_t n, char* out) const {
  if (offset + n > static_cast<uint64_t>(sqlite3_blob_bytes(blob_))) {
    return Status::Internal(what_ + ": a read past its end.");
  }
  if (sqlite3_blob_read(blob_, out, static_cast<int>(n), static_cast<int>(offset)) != SQLITE_OK) {
    return db_.Error(what_);
  }
  return Status::Ok();
}

uint64_t StagingDb::ValueReader::size() const {
  const auto stored = static_cast<uint64_t>(sqlite3_blob_bytes(blob_));
  return bytes_ ? 2 + 2 * (stored - kBytesMark.size()) : stored;
}

Status StagingDb::ValueReader::Read(uint64_t offset, size_t n, char* out) const {
  if (!bytes_) return ReadStored(offset, n, out);
  if (offset + n > size()) return Status::Internal(what_ + ": a read past its end.");
  // Text position p >= 2 is a digit of byte (p - 2) / 2.
  for (; n > 0 && offset < 2; --n) *out++ = "\\x"[offset++];
  if (n == 0) return Status::Ok();
  const uint64_t first = (offset - 2) / 2, last = (offset - 2 + n - 1) / 2;
  piece_.resize(static_cast<size_t>(last - first + 1));
  CORVANE_RETURN_IF_ERROR(bytes_reader_.Read(first, piece_.size(), piece_.data()));
  hex_.clear();
  AppendHex(hex_, piece_);
  std::memcpy(out, hex_.data() + (offset - 2) % 2, n);
  return Status::Ok();
}

uint64_t StagingDb::ValueReader::Bytes::size() const {
  return static_cast<uint64_t>(sqlite3_blob_bytes(r_.blob_)) - kBytesMark.size();
}

Status StagingDb::ValueReader::Bytes::Read(uint64_t offset, size_t n, char* out) const {
  return r_.ReadStored(offset + kBytesMark.size(), n, out);
}

Status StagingDb::WriteValue(const std::string& table, const std::string& column, int64_t rowid,
                             std::string_view head, std::string_view value) {
  constexpr size_t kPiece = size_t{1} << 20;
  sqlite3_blob* blob = nullptr;
  const std::string what = "Cannot store a value in staging table `" + table + "`";
  int rc = sqlite3_blob_open(db_, "main", table.c_str(), column.c_str(), rowid, 1, &blob);
  if (rc == SQLITE_OK && !head.empty()) {
    rc = sqlite3_blob_write(blob, head.data(), static_cast<int>(head.size()), 0);
  }
  for (size_t at = 0; rc == SQLITE_OK && at < value.size(); at += kPiece) {
    const size_t n = std::min(kPiece, value.size() - at);
    rc = sqlite3_blob_write(blob, value.data() + at, static_cast<int>(n),
                            static_cast<int>(head.size() + at));
  }
  Status s = rc == SQLITE_OK ? Status::Ok() : Error(what);
  sqlite3_blob_close(blob);
  return s;
}

Status StagingDb::Error(const std::string& what) const {
  std::string message = what + ": " + sqlite3_errmsg(db_);
  const int code = sqlite3_errcode(db_) & 0xFF;
  if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) return Status::Corruption(std::move(message));
  // Busy: a program that skips our lock held the file past the time-out;
  // every later row would wait and fail alike, so it ends the table.
  if (code == SQLITE_CANTOPEN || code == SQLITE_IOERR || code == SQLITE_FULL ||
      code == SQLITE_READONLY || code == SQLITE_BUSY || code == SQLITE_LOCKED) {
    return Status::IoError(std::move(message));
  }
  return Status::Database(std::move(message));
}

}  // namespace corvane::staging
