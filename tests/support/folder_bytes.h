// Every file under a folder with its bytes, to show a run left it as it was.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace corvane::testing {

inline std::map<std::string, std::string> FolderBytes(const std::filesystem::path& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec)) {
    std::stringstream bytes;
    if (e.is_regular_file()) bytes << std::ifstream(e.path(), std::ios::binary).rdbuf();
    out[std::filesystem::relative(e.path(), folder).string()] = bytes.str();
  }
  return out;
}

}  // namespace corvane::testing
