// A read-only file descriptor with positioned reads. Internal to the reader.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"

namespace corvane::paradox {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path`; errors say whether it is missing, not allowed or not a
  // regular file. Never waits: a FIFO or device is refused at once.
  Status Open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Whether the path still names the file that was opened: another
  // program that replaces a table writes new files and renames them over
  // the old ones, which an open descriptor goes on reading.
  bool StillAtPath() const;

  // Reads up to n bytes at `offset`; fewer only at the end of the file.
  // Returns the number read.
  Result<size_t> ReadAt(uint64_t offset, size_t n, void* buf) const;

  // Reads exactly n bytes at `offset`. Bytes that were there when the file
  // was opened and are gone now mean another program changed the file under
  // us: an IoError naming it, never a short buffer.
  Status ReadExactly(uint64_t offset, size_t n, void* buf) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t device_ = 0, inode_ = 0;
  std::string path_;
};

// The error for a file that another program changed while we read it.
Status FileChanged(const std::string& path, const std::string& detail);

}  // namespace corvane::paradox
