#include "app/program_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace corvane::app {
namespace fs = std::filesystem;

namespace {

std::string Join(const std::string& folder, const char* name) {
  // At the root the folder already ends in "/".
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string Because(int error) { return std::string(": ") + std::strerror(error) + "."; }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir)
    return found->pw_dir;
  return {};
}

Result<std::string> XdgFolder(const char* variable, const char* under_home) {
  // Only an absolute value counts; a relative one is to be ignored.
  if (const char* x = std::getenv(variable); x && x[0] == '/') return Join(x, "corvane");
  const std::string home = HomeFolder();
  if (home.empty())
    return Status::NotFound(std::string("This user has no home folder; set HOME or ") + variable +
                            ".");
  return Join(home, under_home) + "/corvane";
}

Status MakeFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec)
    return Status::IoError("Could not create the folder " + folder + ": " + ec.message() + ".");
  return Status::Ok();
}

// Holds an exclusive lock on <folder>/.copy.lock while a first copy is made,
// so two programs starting together do not copy over each other, and what a
// killed copy left behind can be cleared by the next one.
class CopyLock {
 public:
  explicit CopyLock(const std::string& folder)
      : fd_(::open(Join(folder, ".copy.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~CopyLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  CopyLock(const CopyLock&) = delete;
  CopyLock& operator=(const CopyLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Removes the unfinished copies of a killed run: hidden entries whose name
// starts with `prefix`. Only called under the copy lock.
void ClearUnfinished(const std::string& folder, const std::string& prefix) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind(prefix, 0) == 0) fs::remove_all(it->path(), ec);
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyBytes(int in, int out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
  }
}

// Copies the bytes of one file to a new file; errno tells a failure.
bool CopyFileTo(const std::string& from, const std::string& to, mode_t mode, bool sync) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  bool ok = out >= 0 && CopyBytes(in, out) && (!sync || ::fsync(out) == 0);
  const int error = errno;
  if (out >= 0) ok = ::close(out) == 0 && ok;
  ::close(in);
  if (!ok && errno == 0) errno = error;
  return ok;
}

// Copies `from` (a file, or a folder of files) to a hidden name beside `to`
// and renames it into place, so `to` is either absent or complete. Runs
// under the copy lock, so the hidden name is free.
Status CopyWhole(const std::string& from, const std::string& to, bool folder) {
  const std::string hidden =
      (fs::path(to).parent_path() / (".copy-" + fs::path(to).filename().string())).string();
  int error = 0;
  errno = 0;
  if (!folder) {
    if (!CopyFileTo(from, hidden, 0600, true)) error = errno ? errno : EIO;
  } else if (::mkdir(hidden.c_str(), 0755) != 0) {
    error = errno;
  } else {
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !error && !ec && it != end; it.increment(ec)) {
      const std::string target = (fs::path(hidden) / it->path().filename()).string();
      if (!CopyFileTo(it->path().string(), target, 0644, true)) error = errno ? errno : EIO;
    }
    if (!error && ec) error = ec.value();
  }
  if (!error && ::rename(hidden.c_str(), to.c_str()) != 0) error = errno;
  if (!error) return Status::Ok();
  std::error_code ignored;
  fs::remove_all(hidden, ignored);
  return Status::IoError("Could not copy " + from + " to " + to + Because(error));
}

// Makes `own` (in `folder`) from `original` unless it is already there.
Status CopyOnce(const std::string& folder, const std::string& original, const std::string& own,
                bool whole_folder) {
  if (Status made = MakeFolder(folder); !made.ok()) return made;
  CopyLock lock(folder);
  if (!lock.held())
    return Status::IoError("Could not write in the folder " + folder + Because(errno));
  if (FileExists(own)) return Status::Ok();
  ClearUnfinished(folder, ".copy-");
  return CopyWhole(original, own, whole_folder);
}

}  // namespace

std::string ProgramFolder() {
  if (const char* dir = std::getenv("CORVANE_PROGRAM_DIR"); dir && *dir) return dir;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  fs::path folder = exe.parent_path();
  if (folder.empty()) return "/";
  // Installed: <prefix>/bin/corvane, its files in <prefix>/share/corvane.
  const fs::path installed = folder.parent_path() / "share" / "corvane";
  if (folder.filename() == "bin" && FileExists((installed / "installed").string()))
    return installed.string();
  return folder.string();
}

bool ProgramFolderIsShared(const std::string& folder) {
  return FileExists(folder + kSharedMarkerFile) || ::access(folder.c_str(), W_OK) != 0;
}

Result<std::string> UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache"); }

Result<std::string> UserDataFolder() { return XdgFolder("XDG_DATA_HOME", ".local/share"); }

Result<std::string> StagingDatabaseFile(const std::string& program_folder) {
  const std::string beside = Join(program_folder, "dbtemp.mdb");
  if (!ProgramFolderIsShared(program_folder)) return beside;
  auto cache = UserCacheFolder();
  if (!cache.ok()) return cache.status();
  const std::string own = Join(cache.value(), "dbtemp.mdb");
  if (FileExists(own)) return own;
  if (Status copied = CopyOnce(cache.value(), beside, own, false); !copied.ok()) return copied;
  return own;
}

Result<std::string> UserSampleFolder(const std::string& program_folder) {
  const std::string shipped = Join(program_folder, "Samples");
  std::error_code ec;
  if (!ProgramFolderIsShared(program_folder) || !fs::is_directory(shipped, ec)) return shipped;
  auto data = UserDataFolder();
  if (!data.ok()) return data.status();
  const std::string own = Join(data.value(), "Samples");
  if (FileExists(own)) return own;
  if (Status copied = CopyOnce(data.value(), shipped, own, true); !copied.ok()) return copied;
  return own;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string ApplicationTitleFor(const std::string& product_name) {
  std::string t = product_name;
  do {
    size_t blank = t.rfind(' ');
    if (blank == std::string::npos) return t;  // no blank left: keep it whole
    t.resize(blank);                           // everything before the last blank
  } while (t.size() > 40);
  return t;
}

}  // namespace corvane::app
