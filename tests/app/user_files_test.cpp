// The files that change when the program folder is shared (installed): the
// staging database and the samples go to the user's XDG folders, copied
// whole, once, also with several programs starting together, a copy killed
// half-way or a full disk.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/program_folder.h"
#include "frame/window_handlers.h"
#include "support/pg_connect.h"
#include "support/pg_env.h"
#include "support/scoped_env.h"
#include "ui/memory_surfaces.h"
#include "support/temp_folder.h"

namespace corvane::app {
namespace {
namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::stringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

// Every regular file under `root` with its bytes, by relative path.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file()) files[fs::relative(it->path(), root).string()] = Slurp(it->path());
  return files;
}

// Hidden unfinished copies left anywhere under `root`.
int Unfinished(const fs::path& root) {
  int n = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
    n += it->path().filename().string().rfind(".copy-", 0) == 0;
  return n;
}

class UserFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = root_ / "program";
    fs::create_directories(program_ / "Samples");
    std::ofstream(program_ / "dbtemp.mdb") << std::string(70000, 'S');
    std::ofstream(program_ / "Samples/A.db") << std::string(40000, 'a');
    std::ofstream(program_ / "Samples/A.mb") << "memo";
    env_.Set("XDG_CACHE_HOME", (root_ / "cache").string());
    env_.Set("XDG_DATA_HOME", (root_ / "data").string());
  }
  void Share() { std::ofstream(program_ / "installed") << ""; }
  std::string Program() const { return program_.string(); }

  testing::TempFolder folder_{"corvane-user-files"};
  const fs::path root_ = folder_.path();
  fs::path program_;
  testing::ScopedEnv env_;
};

TEST_F(UserFilesTest, AWritableProgramFolderKeepsItsOwnFiles) {
  EXPECT_FALSE(ProgramFolderIsShared(Program()));
  EXPECT_EQ(StagingDatabaseFile(Program()).value(), Program() + "/dbtemp.mdb");
  EXPECT_EQ(UserSampleFolder(Program()).value(), Program() + "/Samples");
  EXPECT_FALSE(fs::exists(root_ / "cache"));
  EXPECT_FALSE(fs::exists(root_ / "data"));
  EXPECT_TRUE(ProgramFolderIsShared((root_ / "no-such-folder").string()));
}

TEST_F(UserFilesTest, ASharedProgramFolderIsCopiedToTheUserOnceAndThenLeftToThem) {
  Share();
  const auto shipped = Tree(program_);
  auto staging = StagingDatabaseFile(Program());
  auto samples = UserSampleFolder(Program());
  ASSERT_TRUE(staging.ok()) << staging.status().message();
  ASSERT_TRUE(samples.ok()) << samples.status().message();
  EXPECT_EQ(staging.value(), (root_ / "cache/corvane/dbtemp.mdb").string());
  EXPECT_EQ(samples.value(), (root_ / "data/corvane/Samples").string());
  EXPECT_EQ(Slurp(staging.value()), shipped.at("dbtemp.mdb"));
  EXPECT_EQ(Tree(samples.value()), (std::map<std::string, std::string>{
                                       {"A.db", shipped.at("Samples/A.db")}, {"A.mb", "memo"}}));
  EXPECT_EQ(::access(samples.value().c_str(), W_OK), 0);

  // From now on the copies are the user's: changed or thinned, they stay so.
  std::ofstream(staging.value()) << "staged";
  fs::remove(fs::path(samples.value()) / "A.mb");
  EXPECT_EQ(StagingDatabaseFile(Program()).value(), staging.value());
  EXPECT_EQ(UserSampleFolder(Program()).value(), samples.value());
  EXPECT_EQ(Slurp(staging.value()), "staged");
  EXPECT_EQ(Tree(samples.value()).size(), 1u);
  EXPECT_EQ(Tree(program_), shipped);
  EXPECT_EQ(Unfinished(root_), 0);
}

TEST_F(UserFilesTest, WhatCannotBeCopiedSaysWhyAndLeavesNothing) {
  Share();
  fs::remove(program_ / "dbtemp.mdb");
  auto staging = StagingDatabaseFile(Program());
  ASSERT_FALSE(staging.ok());
  EXPECT_NE(staging.status().message().find(Program() + "/dbtemp.mdb"), std::string::npos)
      << staging.status().message();
  EXPECT_FALSE(fs::exists(root_ / "cache/corvane/dbtemp.mdb"));

  // No samples shipped: the program folder's path, as an uninstalled one.
  fs::remove_all(program_ / "Samples");
  EXPECT_EQ(UserSampleFolder(Program()).value(), Program() + "/Samples");

  // A relative XDG folder is ignored for the home's.
  env_.Set("XDG_DATA_HOME", "relative/data");
  env_.Set("HOME", (root_ / "home").string());
  EXPECT_EQ(UserDataFolder().value(), (root_ / "home/.local/share/corvane").string());
  EXPECT_EQ(Unfinished(root_), 0);
}

