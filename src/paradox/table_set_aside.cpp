// Outline: pick a random token, rename each file of the table (the table
// file first, so the table leaves every listing at once) to its hidden name
// without replacing anything; on a failure put back what moved. Restore
// renames the companions back first and the table file last, so the table
// reappears complete.
#include "paradox/table_set_aside.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <system_error>
#include <thread>

#include "paradox/companion_files.h"
#include "paradox/temp_file.h"

namespace corvane::paradox {
namespace {

namespace fs = std::filesystem;

constexpr int kTokenTries = 8;

std::string RandomToken() {
  std::random_device rd;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) token.push_back(kHex[rd() % 16]);
  return token;
}

constexpr std::string_view kHiddenPrefix = ".corvane-old-";
constexpr std::string_view kHiddenSuffix = ".aside";
constexpr size_t kTokenLength = 8;

fs::path HiddenName(const fs::path& file, const std::string& token) {
  return file.parent_path() / (std::string(kHiddenPrefix) + token + "-" +
                               file.filename().string() + std::string(kHiddenSuffix));
}

// The token and original file name of a hidden name; false for other names.
bool ParseHiddenName(std::string_view name, std::string& token, std::string& original) {
  const size_t fixed = kHiddenPrefix.size() + kTokenLength + 1 + kHiddenSuffix.size();
  if (name.size() <= fixed || name.substr(0, kHiddenPrefix.size()) != kHiddenPrefix ||
      name.substr(name.size() - kHiddenSuffix.size()) != kHiddenSuffix ||
      name[kHiddenPrefix.size() + kTokenLength] != '-') {
    return false;
  }
  token = name.substr(kHiddenPrefix.size(), kTokenLength);
  original = name.substr(kHiddenPrefix.size() + kTokenLength + 1,
                         name.size() - fixed);
  return original.find('/') == std::string::npos;
}

// An exclusive flock, waiting a moment for a passing probe (another
// process checking whether the table is in use holds a shared one briefly).
// True also where the file system has no flock.
bool LockSoon(int fd) {
  for (int tries = 0; tries < 20; ++tries) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool IsDbFile(const std::string& name) {
  return name.size() > 3 && SameNameIgnoringCase(name.substr(name.size() - 3), ".db");
}

}  // namespace

Result<std::unique_ptr<TableSetAside>> TableSetAside::Create(const fs::path& folder,
                                                             const std::string& table) {
  const std::vector<fs::path> files = DroppableTableFiles(folder, table);
  if (files.empty()) {
    return Status::NotFound("There is no table " + table + " (" + table +
                            ".db) in the Paradox folder " + folder.string() + ".");
  }
  std::unique_ptr<TableSetAside> aside(new TableSetAside(table));
  // Locked before it moves, so no other process ever sees the hidden file
  // unlocked while this one lives.
  aside->lock_fd_ = ::open(files.front().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (aside->lock_fd_ >= 0 && !LockSoon(aside->lock_fd_)) {
    return Status::IoError("Table " + table +
                           " is in use by another transfer or program; it was left as it is.");
  }
  for (int attempt = 0; attempt < kTokenTries; ++attempt) {
    const std::string token = RandomToken();
    int err = 0;
    for (const fs::path& f : files) {
      const fs::path hidden = HiddenName(f, token);
      err = RenameNoReplace(f, hidden);
      if (err != 0) {
        Status back = aside->Restore();  // the table as it was
        if (!back.ok()) return back;     // names the files still hidden
        aside->resolved_ = false;
        aside->moved_.clear();
        if (err == EEXIST) break;  // a token in use: try another
        return Status::IoError("Could not move " + f.string() + " of table " + table +
                               " out of the way: " + std::strerror(err));
      }
      aside->moved_.push_back({f, hidden});
    }
    if (err == 0) {
      (void)SyncFolder(folder);
      return aside;
    }
  }
  return Status::IoError("Could not find a free hidden name in " + folder.string() +
                         " to keep table " + table + " while it is replaced.");
}

TableSetAside::~TableSetAside() {
  if (!resolved_) (void)Restore();
  Unlock();
}

void TableSetAside::Unlock() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

Status TableSetAside::Discard() {
  resolved_ = true;
  std::string left;
  for (const Moved& m : moved_) {
    std::error_code ec;
    if (!fs::remove(m.hidden, ec) && ec) {
      left += (left.empty() ? "" : ", ") + m.hidden.filename().string();
    }
  }
  Unlock();
  if (left.empty()) return Status::Ok();
  return Status::IoError("The old files of table " + table_ + " could not be deleted: " + left +
                         ".");
}

Status TableSetAside::Restore() {
  resolved_ = true;
  std::string problems;
  for (auto it = moved_.rbegin(); it != moved_.rend(); ++it) {
    const int err = RenameNoReplace(it->hidden, it->original);
    if (err == 0) continue;
    problems += (problems.empty() ? "" : "; ") + it->original.filename().string() + " (" +
                (err == EEXIST ? std::string("a new file of that name is there")
                               : std::string(std::strerror(err))) +
                "; the old file is kept as " + it->hidden.filename().string() + ")";
  }
  if (!moved_.empty()) (void)SyncFolder(moved_.front().original.parent_path());
  if (problems.empty()) {
    return Status::Ok();
  }
  return Status::IoError("Could not put back table " + table_ + ": " + problems + ".");
}

namespace {

struct HiddenFile {
  fs::path hidden;
  std::string original;
};

// One table set aside by a process that is gone: back under its name when
// that is free, else (its replacement stands) deleted. "" or what failed.
std::string Resolve(const fs::path& folder, std::vector<HiddenFile>& files) {
  auto db = std::find_if(files.begin(), files.end(),
                         [](const HiddenFile& f) { return IsDbFile(f.original); });
  bool restore = false;
  if (db != files.end()) {
    const int fd = ::open(db->hidden.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return "";  // its owner is still at work
    }
    const std::string table = db->original.substr(0, db->original.size() - 3);
    restore = !FindTableFile(folder, table).has_value();
    if (fd >= 0) ::close(fd);
    std::rotate(db, db + 1, files.end());  // the table file comes back last
  }
  // Without the table file the group was being deleted when its owner died.
  std::string left;
  for (const HiddenFile& f : files) {
    std::error_code ec;
    // A companion under the name can only be a leftover of the replacement
    // that never got its table file: the old table's own one wins.
    if (restore) fs::rename(f.hidden, folder / f.original, ec);
    else fs::remove(f.hidden, ec);
    if (ec) left += (left.empty() ? "" : ", ") + f.hidden.filename().string();
  }
  return left;
}

}  // namespace

Status RecoverInterruptedWrites(const fs::path& folder) {
  std::map<std::string, std::vector<HiddenFile>> groups;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::string token, original;
    if (IsScratchName(name)) {
      RemoveOrphanScratch(it->path());
    } else if (ParseHiddenName(name, token, original)) {
      groups[token].push_back({it->path(), original});
    }
  }
  std::string left;
  for (auto& [token, files] : groups) {
    const std::string l = Resolve(folder, files);
    if (!l.empty()) left += (left.empty() ? "" : ", ") + l;
  }
  if (!groups.empty()) (void)SyncFolder(folder);
  if (left.empty()) return Status::Ok();
  return Status::IoError("Files an interrupted transfer left in " + folder.string() +
                         " could not be put back or removed: " + left + ".");
}

}  // namespace corvane::paradox
