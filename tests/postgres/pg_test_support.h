// Helpers for the tests of the PostgreSQL driver on the throwaway server.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "support/pg_env.h"

namespace corvane::testing {

inline std::unique_ptr<Connection> OpenPg(const ConnectionSettings& s, int command_timeout = 30) {
  auto c = std::make_unique<Connection>();
  c->options().command_timeout_s = command_timeout;
  Status st = c->Open(PostgresConnectionString(s));
  EXPECT_TRUE(st.ok()) << st.message();
  return c;
}

inline void Exec(Connection& c, const std::string& sql) {
  auto r = c.Execute(sql);
  ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
}

// Every row of a query, each value its text or "<null>".
inline std::vector<std::vector<std::string>> Rows(Connection& c, const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  auto r = c.Execute(sql);
  EXPECT_TRUE(r.ok()) << sql << ": " << r.status().message();
  if (!r.ok()) return out;
  RecordSet& rs = *r.value();
  for (int64_t i = 0; i < rs.RecordCount(); ++i) {
    std::vector<std::string> row;
    for (int f = 0; f < rs.FieldCount(); ++f) {
      const Value& v = rs.FieldValue(f);
      row.push_back(v.is_null() ? "<null>" : v.text());
    }
    out.push_back(std::move(row));
    EXPECT_TRUE(rs.MoveNext().ok());
  }
  EXPECT_TRUE(rs.Eof());
  rs.Close();
  return out;
}

inline std::vector<std::string> Column(Connection& c, const std::string& sql) {
  std::vector<std::string> out;
  for (auto& row : Rows(c, sql)) out.push_back(row.at(0));
  return out;
}

// A connection to the test server and a table name of the test's own,
// <prefix><test name>, so suites running side by side never meet. The table
// is dropped before and after the test; tests skip without the server.
class PgTableTest : public ::testing::Test {
 protected:
  explicit PgTableTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    auto s = TestPostgres();
    if (!s) GTEST_SKIP() << "no test PostgreSQL: run through scripts/test.sh";
    settings_ = *s;
    conn_ = OpenPg(settings_);
    table_ = prefix_ + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Exec(*conn_, "DROP TABLE IF EXISTS " + Q());
  }
  // On a connection of its own: the test's may be busy or broken.
  void TearDown() override {
    if (conn_) (void)OpenPg(settings_)->Execute("DROP TABLE IF EXISTS " + Q());
  }
  std::string Q() const { return "\"" + table_ + "\""; }

  ConnectionSettings settings_;
  std::unique_ptr<Connection> conn_;
  std::string table_;

 private:
  std::string prefix_;
};

}  // namespace corvane::testing
