// PostgreSQL delete and rename against the throwaway server. The tables are
// made and checked with libpq directly, not through our own driver.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "support/pg_connect.h"
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "support/pg_env.h"
#include "window_fixture.h"

namespace corvane::maintenance {
namespace {

using ui::PointerShape;

class Admin {
 public:
  explicit Admin(const ConnectionSettings& s) {
    conn_.reset(testing::ConnectLibpq(s, "-c client_min_messages=warning"));
  }
  bool ok() const { return PQstatus(conn_.get()) == CONNECTION_OK; }
  std::string Exec(const std::string& sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn_.get(), sql.c_str()), PQclear);
    auto st = PQresultStatus(r.get());
    return (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) ? "" : PQerrorMessage(conn_.get());
  }
  std::set<std::string> Tables() {
    std::set<std::string> out;
    std::unique_ptr<PGresult, decltype(&PQclear)> r(
        PQexec(conn_.get(), "select tablename from pg_tables where schemaname = 'public'"),
        PQclear);
    for (int i = 0; i < PQntuples(r.get()); ++i) out.insert(PQgetvalue(r.get(), i, 0));
    return out;
  }

 private:
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_{nullptr, PQfinish};
};

// Each test works in a database of its own, so tests of other suites that
// share the server never see its tables.
class PostgresMaintenanceTest : public ::testing::Test {
 protected:
  void Connect(const ConnectionSettings& s) {
    const std::string db = "corvane_maint_" + std::to_string(::getpid());
    server_ = std::make_unique<Admin>(s);
    ASSERT_TRUE(server_->ok());
    ASSERT_EQ(server_->Exec("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)"), "");
    ASSERT_EQ(server_->Exec("CREATE DATABASE " + db), "");
    w_.settings.settings = s;
    w_.settings.settings.database = db;
    admin_ = std::make_unique<Admin>(w_.settings.settings);
    ASSERT_TRUE(admin_->ok());
  }
  void TearDown() override {
    admin_.reset();
    if (server_) {
      (void)server_->Exec("DROP DATABASE IF EXISTS " + w_.settings.settings.database +
                          " WITH (FORCE)");
    }
  }
  void Create(const std::vector<std::string>& quoted_names) {
    for (const auto& n : quoted_names)
      ASSERT_EQ(admin_->Exec("CREATE TABLE " + n + " (x int)"), "");
  }
  void List(const std::vector<std::string>& names, const std::vector<std::string>& selected) {
    testing::FakeTablesWindow::Fill(w_.postgres, names);
    w_.postgres.SelectNames(selected);
  }
  std::unique_ptr<Admin> server_, admin_;
  testing::FakeTablesWindow w_;
};

TEST_F(PostgresMaintenanceTest, DropsSelectedTablesBottomUp) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"t_a", "t_b", "t_c", "t_d", "t_e"});
  // Views on the two outer tables make their drops fail, which shows the order.
  ASSERT_EQ(admin_->Exec("CREATE VIEW v_b AS SELECT * FROM t_b"), "");
  ASSERT_EQ(admin_->Exec("CREATE VIEW v_e AS SELECT * FROM t_e"), "");
  List({"t_a", "t_b", "t_c", "t_d", "t_e"}, {"t_b", "t_c", "t_e"});

  Outcome out = DeletePostgresTables(w_.window);

  EXPECT_EQ(out.failures, 2);
  auto failures = w_.dialogs.Failures();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("t_e"), std::string::npos);
  EXPECT_NE(failures[1].find("t_b"), std::string::npos);
  EXPECT_NE(failures[0].find("Form2.PushButton1_Click at line 114"), std::string::npos);
  EXPECT_EQ(failures[0].find("sql: "), std::string::npos);
  // The refused tables still leave the list, as it is not reread.
  EXPECT_EQ(w_.postgres.Names(), (std::vector<std::string>{"t_a", "t_d"}));
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"t_a", "t_b", "t_d", "t_e"}));
  EXPECT_TRUE(w_.Messages().empty());
  EXPECT_EQ(w_.pointer.history,
            (std::vector<PointerShape>{PointerShape::kHourglass, PointerShape::kDefault}));
}

