// Outline: pick a random token, rename each file of the table (the table
// file first, so the table leaves every listing at once) to its hidden name
// without replacing anything; on a failure put back what moved. Restore
// renames the companions back first and the table file last, so the table
// reappears complete.
#include "paradox/table_set_aside.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

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

fs::path HiddenName(const fs::path& file, const std::string& token) {
  return file.parent_path() / (".corvane-old-" + token + "-" + file.filename().string() + ".aside");
}

// rename(2) that never replaces `to`: 0, or the errno (EEXIST when taken).
int RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without RENAME_NOREPLACE (FAT, some network shares):
  // check, then rename; nothing else writes these names.
  std::error_code ec;
  if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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
  if (problems.empty()) {
    if (!moved_.empty()) (void)SyncFolder(moved_.front().original.parent_path());
    return Status::Ok();
  }
  return Status::IoError("Could not put back table " + table_ + ": " + problems + ".");
}

}  // namespace corvane::paradox
