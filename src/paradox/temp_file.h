// A file written under a temporary name in the folder it will end up in, so
// that it becomes visible under its real name only when complete (a rename
// within one folder is atomic). Removed on destruction unless published.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/status.h"

namespace corvane::paradox {

class TempFile {
 public:
  // Creates ".corvane-XXXXXX" in the folder of `target` (the name it will
  // be published under, which error messages give: the scratch name means
  // nothing to a user). The name matches no Paradox table, so an
  // interrupted write leaves no table. Mode 0666 less the umask. The file
  // is locked (flock) while open, so a scratch file left by a process
  // that died can be told from one being written (RemoveOrphanScratch).
  static Result<std::unique_ptr<TempFile>> Create(const std::filesystem::path& target);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  Status WriteAt(uint64_t offset, const void* data, size_t size);
  Status Resize(uint64_t size);
  Status Sync();
  // Asks the system to start writing what was written so far to disk,
  // without waiting, so that Sync later has little left to do. Only a
  // hint: where there is no such call it does nothing.
  void StartWriteback();

  // Renames the file to `target`. With `replace` false the rename fails
  // (leaving `target` as it was) when `target` exists, without a window in
  // which another writer could slip in between check and rename.
  Status Publish(const std::filesystem::path& target, bool replace);
  // Removes the file now (also done by the destructor unless published).
  void Discard();
  // The file's device and inode, which a rename keeps.
  bool Identity(uint64_t& device, uint64_t& inode) const;

 private:
  TempFile(int fd, std::filesystem::path path, std::filesystem::path target)
      : fd_(fd), path_(std::move(path)), target_(std::move(target)) {}
  int fd_ = -1;
  std::filesystem::path path_, target_;
  bool gone_ = false;
};

// True for the names Create gives.
bool IsScratchName(std::string_view name);
// Removes `path`, a scratch file, when no process holds it and it is not
// brand new and empty (its writer may be between creating and locking it).
// True when it was removed.
bool RemoveOrphanScratch(const std::filesystem::path& path);

// A locked scratch file naming the companions (by name and inode) that a
// new table publishes before its table file. Should the writer die in
// between, RemoveOrphanScratch finds it and removes those companions
// unless the table file followed, so no stray memo or index file keeps
// the name from the next write. Drop it once the table file is in place.
Result<std::unique_ptr<TempFile>> RecordCompanions(
    const std::filesystem::path& table_file,
    const std::vector<std::pair<const TempFile*, std::filesystem::path>>& companions);

// A locked scratch file recording the renames (old, new file name) that are
// about to be made in `folder`. Should the process die before it drops the
// record, RemoveOrphanScratch moves back every file that went, the last
// first, so a table renamed file by file is whole under its old name.
Result<std::unique_ptr<TempFile>> RecordRenames(
    const std::filesystem::path& folder,
    const std::vector<std::pair<std::string, std::string>>& renames);

// rename(2) that never replaces `to`: 0, or the errno (EEXIST when taken).
// Where the file system cannot refuse atomically (FAT, some network
// shares) it checks first.
int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes renames in `folder` durable.
Status SyncFolder(const std::filesystem::path& folder);

}  // namespace corvane::paradox
