#include "cli/paradox_folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "cli/printable.h"

namespace corvane::cli {

std::string ParadoxFolderProblem(const std::string& folder, bool writing) {
  const std::string named = "Paradox folder " + Printable(folder) + ": ";
  std::error_code ec;
  const auto status = std::filesystem::status(folder, ec);
  if (status.type() == std::filesystem::file_type::not_found) return named + "does not exist";
  if (ec) return named + ec.message();
  if (status.type() != std::filesystem::file_type::directory) return named + "is not a folder";
  // access() and not the mode bits: it answers for this user, ACLs and a
  // read-only mount included.
  if (writing && ::access(folder.c_str(), W_OK | X_OK) != 0) {
    return named + "is not writable (" + std::strerror(errno) + ")";
  }
  return {};
}

}  // namespace corvane::cli
