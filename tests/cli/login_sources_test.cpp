// Where corvane-cli takes its login from: the options, the window's stored
// values for their own server only, and libpq for the rest. And every
// command's --help with the exit statuses.
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
#include <set>
#include <vector>

#include "app/settings_store.h"
#include "cli/cli_child.h"
#include "cli/fake_postgres.h"
#include "cli/libpq_login.h"
#include "cli/options.h"
#include "connection/connection.h"
#include "support/pg_connect.h"
#include "support/pg_env.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"

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

  testing::TempFolder folder_{"corvane-login"};
  const fs::path root_ = folder_.path();
  testing::ScopedEnv env_;
};

// server/port/user/password/database, extra libpq keywords, and whether the
// stored password may go there.
std::string Plan(const LoginPlan& p) {
  const ConnectionSettings& s = p.settings;
  std::string out = s.server + "/" + s.port + "/" + s.user + "/" + s.password + "/" + s.database;
  for (const auto& [k, v] : s.libpq_extra) out += " " + k + "=" + v;
  return out + (p.stored ? " +stored" : "");
}

Options Parsed(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Result<Options> r =
      ParseOptions(static_cast<int>(argv.size()), argv.data(), LoginOptionNames(), {"postgres"});
  EXPECT_TRUE(r.ok()) << r.status().message();
  return r.ok() ? r.value() : Options{};
}

