#include "paradox/table_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "base/ascii.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

// Regular files directly in `folder` for which `keep` holds.
template <typename Keep>
std::vector<fs::path> FilesWhere(const fs::path& folder, Keep keep) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    if (keep(it->path())) out.push_back(it->path());
  }
  return out;
}

// The table's own lock files: <stem>.lck in any case of the extension and
// of the name, as the program that made it spelled it.
std::vector<fs::path> TableLockFiles(const TableFamily& table) {
  const std::string stem = table.table_file.stem().string();
  return FilesWhere(table.table_file.parent_path(), [&](const fs::path& p) {
    return AsciiLowerCase(p.extension().string()) == ".lck" && SameNameIgnoringCase(p.stem().string(), stem);
  });
}

std::vector<fs::path> FolderLockFiles(const fs::path& folder) {
  return FilesWhere(folder, [](const fs::path& p) {
    const std::string name = AsciiLowerCase(p.filename().string());
    return name == "pdoxusrs.lck" || name == "paradox.lck";
  });
}

Status InUse(const TableFamily& table, const std::string& why) {
  return Status::PermissionDenied(
      "Table " + table.table_file.stem().string() + " (" + table.table_file.string() +
      ") is in use by another program: " + why + ". Nothing was changed.");
}

}  // namespace

bool FileIsLocked(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock probe = {};
  probe.l_type = F_WRLCK;  // conflicts with every lock, shared or not
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // the whole file, and beyond its end
  bool locked = false;
#ifdef F_OFD_GETLK
  // Open-file-description locks see locks of this process's other opens too.
  int rc = ::fcntl(fd, F_OFD_GETLK, &probe);
  if (rc != 0 && errno == EINVAL) {
    probe.l_type = F_WRLCK;
    rc = ::fcntl(fd, F_GETLK, &probe);
  }
#else
  int rc = ::fcntl(fd, F_GETLK, &probe);
#endif
  if (rc == 0 && probe.l_type != F_UNLCK) locked = true;
  // A shared flock is refused only while someone holds an exclusive one;
  // taking it for a moment disturbs no reader.
  if (!locked && ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) locked = true;
  ::close(fd);  // releases the probe's flock, if it was taken
  return locked;
}

Status CheckTableNotInUse(const TableFamily& table) {
  const std::vector<fs::path> lock_files = TableLockFiles(table);
  for (const fs::path& f : table.Files()) {
    if (FileIsLocked(f)) return InUse(table, f.filename().string() + " is locked");
  }
  for (const fs::path& f : lock_files) {
    if (FileIsLocked(f)) return InUse(table, f.filename().string() + " is locked");
  }
  if (lock_files.empty()) return Status::Ok();
  const std::vector<fs::path> folder_locks = FolderLockFiles(table.table_file.parent_path());
  if (folder_locks.empty()) return Status::Ok();
  const std::string lck = lock_files.front().filename().string();
  return InUse(table, lck + " and " + folder_locks.front().filename().string() +
                          " are in its folder (if no program has it open, they were left by "
                          "one that stopped: delete " +
                          lck + ")");
}

Status CheckTableNotInUse(const fs::path& folder, const std::string& name) {
  Result<TableFamily> table = FindTable(folder, name);
  return table.ok() ? CheckTableNotInUse(table.value()) : Status::Ok();
}

}  // namespace corvane::paradox
