// Rows stored into one staging table on threads of their own, so that the
// caller's thread only checks each row and hands it over: one thread
// binds and inserts the rows, a second shows them to the table's field
// chooser once stored, and batches go round the three threads (caller,
// writer, chooser) a few at a time, so memory stays flat.
//
// The rows go several to one INSERT statement, which costs SQLite much
// less than a statement each. The table must have no constraints, so that
// only a failure every later row would meet too (a full disk, an I/O error,
// a rolled-back transaction) can refuse one: the writer then stops, and
// the rows from the first of the failing statement on are not stored.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/row_batches.h"
#include "base/status.h"
#include "connection/connection.h"
#include "staging/field_learner.h"
#include "staging/staging_db.h"
#include "connection/value.h"

namespace corvane::staging {

class RowWriter {
 public:
  // Until Finish returns, `db` is the writer's alone and `learner` is
  // shown rows on its thread. `datetime` flags the DATETIME columns.
  static Result<std::unique_ptr<RowWriter>> Start(StagingDb& db, const std::string& table,
                                                  std::vector<char> datetime,
                                                  FieldLearner* learner);
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  // True once a row could not be stored: rows handed over now are lost.
  bool failed() const;
  // Hands over one checked row, a value per column (nullopt: NULL).
  void Add(std::span<const std::optional<std::string_view>> row);

  // Stores what it holds and ends the threads, calling `serve` (if set)
  // every few milliseconds meanwhile. A failure names the rows handed
  // over but not stored, and the first of them as handed over.
  DeferredRows Finish(const std::function<void()>& serve);

 private:
  RowWriter(StagingDb& db, std::vector<char> datetime, FieldLearner* learner)
      : db_(db), datetime_(std::move(datetime)), learner_(learner) {}
  void Write();
  void Learn();
  void Store(const RowBatch& batch);
  void Bind(sqlite3_stmt* st, int first, const RowBatch& batch, size_t row);

  StagingDb& db_;
  std::vector<char> datetime_;
  FieldLearner* learner_;
  size_t group_rows_ = 1;  // rows per statement of `group_`
  Stmt group_, single_;
  // Batches of narrow rows wait several to a stage, so that a thread that
  // falls behind for a moment does not hold up the others; wide rows, which
  // fill a batch with fewer of them, about a megabyte's worth.
  static constexpr size_t kBytesWaiting = size_t{1} << 20;
  BatchPipe to_writer_{8, kBytesWaiting}, to_learner_{6, kBytesWaiting};
  std::optional<RowBatch> batch_;  // the one being filled
  std::thread writer_, learner_thread_;
  bool finished_ = false;

  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::condition_variable ended_;
  int running_ = 0;  // threads not yet ended
  DeferredRows outcome_;  // the writer's, read once it ended
};

}  // namespace corvane::staging
