#include "paradox/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace corvane::paradox {

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status ReadOnlyFile::Open(const std::string& path) {
  path_ = path;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    const int err = errno;
    const std::string why = std::strerror(err);
    if (err == ENOENT) return Status::NotFound(path + ": no such file");
    if (err == EACCES) return Status::PermissionDenied(path + ": permission denied");
    return Status::IoError(path + ": cannot open (" + why + ")");
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Status::IoError(path + ": cannot read its size");
  if (!S_ISREG(st.st_mode)) return Status::InvalidArgument(path + ": not a regular file");
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  size_ = static_cast<uint64_t>(st.st_size);
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
  return Status::Ok();
}

bool ReadOnlyFile::StillAtPath() const {
  struct stat st;
  if (fd_ < 0 || ::stat(path_.c_str(), &st) != 0) return false;
  return static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_;
}

Status FileChanged(const std::string& path, const std::string& detail) {
  return Status::IoError(path + " changed or ended while it was read (" + detail + ").");
}

Status ReadOnlyFile::ReadExactly(uint64_t offset, size_t n, void* buf) const {
  Result<size_t> got = ReadAt(offset, n, buf);
  if (!got.ok()) return got.status();
  if (*got != n) {
    return FileChanged(path_, std::to_string(n) + " bytes expected at offset " +
                                  std::to_string(offset) + ", " + std::to_string(*got) + " found");
  }
  return Status::Ok();
}

Result<size_t> ReadOnlyFile::ReadAt(uint64_t offset, size_t n, void* buf) const {
  size_t done = 0;
  while (done < n) {
    const ssize_t r =
        ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Status::IoError(path_ + ": read failed (" + std::strerror(errno) + ")");
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

}  // namespace corvane::paradox
