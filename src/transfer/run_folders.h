// Scratch folders a run works in and removes when it ends. Each name holds
// the run's process id, so a later run removes what a killed one left.
#pragma once

#include <string>

#include "base/status.h"

namespace corvane::transfer {

// The user's cache folder, else the temporary folder.
std::string RunFolderBase();
// A new empty folder `base`/`prefix`<pid>-XXXXXX.
Result<std::string> MakeRunFolder(const std::string& base, const std::string& prefix);
// Removes the folders of `base` named `prefix`<pid>... whose process is gone.
void RemoveFoldersOfEndedRuns(const std::string& base, const std::string& prefix);

}  // namespace corvane::transfer
