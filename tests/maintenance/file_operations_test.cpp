// Moving and deleting single files: nothing may be lost on any failure.
#include "maintenance/file_operations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_folder.h"
#include "ui/memory_surfaces.h"

namespace corvane::maintenance {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FileOperationsTest : public ::testing::Test {
 protected:
  corvane::testing::TempFolder temp_{"corvane_fileops"};
  fs::path dir_ = temp_.path();
  ui::ScriptedDialogs dialogs_;
  ui::CountingPump pump_;
};

TEST_F(FileOperationsTest, RenameFileNeverReplacesAnotherFile) {
  Write(dir_ / "A.DB", "table a");
  Write(dir_ / "B.DB", "table b");

  EXPECT_FALSE(RenameFile((dir_ / "A.DB").string(), (dir_ / "B.DB").string(), dialogs_, pump_));

  EXPECT_EQ(Read(dir_ / "A.DB"), "table a");
  EXPECT_EQ(Read(dir_ / "B.DB"), "table b");
  ASSERT_EQ(dialogs_.Failures().size(), 1u);
  EXPECT_EQ(dialogs_.shown[0].title, "Application Error");
  EXPECT_NE(dialogs_.Failures()[0].find("\r\nin Corvane2021/08/31.Main.RenameFile at line 100"),
            std::string::npos);
  EXPECT_EQ(dialogs_.Failures()[0].find("sql: "), std::string::npos);
}

TEST_F(FileOperationsTest, RenameFileOntoItselfKeepsTheContent) {
  Write(dir_ / "A.DB", "table a");
  EXPECT_TRUE(RenameFile((dir_ / "A.DB").string(), (dir_ / "A.DB").string(), dialogs_, pump_));
  // Another spelling of the same path names the same file.
  EXPECT_TRUE(
      RenameFile((dir_ / "A.DB").string(), (dir_ / "." / "A.DB").string(), dialogs_, pump_));
  EXPECT_EQ(Read(dir_ / "A.DB"), "table a");
  EXPECT_TRUE(dialogs_.shown.empty());
}

TEST_F(FileOperationsTest, RenameFileFailuresLeaveTheSourceInPlace) {
  Write(dir_ / "A.DB", "table a");
  // No such folder for the destination; then no such source.
  EXPECT_FALSE(
      RenameFile((dir_ / "A.DB").string(), (dir_ / "none" / "A.DB").string(), dialogs_, pump_));
  EXPECT_FALSE(RenameFile((dir_ / "Z.DB").string(), (dir_ / "Y.DB").string(), dialogs_, pump_));
  EXPECT_EQ(Read(dir_ / "A.DB"), "table a");
  EXPECT_FALSE(fs::exists(dir_ / "Y.DB"));
  EXPECT_EQ(dialogs_.Failures().size(), 2u);
}

TEST_F(FileOperationsTest, MoveAcrossFileSystemsCopiesThenDeletes) {
  struct stat a {
  }, b{};
  fs::path other_base = "/dev/shm";
  if (::stat(dir_.c_str(), &a) != 0 || ::stat(other_base.c_str(), &b) != 0 ||
      a.st_dev == b.st_dev || ::access(other_base.c_str(), W_OK) != 0) {
    GTEST_SKIP() << "no second writable file system beside the temporary folder";
  }
  const corvane::testing::TempFolder other_temp("corvane_fileops", other_base);
  const fs::path& other = other_temp.path();
  std::string big(300000, 'x');
  Write(other / "A.MB", big);

  Status st = MoveFileNoReplace((other / "A.MB").string(), (dir_ / "B.MB").string(), pump_);

  EXPECT_TRUE(st.ok()) << st.message();
  EXPECT_EQ(Read(dir_ / "B.MB"), big);
  EXPECT_FALSE(fs::exists(other / "A.MB"));
  // Onto an existing file it refuses and both stay.
  Write(other / "C.MB", "c");
  EXPECT_FALSE(MoveFileNoReplace((other / "C.MB").string(), (dir_ / "B.MB").string(), pump_).ok());
  EXPECT_EQ(Read(other / "C.MB"), "c");
  EXPECT_EQ(Read(dir_ / "B.MB"), big);
}

TEST_F(FileOperationsTest, ForceDeleteFileTakesReadOnlyFilesAndReportsMissingOnes) {
  Write(dir_ / "RO.DB", "x");
  fs::permissions(dir_ / "RO.DB", fs::perms::owner_read, fs::perm_options::replace);
  EXPECT_TRUE(ForceDeleteFile((dir_ / "RO.DB").string()).ok());
  EXPECT_FALSE(fs::exists(dir_ / "RO.DB"));

  Status missing = ForceDeleteFile((dir_ / "RO.DB").string());
  EXPECT_EQ(missing.code(), Status::Code::kNotFound);
  EXPECT_NE(missing.message().find("RO.DB"), std::string::npos);
}

TEST_F(FileOperationsTest, DeleteFileQuietlyServesThePumpAndSparesFolders) {
  Write(dir_ / "A.DB", "x");
  fs::create_directory(dir_ / "B.DB");
  DeleteFileQuietly((dir_ / "A.DB").string(), pump_);
  DeleteFileQuietly((dir_ / "B.DB").string(), pump_);
  DeleteFileQuietly((dir_ / "C.DB").string(), pump_);  // missing: nothing happens
  EXPECT_FALSE(fs::exists(dir_ / "A.DB"));
  EXPECT_TRUE(fs::is_directory(dir_ / "B.DB"));
  EXPECT_EQ(pump_.count, 3);
}

}  // namespace
}  // namespace corvane::maintenance
