#pragma once

#include <string>

namespace corvane::cli {

// Why FOLDER cannot serve as the --paradox folder of a command, or "" when
// it can. Asked before any list is filled or row read, so a mistyped folder
// is one clear line and not a failure per table.
std::string ParadoxFolderProblem(const std::string& folder, bool writing);

}  // namespace corvane::cli
