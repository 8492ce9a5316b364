// ExecuteEach on PostgreSQL: statements sent together must leave exactly
// what one autocommitted statement after another leaves, with the same
// statuses, and a statement reported done must be stored.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "postgres/pg_test_support.h"

namespace corvane::testing {
namespace {

class ExecuteEachTest : public PgTableTest {
 protected:
  ExecuteEachTest() : PgTableTest("each_") {}
  void SetUp() override {
    PgTableTest::SetUp();
    if (IsSkipped()) return;
    Reset(table_);
  }
  void Reset(const std::string& table) {
    Exec(*conn_, "DROP TABLE IF EXISTS \"" + table + "\"");
    Exec(*conn_, "CREATE TABLE \"" + table + "\" (k int PRIMARY KEY CHECK (k >= 0))");
  }
  std::string Insert(int k, const std::string& table = "") const {
    return "INSERT INTO \"" + (table.empty() ? table_ : table) + "\" VALUES (" + std::to_string(k) +
           ")";
  }
  std::vector<std::string> Keys(const std::string& table = "") {
    auto other = OpenPg(settings_);  // what everyone else sees: committed rows only
    return Column(*other, "SELECT k FROM \"" + (table.empty() ? table_ : table) + "\" ORDER BY k");
  }
  static std::vector<std::string> States(const std::vector<Status>& st) {
    std::vector<std::string> out;
    for (const Status& s : st)
      out.push_back(s.ok() ? "ok" : s.sqlstate().empty() ? "err" : s.sqlstate());
    return out;
  }
};

TEST_F(ExecuteEachTest, AllSucceedAndAreDurableOnReturn) {
  std::vector<std::string> st;
  for (int k = 1; k <= 300; ++k) st.push_back(Insert(k));
  auto result = conn_->ExecuteEach(st);
  EXPECT_EQ(States(result), std::vector<std::string>(300, "ok"));
  EXPECT_EQ(Keys().size(), 300u);
}

TEST_F(ExecuteEachTest, FailuresAtStartMiddleAndEndAreReplayed) {
  Exec(*conn_, Insert(1));
  // 23505 duplicate, 23514 check violation; a duplicate of a row inserted
  // earlier in the same run fails exactly as it would one at a time.
  auto result = conn_->ExecuteEach(
      {Insert(1), Insert(2), Insert(3), Insert(2), Insert(-1), Insert(4), Insert(5), Insert(4)});
  EXPECT_EQ(States(result),
            (std::vector<std::string>{"23505", "ok", "ok", "23505", "23514", "ok", "ok", "23505"}));
  EXPECT_EQ(Keys(), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(result[0].message().rfind("duplicate key value", 0), 0u) << result[0].message();
}

TEST_F(ExecuteEachTest, AStatementTextHoldingTwoIsRefusedAlone) {
  auto result = conn_->ExecuteEach(
      {Insert(1), Insert(2) + "; DROP TABLE \"" + table_ + "\"", Insert(3), "SELECT 1;"});
  EXPECT_EQ(States(result), (std::vector<std::string>{"ok", "err", "ok", "ok"}));
  EXPECT_EQ(result[1].code(), Status::Code::kInvalidArgument);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"1", "3"}));
}

// Random runs of good and failing statements, side by side with the same
// statements run one at a time on a twin table.
TEST_F(ExecuteEachTest, SameStatusesAndRowsAsOneAtATime) {
  const std::string twin = table_ + "_twin";
  std::mt19937 rng(20261207);
  for (int round = 0; round < 20; ++round) {
    Reset(table_);
    Reset(twin);
    std::vector<int> keys(1 + rng() % 40);
    for (int& k : keys) k = static_cast<int>(rng() % 30) - 3;  // repeats and negatives fail
    std::vector<std::string> batch, alone;
    for (int k : keys) {
      batch.push_back(Insert(k));
      alone.push_back(Insert(k, twin));
    }
    std::vector<std::string> expected;
    for (const auto& sql : alone) {
      auto r = conn_->Execute(sql);
      expected.push_back(r.ok() ? "ok" : r.status().sqlstate());
    }
    ASSERT_EQ(States(conn_->ExecuteEach(batch)), expected) << "round " << round;
    ASSERT_EQ(Keys(), Keys(twin)) << "round " << round;
  }
  Exec(*conn_, "DROP TABLE \"" + twin + "\"");
}

// The backend dies mid-run (killed from a second connection): nothing of
// the uncommitted run is stored and none of it is reported done.
TEST_F(ExecuteEachTest, ALostConnectionStoresNothingReportedAsFailed) {
  Exec(*conn_, Insert(100));  // an earlier, committed statement stays
  std::thread killer([this] {
    auto admin = OpenPg(settings_);
    for (int i = 0; i < 200; ++i) {
      auto killed = Column(*admin,
                           "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                           "WHERE query = 'SELECT pg_sleep(30)' AND pid <> pg_backend_pid()");
      if (!killed.empty()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  });
  auto result =
      conn_->ExecuteEach({Insert(1), Insert(2), "SELECT pg_sleep(30)", Insert(3), Insert(4)});
  killer.join();
  ASSERT_EQ(result.size(), 5u);
  for (const Status& s : result) EXPECT_FALSE(s.ok());
  EXPECT_EQ(result[2].sqlstate(), "57P01") << result[2].message();
  EXPECT_EQ(Keys(), std::vector<std::string>{"100"});
  // Later statements on the dead connection fail plainly.
  EXPECT_FALSE(conn_->ExecuteEach({Insert(5), Insert(6)})[1].ok());
  conn_ = OpenPg(settings_);
}

}  // namespace
}  // namespace corvane::testing
