#include "paradox/temp_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

Status ErrnoStatus(const std::string& what, const fs::path& path, int err) {
  std::string message = what + " " + path.string() + ": " + std::strerror(err);
  if (err == EACCES || err == EPERM || err == EROFS) return Status::PermissionDenied(message);
  if (err == ENOENT || err == ENOTDIR) return Status::NotFound(message);
  return Status::IoError(message);
}

Status ExistsError(const fs::path& target) {
  return Status::InvalidArgument("Cannot write " + target.string() +
                                 ": a file of that name already exists and was left as it is");
}

// Rename without replacing, for file systems without RENAME_NOREPLACE:
// a hard link fails atomically when the target exists.
Status LinkInstead(const fs::path& from, const fs::path& target) {
  if (::link(from.c_str(), target.c_str()) == 0) {
    ::unlink(from.c_str());
    return Status::Ok();
  }
  if (errno == EEXIST) return ExistsError(target);
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) {
    return ErrnoStatus("Cannot create", target, errno);
  }
  // No hard links either (FAT, some network shares): check, then rename.
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0) return ExistsError(target);
  if (::rename(from.c_str(), target.c_str()) != 0)
    return ErrnoStatus("Cannot create", target, errno);
  return Status::Ok();
}

// The process umask, read without changing it: umask(2) would set it for
// every thread for a moment, and a file another thread made then would get
// the wrong mode.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;  // the usual one, when /proc cannot say
}

}  // namespace

Result<std::unique_ptr<TempFile>> TempFile::Create(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string name = (folder / ".corvane-XXXXXX").string();
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return ErrnoStatus("Cannot create", target, errno);
  // mkstemp makes 0600; a table must be readable like any file the user makes.
  ::fchmod(fd, 0666 & ~CurrentUmask());
  return std::unique_ptr<TempFile>(new TempFile(fd, fs::path(name), target));
}

TempFile::~TempFile() { Discard(); }

Status TempFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ErrnoStatus("Cannot write", target_, n < 0 ? errno : EIO);
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return Status::Ok();
}

Status TempFile::Resize(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
    return ErrnoStatus("Cannot write", target_, errno);
  return Status::Ok();
}

Status TempFile::Sync() {
  if (::fsync(fd_) != 0) return ErrnoStatus("Cannot write", target_, errno);
  return Status::Ok();
}

Status TempFile::Publish(const fs::path& target, bool replace) {
  if (gone_) return Status::Internal("temporary file already gone");
  Status st;
  if (replace) {
    if (::rename(path_.c_str(), target.c_str()) != 0)
      st = ErrnoStatus("Cannot create", target, errno);
  } else if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) !=
             0) {
    if (errno == EEXIST) return ExistsError(target);
    st = (errno == EINVAL || errno == ENOSYS) ? LinkInstead(path_, target)
                                              : ErrnoStatus("Cannot create", target, errno);
  }
  if (!st.ok()) return st;
  ::close(fd_);
  fd_ = -1;
  gone_ = true;
  return Status::Ok();
}

void TempFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!gone_) ::unlink(path_.c_str());
  gone_ = true;
}

Status SyncFolder(const fs::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoStatus("Cannot open", folder, errno);
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  // Some file systems cannot sync a folder; the renames still happened.
  if (rc != 0 && err != EINVAL && err != EROFS) return ErrnoStatus("Cannot write", folder, err);
  return Status::Ok();
}

}  // namespace corvane::paradox
