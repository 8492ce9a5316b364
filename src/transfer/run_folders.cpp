#include "transfer/run_folders.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/program_folder.h"

namespace corvane::transfer {

std::string RunFolderBase() {
  auto cache = app::UserCacheFolder();
  return cache.ok() ? cache.value() : std::filesystem::temp_directory_path().string();
}

Result<std::string> MakeRunFolder(const std::string& base, const std::string& prefix) {
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  std::string path = base + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) {
    return Status::IoError("cannot make a scratch folder in " + base + ": " +
                           std::strerror(errno));
  }
  return path;
}

void RemoveFoldersOfEndedRuns(const std::string& base, const std::string& prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || !entry.is_directory(ec)) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::filesystem::remove_all(entry.path(), ec);
    }
  }
}

}  // namespace corvane::transfer
