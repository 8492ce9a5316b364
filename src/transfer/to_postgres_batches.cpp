// How a table's rows travel to PostgreSQL: in batches, each stored exactly
// as one autocommitted INSERT per row would store it (see to_postgres.cpp).
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "base/row_batches.h"
#include "base/stop_request.h"
#include "transfer/field_types.h"
#include "transfer/handler_steps.h"
#include "transfer/set_insert.h"
#include "transfer/to_postgres_handler.h"

namespace corvane::transfer {

using namespace to_postgres_step;  // the steps a failure dialog names

namespace {
const Status kNoResult = Status::Internal("The server gave no result for the statement.");

// A row refused for what every later row shares rather than for its own
// values: the connection or the server's disk is gone, the statement does
// not fit the target (no such table, a view, too many values, no right to
// insert), or the server takes no writes (a standby). The rest of the table
// would only repeat it, row by row.
bool EndsTheRows(const Status& s) {
  if (s.ok()) return false;
  switch (s.fault()) {
    case SqlFault::kConnectionLost:
    case SqlFault::kServerStorage:
    case SqlFault::kMisfit:
    case SqlFault::kSyntax:
    case SqlFault::kNoUniqueParent:
    case SqlFault::kReadOnly:
      return true;
    default:
      return false;
  }
}

}  // namespace

// Takes rows [first, end) into the batch, stopping early at the byte budget.
// A row the source could not read gets a slot without values: it is
// reported in its place and not sent, since its values are not known.
// Returns false when the source ends before `end` (read_failure_ says why).
bool ToPostgres::FillBatch(RecordSet& rows, int64_t first, int64_t end) {
  batch_used_ = 0;
  slots_.clear();
  size_t bytes = 0;
  const int columns = rows.FieldCount();
  StartCopy(static_cast<size_t>(end - first));
  for (int64_t r = first; r < end && bytes < batch_bytes_ && !StopRequested(); ++r) {
    pump_.Pump();
    if (rows.Eof()) {
      read_failure_ = !last_move_.ok()
                          ? last_move_
                          : Status::Corruption("The table ends after " + std::to_string(r) +
                                               " rows, fewer than its header counts.");
      return false;
    }
    Status readable = rows.CurrentRowStatus();
    if (!readable.ok()) {
      slots_.push_back({-1, std::move(readable)});
    } else {
      if (batch_used_ == values_.size()) values_.emplace_back();
      std::vector<Value>& row = values_[batch_used_];
      row.resize(static_cast<size_t>(columns));
      bool large = false;
      for (int c = 0; c < columns; ++c) {
        rows.TakeFieldValue(c, row[static_cast<size_t>(c)]);
        bytes += row[static_cast<size_t>(c)].text_size() + sizeof(Value);
        large = large || row[static_cast<size_t>(c)].text_size() >= RowBatch::kLargeValue;
      }
      if (large && !copy_ && copy_status_.ok() && end - first == 1) StartCopy(1, true);
      if (copy_ && copy_status_.ok()) copy_status_ = copy_->Add(row);
      slots_.push_back({static_cast<int>(batch_used_++), Status::Ok()});
    }
    last_move_ = rows.MoveNext();
    // Rows read after the connection is gone would only be read again.
    if (IsConnectionLost(copy_status_)) break;
  }
  return true;
}

// A batch of one row goes as its own statement, as the reference does,
// unless a value of it is large: its statement text would hold the value
// again, and libpq another two copies, where a copy streams it in pieces.
// Should the copy fail, the row is replayed as its statement all the same.
void ToPostgres::StartCopy(size_t planned_rows, bool large_row) {
  copy_.reset();
  copy_status_ = Status::Ok();
  if (!Bulk() || !driver_copies_ || (planned_rows < 2 && !large_row)) return;
  auto copy = postgres_.BeginCopy(QuotePostgresName(target_), static_cast<int>(numeric_.size()),
                                  CopyEmpty::kNull);
  if (copy.ok()) {
    copy_ = std::move(copy).value();
  } else if (copy.status().code() == Status::Code::kNotSupported) {
    driver_copies_ = false;
  } else {
    copy_status_ = copy.status();  // the rows go one by one and say why
  }
}

// Sends the batch, then shows per row, in row order, what one statement at
// a time would have shown: any read failure, the progress, any refusal.
// Returns the number of refused rows.
size_t ToPostgres::SendBatch(int64_t first, int64_t total) {
  size_t failed = 0;
  const std::vector<Status> results = batch_used_ > 0 ? RunBatch() : std::vector<Status>();
  copy_.reset();   // a copy of no rows stores nothing
  int built = -1;  // the statement built last so far, for the dialogs
  for (size_t k = 0; k < slots_.size(); ++k) {
    pump_.Pump();
    const Slot& slot = slots_[k];
    if (slot.row < 0) {  // shown by the MoveNext that reached the row
      if (built >= 0) {
        statement_ = RowStatement(head_, values_[static_cast<size_t>(built)]);
        statement_stale_ = false;
      }
      RefreshStatement();
      RefuseRow(kReadRow, first + static_cast<int64_t>(k) + 1, slot.read_error, nullptr);
    }
    const auto r = static_cast<double>(first + static_cast<int64_t>(k));
    w_.progress.SetValue((r + 1) / static_cast<double>(total) * 100.0);  // kShowProgress
    report_.rows_read = first + static_cast<int64_t>(k) + 1;
    if (options_.events.rows) options_.events.rows(table_, report_.rows_read, total);
    if (slot.row < 0) continue;
    built = slot.row;
    const auto index = static_cast<size_t>(slot.row);
    const Status& status = index < results.size() ? results[index] : kNoResult;
    if (!status.ok()) {
      ++failed;
      statement_ = RowStatement(head_, values_[index]);
      statement_stale_ = false;
      if (EndsTheRows(status)) {
        // One dialog for the rest of the table; a row the replay still
        // stored after this one is counted, so the figure stays true.
        for (size_t later = k + 1; later < slots_.size(); ++later) {
          const auto at = static_cast<size_t>(slots_[later].row);
          if (slots_[later].row >= 0 && at < results.size() && results[at].ok()) ++stored_;
        }
        proc_.Fail(kInsertRow, Stopped(status, first + static_cast<int64_t>(k) + 1));
        lost_ = lost_ || IsConnectionLost(status);
        rows_ended_ = true;
        return failed;
      }
      RefuseRow(kInsertRow, first + static_cast<int64_t>(k) + 1, AsShown(status), &values_[index]);
    } else {
      ++stored_;
    }
  }
  // What one statement per row would hold now: the last row's INSERT.
  if (batch_used_ > 0) {
    values_[batch_used_ - 1].swap(last_row_);
    statement_stale_ = true;
  }
  return failed;
}

std::vector<Status> ToPostgres::RunBatch() {
  const Status copied = EndCopy();
  if (copied.ok()) return std::vector<Status>(batch_used_);
  // Nothing of the batch was stored, and replaying it would only fail again.
  if (IsConnectionLost(copied) || IsServerStorageFailure(copied)) {
    return std::vector<Status>(batch_used_, copied);
  }
  // The set-based form passes text, which typed columns do not take.
  if (Bulk() && batch_used_ > 1 && !driver_copies_ && !layout_) {
    // All or nothing; on failure nothing of it is stored and the rows are
    // replayed on their own, which gives each its own status.
    const std::string sql = SetInsertStatement(target_, numeric_, values_, batch_used_);
    if (postgres_.Execute(sql).ok()) return std::vector<Status>(batch_used_);
  }
  return RunRowByRow();
}

// Each row as its own statement, in pieces of at most batch_rows so that a
// bulk batch replayed after a failure keeps the pump served.
std::vector<Status> ToPostgres::RunRowByRow() {
  std::vector<Status> results;
  results.reserve(batch_used_);
  const size_t piece = std::max<size_t>(options_.batch_rows, 1);
  for (size_t begin = 0; begin < batch_used_; begin += piece) {
    BuildRowStatements(begin, std::min(batch_used_, begin + piece));
    std::vector<Status> done = postgres_.ExecuteEach(statements_);
    std::move(done.begin(), done.end(), std::back_inserter(results));
  }
  return results;
}

// Ok when the batch's COPY stored every row; otherwise nothing of it is
// stored (kNotSupported when there was no copy).
Status ToPostgres::EndCopy() {
  if (!copy_) return copy_status_.ok() ? Status::NotSupported("no copy") : copy_status_;
  Status stored = copy_status_;
  if (stored.ok()) stored = copy_->End([this] { pump_.Pump(); });
  copy_.reset();
  return stored;
}

void ToPostgres::BuildRowStatements(size_t begin, size_t end) {
  statements_.resize(end - begin);
  for (size_t k = begin; k < end; ++k) {
    pump_.Pump();
    BuildRowStatement(statements_[k - begin], run_head_, values_[k]);
  }
}

}  // namespace corvane::transfer
