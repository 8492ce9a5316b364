// Rows handed from one thread to another in batches, so that reading rows
// and working on them can use two cores: a batch keeps its rows' texts back
// to back (no allocation per value once its buffers have grown), and a pipe
// holds at most a few batches, so memory stays flat whatever the table.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

// Rows of a fixed number of values, each a text or null. A large value is
// kept in a string of its own, which the consumer may take without a copy,
// and a batch that held large values gives their memory back when reused.
// A large binary value may be kept as its bytes rather than its text
// (is_bytes says which).
class RowBatch {
 public:
  // From this size on a value is kept on its own.
  static constexpr size_t kLargeValue = size_t{1} << 20;

  explicit RowBatch(size_t columns = 0) : columns_(columns) {}
  void Reset(size_t columns) {
    columns_ = columns;
    if (bytes_.capacity() > kKeptCapacity) std::string().swap(bytes_);
    bytes_.clear();
    ends_.clear();
    nulls_.clear();
    large_.clear();
    large_bytes_ = 0;
  }
  void Add(std::string_view text, bool null) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
    nulls_.push_back(null ? 1 : 0);
  }
  // A value given whole: large ones are kept as they are, not copied.
  void Add(std::string&& text) {
    if (text.size() < kLargeValue) return Add(std::string_view(text), false);
    large_bytes_ += text.size();
    large_.push_back({ends_.size(), std::move(text), false});
    Add(std::string_view(), false);
  }
  // A binary value of kLargeValue bytes or more, given as its bytes.
  void AddBytes(std::string&& bytes) {
    large_bytes_ += bytes.size();
    large_.push_back({ends_.size(), std::move(bytes), true});
    Add(std::string_view(), false);
  }
  size_t columns() const { return columns_; }
  size_t rows() const { return columns_ == 0 ? 0 : ends_.size() / columns_; }
  size_t bytes() const { return bytes_.size() + large_bytes_; }
  bool is_null(size_t row, size_t column) const { return nulls_[row * columns_ + column] != 0; }
  bool is_bytes(size_t row, size_t column) const {
    const LargeValue* large = Large(row * columns_ + column);
    return large != nullptr && large->bytes;
  }
  // The value's text, or its bytes when is_bytes.
  std::string_view text(size_t row, size_t column) const {
    const size_t i = row * columns_ + column;
    if (const LargeValue* large = Large(i)) return large->text;
    const size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(bytes_).substr(start, ends_[i] - start);
  }
  // The value into `out`: moved when it is kept on its own (the batch then
  // holds `out`'s old text there), copied otherwise.
  void Take(size_t row, size_t column, std::string& out) {
    const size_t i = row * columns_ + column;
    if (LargeValue* large = Large(i)) {
      out.swap(large->text);
      std::string().swap(large->text);
      return;
    }
    out.assign(text(row, column));
  }

 private:
  static constexpr size_t kKeptCapacity = size_t{4} << 20;
  struct LargeValue {
    size_t index;
    std::string text;
    bool bytes;
  };
  const LargeValue* Large(size_t i) const {
    for (const LargeValue& l : large_) {
      if (l.index == i) return &l;
    }
    return nullptr;
  }
  LargeValue* Large(size_t i) {
    return const_cast<LargeValue*>(std::as_const(*this).Large(i));
  }

  size_t columns_;
  std::string bytes_;
  std::vector<size_t> ends_;
  std::vector<unsigned char> nulls_;
  std::vector<LargeValue> large_;  // few, and usually none
  size_t large_bytes_ = 0;
};

// One producer, one consumer. Batches go back to the producer once used,
// so their buffers are reused.
class BatchPipe {
 public:
  static constexpr size_t kRowsPerBatch = 512;
  static constexpr size_t kBytesPerBatch = 1 << 20;
  static constexpr size_t kBatchesInFlight = 3;

  // `in_flight`: how many full batches may wait for the consumer; past
  // `bytes_in_flight` of them, only one more.
  explicit BatchPipe(size_t in_flight = kBatchesInFlight, size_t bytes_in_flight = SIZE_MAX)
      : in_flight_(in_flight), bytes_in_flight_(bytes_in_flight) {}

  // The producer: a batch to fill (a used one when there is one). Empty
  // when the consumer gave up.
  std::optional<RowBatch> Empty(size_t columns) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return cancelled_ || Room(); });
    if (cancelled_) return std::nullopt;
    RowBatch b;
    if (!spare_.empty()) {
      b = std::move(spare_.back());
      spare_.pop_back();
    }
    b.Reset(columns);
    return b;
  }
  static bool IsFull(const RowBatch& b) {
    return b.rows() >= kRowsPerBatch || b.bytes() >= kBytesPerBatch;
  }
  void Send(RowBatch b) {
    std::lock_guard lock(mutex_);
    full_bytes_ += b.bytes();
    full_.push_back(std::move(b));
    changed_.notify_all();
  }
  // For a producer whose batches come from elsewhere (another pipe):
  // waits for room, then sends. False when the consumer gave up.
  bool SendWhenRoom(RowBatch b) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return cancelled_ || Room(); });
    if (cancelled_) return false;
    full_bytes_ += b.bytes();
    full_.push_back(std::move(b));
    changed_.notify_all();
    return true;
  }
  // The producer is done.
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }

  // The consumer: the next batch, or nothing once the producer finished
  // and every batch was taken. While it waits, `serve` (if set) is called
  // every few milliseconds, outside the lock.
  std::optional<RowBatch> Next(const std::function<void()>& serve = {}) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return finished_ || !full_.empty(); };
    while (!changed_.wait_for(lock, std::chrono::milliseconds(5), ready)) {
      if (!serve) continue;
      lock.unlock();
      serve();
      lock.lock();
    }
    if (full_.empty()) return std::nullopt;
    RowBatch b = std::move(full_.front());
    full_.pop_front();
    full_bytes_ -= b.bytes();
    changed_.notify_all();
    return b;
  }
  void Recycle(RowBatch b) {
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(b));
  }
  // The consumer needs no more rows: the producer's next Empty says so.
  void Cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }

 private:
  bool Room() const {
    return full_.size() < in_flight_ && (full_.empty() || full_bytes_ < bytes_in_flight_);
  }

  const size_t in_flight_, bytes_in_flight_;
  size_t full_bytes_ = 0;  // of the batches in full_
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<RowBatch> full_;
  std::vector<RowBatch> spare_;
  bool finished_ = false;
  bool cancelled_ = false;
};

}  // namespace corvane