// The options' values stand; the stored ones fill what nothing else gives,
// and only for the server they were stored for; libpq's environment names a
// server as much as an option does; the rest is left empty, for libpq.
TEST(LoginPlan, StoredValuesOnlyForTheirOwnServer) {
  StoredLogin stored;
  stored.any = true;
  stored.server = "db1";
  stored.port = "6000";
  stored.user = "ann";
  stored.password = "pw";
  stored.database = "shop";
  struct Case {
    std::vector<std::string> args;
    LibpqLoginDefaults libpq;
    bool stored;
    const char* expected;
  };
  const Case cases[] = {
      {{}, {}, true, "db1/6000/ann//shop +stored"},
      {{}, {}, false, "////"},
      {{"-h", "db1"}, {}, true, "db1/6000/ann//shop +stored"},
      {{"-h", "db2"}, {}, true, "db2////"},
      {{"--server", "db2", "--user", "mallory"}, {}, true, "db2//mallory//"},
      {{"-p", "6001"}, {}, true, "/6001///"},
      {{}, {"db2", "", "", ""}, true, "////"},
      {{}, {"", "6000", "", ""}, true, "db1//ann//shop +stored"},
      {{"-U", "bob"}, {}, true, "db1/6000/bob//shop"},
      {{}, {"", "", "bob", ""}, true, "db1/6000///shop"},
      {{"-d", "other"}, {}, true, "db1/6000/ann//other"},
      {{"--password", "given"}, {}, true, "db1/6000/ann/given/shop +stored"},
      {{"-d", "postgresql://bob:x@db2:7/sales?sslmode=disable"},
       {},
       true,
       "db2/7/bob/x/sales sslmode=disable"},
      {{"-h", "db2", "-d", "host=db1 dbname=shop"}, {}, true, "db1/6000/ann//shop +stored"},
      {{"-d", "dbname=shop application_name=nightly"},
       {},
       true,
       "db1/6000/ann//shop application_name=nightly +stored"},
  };
  for (const Case& c : cases) {
    StoredLogin s = stored;
    s.any = c.stored;
    EXPECT_EQ(Plan(PlanLogin(Parsed(c.args), s, c.libpq)), c.expected)
        << ::testing::PrintToString(c.args);
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

namespace corvane::cli {
namespace {

using testing::RunCliDetached;

// What a server that asks for a cleartext password receives from the
// commands below, with the window's login stored for localhost:PORT as ann
// on shop. Only that very login may carry the stored password; anything
// else gets libpq's own (here none, or PGPASSWORD).
TEST_F(LoginSourcesTest, StoredPasswordGoesOnlyToItsOwnLogin) {
  testing::FakePostgres server;
  ASSERT_NE(server.port(), "0");
  Store({{"Server", "localhost"},
         {"Port", server.port()},
         {"User", "ann"},
         {"Password", "s3cret"},
         {"Database", "shop"}});
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char* password;  // what the server must have received; "" nothing
  };
  const Case cases[] = {
      {{}, {}, "s3cret"},
      {{"-w"}, {}, "s3cret"},  // stored is no prompt
      {{"-h", "localhost", "-U", "ann", "-d", "shop"}, {}, "s3cret"},
      {{"--server", "127.0.0.1", "--port", server.port(), "--user", "mallory"}, {}, ""},
      {{"-h", "127.0.0.1", "-p", server.port()}, {}, ""},
      {{"-U", "mallory"}, {}, ""},
      {{"-d", "other"}, {}, ""},
      {{"-d", "postgresql://mallory@localhost:" + server.port() + "/shop"}, {}, ""},
      {{}, {"PGHOST=127.0.0.1", "PGPORT=" + server.port()}, ""},
      {{}, {"PGUSER=mallory"}, ""},
      {{"-U", "mallory"}, {"PGPASSWORD=from-env"}, "from-env"},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    std::vector<std::string> args = {"tables", "--postgres"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::ChildRun run = RunCliDetached(args, c.env);
    const std::string label = ::testing::PrintToString(c.args) + ::testing::PrintToString(c.env);
    EXPECT_EQ(run.status, 1) << label << "\n" << run.output;
    const std::vector<testing::FakePostgres::Login> logins = server.Logins();
    ASSERT_GE(logins.size(), seen) << label;
    std::set<std::string> received;
    for (size_t i = seen; i < logins.size(); ++i)
      if (logins[i].password) received.insert(*logins[i].password);
    seen = logins.size();
    if (*c.password) {
      EXPECT_EQ(received, std::set<std::string>{c.password}) << label;
      EXPECT_NE(run.output.find("password authentication failed"), std::string::npos) << run.output;
    } else {
      EXPECT_TRUE(received.empty()) << label << " sent " << *received.begin();
      EXPECT_NE(run.output.find("no password supplied"), std::string::npos) << label << run.output;
    }
  }
}

}  // namespace
}  // namespace corvane::cli

namespace corvane::cli {
namespace {

// psql's spellings, a connection string in -d, and the password prompt on
// a terminal (asked when the server wants one, first with -W, never with -w).
TEST_F(LoginSourcesTest, PsqlOptionsConnectionStringsAndThePrompt) {
  CORVANE_REQUIRE_POSTGRES(pg);
  PGconn* c = testing::ConnectLibpq(pg);
  PQclear(PQexec(c, "CREATE TABLE IF NOT EXISTS login_psql_probe(id int)"));
  const std::string pw_env = "PGPASSWORD=" + pg.password;
  const std::vector<std::string> login = {"-h", pg.server, "-p", pg.port,
                                          "-U", pg.user,   "-d", pg.database};
  const std::vector<std::string> glued = {"-h" + pg.server, "-p" + pg.port, "-U" + pg.user,
                                          "-d" + pg.database};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    bool terminal;
    const char* typed;  // the answer to the prompt; nullptr: no prompt may show
    int status;
    const char* shows;
  };
  const std::string uri = "postgresql://" + pg.user + ":" + pg.password + "@" + pg.server + ":" +
                          pg.port + "/" + pg.database + "?application_name=probe";
  const std::string keywords =
      "host=" + pg.server + " port=" + pg.port + " user=" + pg.user + " dbname=" + pg.database;
  const std::string password = pg.password;
  const Case cases[] = {
      {login, {pw_env}, false, nullptr, 0, "login_psql_probe"},
      {{"-d", uri}, {}, false, nullptr, 0, "login_psql_probe"},
      {{"--dbname", keywords}, {pw_env}, false, nullptr, 0, "login_psql_probe"},
      {glued, {}, true, password.c_str(), 0, "login_psql_probe"},
      {{"-W", "-h", pg.server, "-p", pg.port, "-U", pg.user, "-d", pg.database},
       {},
       true,
       password.c_str(),
       0,
       "login_psql_probe"},
      {{"-w", "-h", pg.server, "-p", pg.port, "-U", pg.user, "-d", pg.database},
       {},
       true,
       nullptr,
       1,
       "no password supplied"},
      {login, {}, true, "wrong", 1, "password authentication failed"},
      {login, {}, false, nullptr, 1, "no password supplied"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"tables", "--postgres"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const std::string prompt = "Password for user " + pg.user + ": ";
    bool asked = false;
    const testing::ChildRun run =
        k.terminal ? testing::RunCliOnTerminal(args, k.env,
                                               [&](const std::string& out) -> std::string {
                                                 if (asked || out.find(prompt) == std::string::npos)
                                                   return "";
                                                 asked = true;
                                                 return std::string(k.typed ? k.typed : "") + "\n";
                                               })
                   : testing::RunCliDetached(args, k.env);
    const std::string label = ::testing::PrintToString(k.args);
    EXPECT_EQ(run.status, k.status) << label << "\n" << run.output;
    EXPECT_NE(run.output.find(k.shows), std::string::npos) << label << "\n" << run.output;
    EXPECT_EQ(asked, k.typed != nullptr) << label << "\n" << run.output;
    if (k.terminal) {
      EXPECT_EQ(run.output.find(pg.password), std::string::npos) << "echoed";
    }
  }
  PQclear(PQexec(c, "DROP TABLE login_psql_probe"));
  PQfinish(c);
}

// The user's libpq settings reach the server: PGOPTIONS before our own
// session settings, PGAPPNAME over our name; and a connection cut off by
// PGCONNECT_TIMEOUT says why.
TEST_F(LoginSourcesTest, LibpqEnvironmentIsHonoured) {
  CORVANE_REQUIRE_POSTGRES(pg);
  auto settings_of = [&](const char* sql) {
    Connection conn;
    Status opened = conn.Open(PostgresConnectionString(pg));
    EXPECT_TRUE(opened.ok()) << opened.message();
    if (!opened.ok()) return std::string();
    auto rows = conn.Execute(sql);
    EXPECT_TRUE(rows.ok()) << rows.status().message();
    return rows.ok() ? (*rows)->FieldValue(0).text() : std::string();
  };
  const char* kSql =
      "SELECT current_setting('search_path') || '|' || current_setting('application_name') || "
      "'|' || current_setting('DateStyle')";
  EXPECT_EQ(settings_of(kSql), "\"$user\", public|Corvane|ISO, MDY");
  env_.Set("PGOPTIONS", "-c search_path=elsewhere -c DateStyle=German");
  env_.Set("PGAPPNAME", "nightly");
  EXPECT_EQ(settings_of(kSql), "elsewhere|nightly|ISO, MDY");

  testing::FakePostgres silent(/*silent=*/true);
  env_.Set("PGCONNECT_TIMEOUT", "2");
  ConnectionSettings s;
  s.server = "127.0.0.1";
  s.port = silent.port();
  for (bool served : {false, true}) {
    Connection conn;
    if (served) conn.options().serve = [] {};
    Status opened = conn.Open(PostgresConnectionString(s));
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.message().find("timeout expired"), std::string::npos) << opened.message();
  }
}

}  // namespace
}  // namespace corvane::cli
