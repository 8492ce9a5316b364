// The staging file as scratch space: a kill mid-write, a damaged file and a
// second user at once all leave it usable.
#include "staging/staging_db.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "support/temp_folder.h"

namespace corvane::staging {
namespace {

namespace fs = std::filesystem;

class StagingDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "dbtemp.mdb").string();
    std::ofstream(path_, std::ios::binary);  // an empty file is an empty database
  }

  std::unique_ptr<StagingDb> MustOpen() {
    auto db = StagingDb::Open(path_);
    EXPECT_TRUE(db.ok()) << db.status().message();
    return db.ok() ? std::move(db).value() : nullptr;
  }
  // Fills `t` with rows of 1 KiB, enough to spill out of SQLite's cache.
  static void Fill(StagingDb& db, int rows) {
    ASSERT_TRUE(db.Exec("CREATE TABLE t(a)").ok());
    auto ins = db.Prepare("INSERT INTO t VALUES(zeroblob(1024))");
    ASSERT_TRUE(ins.ok());
    for (int i = 0; i < rows; ++i) {
      ASSERT_EQ(sqlite3_step(ins->get()), SQLITE_DONE);
      sqlite3_reset(ins->get());
    }
  }
  int64_t Count(StagingDb& db, const char* sql) {
    auto st = db.Prepare(sql);
    if (!st.ok() || sqlite3_step(st->get()) != SQLITE_ROW) return -1;
    return sqlite3_column_int64(st->get(), 0);
  }

  corvane::testing::TempFolder temp_{"corvane-stagingdb"};
  fs::path dir_ = temp_.path();
  std::string path_;
};

TEST_F(StagingDbTest, AKillMidWriteOrADamagedFileLeavesItUsable) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto db = StagingDb::Open(path_);
    if (!db.ok() || !(*db)->BeginIfNeeded().ok()) ::_exit(3);
    Fill(**db, 20000);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  {
    auto db = MustOpen();
    ASSERT_TRUE(db);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM sqlite_schema"), 0);  // rolled back whole
    ASSERT_TRUE(db->BeginIfNeeded().ok());
    Fill(*db, 3000);
    ASSERT_TRUE(db->Commit().ok());
  }
  {
    // Damage the table's pages, not the header.
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 * 4096);
    const std::string junk(64 * 1024, '\xA5');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  {
    auto db = MustOpen();
    ASSERT_TRUE(db);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM sqlite_schema"), 0);  // emptied, not refused
    Fill(*db, 10);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM t"), 10);
  }
  // Zeros where the header was (a torn first page): emptied too.
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << std::string(8192, '\0');
  {
    auto db = MustOpen();
    ASSERT_TRUE(db);
    EXPECT_EQ(Count(*db, "SELECT count(*) FROM sqlite_schema"), 0);
  }
  // A file that was never ours is refused and left as it is.
  const std::string text = "not a database, and somebody may need it back";
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
  auto refused = StagingDb::Open(path_);
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.status().message().find(path_), std::string::npos);
  std::stringstream kept;
  kept << std::ifstream(path_, std::ios::binary).rdbuf();
  EXPECT_EQ(kept.str(), text);
}

TEST_F(StagingDbTest, ASecondUserWaitsItsTurnOrGivesUp) {
  auto first = MustOpen();
  int calls = 0;
  auto refused = StagingDb::Open(path_, [&](bool) { return ++calls < 3; });
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(calls, 3);
  EXPECT_NE(refused.status().message().find("another transfer"), std::string::npos);

  // The first user leaves once the second has been kept waiting.
  std::promise<void> kept_waiting;
  std::future<void> leave = kept_waiting.get_future();
  std::thread done([&] {
    leave.wait();
    first.reset();
  });
  bool told = false;
  calls = 0;
  auto second = StagingDb::Open(path_, [&](bool is_first) {
    told = told || (is_first && calls == 0);
    if (++calls == 2) kept_waiting.set_value();
    return true;
  });
  if (calls < 2) kept_waiting.set_value();  // never waited: let the thread end
  done.join();
  ASSERT_TRUE(second.ok()) << second.status().message();
  EXPECT_TRUE(told);
  EXPECT_GT(calls, 1);
}

}  // namespace
}  // namespace corvane::staging