TEST_F(PostgresMaintenanceTest, DeleteSelectionRules) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"t_a"});
  List({"t_a"}, {});
  EXPECT_EQ(DeletePostgresTables(w_.window).failures, 0);
  EXPECT_EQ(w_.Messages(), (std::vector<std::string>{"Please select a table"}));
  EXPECT_EQ(w_.dialogs.pointers, (std::vector<PointerShape>{PointerShape::kHourglass}));

  w_.postgres.SetCurrentIndex(0);  // current, nothing selected: nothing happens
  EXPECT_EQ(DeletePostgresTables(w_.window).failures, 0);
  EXPECT_EQ(w_.dialogs.shown.size(), 1u);
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"t_a"}));
  EXPECT_EQ(w_.pointer.shape, PointerShape::kDefault);
}

TEST_F(PostgresMaintenanceTest, RenameKeepsTheCaseAsTyped) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"old_t", "zz"});
  List({"old_t", "zz"}, {"old_t"});
  w_.dialogs.prompt_answers = {"NewName"};

  EXPECT_EQ(RenamePostgresTable(w_.window).failures, 0);

  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"NewName", "zz"}));
  EXPECT_EQ(w_.postgres.Names(), (std::vector<std::string>{"NewName", "zz"}));
  ASSERT_FALSE(w_.dialogs.shown.empty());
  EXPECT_EQ(w_.dialogs.shown[0].text, "Enter new name of old_t:");
  EXPECT_EQ(w_.dialogs.shown[0].title, "");  // the application title
  EXPECT_EQ(w_.postgres.CurrentIndex(), 0);
  EXPECT_EQ(w_.postgres.SelectedCount(), 0);
}

TEST_F(PostgresMaintenanceTest, RenameCancelledOrEmptyChangesNothing) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"t_a"});
  List({"t_a"}, {"t_a"});
  w_.dialogs.prompt_answers = {""};
  EXPECT_EQ(RenamePostgresTable(w_.window).failures, 0);
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"t_a"}));
  EXPECT_EQ(w_.postgres.Names(), (std::vector<std::string>{"t_a"}));
  EXPECT_EQ(w_.postgres.SelectedCount(), 1);
}

TEST_F(PostgresMaintenanceTest, NamesWithQuotesStayOneName) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"\"we\"\"ird\"", "victim"});
  List({"we\"ird", "victim"}, {"we\"ird"});
  // Would end the name and add a statement if the quote were not doubled.
  w_.dialogs.prompt_answers = {"x\"; DROP TABLE victim; --"};

  EXPECT_EQ(RenamePostgresTable(w_.window).failures, 0);
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"victim", "x\"; DROP TABLE victim; --"}));

  w_.postgres.SelectNames({"x\"; DROP TABLE victim; --"});
  EXPECT_EQ(DeletePostgresTables(w_.window).failures, 0);
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"victim"}));
  EXPECT_EQ(w_.postgres.Names(), (std::vector<std::string>{"victim"}));
}

TEST_F(PostgresMaintenanceTest, RenameSelectionRules) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connect(pg);
  Create({"t_a", "t_b"});
  List({"t_a", "t_b"}, {});
  (void)RenamePostgresTable(w_.window);
  w_.postgres.SelectNames({"t_a", "t_b"});
  (void)RenamePostgresTable(w_.window);
  EXPECT_EQ(w_.Messages(), (std::vector<std::string>{"Please select a table to rename.",
                                                     "Please select just one table to rename."}));
  EXPECT_EQ(w_.dialogs.pointers, std::vector<PointerShape>(2, PointerShape::kHourglass));
  EXPECT_EQ(admin_->Tables(), (std::set<std::string>{"t_a", "t_b"}));
}

// No server needed: nothing answers on the port.
TEST(PostgresMaintenanceOffline, AFailedOpenIsShownAndEveryStatementFailsOnItsOwn) {
  testing::FakeTablesWindow w;
  w.settings.settings.server = "127.0.0.1";
  w.settings.settings.port = "1";
  testing::FakeTablesWindow::Fill(w.postgres, {"t_a", "t_b"});
  w.postgres.SelectNames({"t_b"});
  w.dialogs.prompt_answers = {"t_c"};

  EXPECT_EQ(RenamePostgresTable(w.window).failures, 2);

  auto failures = w.dialogs.Failures();
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("Form2.PushButton6_Click at line 104"), std::string::npos);
  EXPECT_NE(failures[1].find("Form2.PushButton6_Click at line 118"), std::string::npos);
  // The list shows the new name all the same, as it is not reread.
  EXPECT_EQ(w.postgres.Names(), (std::vector<std::string>{"t_a", "t_c"}));
}

}  // namespace
}  // namespace corvane::maintenance
