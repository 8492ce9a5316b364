// File operations of the Main module that the Paradox maintenance handlers
// use: moving one file without ever losing it, and deleting one quietly.
#pragma once

#include <string>

#include "base/status.h"
#include "ui/surfaces.h"

namespace corvane::maintenance {

// Moves `source` to `destination` (Main.RenameFile). A failure is shown in the
// failure dialog tagged Main.RenameFile and leaves `source` where it was;
// returns false then. A destination that is another existing file is never
// replaced (that is a failure); a destination that is the source itself (the
// same path, or a spelling that names the same file) keeps its content.
bool RenameFile(const std::string& source, const std::string& destination, ui::Dialogs& dialogs,
                ui::EventPump& pump);

// RenameFile without the dialog: the failure comes back as a Status.
Status MoveFileNoReplace(const std::string& source, const std::string& destination,
                         ui::EventPump& pump);

// Deletes the file at `path`, falling back to ForceDeleteFile; shows nothing
// and ignores every failure. Serves the event pump once before deleting.
void DeleteFileQuietly(const std::string& path, ui::EventPump& pump);

// Deletes the file at `path` whatever its permission bits: a read-only file
// is made writable first where that matters. Fails for a missing file or one
// the folder does not let us remove; the file's mode is then left as it was.
Status ForceDeleteFile(const std::string& path);

}  // namespace corvane::maintenance
