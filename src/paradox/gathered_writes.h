// Writes to a file at given offsets, runs of adjacent ones gathered into one
// write call: a table of many small blocks is not a system call per block.
// A failed write may thus surface at a later Write, or at Flush.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {

class GatheredWrites {
 public:
  static constexpr size_t kMostGathered = size_t{64} << 10;

  explicit GatheredWrites(TempFile& file) : file_(file) {}

  Status Write(uint64_t offset, const void* data, size_t size) {
    if (!pending_.empty() && offset != offset_ + pending_.size()) {
      CORVANE_RETURN_IF_ERROR(Flush());
    }
    if (size >= kMostGathered) {  // large: written as it is, never copied
      CORVANE_RETURN_IF_ERROR(Flush());
      Status written = file_.WriteAt(offset, data, size);
      Written(size);
      return written;
    }
    if (pending_.empty()) offset_ = offset;
    pending_.append(static_cast<const char*>(data), size);
    return pending_.size() >= kMostGathered ? Flush() : Status::Ok();
  }

  Status Flush() {
    if (pending_.empty()) return Status::Ok();
    Status written = file_.WriteAt(offset_, pending_.data(), pending_.size());
    Written(pending_.size());
    pending_.clear();
    return written;
  }

 private:
  // The file is synced before it is placed: its writing to disk starts as
  // it grows, so the sync at the end does not wait for all of it at once.
  static constexpr uint64_t kWritebackBytes = uint64_t{8} << 20;
  void Written(size_t size) {
    unsynced_ += size;
    if (unsynced_ < kWritebackBytes) return;
    file_.StartWriteback();
    unsynced_ = 0;
  }

  TempFile& file_;
  uint64_t unsynced_ = 0;
  std::string pending_;  // bytes to be written at offset_
  uint64_t offset_ = 0;
};

}  // namespace corvane::paradox
