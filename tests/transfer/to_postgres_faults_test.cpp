// corvane-cli to-postgres under faults: killed at random moments, its server
// session ended or its disk full, two copies of one table at once, a table
// file cut while it is read. Whatever happens, PostgreSQL holds the table as
// it was before or all of the new one, and no scratch table outlives its
// run (or, after a kill, the next run); failures exit 1.
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "paradox/table_writer.h"
#include "support/scoped_env.h"
#include "support/temp_folder.h"
#include "support/test_seed.h"
#include "transfer_fixture.h"

extern char** environ;

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kBigRows = 200000;
constexpr const char* kMade = "TOPG_FAULT";
// The memo of row `id` as SQL computes it: every 5th row has none, the rest
// 1 to 60 letters, most of them in the .mb file.
constexpr const char* kExpectedMemo =
    "CASE WHEN \"ID\" % 5 = 0 THEN NULL ELSE repeat(chr(97 + (\"ID\" % 26)::int), 1 + (\"ID\" % "
    "60)::int) END";

std::string MemoOf(int id) {
  return id % 5 == 0 ? "" : std::string(1 + id % 60, static_cast<char>('a' + id % 26));
}

// The 200,000-row table, written once for the whole suite.
const fs::path& BigTableDir() {
  static const TempFolder dir("corvane-faults");
  static const bool made = [] {
    using paradox::FieldType;
    auto w = paradox::TableWriter::Create(
        (dir.path() / (std::string(kMade) + ".db")).string(),
        {{"ID", FieldType::kLong, 4, 0}, {"MEMO", FieldType::kMemo, 11, 0}}, 1252, kBigRows);
    if (!w.ok()) return false;
    for (int id = 1; id <= kBigRows; ++id) {
      const std::string memo = MemoOf(id);
      if (!(*w)->Append({{false, std::to_string(id)}, {memo.empty(), memo}}).ok()) return false;
    }
    return (*w)->Finish(paradox::TableWriter::Replace::kNever).ok();
  }();
  static const fs::path none;
  return made ? dir.path() : none;
}

// Runs its clean-up however the test ends.
struct AtExit {
  std::function<void()> run;
  ~AtExit() { run(); }
};

class ToPostgresFaultsTest : public ToPostgresTest {
 protected:
  void SetUp() override {
    ToPostgresTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_FALSE(BigTableDir().empty());
    // A table name of the test's own: the tests may run side by side.
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    big_ = "TOPG_F_" + test.substr(0, 24);
    for (char& c : big_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& e : fs::directory_iterator(BigTableDir())) {
      fs::copy_file(e.path(), folder_ / (big_ + e.path().extension().string()));
    }
    drop_after_.push_back(big_);
    (void)PgTry("DROP TABLE IF EXISTS \"" + big_ + "\"");
  }
  std::string big_;  // the table, as the Paradox list shows it

