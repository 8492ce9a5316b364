#include "app/program_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace corvane::app {

std::string ProgramFolder() {
  if (const char* dir = std::getenv("CORVANE_PROGRAM_DIR"); dir && *dir) return dir;
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  std::string folder = exe.parent_path().string();
  return folder.empty() ? "/" : folder;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string ApplicationTitleFor(const std::string& product_name) {
  std::string t = product_name;
  do {
    size_t blank = t.rfind(' ');
    if (blank == std::string::npos) return t;  // no blank left: keep it whole
    t.resize(blank);                           // everything before the last blank
  } while (t.size() > 40);
  return t;
}

}  // namespace corvane::app
