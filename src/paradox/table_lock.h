// Whether another program has a Paradox table open.
//
// Paradox and the database engines that share its tables mark an open
// table in two ways. They keep lock files beside the tables: PDOXUSRS.LCK
// (or PARADOX.LCK for a folder used exclusively) while a session uses the
// folder, and <table>.LCK while the table itself is open. And they lock
// byte ranges of those files and of the table's own files; on a Linux file
// server such locks reach us as POSIX record locks (Samba maps them).
//
// A table counts as in use when its .LCK stands beside a folder lock file,
// or when any of its files, or its .LCK, carries a lock of another process
// (fcntl record or open-file-description lock, or flock). A lone <table>.LCK
// without a folder lock file is what a crashed session leaves behind and is
// not taken for use. Looking is all this does: no lock is taken or kept.
#pragma once

#include <filesystem>
#include <string>

#include "base/status.h"
#include "paradox/companion_files.h"

namespace corvane::paradox {

// Ok when no other program has `table` open; otherwise an error whose
// message names the table, says it is in use and why.
Status CheckTableNotInUse(const TableFamily& table);

// The same for the table `name` of `folder` (FindTable). A table that is
// not there, or not one table, cannot be in use: Ok.
Status CheckTableNotInUse(const std::filesystem::path& folder, const std::string& name);

// Whether another process holds a lock on any part of the file at `path`.
bool FileIsLocked(const std::filesystem::path& path);

}  // namespace corvane::paradox
