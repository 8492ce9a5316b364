// Keeps a table that is about to be replaced until its replacement stands.
//
// Its files are renamed, never copied, to hidden names in the same folder:
// ".corvane-old-<token>-<file>.aside", which no table listing takes for a
// table (the name ends in no table extension) and no table name can meet.
// Discard() deletes them once the new table is written; Restore() renames
// them back, so the table is exactly as it was. Should the program die in
// between, the files are still there under those names, and
// RecoverInterruptedWrites puts them back (or deletes them when the new
// table stands). The hidden .db stays locked (flock) while its owner
// lives, so recovery never touches a table that is being replaced now.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"

namespace corvane::paradox {

class TableSetAside {
 public:
  // Moves aside DroppableTableFiles(folder, table). NotFound when there is
  // no such table. When a rename fails, the files already moved go back and
  // the error names the file that could not be moved.
  static Result<std::unique_ptr<TableSetAside>> Create(const std::filesystem::path& folder,
                                                       const std::string& table);
  ~TableSetAside();  // Restore() unless Discard() or Restore() ran
  TableSetAside(const TableSetAside&) = delete;
  TableSetAside& operator=(const TableSetAside&) = delete;

  // Deletes the hidden files. An error names those left behind.
  Status Discard();
  // Renames the hidden files back, never over a file that took the name
  // meanwhile: such a file stays, the old one keeps its hidden name and
  // the error says both.
  Status Restore();

  struct Moved {
    std::filesystem::path original, hidden;
  };
  const std::vector<Moved>& files() const { return moved_; }

 private:
  TableSetAside(std::string table) : table_(std::move(table)) {}
  void Unlock();
  std::string table_;
  int lock_fd_ = -1;
  std::vector<Moved> moved_;
  bool resolved_ = false;
};

// What an interrupted run left in `folder` (not its sub-folders): tables
// set aside by a process that is gone come back when their name is free
// and are deleted when a new table took it; scratch files that no process
// holds are removed. Work of running processes is left alone. The error
// names what could not be put back or removed.
Status RecoverInterruptedWrites(const std::filesystem::path& folder);

}  // namespace corvane::paradox