  // Starts corvane-cli with `args`, its output into `log`.
  pid_t Start(const std::string& command, const std::string& args, const fs::path& log) {
    const char* dir = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    std::string cmd = "exec '" + std::string(dir ? dir : "bin") + "/corvane-cli' " + command;
    if (command == "to-postgres") {
      cmd += " --paradox '" + folder_.string() + "' --server " + s.server + " --port " + s.port +
             " --user " + s.user + " --password '" + s.password + "' --database " + s.database;
    }
    cmd += " " + args + " </dev/null >'" + log.string() + "' 2>&1";
    const char* argv[] = {"sh", "-c", cmd.c_str(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    return pid;
  }
  // The exit status, or 128 + the signal that ended it.
  static int Wait(pid_t pid) {
    int st = 0;
    if (waitpid(pid, &st, 0) != pid) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  int Copy() { return Copy("--overwrite " + big_); }
  // small_: three rows, beside the big table.
  void MakeSmall() {
    using paradox::FieldType;
    small_ = big_ + "_S";
    (void)PgTry("DROP TABLE IF EXISTS \"" + small_ + "\"");
    auto w = paradox::TableWriter::Create((folder_ / (small_ + ".db")).string(),
                                          {{"ID", FieldType::kLong, 4, 0}}, 1252, 3);
    ASSERT_TRUE(w.ok());
    for (int id = 1; id <= 3; ++id) ASSERT_TRUE((*w)->Append({{false, std::to_string(id)}}).ok());
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
    drop_after_.push_back(small_);
  }
  std::string small_;
  int Copy(const std::string& args) {
    return Wait(Start("to-postgres", args, folder_ / "run.log"));
  }

  // Rows stored, or -1 when the table does not exist. Fails the test unless
  // the rows are ID 1..n exactly once each, each with its own memo.
  int64_t CheckPrefix() {
    if (!PgTry(std::string("SELECT 1 FROM \"") + big_ + "\" LIMIT 0").ok()) return -1;
    Rows r = PgRows(std::string("SELECT count(*), count(DISTINCT \"ID\"), coalesce(max(\"ID\"), "
                                "0), count(*) FILTER (WHERE \"MEMO\" IS DISTINCT FROM ") +
                    kExpectedMemo + ") FROM \"" + big_ + "\"");
    if (r.empty()) return -2;
    const std::string n = r[0][0].text();
    EXPECT_EQ(r[0][1].text(), n) << "duplicated rows";
    EXPECT_EQ(r[0][2].text(), n) << "not a prefix";
    EXPECT_EQ(r[0][3].text(), "0") << "memos changed";
    return std::stoll(n);
  }

  // Count and checksum of every row, or "" when there is no such table.
  std::string Contents(const std::string& table) {
    if (!PgTry("SELECT 1 FROM \"" + table + "\" LIMIT 0").ok()) return "";
    Rows r = PgRows("SELECT count(*) || ' ' || coalesce(md5(string_agg(t::text, ',' ORDER BY "
                    "t::text)), '') FROM \"" + table + "\" t");
    return r.empty() ? "?" : r[0][0].text();
  }
  // Scratch tables of copies of the table, and the server processes that
  // own them (from their names).
  std::vector<std::string> ScratchOwners() { return ScratchOwners(big_); }
  std::vector<std::string> ScratchOwners(const std::string& table) {
    std::vector<std::string> owners;
    for (const auto& row : PgRows("SELECT split_part(relname, '~', 2) FROM pg_class WHERE "
                                  "relname LIKE 'corvane~%~" + table + "'")) {
      owners.push_back(row[0].text());
    }
    return owners;
  }
  // Waits until these server processes have ended (a killed client's
  // backend ends once it notices).
  bool BackendsGone(const std::vector<std::string>& pids) {
    for (const std::string& pid : pids) {
      for (int i = 0; !PgRows("SELECT 1 FROM pg_stat_activity WHERE pid = " + pid).empty(); ++i) {
        if (i == 3000) return false;
        std::this_thread::sleep_for(10ms);
      }
    }
    return true;
  }

  // The server process of the copy, once its COPY has begun.
  std::string CopyingBackend(pid_t cli) {
    for (int i = 0; i < 400; ++i) {
      Rows r = PgRows(std::string("SELECT pid FROM pg_stat_activity WHERE query LIKE "
                                  "'COPY \"corvane~%~") +
                      big_ + "\"%' AND state = 'active' AND datname = current_database()");
      if (!r.empty()) return r[0][0].text();
      if (waitpid(cli, nullptr, WNOHANG) == cli) return "";
      std::this_thread::sleep_for(10ms);
    }
    return "";
  }
};

// Killed at 20 random moments each (SIGKILL, SIGTERM, SIGINT in turn), a
// new table and an overwrite, every other time with a second table beside
// it (--jobs 2): each table is the old one or the new one, whole, and no
// scratch table is left but one a SIGKILL left, which the next run clears.
TEST_F(ToPostgresFaultsTest, KilledAtRandomMomentsLeavesTheOldTableOrTheNewOne) {
  MakeSmall();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Copy(), 0) << Slurp(folder_ / "run.log");
  const auto full = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(CheckPrefix(), kBigRows);
  ASSERT_EQ(Copy("--overwrite " + small_), 0) << Slurp(folder_ / "run.log");
  const std::map<std::string, std::string> whole = {{big_, Contents(big_)},
                                                    {small_, Contents(small_)}};
  const unsigned seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(full).count();
  std::uniform_int_distribution<long> moment(0, std::max<long>(span, 1));
  const std::string old_rows = "SELECT g AS \"ID\", 'old' AS \"MEMO\" FROM generate_series(1, 7) g";
  for (const bool overwrite : {false, true}) {
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE((overwrite ? "overwrite, kill " : "new table, kill ") + std::to_string(k));
      const std::vector<std::string> tables =
          k % 2 == 0 ? std::vector<std::string>{big_} : std::vector<std::string>{big_, small_};
      std::map<std::string, std::string> old;  // before the run: nothing, or the old table
      std::map<std::string, std::vector<std::string>> before;  // a SIGKILL's leftovers
      std::string args = "--overwrite --jobs " + std::to_string(tables.size());
      for (const std::string& t : tables) {
        (void)PgTry("DROP TABLE IF EXISTS \"" + t + "\"");
        if (overwrite) Pg("CREATE TABLE \"" + t + "\" AS " + old_rows);
        old[t] = Contents(t);
        before[t] = ScratchOwners(t);
        args += " " + t;
      }
      const int sig = k % 3 == 0 ? SIGKILL : k % 3 == 1 ? SIGTERM : SIGINT;
      const pid_t cli = Start("to-postgres", args, folder_ / "k.log");
      std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
      kill(cli, sig);
      const int status = Wait(cli);
      // A run that finished before the signal must have succeeded.
      if (status < 128) {
        EXPECT_EQ(status, 0) << Slurp(folder_ / "k.log");
      }
      for (const std::string& t : tables) {
        const std::string now = Contents(t);
        EXPECT_TRUE(now == old[t] || now == whole.at(t)) << t << ": " << now << "\n"
                                                         << Slurp(folder_ / "k.log");
        // Only a run that could not clean up leaves a scratch table.
        const std::vector<std::string> left = ScratchOwners(t);
        for (const std::string& owner : left) {
          if (sig == SIGKILL) break;
          EXPECT_NE(std::find(before[t].begin(), before[t].end(), owner), before[t].end())
              << Slurp(folder_ / "k.log");
        }
        ASSERT_TRUE(BackendsGone(left));
      }
    }
  }
  // The next run clears what the last SIGKILL left.
  ASSERT_EQ(Copy(), 0) << Slurp(folder_ / "run.log");
  EXPECT_EQ(Contents(big_), whole.at(big_));
  EXPECT_TRUE(ScratchOwners().empty());
  EXPECT_TRUE(ScratchOwners(small_).empty());
}

// An overwrite with --keep-types under a password login into a schema off
// the default one, whose table another table refers to, killed or cut off
// from the server (its backend ended) at random moments: the table is the
// old one (same oid, same rows) or the new one whole, either way with the
// foreign key to it, and the next run leaves no scratch table.
TEST_F(ToPostgresFaultsTest, InterruptedOverwriteInASchemaKeepsTheTableAndTheKeysToIt) {
  constexpr int kRows = 30000;
  const std::string kp = big_ + "_K";
  {
    using paradox::FieldType;
    auto w = paradox::TableWriter::Create(
        (folder_ / (kp + ".db")).string(),
        {{"ID", FieldType::kLong, 4, 0}, {"MEMO", FieldType::kMemo, 11, 0}}, 1252, kRows, 1);
    ASSERT_TRUE(w.ok()) << w.status().message();
    for (int id = 1; id <= kRows; ++id) {
      const std::string memo = MemoOf(id);
      ASSERT_TRUE((*w)->Append({{false, std::to_string(id)}, {memo.empty(), memo}}).ok());
    }
    ASSERT_TRUE((*w)->Finish(paradox::TableWriter::Replace::kNever).ok());
  }
  const std::string schema = "topg_keys_" + std::to_string(::getpid());
  const AtExit cleanup{[&] { (void)PgTry("DROP SCHEMA IF EXISTS " + schema + " CASCADE"); }};
  Pg("CREATE SCHEMA " + schema);
  ScopedEnv env;
  env.Set("PGOPTIONS", "-c search_path=" + schema);
  const std::string table = schema + ".\"" + kp + "\"";
  const std::string args = "--keep-types --overwrite " + kp;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Copy(args), 0) << Slurp(folder_ / "run.log");
  const auto span =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count();
  // Enough referring rows that checking the key back takes a while too.
  Pg("CREATE TABLE " + schema + ".child AS SELECT g AS id, 1 + g % " + std::to_string(kRows) +
     " AS pid FROM generate_series(1, 300000) g");
  Pg("ALTER TABLE " + schema + ".child ADD FOREIGN KEY (pid) REFERENCES " + table + "(\"ID\")");
  auto oid = [&] { return PgRows("SELECT '" + table + "'::regclass::oid")[0][0].text(); };
  auto contents = [&] {
    return PgRows("SELECT count(*) || ' ' || md5(string_agg(t::text, ',' ORDER BY t::text)) FROM " +
                  table + " t")[0][0]
        .text();
  };
  auto keys = [&] {
    return PgRows("SELECT count(*) FROM pg_constraint WHERE contype = 'f' AND confrelid = '" +
                  table + "'::regclass")[0][0]
        .text();
  };
  const std::string whole = contents();
  const unsigned seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<long> moment(0, std::max<long>(span, 1));
  for (int k = 0; k < 10; ++k) {
    const bool cut = k % 2 == 1;
    SCOPED_TRACE((cut ? "cut off, round " : "killed, round ") + std::to_string(k));
    Pg("UPDATE " + table + " SET \"MEMO\" = 'old' WHERE \"ID\" = 1");  // the old one, told apart
    const std::string old_oid = oid(), old = contents();
    // A killed run's scratch table names a server process that is gone,
    // whose number another session may have taken since.
    const std::vector<std::string> dead = ScratchOwners(kp);
    const pid_t cli = Start("to-postgres", args, folder_ / "k.log");
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(random)));
    if (cut) {
      for (const std::string& owner : ScratchOwners(kp)) {
        if (std::find(dead.begin(), dead.end(), owner) != dead.end()) continue;
        (void)PgTry("SELECT pg_terminate_backend(" + owner + ", 10000)");
      }
    } else {
      kill(cli, SIGKILL);
    }
    const int status = Wait(cli);
    if (cut) {
      EXPECT_TRUE(status == 0 || status == 1) << status << Slurp(folder_ / "k.log");
    }
    ASSERT_TRUE(BackendsGone(ScratchOwners(kp)));
    if (oid() == old_oid) {
      EXPECT_EQ(contents(), old) << Slurp(folder_ / "k.log");
    } else {
      EXPECT_EQ(contents(), whole) << Slurp(folder_ / "k.log");
    }
    EXPECT_EQ(keys(), "1") << Slurp(folder_ / "k.log");
  }
  ASSERT_EQ(Copy(args), 0) << Slurp(folder_ / "run.log");
  EXPECT_EQ(contents(), whole);
  EXPECT_EQ(keys(), "1");
  EXPECT_TRUE(ScratchOwners(kp).empty());
}

