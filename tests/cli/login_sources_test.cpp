// Where corvane-cli takes its login from: options, then libpq's service,
// PG* variables and password file, then what the window stored, then the
// defaults. And every command's --help with the exit statuses.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/settings_store.h"
#include "cli/options.h"
#include "support/pg_connect.h"
#include "support/pg_env.h"
#include "support/scoped_env.h"

namespace corvane::cli {
namespace {
namespace fs = std::filesystem;

constexpr const char* kLibpqVariables[] = {"PGSERVICE",  "PGSERVICEFILE", "PGSYSCONFDIR",
                                           "PGHOST",     "PGPORT",        "PGUSER",
                                           "PGDATABASE", "PGPASSWORD",    "PGPASSFILE"};

class LoginSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_ / "home");
    for (const char* v : kLibpqVariables) env_.Unset(v);
    env_.Set("HOME", (root_ / "home").string());
    env_.Set("XDG_CONFIG_HOME", (root_ / "config").string());
    env_.Set("PGSYSCONFDIR", (root_ / "etc").string());  // no system service leaks in
  }
  void Store(const std::map<std::string, std::string>& values) {
    auto store = app::MakeIniSettingsStore((root_ / "config").string());
    for (const auto& [k, v] : values)
      ASSERT_TRUE(store->Write(app::kApplication, app::kSection, k, v).ok());
  }
  void WriteFile(const std::string& name, const std::string& text, mode_t mode = 0600) {
    std::ofstream(root_ / "home" / name) << text;
    ::chmod((root_ / "home" / name).c_str(), mode);
  }

  testing::TestFolder folder_{"corvane-login"};
  const fs::path root_ = folder_.path();
  testing::ScopedEnv env_;
};

std::string Login(const ConnectionSettings& s) {
  return s.server + " " + s.port + " " + s.user + " " + s.password + " " + s.database;
}

TEST_F(LoginSourcesTest, EachValueComesFromTheFirstSourceThatHasIt) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::string service_file, pgpass;
    mode_t pgpass_mode;
    std::map<std::string, std::string> options;
    const char* expected;  // server port user password database
  };
  const std::string service =
      "# mine\n[other]\nhost=other-host\n\n[svc]\n host = svc-host\nport=7000\n";
  const std::string pgpass =
      "# comment\nelse:*:*:*:no\nstored-host:6000:*:stored-user:pass\\:word\n*:*:*:*:any\n";
  const Case cases[] = {
      {"stored values", {}, "", "", 0600, {}, "stored-host 6000 stored-user stored-pw stored-db"},
      {"variables",
       {{"PGHOST", "h"},
        {"PGPORT", "1"},
        {"PGUSER", "u"},
        {"PGPASSWORD", "p"},
        {"PGDATABASE", "d"}},
       "",
       "",
       0600,
       {},
       "h 1 u p d"},
      {"empty variables are unset",
       {{"PGHOST", ""}},
       "",
       "",
       0600,
       {},
       "stored-host 6000 stored-user stored-pw stored-db"},
      {"service before variables",
       {{"PGSERVICE", "svc"}, {"PGHOST", "h"}, {"PGUSER", "u"}},
       service,
       "",
       0600,
       {},
       "svc-host 7000 u stored-pw stored-db"},
      {"unknown service",
       {{"PGSERVICE", "nope"}},
       service,
       "",
       0600,
       {},
       "stored-host 6000 stored-user stored-pw stored-db"},
      {"password file before the stored password",
       {},
       "",
       pgpass,
       0600,
       {},
       "stored-host 6000 stored-user pass:word stored-db"},
      {"password file others can read is ignored",
       {},
       "",
       pgpass,
       0644,
       {},
       "stored-host 6000 stored-user stored-pw stored-db"},
      {"password file for the login as resolved",
       {{"PGUSER", "x"}},
       "",
       pgpass,
       0600,
       {},
       "stored-host 6000 x any stored-db"},
      {"options first",
       {{"PGHOST", "h"}, {"PGPASSWORD", "p"}},
       "",
       pgpass,
       0600,
       {{"server", "o"}, {"password", ""}},
       "o 6000 stored-user  stored-db"},
  };
  Store({{"Server", "stored-host"},
         {"Port", "6000"},
         {"User", "stored-user"},
         {"Password", "stored-pw"},
         {"Database", "stored-db"}});
  for (const Case& c : cases) {
    for (const char* v : kLibpqVariables)
      if (std::string(v) != "PGSYSCONFDIR") env_.Unset(v);
    fs::remove(root_ / "home/.pg_service.conf");
    fs::remove(root_ / "home/.pgpass");
    for (const auto& [k, v] : c.env) env_.Set(k, v);
    if (!c.service_file.empty()) WriteFile(".pg_service.conf", c.service_file);
    if (!c.pgpass.empty()) WriteFile(".pgpass", c.pgpass, c.pgpass_mode);
    Options options;
    options.values = c.options;
    EXPECT_EQ(Login(SettingsFrom(options)), c.expected) << c.name;
  }
}

std::pair<int, std::string> Shell(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Cli() {
  const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
  return std::string(dir ? dir : "bin") + "/corvane-cli";
}

TEST_F(LoginSourcesTest, EveryCommandExplainsItselfAndItsExitStatus) {
  for (const char* command :
       {"dump", "schema", "to-postgres", "to-paradox", "drop", "rename", "tables"}) {
    auto [status, out] = Shell(Cli() + " " + command + " --help");
    EXPECT_EQ(status, 0) << command << "\n" << out;
    EXPECT_EQ(out.rfind(std::string("Usage: corvane-cli ") + command, 0), 0u) << out;
    EXPECT_NE(out.find("Exit status: 0 all done, 1 something failed"), std::string::npos) << out;
    EXPECT_EQ(Shell(Cli() + " " + command + " --no-such-option").first, 2) << command;
  }
}

// A user whose only login is libpq's: variables, or a password file.
TEST_F(LoginSourcesTest, LibpqVariablesAndPasswordFileAloneLogIn) {
  CORVANE_REQUIRE_POSTGRES(pg);
  PGconn* c = testing::ConnectLibpq(pg);
  PQclear(PQexec(c, "CREATE TABLE IF NOT EXISTS login_probe(id int)"));
  const std::string variables = "PGHOST='" + pg.server + "' PGPORT='" + pg.port + "' PGUSER='" +
                                pg.user + "' PGDATABASE='" + pg.database + "' ";
  auto [status, out] =
      Shell(variables + "PGPASSWORD='" + pg.password + "' " + Cli() + " tables --postgres");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("login_probe"), std::string::npos) << out;

  WriteFile(".pgpass", pg.server + ":" + pg.port + ":*:" + pg.user + ":" + pg.password + "\n");
  std::tie(status, out) = Shell(variables + Cli() + " tables --postgres");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("login_probe"), std::string::npos) << out;
  PQclear(PQexec(c, "DROP TABLE login_probe"));
  PQfinish(c);
}

}  // namespace
}  // namespace corvane::cli
