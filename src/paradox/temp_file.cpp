#include "paradox/temp_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "paradox/companion_files.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kScratchPrefix = ".corvane-";
constexpr size_t kScratchSuffix = 6;  // mkstemp's XXXXXX

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

constexpr std::string_view kCompanionsMagic = "corvane companions\n";
constexpr std::string_view kRenamesMagic = "corvane renames\n";
constexpr size_t kMaxRecord = 1 << 16;

bool Is(const struct stat& st, uint64_t device, uint64_t inode) {
  return S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_dev) == device &&
         static_cast<uint64_t>(st.st_ino) == inode;
}

// Companions of a table file that never came: removed where the file under
// each name is still the one recorded.
void RemoveRecordedCompanions(std::istringstream in, const fs::path& folder) {
  std::string table;
  if (!std::getline(in, table) || table.empty() || FindTableFile(folder, table)) return;
  uint64_t device = 0, inode = 0;
  std::string name;
  while (in >> device >> inode && in.get() == ' ' && std::getline(in, name)) {
    if (name.empty() || name.find('/') != std::string::npos) continue;
    const fs::path path = folder / name;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && Is(st, device, inode)) ::unlink(path.c_str());
  }
}

// Renames cut short: each file that went goes back, the last first.
void UndoRecordedRenames(std::istringstream in, const fs::path& folder) {
  std::vector<std::pair<std::string, std::string>> renames;
  std::string from, to;
  while (std::getline(in, from, '\0') && std::getline(in, to, '\0')) {
    if (from.find('/') == std::string::npos && to.find('/') == std::string::npos)
      renames.emplace_back(from, to);
  }
  for (auto it = renames.rbegin(); it != renames.rend(); ++it) {
    struct stat st;
    const fs::path now = folder / it->second, was = folder / it->first;
    if (::lstat(now.c_str(), &st) == 0 && ::lstat(was.c_str(), &st) != 0) {
      (void)RenameNoReplace(now, was);
    }
  }
}

// What an orphaned record asks to be undone, if it is one.
void UndoRecorded(int fd, const fs::path& folder) {
  std::string text(kMaxRecord, '\0');
  const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
  if (n <= 0) return;
  text.resize(static_cast<size_t>(n));
  if (text.rfind(kCompanionsMagic, 0) == 0) {
    RemoveRecordedCompanions(std::istringstream(text.substr(kCompanionsMagic.size())), folder);
  } else if (text.rfind(kRenamesMagic, 0) == 0) {
    UndoRecordedRenames(std::istringstream(text.substr(kRenamesMagic.size())), folder);
  }
}

Result<std::unique_ptr<TempFile>> WriteRecord(const fs::path& folder, const std::string& text) {
  if (text.size() > kMaxRecord) return Status::InvalidArgument("too many files to record");
  auto record = TempFile::Create(folder / "record");
  if (!record.ok()) {
    // The scratch name means nothing to the user; the folder does.
    const std::string& m = record.status().message();
    const size_t why = m.rfind(": ");
    return Status::Error(record.status().code(),
                         "Cannot write in " + folder.string() +
                             (why == std::string::npos ? "" : m.substr(why)));
  }
  CORVANE_RETURN_IF_ERROR((*record)->WriteAt(0, text.data(), text.size()));
  CORVANE_RETURN_IF_ERROR((*record)->Sync());
  return record;
}

}  // namespace

Result<std::unique_ptr<TempFile>> TempFile::Create(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  for (;;) {
    std::string name = (folder / (std::string(kScratchPrefix) + "XXXXXX")).string();
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return ErrnoStatus("Cannot create", target, errno);
    // Held until the file is published or removed. Recovery may take a
    // file between its creation and this lock for a dead one's: then the
    // lock is refused or the file is gone, and another name is taken.
    // File systems without flock go unlocked; their leftovers are kept.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    struct stat st;
    if ((!locked && errno == EWOULDBLOCK) || (::fstat(fd, &st) == 0 && st.st_nlink == 0)) {
      ::close(fd);
      continue;
    }
    // mkstemp makes 0600; a table must be readable like any file the user makes.
    ::fchmod(fd, 0666 & ~CurrentUmask());
    return std::unique_ptr<TempFile>(new TempFile(fd, fs::path(name), target));
  }
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

void TempFile::StartWriteback() {
#ifdef __linux__
  (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
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
  if (!gone_) ::unlink(path_.c_str());  // before the lock goes with the close
  gone_ = true;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TempFile::Identity(uint64_t& device, uint64_t& inode) const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

Result<std::unique_ptr<TempFile>> RecordCompanions(
    const fs::path& table_file,
    const std::vector<std::pair<const TempFile*, fs::path>>& companions) {
  std::string text(kCompanionsMagic);
  text += table_file.stem().string() + "\n";
  for (const auto& [file, target] : companions) {
    uint64_t device = 0, inode = 0;
    if (!file->Identity(device, inode)) return Status::Internal("a companion file is closed");
    text += std::to_string(device) + " " + std::to_string(inode) + " " +
            target.filename().string() + "\n";
  }
  return WriteRecord(table_file.parent_path(), text);
}

Result<std::unique_ptr<TempFile>> RecordRenames(
    const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& renames) {
  std::string text(kRenamesMagic);
  for (const auto& [from, to] : renames) {
    text += from;
    text += '\0';
    text += to;
    text += '\0';
  }
  return WriteRecord(folder, text);
}

bool IsScratchName(std::string_view name) {
  if (name.size() != kScratchPrefix.size() + kScratchSuffix) return false;
  if (name.substr(0, kScratchPrefix.size()) != kScratchPrefix) return false;
  for (char c : name.substr(kScratchPrefix.size())) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

bool RemoveOrphanScratch(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  // A writer locks its file at once and checks it is still there, so an
  // unlocked one is never live work, however new.
  const bool orphan =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (orphan) UndoRecorded(fd, path.parent_path());
  // Unlinked while locked, so no writer can take it up in between.
  const bool removed = orphan && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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