// A scratch table whose session is gone is dropped by the next run, even
// one that copies another table; one whose session lives is left alone.
TEST_F(ToPostgresFaultsTest, ALaterRunClearsADeadRunsScratchTableButNotALiveOnes) {
  // A database of its own: any run of a test beside it would clear the dead
  // run's table before this one looks.
  const std::string name = "topg_dead_" + std::to_string(::getpid());
  const std::string home = fake_.settings.settings.database;
  const AtExit cleanup{[&] {
    fake_.settings.settings.database = home;
    (void)PgTry("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  }};
  (void)PgTry("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  if (PgTry("CREATE DATABASE " + name).ok()) fake_.settings.settings.database = name;
  MakeSmall();
  for (const int sig : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(sig == SIGKILL ? "killed" : "stopped");
    const pid_t cli = Start("to-postgres", "--overwrite " + big_, folder_ / "t.log");
    ASSERT_NE(CopyingBackend(cli), "") << Slurp(folder_ / "t.log");
    kill(cli, sig);
    const std::vector<std::string> owners = ScratchOwners();
    ASSERT_EQ(owners.size(), 1u);
    if (sig == SIGKILL) {
      Wait(cli);
      ASSERT_TRUE(BackendsGone(owners));
      ASSERT_EQ(ScratchOwners(), owners);  // left behind, until:
    }
    EXPECT_EQ(Copy("--overwrite " + small_), 0) << Slurp(folder_ / "run.log");
    EXPECT_EQ(Contents(small_).substr(0, 2), "3 ");
    if (sig == SIGKILL) {
      EXPECT_TRUE(ScratchOwners().empty());
    } else {
      EXPECT_EQ(ScratchOwners(), owners);
      kill(cli, SIGCONT);
      EXPECT_EQ(Wait(cli), 0) << Slurp(folder_ / "t.log");
      EXPECT_EQ(CheckPrefix(), kBigRows);
      EXPECT_TRUE(ScratchOwners().empty());
    }
  }
}

TEST_F(ToPostgresFaultsTest, BackendEndedMidCopyIsOneFailureAndExitOne) {
  const pid_t cli = Start("to-postgres", "--overwrite " + big_, folder_ / "t.log");
  const std::string backend = CopyingBackend(cli);
  ASSERT_NE(backend, "") << Slurp(folder_ / "t.log");
  // Held still meanwhile, so that a loaded machine cannot let it finish first.
  kill(cli, SIGSTOP);
  Pg("SELECT pg_terminate_backend(" + backend + ", 10000)");
  kill(cli, SIGCONT);
  EXPECT_EQ(Wait(cli), 1);
  const std::string out = Slurp(folder_ / "t.log");
  EXPECT_EQ(Occurrences(out, "Application Error"), 1) << out;
  EXPECT_EQ(CheckPrefix(), -1);
  EXPECT_NE(out.find("no row was stored, and no table " + big_ + " was made."), std::string::npos)
      << out;
}

TEST_F(ToPostgresFaultsTest, TwoOverwritesAtOnceStoreOneCopy) {
  const pid_t a = Start("to-postgres", "--overwrite " + big_, folder_ / "a.log");
  const pid_t b = Start("to-postgres", "--overwrite " + big_, folder_ / "b.log");
  // The second replaces the first's table once the first is done; each
  // reports its own copy whole, though the other may be replacing the table
  // by the time it reports.
  const int status_a = Wait(a), status_b = Wait(b);
  const std::string logs = Slurp(folder_ / "a.log") + Slurp(folder_ / "b.log");
  EXPECT_EQ(status_a, 0) << logs;
  EXPECT_EQ(status_b, 0) << logs;
  EXPECT_EQ(logs.find("failed"), std::string::npos) << logs;
  EXPECT_EQ(CheckPrefix(), kBigRows);
  EXPECT_TRUE(ScratchOwners().empty());
  // One of them said that it waited for the other.
  EXPECT_NE(logs.find("Waiting for another copy"), std::string::npos);
}

TEST_F(ToPostgresFaultsTest, TableCutWhileSentFailsWithoutNullRows) {
  const pid_t cli = Start("to-postgres", big_, folder_ / "c.log");
  ASSERT_NE(CopyingBackend(cli), "") << Slurp(folder_ / "c.log");
  fs::resize_file(folder_ / (big_ + ".db"), 4096);
  EXPECT_EQ(Wait(cli), 1);
  const std::string out = Slurp(folder_ / "c.log");
  EXPECT_NE(out.find("changed or ended while it was read"), std::string::npos) << out;
  EXPECT_EQ(Occurrences(out, "Application Error"), 1) << out;
  EXPECT_EQ(CheckPrefix(), -1);  // not a part of the table
  EXPECT_TRUE(ScratchOwners().empty());
}

TEST_F(ToPostgresFaultsTest, HeaderCountingOtherRowsIsWarnedAbout) {
  const fs::path db = folder_ / (big_ + ".db");
  std::string bytes = Slurp(db);
  ASSERT_GT(bytes.size(), 10u);
  bytes[9] = 0x7F;  // the record count, little-endian at 6, now far larger
  std::ofstream(db, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_EQ(Copy(big_), 1);
  const std::string out = Slurp(folder_ / "run.log");
  EXPECT_NE(out.find("the header counts"), std::string::npos) << out;
  EXPECT_EQ(CheckPrefix(), kBigRows);  // what the blocks hold is all sent
}

// The server's disk fills mid-copy (a database on a small tmpfs): one
// failure, not one per remaining row, and nothing of the table is left.
TEST_F(ToPostgresFaultsTest, AFullServerDiskEndsTheTableWithOneFailure) {
  Rows data_dir = PgRows("SELECT setting FROM pg_settings WHERE name = 'data_directory'");
  struct stat server {};
  ASSERT_FALSE(data_dir.empty());
  ASSERT_EQ(::stat(data_dir[0][0].text().c_str(), &server), 0);
  std::string space = (fs::temp_directory_path() / "corvane-space.XXXXXX").string();
  ASSERT_NE(mkdtemp(space.data()), nullptr);
  const std::string mount_options = "mode=700,uid=" + std::to_string(server.st_uid) +
                                    ",gid=" + std::to_string(server.st_gid);
  if (::mount("tmpfs", space.c_str(), "tmpfs", 0, ("size=64m," + mount_options).c_str()) != 0) {
    ::rmdir(space.c_str());
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  const std::string name = "topg_full_" + std::to_string(::getpid());
  const std::string home = fake_.settings.settings.database;
  const AtExit cleanup{[&] {
    fake_.settings.settings.database = home;
    (void)PgTry("DROP DATABASE IF EXISTS " + name);
    (void)PgTry("DROP TABLESPACE IF EXISTS " + name);
    ::umount2(space.c_str(), MNT_DETACH);
    ::rmdir(space.c_str());
  }};
  Pg("CREATE TABLESPACE " + name + " LOCATION '" + space + "'");
  // Copied file by file and checkpointed: no page of the new catalogs is left
  // in shared buffers for some other session to fail writing once it is full.
  if (!PgTry("CREATE DATABASE " + name + " TABLESPACE " + name + " STRATEGY FILE_COPY").ok()) {
    Pg("CREATE DATABASE " + name + " TABLESPACE " + name);  // before 15: always so
  }
  // Room for some 4 MB of rows beside the new database's catalogs.
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(space.c_str(), &fs), 0);
  const uint64_t used = (fs.f_blocks - fs.f_bfree) * fs.f_frsize;
  const std::string size = "size=" + std::to_string(used + (4u << 20)) + ",";
  ASSERT_EQ(::mount("tmpfs", space.c_str(), "tmpfs", MS_REMOUNT, (size + mount_options).c_str()), 0);
  fake_.settings.settings.database = name;
  EXPECT_EQ(Copy(big_), 1);
  const std::string out = Slurp(folder_ / "run.log");
  EXPECT_EQ(Occurrences(out, "Application Error"), 1) << out.substr(0, 2000);
  EXPECT_EQ(CheckPrefix(), -1);
  EXPECT_NE(out.find("; no row was stored, and no table " + big_ + " was made."),
            std::string::npos)
      << out.substr(0, 2000);
  EXPECT_TRUE(ScratchOwners().empty());  // it gave its space back
}

TEST_F(ToPostgresFaultsTest, DumpOfAFifoReturnsAtOnce) {
  const fs::path fifo = folder_ / "x.db";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const pid_t cli = Start("dump", "'" + fifo.string() + "'", folder_ / "f.log");
  int status = -1;
  for (int i = 0; i < 500 && status < 0; ++i) {
    int st = 0;
    if (waitpid(cli, &st, WNOHANG) == cli) status = WIFEXITED(st) ? WEXITSTATUS(st) : 99;
    std::this_thread::sleep_for(10ms);
  }
  if (status < 0) {
    kill(cli, SIGKILL);
    Wait(cli);
  }
  EXPECT_EQ(status, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_NE(Slurp(folder_ / "f.log").find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace corvane::testing
