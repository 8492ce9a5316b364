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

  // Opens `path`; errors say whether it is missing, not allowed or a folder.
  Status Open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Reads up to n bytes at `offset`; fewer only at the end of the file.
  // Returns the number read.
  Result<size_t> ReadAt(uint64_t offset, size_t n, void* buf) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

}  // namespace corvane::paradox
