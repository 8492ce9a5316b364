// The tests' one way to a temporary folder: new and empty, named after the
// running test (so a leftover says whose it is) and unique even when two
// runs of the same test overlap, removed with everything in it at the end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace corvane::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "corvane")
      : TempFolder(prefix, std::filesystem::temp_directory_path()) {}
  // Under `base` instead, for a test that needs a folder on another file system.
  TempFolder(const std::string& prefix, const std::filesystem::path& base) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? test->name() : "setup";
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';  // "Case/0"
    }
    std::string pattern =
        (base / (prefix + "-" + name + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
  }
  // A test that took away its own rights on something inside still leaves
  // nothing behind: they are given back first.
  ~TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (!ec) return;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // Creates `relative` (and its folders) holding `bytes`; returns its path.
  std::string Put(const std::string& relative, const std::string& bytes = {}) const {
    const std::filesystem::path p = path_ / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace corvane::testing
