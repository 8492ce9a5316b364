// corvane-cli tables, run as a user runs it: what it prints for a folder
// tree and for a database, and how it fails.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "connection/connection.h"
#include "support/pg_env.h"
#include "ui/surfaces.h"
#include "support/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int exit_code = -1;
  std::string out;  // stdout; stderr goes to err
  std::string err;
};

class CliTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
    if (!dir || !fs::exists(fs::path(dir) / "corvane-cli")) GTEST_SKIP() << "corvane-cli not built";
    cli_ = (fs::path(dir) / "corvane-cli").string();
    tmp_ = temp_.path();
    fs::create_directories(tmp_ / "config");
    setenv("XDG_CONFIG_HOME", (tmp_ / "config").c_str(), 1);  // no stored login leaks in
  }
  Ran Run(const std::string& args) {
    Ran r;
    const std::string err_file = (tmp_ / "stderr").string();
    FILE* p = popen((cli_ + " " + args + " 2>" + err_file).c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(err_file);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    return r;
  }
  void Touch(const std::string& rel) {
    fs::create_directories((tmp_ / "tree" / rel).parent_path());
    std::ofstream(tmp_ / "tree" / rel) << "x";
  }

  std::string cli_;
  testing::TempFolder temp_{"corvane_cli_tables"};
  fs::path tmp_;
};

TEST_F(CliTablesTest, PrintsAFolderTreeAsTheListShowsIt) {
  for (const char* f : {"Orders.db", "a/orders.DB", "b/c/ORDERS.db", "my.dbase.db", "a.db.db",
                        "~lock.db", "zeta.db", "b/Beta.db", "readme.txt"}) {
    Touch(f);
  }
  fs::create_directories(tmp_ / "tree" / "x.db");
  Ran r = Run("tables --paradox " + (tmp_ / "tree").string());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "A\nBETA\nMYASE\nORDERS\nORDERS\nORDERS\nZETA\n");
  EXPECT_EQ(Run("tables --paradox=" + (tmp_ / "tree").string()).out, r.out);
}

TEST_F(CliTablesTest, BadUseAndMissingFoldersFailOnStderr) {
  Ran missing = Run("tables --paradox " + (tmp_ / "absent").string());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("is not a folder"), std::string::npos) << missing.err;
  EXPECT_EQ(Run("tables").exit_code, 2);
  EXPECT_EQ(Run("tables --postgres --paradox /tmp").exit_code, 2);
  EXPECT_EQ(Run("tables --postgres extra").exit_code, 2);
}

std::string Login(const ConnectionSettings& s) {
  return " --server " + s.server + " --port " + s.port + " --user " + s.user + " --password '" +
         s.password + "' --database " + s.database;
}

TEST_F(CliTablesTest, PrintsTheDatabasesTablesSortedAsTheList) {
  CORVANE_REQUIRE_POSTGRES(pg);
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  for (const char* sql : {"DROP TABLE IF EXISTS \"cli Zulu\"", "DROP TABLE IF EXISTS cli_alpha",
                          "CREATE TABLE \"cli Zulu\" (a int)", "CREATE TABLE cli_alpha (a int)"}) {
    ASSERT_TRUE(c.Execute(sql).ok()) << sql;
  }
  Ran r = Run("tables --postgres" + Login(pg));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(r.out.substr(at, nl - at));
  }
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end(), ui::ListOrderLess));
  for (const char* name : {"cli Zulu", "cli_alpha"}) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), name), 1) << name;
  }
  // PostgreSQL's own tables only when asked for, by their schema's name.
  EXPECT_EQ(r.out.find("pg_class"), std::string::npos);
  Ran system = Run("tables --postgres --system" + Login(pg));
  EXPECT_EQ(system.exit_code, 0) << system.err;
  EXPECT_NE(system.out.find("\npg_catalog.pg_class\n"), std::string::npos);
  EXPECT_NE(system.out.find("\ncli_alpha\n"), std::string::npos);
  ConnectionSettings wrong = pg;
  wrong.password = "wrong";
  Ran denied = Run("tables --postgres" + Login(wrong));
  EXPECT_EQ(denied.exit_code, 1);
  EXPECT_EQ(denied.out, "");
  EXPECT_NE(denied.err.find("password authentication failed"), std::string::npos) << denied.err;
  (void)c.Execute("DROP TABLE \"cli Zulu\"");
  (void)c.Execute("DROP TABLE cli_alpha");
}

}  // namespace
}  // namespace corvane
