// The PostgreSQL catalog against the throwaway server.
#include "catalog/postgres_catalog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "connection/connection.h"
#include "support/pg_env.h"
#include "ui/memory_surfaces.h"

namespace corvane::catalog {
namespace {

void Exec(Connection& c, const std::string& sql) {
  auto r = c.Execute(sql);
  ASSERT_TRUE(r.ok()) << sql << ": " << r.status().message();
}

int64_t CountOf(Connection& c, const std::string& sql) {
  auto r = c.Execute(sql);
  EXPECT_TRUE(r.ok()) << r.status().message();
  return r.ok() ? std::stoll(r.value()->FieldValue(0).text()) : -1;
}

TEST(PostgresCatalog, AWrongLoginIsFalseSilentlyAndAnErrorForTheList) {
  CORVANE_REQUIRE_POSTGRES(pg);
  EXPECT_TRUE(TestPostgreSQLConnection(pg));
  ConnectionSettings wrong = pg;
  wrong.password += "x";
  EXPECT_FALSE(TestPostgreSQLConnection(wrong));
  ui::MemoryTableList list;
  list.Add("as the caller had it");
  ui::CountingPump pump;
  Status st = ListPostgreSQLTables(wrong, list, pump);
  EXPECT_EQ(st.code(), Status::Code::kDatabase);
  EXPECT_NE(st.message().find("password authentication failed"), std::string::npos) << st.message();
  EXPECT_EQ(list.Names(), std::vector<std::string>{"as the caller had it"});

  ConnectionSettings stopped = pg;
  stopped.port = "1";  // nothing listens there
  EXPECT_FALSE(TestPostgreSQLConnection(stopped));
  EXPECT_FALSE(ListPostgreSQLTables(stopped, list, pump).ok());
  ConnectionSettings no_db = pg;
  no_db.database = "no_such_database_here";
  EXPECT_FALSE(TestPostgreSQLConnection(no_db));
}

// A fresh database lists every row of pg_tables, the system catalogs too.
TEST(PostgresCatalog, AFreshDatabaseListsTheSystemCatalogs) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connection admin;
  ASSERT_TRUE(admin.Open(PostgresConnectionString(pg)).ok());
  const std::string fresh = "corvane_fresh_" + std::to_string(getpid());
  Exec(admin, "DROP DATABASE IF EXISTS " + fresh);
  Exec(admin, "CREATE DATABASE " + fresh);
  ConnectionSettings s = pg;
  s.database = fresh;
  ui::MemoryTableList list;
  ui::CountingPump pump;
  Status st = ListPostgreSQLTables(s, list, pump);
  ASSERT_TRUE(st.ok()) << st.message();
  auto names = list.Names();
  for (const char* system : {"pg_class", "pg_type", "sql_features"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), system), names.end()) << system;
  }
  Connection in_fresh;
  ASSERT_TRUE(in_fresh.Open(PostgresConnectionString(s)).ok());
  EXPECT_EQ(static_cast<int64_t>(names.size()),
            CountOf(in_fresh, "SELECT count(*) FROM pg_tables"));
  EXPECT_GE(pump.count, static_cast<long>(names.size()));  // per row, and while waiting
  in_fresh.Close();
  Exec(admin, "DROP DATABASE " + fresh);
}

TEST(PostgresCatalog, NamesComeExactlyAsStoredAndOncePerSchema) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  const std::vector<std::string> odd = {"Cat Names", "MiXeD", "Zoë ñandú", "quo\"te"};
  Exec(c, "DROP SCHEMA IF EXISTS cat_s1 CASCADE");
  Exec(c, "DROP SCHEMA IF EXISTS cat_s2 CASCADE");
  Exec(c, "CREATE SCHEMA cat_s1");
  Exec(c, "CREATE SCHEMA cat_s2");
  for (const std::string& n : odd) {
    std::string quoted = n;
    for (size_t at = quoted.find('"'); at != std::string::npos; at = quoted.find('"', at + 2)) {
      quoted.insert(at, 1, '"');
    }
    Exec(c, "CREATE TABLE cat_s1.\"" + quoted + "\" (a int)");
  }
  Exec(c, "CREATE TABLE cat_s2.\"MiXeD\" (a int)");
  Exec(c, "CREATE VIEW cat_s2.a_view AS SELECT 1 AS a");  // views are no tables
  ui::MemoryTableList list;
  ui::CountingPump pump;
  ASSERT_TRUE(ListPostgreSQLTables(pg, list, pump).ok());
  auto names = list.Names();
  for (const std::string& n : odd) {
    EXPECT_EQ(std::count(names.begin(), names.end(), n), n == "MiXeD" ? 2 : 1) << n;
  }
  EXPECT_EQ(std::count(names.begin(), names.end(), "a_view"), 0);
  Exec(c, "DROP SCHEMA cat_s1 CASCADE");
  Exec(c, "DROP SCHEMA cat_s2 CASCADE");
}

}  // namespace
}  // namespace corvane::catalog
