// COPY on PostgreSQL: every row added is stored, or none is, and the
// connection stays usable after any failure.
#include <gtest/gtest.h>

#include "postgres/pg_test_support.h"

namespace corvane::testing {
namespace {

using Row = std::vector<Value>;

Row R(const std::string& n, const std::string& t) { return {Value::Text(n), Value::Text(t)}; }

class CopyRowsTest : public PgTableTest {
 protected:
  CopyRowsTest() : PgTableTest("copy_") {}
  void SetUp() override {
    PgTableTest::SetUp();
    if (IsSkipped()) return;
    Exec(*conn_, "CREATE TABLE " + Q() + " (n NUMERIC, t TEXT)");
  }
  // What every other session sees: committed rows only.
  std::vector<std::vector<std::string>> Stored() {
    return Rows(*OpenPg(settings_), "SELECT n, t FROM " + Q() + " ORDER BY n");
  }
  void ExpectUsable() {
    auto r = conn_->Execute("SELECT 1");
    EXPECT_TRUE(r.ok()) << r.status().message();
  }
};

TEST_F(CopyRowsTest, ManyChunksArriveWholeInOrderWithTheirEscapes) {
  std::vector<Row> rows;
  for (int i = 0; i < 30000; ++i)
    rows.push_back(R(std::to_string(i), "r\t\\N\r\n" + std::to_string(i)));
  rows.push_back({Value::Text("30000"), Value::Text("")});
  rows.push_back({Value::Text("30001"), Value::Null()});
  ASSERT_TRUE(conn_->CopyRows(Q(), 2, rows, CopyEmpty::kEmptyText).ok());
  auto stored = Stored();
  ASSERT_EQ(stored.size(), rows.size());
  EXPECT_EQ(stored[29999], (std::vector<std::string>{"29999", "r\t\\N\r\n29999"}));
  EXPECT_EQ(stored[30000][1], "");  // kept as the empty text ...
  EXPECT_EQ(stored[30001][1], "<null>");
  Exec(*conn_, "TRUNCATE " + Q());
  ASSERT_TRUE(conn_->CopyRows(Q(), 2, {{R("1", "")}}, CopyEmpty::kNull).ok());
  EXPECT_EQ(Stored()[0][1], "<null>");  // ... or NULL, as the caller asks
}

TEST_F(CopyRowsTest, AFailureStoresNothingAndLeavesTheConnectionUsable) {
  Exec(*conn_, "INSERT INTO " + Q() + " VALUES (1, 'before')");
  // A value the server refuses, after rows it took.
  Status refused = conn_->CopyRows(Q(), 2, {{R("2", "a"), R("x", "b")}}, CopyEmpty::kNull);
  EXPECT_EQ(refused.sqlstate(), "22P02") << refused.message();
  ExpectUsable();
  // A row of another width.
  Status narrow = conn_->CopyRows(Q(), 2, {{R("3", "c"), {Value::Text("4")}}}, CopyEmpty::kNull);
  EXPECT_EQ(narrow.code(), Status::Code::kInvalidArgument);
  ExpectUsable();
  // A copy given up before its end.
  {
    auto copy = conn_->BeginCopy(Q(), 2, CopyEmpty::kNull);
    ASSERT_TRUE(copy.ok()) << copy.status().message();
    ASSERT_TRUE(copy.value()->Add(R("5", "e")).ok());
  }
  ExpectUsable();
  // A table of another width, and no table at all.
  EXPECT_FALSE(conn_->BeginCopy(Q(), 3, CopyEmpty::kNull).ok());
  EXPECT_EQ(conn_->BeginCopy("\"copy_no_such\"", 1, CopyEmpty::kNull).status().sqlstate(), "42P01");
  // A name that would say more than a table is refused before it is sent.
  for (const char* name : {"copy_bare", "\"a\" FROM PROGRAM 'true' --\"", "\"a\"\"\"b\"\""}) {
    EXPECT_EQ(conn_->BeginCopy(name, 1, CopyEmpty::kNull).status().code(),
              Status::Code::kInvalidArgument)
        << name;
  }
  ExpectUsable();
  EXPECT_EQ(Stored(), (std::vector<std::vector<std::string>>{{"1", "before"}}));
}

TEST_F(CopyRowsTest, AnOpenCopyTakesNothingElse) {
  auto copy = conn_->BeginCopy(Q(), 2, CopyEmpty::kNull);
  ASSERT_TRUE(copy.ok()) << copy.status().message();
  EXPECT_FALSE(conn_->Execute("SELECT 1").ok());
  EXPECT_FALSE(conn_->ExecuteEach({"SELECT 1"})[0].ok());
  EXPECT_FALSE(conn_->BeginCopy(Q(), 2, CopyEmpty::kNull).ok());
  ASSERT_TRUE(copy.value()->Add(R("1", "a")).ok());
  ASSERT_TRUE(copy.value()->End(nullptr).ok());
  EXPECT_EQ(Stored().size(), 1u);
  // Nor does a copy start while a query's rows are still being read.
  auto rows = conn_->Execute("SELECT * FROM generate_series(1, 5000)");
  ASSERT_TRUE(rows.ok());
  EXPECT_FALSE(conn_->BeginCopy(Q(), 2, CopyEmpty::kNull).ok());
  rows.value()->Close();
  EXPECT_TRUE(conn_->CopyRows(Q(), 2, {{R("2", "b")}}, CopyEmpty::kNull).ok());
}

TEST_F(CopyRowsTest, ALostConnectionMidCopyStoresNothing) {
  const std::string pid = Column(*conn_, "SELECT pg_backend_pid()").at(0);
  auto copy = conn_->BeginCopy(Q(), 2, CopyEmpty::kNull);
  ASSERT_TRUE(copy.ok()) << copy.status().message();
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(copy.value()->Add(R(std::to_string(i), "x")).ok());
  Exec(*OpenPg(settings_), "SELECT pg_terminate_backend(" + pid + ")");
  int waited = 0;  // until the server has let the backend go
  while (Column(*OpenPg(settings_), "SELECT 1 FROM pg_stat_activity WHERE pid = " + pid).size() &&
         waited++ < 200) {
  }
  Status added = Status::Ok();
  for (int i = 5000; i < 100000 && added.ok(); ++i)
    added = copy.value()->Add(R(std::to_string(i), "x"));
  EXPECT_FALSE(copy.value()->End(nullptr).ok());
  EXPECT_TRUE(Stored().empty());
  EXPECT_FALSE(conn_->Execute("SELECT 1").ok());  // fails plainly, no crash
  conn_ = OpenPg(settings_);
}

}  // namespace
}  // namespace corvane::testing