// The sample button shows why the copy failed and offers the shipped samples.
TEST_F(UserFilesTest, TheSampleButtonReportsAFailedCopy) {
  Share();
  std::ofstream(root_ / "file") << "not a folder";
  env_.Set("XDG_DATA_HOME", (root_ / "file/data").string());
  ui::ScriptedDialogs dialogs;
  EXPECT_EQ(frame::SampleFolderForUser(dialogs, Program()), Program() + "/Samples");
  ASSERT_EQ(dialogs.Failures().size(), 1u);
  EXPECT_NE(dialogs.Failures()[0].find("Form1.PushButton4_Click"), std::string::npos);
  EXPECT_NE(dialogs.Failures()[0].find(root_ / "file/data"), std::string::npos)
      << dialogs.Failures()[0];
}

TEST_F(UserFilesTest, ProgramsStartingTogetherEndWithOneWholeCopyAndNoLeftovers) {
  Share();
  // What a copy killed half-way left behind.
  fs::create_directories(root_ / "data/corvane/.copy-Xk3b9a");
  std::ofstream(root_ / "data/corvane/.copy-Xk3b9a/A.db") << "half";
  std::ofstream(root_ / "cache/corvane/.copy-4fQz1T", std::ios::app) << "half";
  std::vector<pid_t> children;
  for (int i = 0; i < 6; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      const bool ok = StagingDatabaseFile(Program()).ok() && UserSampleFolder(Program()).ok();
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Tree(root_ / "data/corvane/Samples"), Tree(program_ / "Samples"));
  EXPECT_EQ(Slurp(root_ / "cache/corvane/dbtemp.mdb"), Slurp(program_ / "dbtemp.mdb"));
  EXPECT_EQ(Unfinished(root_), 0);
}

TEST_F(UserFilesTest, AFullDiskFailsTheCopyAndLeavesNoHalfCopy) {
  const fs::path disk = root_ / "disk";
  fs::create_directories(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  Share();
  env_.Set("XDG_CACHE_HOME", (disk / "cache").string());
  env_.Set("XDG_DATA_HOME", (disk / "data").string());
  auto staging = StagingDatabaseFile(Program());
  auto samples = UserSampleFolder(Program());
  EXPECT_FALSE(staging.ok());
  EXPECT_FALSE(samples.ok());
  if (!samples.ok()) {
    EXPECT_NE(samples.status().message().find("space"), std::string::npos)
        << samples.status().message();
  }
  EXPECT_FALSE(fs::exists(disk / "cache/corvane/dbtemp.mdb"));
  EXPECT_FALSE(fs::exists(disk / "data/corvane/Samples"));
  EXPECT_EQ(Unfinished(disk), 0);
  ::umount2(disk.c_str(), MNT_DETACH);
}

// corvane-cli of an installed program: staging in the user's cache, the
// program folder untouched, the table written into the user's folder.
TEST_F(UserFilesTest, TheCommandLineOfASharedProgramStagesInTheUsersCache) {
  CORVANE_REQUIRE_POSTGRES(pg);
  const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
  ASSERT_NE(bin, nullptr);
  fs::copy_file(fs::path(bin) / "dbtemp.mdb", program_ / "dbtemp.mdb",
                fs::copy_options::overwrite_existing);
  Share();
  const auto shipped = Tree(program_);
  PGconn* c = testing::ConnectLibpq(pg);
  PQclear(PQexec(c,
                 "DROP TABLE IF EXISTS ufshare; CREATE TABLE ufshare(id int, t text);"
                 "INSERT INTO ufshare VALUES (1, 'one'), (2, NULL);"));
  fs::create_directories(root_ / "mine");
  const std::string cmd =
      "CORVANE_PROGRAM_DIR='" + Program() + "' XDG_CACHE_HOME='" + (root_ / "cache").string() +
      "' '" + bin + "/corvane-cli' to-paradox --paradox '" + (root_ / "mine").string() +
      "' --server " + pg.server + " --port " + pg.port + " --user " + pg.user + " --password '" +
      pg.password + "' --database " + pg.database + " ufshare </dev/null >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  PQclear(PQexec(c, "DROP TABLE ufshare"));
  PQfinish(c);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
  EXPECT_TRUE(fs::exists(root_ / "mine/ufshare.db"));
  EXPECT_TRUE(fs::exists(root_ / "cache/corvane/dbtemp.mdb"));
  EXPECT_EQ(Tree(program_), shipped);
}

}  // namespace
}  // namespace corvane::app
