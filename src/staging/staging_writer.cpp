#include "staging/staging_writer.h"

#include <algorithm>
#include <chrono>

#include "staging/staging_export.h"

namespace corvane::staging {
namespace {

// Rows per INSERT: past a few dozen the statement saves nothing more, and
// 999 parameters is what every SQLite build takes.
constexpr size_t kGroupRows = 32;
constexpr size_t kParameters = 999;

std::string InsertText(const std::string& table, size_t columns, size_t rows) {
  std::string sql = "INSERT INTO " + QuoteSqliteName(table) + " VALUES";
  size_t p = 0;
  for (size_t r = 0; r < rows; ++r) {
    sql += r == 0 ? "(" : ", (";
    for (size_t c = 0; c < columns; ++c) sql += (c == 0 ? "?" : ", ?") + std::to_string(++p);
    sql += ")";
  }
  return sql;
}

}  // namespace

Result<std::unique_ptr<RowWriter>> RowWriter::Start(StagingDb& db, const std::string& table,
                                                    std::vector<char> datetime,
                                                    FieldLearner* learner) {
  const size_t columns = datetime.size();
  std::unique_ptr<RowWriter> w(new RowWriter(db, std::move(datetime), learner));
  w->group_rows_ = std::clamp<size_t>(kParameters / std::max<size_t>(columns, 1), 1, kGroupRows);
  auto group = db.Prepare(InsertText(table, columns, w->group_rows_));
  if (!group.ok()) return group.status();
  auto single = db.Prepare(InsertText(table, columns, 1));
  if (!single.ok()) return single.status();
  w->group_ = std::move(group).value();
  w->single_ = std::move(single).value();
  w->running_ = 2;
  w->writer_ = std::thread([p = w.get()] { p->Write(); });
  w->learner_thread_ = std::thread([p = w.get()] { p->Learn(); });
  return w;
}

RowWriter::~RowWriter() { (void)Finish({}); }

bool RowWriter::failed() const { return failed_.load(std::memory_order_relaxed); }

void RowWriter::Add(std::span<const std::optional<std::string_view>> row) {
  if (!batch_) batch_ = to_writer_.Empty(datetime_.size());
  for (const auto& v : row) batch_->Add(v ? *v : std::string_view(), !v);
  if (BatchPipe::IsFull(*batch_)) {
    to_writer_.Send(std::move(*batch_));
    batch_.reset();
  }
}

DeferredRows RowWriter::Finish(const std::function<void()>& serve) {
  if (finished_) return {};
  finished_ = true;
  if (batch_ && batch_->rows() > 0) to_writer_.Send(std::move(*batch_));
  batch_.reset();
  to_writer_.Finish();
  {
    std::unique_lock lock(mutex_);
    while (!ended_.wait_for(lock, std::chrono::milliseconds(5), [&] { return running_ == 0; })) {
      if (!serve) continue;
      lock.unlock();
      serve();
      lock.lock();
    }
  }
  if (writer_.joinable()) writer_.join();
  if (learner_thread_.joinable()) learner_thread_.join();
  return std::move(outcome_);
}

// The writer's thread: each batch into the table, then on to the chooser.
void RowWriter::Write() {
  while (std::optional<RowBatch> batch = to_writer_.Next()) {
    if (outcome_.failure.ok()) Store(*batch);
    else outcome_.lost += static_cast<int64_t>(batch->rows());
    if (!outcome_.failure.ok() || !learner_ || !to_learner_.SendWhenRoom(std::move(*batch))) {
      to_writer_.Recycle(std::move(*batch));
    }
  }
  to_learner_.Finish();
  std::lock_guard lock(mutex_);
  --running_;
  ended_.notify_all();
}

void RowWriter::Learn() {
  while (std::optional<RowBatch> batch = to_learner_.Next()) {
    if (learner_) learner_->ObserveBatch(*batch);
    to_writer_.Recycle(std::move(*batch));
  }
  std::lock_guard lock(mutex_);
  --running_;
  ended_.notify_all();
}

void RowWriter::Store(const RowBatch& batch) {
  const size_t rows = batch.rows();
  for (size_t r = 0; r < rows;) {
    const bool grouped = rows - r >= group_rows_;
    sqlite3_stmt* st = grouped ? group_.get() : single_.get();
    const size_t count = grouped ? group_rows_ : 1;
    for (size_t i = 0; i < count; ++i) Bind(st, static_cast<int>(i * batch.columns()) + 1, batch, r + i);
    Status s = db_.BeginIfNeeded();
    if (s.ok() && sqlite3_step(st) != SQLITE_DONE) {
      s = db_.Error("The staging database refused the row");
    }
    // Every parameter is bound afresh for each statement, so the texts
    // bound now are never read again.
    sqlite3_reset(st);
    if (!s.ok()) {
      outcome_.failure = std::move(s);
      outcome_.lost = static_cast<int64_t>(rows - r);
      for (size_t c = 0; c < batch.columns(); ++c) {
        outcome_.row.push_back(batch.is_null(r, c) ? Value::Null()
                                                   : Value::Text(std::string(batch.text(r, c))));
      }
      failed_ = true;
      return;
    }
    r += count;
  }
}

void RowWriter::Bind(sqlite3_stmt* st, int first, const RowBatch& batch, size_t row) {
  for (size_t c = 0; c < batch.columns(); ++c) {
    const int index = first + static_cast<int>(c);
    if (batch.is_null(row, c)) {
      sqlite3_bind_null(st, index);
      continue;
    }
    std::string_view v = batch.text(row, c);
    if (datetime_[c] != 0) v = StoredDateTime(v);
    // A blob keeps the text's bytes away from type affinity; "" is not NULL.
    sqlite3_bind_blob(st, index, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                      SQLITE_STATIC);
  }
}

}  // namespace corvane::staging
