// corvane-cli drop, rename and tables end to end: the real binary, real
// files, the test server. Names are passed as argv words, never through a
// shell, so every byte of them reaches the program as typed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "support/pg_env.h"
#include "support/temp_folder.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int exit_code = -1;
  std::string out, err;
};

class MaintenanceCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
    if (!dir || !fs::exists(fs::path(dir) / "corvane-cli")) GTEST_SKIP() << "corvane-cli not built";
    bin_ = fs::path(dir);
    fs::create_directories(tmp_ / "px");
    fs::create_directories(tmp_ / "program");
    fs::create_directories(tmp_ / "config");
    fs::permissions(tmp_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    std::error_code ec;
    fs::copy_file(bin_ / "dbtemp.mdb", tmp_ / "program" / "dbtemp.mdb", ec);
  }
  fs::path Px() const { return tmp_ / "px"; }

  // Another user may not enter the folder the build sits in (a clone in a
  // private home folder), so that user runs a copy placed in the test's own
  // folder. Returns why it cannot, or "" when the copy is ready.
  std::string ProgramFor(int uid) {
    std::error_code ec;
    const fs::path copy = tmp_ / "program" / "corvane-cli";
    fs::copy_file(bin_ / "corvane-cli", copy, fs::copy_options::overwrite_existing, ec);
    if (ec) return "cannot copy corvane-cli for another user: " + ec.message();
    fs::permissions(tmp_ / "program", fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    fs::permissions(copy, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add, ec);
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
      _exit(access(copy.c_str(), X_OK) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return "cannot act as user " + std::to_string(uid);
    if (WEXITSTATUS(status) != 0)
      return "user " + std::to_string(uid) + " cannot reach " + tmp_.string() + " (a private temporary folder?)";
    bin_ = copy.parent_path();
    return "";
  }

  // Runs corvane-cli with `args`; as user `uid` when it is not -1.
  Ran Run(const std::vector<std::string>& args, int uid = -1) {
    Ran r;
    const fs::path out = tmp_ / "stdout", err = tmp_ / "stderr";
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int in = open("/dev/null", O_RDONLY);
      dup2(o, 1);
      dup2(e, 2);
      dup2(in, 0);
      setenv("CORVANE_PROGRAM_DIR", (tmp_ / "program").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (tmp_ / "config").c_str(), 1);
      if (uid != -1 && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(99);
      std::vector<char*> argv;
      std::string path = (bin_ / "corvane-cli").string();
      argv.push_back(path.data());
      std::vector<std::string> copy = args;
      for (std::string& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Text(out);
    r.err = Text(err);
    return r;
  }
  static std::string Text(const fs::path& p) {
    std::stringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
  }
  void Make(const std::vector<std::string>& names) {
    for (const auto& n : names) std::ofstream(Px() / n, std::ios::binary) << "content of " << n;
  }
  std::set<std::string> Files() {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(Px())) out.insert(e.path().filename().string());
    return out;
  }
  std::vector<std::string> Login(const ConnectionSettings& s) {
    return {"--server", s.server,     "--port",   s.port,       "--user",
            s.user,     "--password", s.password, "--database", s.database};
  }
  std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  fs::path bin_;
  corvane::testing::TempFolder temp_{"corvane_maint_cli"};
  fs::path tmp_ = temp_.path();
};

TEST_F(MaintenanceCliTest, ParadoxNamesMeanExactlyOneTableAndFailuresAreTold) {
  struct Case {
    std::vector<std::string> files, args;
    int exit_code;
    std::set<std::string> after;
    const char* err;
  } cases[] = {
      {{"abc.db", "abc.mb", "ABC.DB", "ABC.MB", "ABC.F"},
       {"drop", "ABC"},
       0,
       {"abc.db", "abc.mb"},
       ""},
      {{"abc.db", "abc.mb", "ABC.DB", "ABC.MB"},
       {"drop", "aBc"},
       2,
       {"abc.db", "abc.mb", "ABC.DB", "ABC.MB"},
       "more than one table"},
      {{"ORDERS.DB", "ORDERS.MB", "ORDERS.F", "ORDERS.R1", "ORDERS.SET", "ORDERS.LCK"},
       {"rename", "ORDERS", "Sales"},
       0,
       {"Sales.DB", "Sales.MB", "Sales.F", "Sales.R1", "Sales.SET", "ORDERS.LCK"},
       ""},
      {{"OPEN.DB", "OPEN.LCK", "PARADOX.LCK"},
       {"drop", "OPEN"},
       1,
       {"OPEN.DB", "OPEN.LCK", "PARADOX.LCK"},
       "OPEN ("},
      {{"OPEN.DB", "OPEN.LCK", "PDOXUSRS.LCK"},
       {"rename", "open", "SHUT"},
       1,
       {"OPEN.DB", "OPEN.LCK", "PDOXUSRS.LCK"},
       "in use"},
      {{"A.DB", "B.DB"}, {"rename", "A", "b"}, 1, {"A.DB", "B.DB"}, "already in"},
      {{"A.DB"}, {"drop", "NONE"}, 2, {"A.DB"}, "no table NONE"},
      // A name cannot drive the terminal: its control characters are escaped.
      {{"E\x1b[2JX.DB", "E\x1b[2JX.LCK", "PARADOX.LCK"}, {"drop", "E\x1b[2JX"}, 1,
       {"E\x1b[2JX.DB", "E\x1b[2JX.LCK", "PARADOX.LCK"}, "Table E\\x1b[2JX ("},
  };
  for (const Case& c : cases) {
    fs::remove_all(Px());
    fs::create_directories(Px());
    Make(c.files);
    Ran r = Run(With({c.args[0], "--paradox", Px().string()},
                     std::vector<std::string>(c.args.begin() + 1, c.args.end())));
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args[1] << ": " << r.err;
    EXPECT_EQ(Files(), c.after) << c.args[1];
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args[1] << ": " << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  }
}

// The user may not write the folder: nothing is deleted, and the command
// says so and fails. Root may write anywhere, so root runs it as nobody.
TEST_F(MaintenanceCliTest, AFolderTheUserCannotWriteFailsTheDrop) {
  Make({"KEEP.DB", "KEEP.MB"});
  const bool root = geteuid() == 0;
  if (root) {
    const std::string why = ProgramFor(65534);
    if (!why.empty()) GTEST_SKIP() << why;
  }
  if (!root) fs::permissions(Px(), fs::perms::owner_write, fs::perm_options::remove);
  Ran r = Run({"drop", "--paradox", Px().string(), "KEEP"}, root ? 65534 : -1);
  fs::permissions(Px(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(r.exit_code, 1) << r.err;
  // Said once, of the folder, before any table is tried.
  EXPECT_NE(r.err.find(Px().string() + ": is not writable"), std::string::npos) << r.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"KEEP.DB", "KEEP.MB"}));
}

// A table named we"ird with a column a`b goes to Paradox and back, and is
// renamed and dropped on both sides; names too long for PostgreSQL are
// refused before anything is sent; listings escape control characters.
TEST_F(MaintenanceCliTest, AwkwardNamesWorkThroughEveryCommand) {
  CORVANE_REQUIRE_POSTGRES(pg);
  const std::vector<std::string> login = Login(pg);
  const std::string tag = std::to_string(getpid());
  const std::string weird = "we\"ird" + tag.substr(tag.size() - 2);
  Connection c;
  ASSERT_TRUE(c.Open(PostgresConnectionString(pg)).ok());
  const std::string q = "\"we\"\"ird" + tag.substr(tag.size() - 2) + "\"";
  ASSERT_TRUE(c.Execute("DROP TABLE IF EXISTS " + q).ok());
  // Awkward but valid as a Paradox field name, which cannot hold [ ] { } ( ).
  ASSERT_TRUE(c.Execute("CREATE TABLE " + q + "(\"a`b\" int4, \"c;d-e\" text)").ok());
  ASSERT_TRUE(c.Execute("INSERT INTO " + q + " VALUES (7, 'x''y')").ok());
  const std::vector<std::string> px = {"--paradox", Px().string()};

  Ran r = Run(With(With({"to-paradox"}, px), With(login, {weird})));
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  ASSERT_EQ(Files(), (std::set<std::string>{weird + ".db"}));
  ASSERT_TRUE(c.Execute("DROP TABLE " + q).ok());

  r = Run(With(With({"to-postgres"}, px), With(login, {weird})));
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  std::string upper = weird;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  r = Run(With({"rename", "--postgres"}, With(login, {upper, std::string(64, 'R')})));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(std::string(64, 'R') + "\" is 64 bytes"), std::string::npos) << r.err;
  const std::string renamed = "n\"e`w;[x]\n" + tag;
  r = Run(With({"rename", "--postgres"}, With(login, {upper, renamed})));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = Run(With({"tables", "--postgres"}, login));
  EXPECT_NE(r.out.find("n\"e`w;[x]\\n" + tag + "\n"), std::string::npos) << r.out;
  r = Run(With({"drop", "--postgres"}, With(login, {renamed})));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = Run(With({"tables", "--postgres"}, login));
  EXPECT_EQ(r.out.find(tag), std::string::npos) << r.out;

  const std::string long_name(64, 'L');
  fs::copy_file(Px() / (weird + ".db"), Px() / (long_name + ".db"));
  r = Run(With(With({"to-postgres"}, px), With(login, {long_name})));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(long_name + "\" is 64 bytes"), std::string::npos) << r.err;
  r = Run(With({"tables", "--postgres"}, login));
  EXPECT_EQ(r.out.find(long_name.substr(0, 63)), std::string::npos) << r.out;
  fs::remove(Px() / (long_name + ".db"));

  // Brackets, backquotes, semicolons and letters beyond ASCII reach the
  // folder as typed too.
  for (const std::string& name :
       std::vector<std::string>{"a[b]`" + tag.substr(tag.size() - 2), "s;c ünï"}) {
    std::string quoted = "\"" + name + "\"";
    ASSERT_TRUE(c.Execute("DROP TABLE IF EXISTS " + quoted).ok());
    ASSERT_TRUE(c.Execute("CREATE TABLE " + quoted + "(\"x;`\" int4)").ok());
    r = Run(With(With({"to-paradox"}, px), With(login, {name})));
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.out << r.err;
    EXPECT_TRUE(fs::exists(Px() / (name + ".db"))) << name;
    fs::remove(Px() / (name + ".db"));
    ASSERT_TRUE(c.Execute("DROP TABLE " + quoted).ok());
  }

  r = Run(With({"rename"}, With(px, {weird, "x\"y`z"})));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"x\"y`z.db"}));
  r = Run(With({"drop"}, With(px, {"x\"y`z"})));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace corvane
