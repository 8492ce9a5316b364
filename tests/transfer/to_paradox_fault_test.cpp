// corvane-cli to-paradox under faults: killed at random moments, the server
// session ended, two runs at once, a full disk. After each, the Paradox
// table is whole (its old rows or its new ones), nothing hidden is left and
// the next run works.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "catalog/paradox_catalog.h"
#include "connection/connection_strings.h"
#include "paradox/primary_index.h"
#include "paradox/table_reader.h"
#include "support/test_seed.h"
#include "to_paradox_fixture.h"
#include "transfer/to_paradox.h"

extern char** environ;

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRows = 200000;

class ToParadoxFaultTest : public ToParadoxTest {
 protected:
  void TearDown() override {
    for (const fs::path& m : mounts_) ::umount2(m.c_str(), MNT_DETACH);
    ToParadoxTest::TearDown();
    std::error_code ec;
    for (const fs::path& m : mounts_) fs::remove_all(m, ec);
  }

  // A table of `rows` rows whose memo starts with `version`.
  void MakeVersion(const std::string& name, char version, int rows = kRows) {
    MakePgTable(name, "id int4, memo text, label text");
    Pg("INSERT INTO \"" + name + "\" SELECT g, '" + std::string(1, version) +
       "' || repeat('m', 300) || g, 'row ' || g FROM generate_series(1, " + std::to_string(rows) +
       ") g");
  }

  // Starts corvane-cli to-paradox; its output goes to `log`.
  pid_t Start(const std::vector<std::string>& args, const fs::path& log,
              const fs::path& program = {}) {
    const char* bin = std::getenv("CORVANE_PROGRAM_DIR");
    const ConnectionSettings& s = fake_.settings.settings;
    std::vector<std::string> argv = {std::string(bin ? bin : "bin") + "/corvane-cli",
                                     "to-paradox",  "--paradox", folder_.string(), "--server",
                                     s.server,      "--port",    s.port,           "--user",
                                     s.user,        "--password", s.password,      "--database",
                                     s.database};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    std::vector<std::string> env = {"CORVANE_PROGRAM_DIR=" +
                                    (program.empty() ? program_ : program).string()};
    for (char** e = environ; *e; ++e) {
      if (std::string_view(*e).rfind("CORVANE_PROGRAM_DIR=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> raw_env;
    for (std::string& e : env) raw_env.push_back(e.data());
    raw_env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), raw_env.data());
    posix_spawn_file_actions_destroy(&actions);
    // kill(-1, ...) would reach every process the tests may signal.
    if (spawned != 0 || pid <= 0) {
      std::fprintf(stderr, "cannot start %s: %s\n", raw[0], std::strerror(spawned));
      std::exit(1);
    }
    return pid;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int Run(const std::vector<std::string>& args, std::string* output = nullptr,
          const fs::path& program = {}) {
    const fs::path log = program_ / "run.log";
    const int status = Wait(Start(args, log, program));
    if (output) *output = Text(log);
    return status;
  }
  // Starts a run, kills it with `signal` after `ms`, waits for it, and says
  // what happened, for a trace.
  std::string KillAfter(const std::vector<std::string>& args, int signal, int64_t ms) {
    const fs::path log = program_ / "killed.log";
    const pid_t pid = Start(args, log);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::kill(pid, signal);
    Wait(pid);
    return "signal " + std::to_string(signal) + " after " + std::to_string(ms) +
           " ms: " + Text(log);
  }
  // Times one whole run of `args`, then kills runs of them `times` times per
  // signal (SIGTERM, then SIGKILL) at seeded random moments within that
  // time; `check` looks at what each left, the whole run's with signal 0.
  void KillAtRandomMoments(const std::vector<std::string>& args, int times,
                           const std::function<void(int signal)>& check) {
    const auto t0 = Clock::now();
    std::string out;
    ASSERT_EQ(Run(args, &out), 0) << out;
    const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    check(0);
    const unsigned seed = TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> moment(0, full.count());
    for (int signal : {SIGTERM, SIGKILL}) {
      for (int i = 0; i < times; ++i) {
        SCOPED_TRACE(KillAfter(args, signal, moment(random)));
        check(signal);
      }
    }
  }
  static std::string Text(const fs::path& p) {
    std::stringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
  }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // Which version the Paradox table holds whole ('a', 'b'), or what is wrong.
  std::string Version(const std::string& table, int rows = kRows) {
    Connection px;
    if (Status s = px.Open(ParadoxConnectionString(fake_.settings.settings)); !s.ok())
      return s.message();
    auto rs = px.Execute("SELECT * FROM \"" + table + "\"");
    if (!rs.ok()) return rs.status().message();
    RecordSet& r = **rs;
    // Rows come in the server's scan order, which a concurrent scan of the
    // same table can shift: check that each id is there once.
    std::string version;
    std::vector<bool> seen(rows + 1, false);
    int n = 0;
    for (; !r.Eof(); ++n) {
      const std::string id = r.FieldValue(0).text();
      const std::string memo = r.FieldValue(1).text();
      const int k = std::atoi(id.c_str());
      if (n == 0 && !memo.empty()) version = memo.substr(0, 1);
      if (k < 1 || k > rows || seen[k] || memo != version + std::string(300, 'm') + id ||
          r.FieldValue(2).text() != "row " + id) {
        return "row " + std::to_string(n + 1) + " is wrong or twice: " + id + " " +
               memo.substr(0, 5) + " " + r.FieldValue(2).text();
      }
      seen[k] = true;
      if (Status s = r.MoveNext(); !s.ok()) return s.message();
    }
    if (n != rows) return std::to_string(n) + " rows";
    return version;
  }
  // Names in the folder starting with a dot: scratch or set-aside files.
  std::vector<std::string> Hidden() const {
    std::vector<std::string> names;
    for (const std::string& n : TableFilesInFolder())
      if (n[0] == '.') names.push_back(n);
    return names;
  }
  // Folders of `cache`'s corvane folder whose name starts with `prefix`.
  static int CacheFolders(const fs::path& cache, const std::string& prefix) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(cache / "corvane", ec))
      n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
  }
  // Lists the folder the way both programs do, which puts back leftovers.
  std::vector<std::string> Listed() {
    ui::MemoryTableList list;
    ui::CountingPump pump;
    EXPECT_TRUE(catalog::ListParadoxTables(folder_.string(), list, pump, fake_.dialogs).ok());
    return list.Names();
  }
  // A small tmpfs at `where`, or false when this user cannot mount one.
  bool MountTmpfs(const fs::path& where, const std::string& size) {
    fs::create_directories(where);
    if (::geteuid() != 0 ||
        ::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
      return false;
    mounts_.push_back(where);
    return true;
  }

  std::vector<fs::path> mounts_;
};

TEST_F(ToParadoxFaultTest, KilledAtRandomMomentsTheTableIsWholeOldOrNewAndNothingIsLeft) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  // Both names are cut to txfault_, so either replaces the other.
  MakeVersion("txfault_a", 'a');
  MakeVersion("txfault_b", 'b');
  const std::vector<std::string> opts = {"--trim-long-names", "--overwrite"};
  auto args = [&](char v) {
    std::vector<std::string> a = opts;
    a.push_back(std::string("txfault_") + v);
    return a;
  };
  const auto t0 = Clock::now();
  std::string out;
  ASSERT_EQ(Run(args('a'), &out), 0) << out;
  const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  ASSERT_EQ(Version("txfault_"), "a");

  const unsigned seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> moment(0, full.count() * 11 / 10);
  char now = 'a';
  for (int signal : {SIGKILL, SIGTERM}) {
    for (int i = 0; i < 10; ++i) {
      const char other = now == 'a' ? 'b' : 'a';
      SCOPED_TRACE(KillAfter(args(other), signal, moment(random)));
      if (signal == SIGTERM) {
        EXPECT_EQ(Hidden(), std::vector<std::string>{});  // it cleaned up itself
      }
      const auto names = Listed();
      EXPECT_EQ(std::count(names.begin(), names.end(), "TXFAULT_"), 1) << ::testing::PrintToString(names);
      EXPECT_EQ(Hidden(), std::vector<std::string>{});
      const std::string version = Version("txfault_");
      ASSERT_TRUE(version == "a" || version == "b") << version;
      now = version[0];
    }
    // The staging database took no harm: the next run goes through.
    const char other = now == 'a' ? 'b' : 'a';
    ASSERT_EQ(Run(args(other), &out), 0) << out;
    EXPECT_EQ(Version("txfault_"), std::string(1, other));
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
    now = other;
  }
}

// A run killed while it exports leaves its staging table (and with --jobs
// its staging folders) behind; the next run, whatever it copies, clears
// them and gives the staging file's space back.
TEST_F(ToParadoxFaultTest, WhatAKilledExportLeftIsClearedByTheNextRun) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  MakeVersion("txleft", 'a', 40000);
  MakePgTable("txsmall", "a int4", {"1"});
  const fs::path cache = program_ / "cache";
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.c_str(), 1), 0);
  auto staging_folders = [&] { return CacheFolders(cache, "staging-"); };
  const fs::path staging = program_ / "dbtemp.mdb";
  for (const bool jobs : {false, true}) {
    SCOPED_TRACE(jobs ? "--jobs 2" : "one job");
    std::vector<std::string> args = {"--overwrite", "txleft"};
    if (jobs) args.insert(args.end(), {"--jobs", "2"});
    const fs::path log = program_ / "killed.log";
    const pid_t pid = Start(args, log);
    // Killed once the export writes its scratch file, the rows all staged.
    bool exporting = false;
    for (int status = 0; !exporting && ::waitpid(pid, &status, WNOHANG) == 0;) {
      exporting = !Hidden().empty();
      if (!exporting) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(exporting) << "the run ended before its export could be killed: " << Text(log);
    ::kill(pid, SIGKILL);
    Wait(pid);
    if (jobs) {
      EXPECT_GE(staging_folders(), 1);
    } else {
      EXPECT_GT(fs::file_size(staging), 2u << 20) << "the killed run staged its rows";
    }
    std::string out;
    ASSERT_EQ(Run({"--overwrite", "txsmall"}, &out), 0) << out;
    EXPECT_LT(fs::file_size(staging), 2u << 20);
    EXPECT_EQ(staging_folders(), 0);
    Listed();
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
  }
  ::unsetenv("XDG_CACHE_HOME");
}

// A dry run killed or stopped at random moments leaves the table it was
// describing as it was, and its scratch table is gone: taken away by a
// stopped run itself, by the next run after a killed one.
TEST_F(ToParadoxFaultTest, ADryRunKilledAtRandomMomentsLeavesTheFolderAndNoScratch) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  constexpr int kDryRows = 40000;
  MakeVersion("txdry", 'a', kDryRows);
  std::string out;
  ASSERT_EQ(Run({"txdry"}, &out), 0) << out;
  Pg("UPDATE txdry SET memo = 'b' || substr(memo, 2)");
  const fs::path cache = program_ / "cache";
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.c_str(), 1), 0);
  auto scratch_left = [&] { return CacheFolders(cache, transfer::kDryRunFolderPrefix); };
  KillAtRandomMoments({"--dry-run", "--overwrite", "txdry"}, 3, [&](int signal) {
    if (signal != SIGKILL) {  // a whole or stopped run takes its scratch along
      EXPECT_EQ(scratch_left(), 0);
    }
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
    EXPECT_EQ(Version("txdry", kDryRows), "a");
  });
  ASSERT_EQ(Run({"--dry-run", "--skip-existing", "txdry"}, &out), 0) << out;
  EXPECT_EQ(scratch_left(), 0);
  EXPECT_EQ(Version("txdry", kDryRows), "a");
  ::unsetenv("XDG_CACHE_HOME");
}

// Two tables side by side, each job with a staging file of its own: stopped
// or killed at random moments, both tables stay whole, a stopped run takes
// its staging files with it and the next run removes what a killed one left.
TEST_F(ToParadoxFaultTest, TwoJobsStoppedOrKilledLeaveWholeTablesAndNoStagingFiles) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  constexpr int kJobRows = 40000;
  MakeVersion("txjob_a", 'a', kJobRows);
  MakeVersion("txjob_b", 'b', kJobRows);
  const fs::path cache = program_ / "cache";
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.c_str(), 1), 0);
  auto staging_left = [&] { return CacheFolders(cache, "staging-"); };
  const std::vector<std::string> args = {"--jobs", "2", "--overwrite", "txjob_a", "txjob_b"};
  std::string out;
  KillAtRandomMoments(args, 3, [&](int signal) {
    if (signal != SIGKILL) {  // a whole or stopped run takes its staging files along
      EXPECT_EQ(staging_left(), 0);
    }
    Listed();
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
    EXPECT_EQ(Version("txjob_a", kJobRows), "a");
    EXPECT_EQ(Version("txjob_b", kJobRows), "b");
  });
  EXPECT_EQ(Run(args, &out), 0) << out;
  EXPECT_EQ(staging_left(), 0);
  ::unsetenv("XDG_CACHE_HOME");
}

TEST_F(ToParadoxFaultTest, ASessionEndedMidCopyIsOneFailureTheOldTableStaysAndTheNextTableGoes) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  MakeVersion("txended_a", 'a', 20);
  MakeVersion("txended_b", 'b');
  MakeVersion("txenda", 'c', 5);  // sent after it, over a new connection
  ASSERT_EQ(Run({"--trim-long-names", "txended_a"}), 0);
  const pid_t pid = Start({"--trim-long-names", "--overwrite", "txended_b", "txenda"},
                          program_ / "ended.log");
  // Once rows are streaming, end the session that sends them.
  bool ended = false;
  for (int tries = 0; tries < 400 && !ended; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The session streaming this test's own table, not another test's.
    Rows pids = PgRows(
        "SELECT pid FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND state = 'active' "
        "AND query LIKE 'COPY%txended\\_b%'");
    for (const auto& row : pids) {
      ended = true;
      (void)PgTry("SELECT pg_terminate_backend(" + row[0].text() + ")");
    }
  }
  ASSERT_TRUE(ended);
  EXPECT_EQ(Wait(pid), 1);
  const std::string out = Text(program_ / "ended.log");
  EXPECT_EQ(Count(out, "Application Error"), 1) << out;
  EXPECT_NE(out.find("broke off after"), std::string::npos) << out;
  EXPECT_EQ(Version("txended_", 20), "a");
  EXPECT_EQ(Version("txenda", 5), "c");
  EXPECT_EQ(Hidden(), std::vector<std::string>{});
}

TEST_F(ToParadoxFaultTest, TwoRunsFromOneProgramFolderTakeTurnsAndBothComplete) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  MakeVersion("txtwo_a", 'a', 30000);
  MakeVersion("txtwo_b", 'b', 30000);
  const pid_t first = Start({"txtwo_a"}, program_ / "first.log");
  const pid_t second = Start({"txtwo_b"}, program_ / "second.log");
  EXPECT_EQ(Wait(first), 0) << Text(program_ / "first.log");
  EXPECT_EQ(Wait(second), 0) << Text(program_ / "second.log");
  EXPECT_EQ(Version("txtwo_a", 30000), "a");
  EXPECT_EQ(Version("txtwo_b", 30000), "b");
  const std::string both = Text(program_ / "first.log") + Text(program_ / "second.log");
  EXPECT_EQ(Count(both, "Waiting for another transfer"), 1) << both;
}

TEST_F(ToParadoxFaultTest, AFullDiskFailsTheTableOnceAndKeepsTheOldOne) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const fs::path small_program = program_.parent_path() / (program_.filename().string() + "-full");
  if (!MountTmpfs(folder_, "6m") || !MountTmpfs(small_program, "6m")) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): full-disk cases not run";
  }
  fs::copy_file(program_ / "dbtemp.mdb", small_program / "dbtemp.mdb");
  MakeVersion("txfull_xa", 'a', 20);
  MakeVersion("txfull_xb", 'b', 50000);  // some 16 MB of memos
  MakeVersion("txfull_xc", 'c', 1);
  Pg("UPDATE txfull_xc SET memo = repeat('c', 8000000)");  // one value larger than the disk
  MakeVersion("txfull_xd", 'd', 1);  // the same as bytes, which travel as they are
  Pg("ALTER TABLE txfull_xd ADD COLUMN b bytea");
  Pg("UPDATE txfull_xd SET b = decode(repeat('ab', 8000000), 'hex')");
  std::string out;
  ASSERT_EQ(Run({"--trim-long-names", "txfull_xa"}, &out), 0) << out;
  // The Paradox folder fills up, then the staging database's, also with
  // one value written there in pieces.
  for (const auto& [program, table] : {std::pair{program_, "txfull_xb"},
                                       {small_program, "txfull_xb"},
                                       {small_program, "txfull_xc"},
                                       {small_program, "txfull_xd"}}) {
    SCOPED_TRACE(program.string() + " " + table);
    EXPECT_EQ(Run({"--trim-long-names", "--overwrite", table}, &out, program), 1);
    EXPECT_EQ(Count(out, "Application Error"), 1) << out;
    if (program == small_program) {
      // Rows are stored behind the handler's back, yet the dialog names and
      // quotes the first row that was not stored, and counts those before.
      long read = -1, of = -1, stored = -1;
      const size_t at = out.find("broke off after ");
      ASSERT_NE(at, std::string::npos) << out;
      ASSERT_EQ(std::sscanf(out.c_str() + at, "broke off after %ld of %ld rows were read (%ld stored)",
                            &read, &of, &stored),
                3)
          << out;
      EXPECT_EQ(read, stored + 1) << out;
      EXPECT_NE(out.find("VALUES('" + std::to_string(read) + "', "), std::string::npos) << out;
    }
    EXPECT_EQ(Version("txfull_x", 20), "a");
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
  }
  // Both still work once there is room.
  EXPECT_EQ(Run({"--trim-long-names", "--overwrite", "txfull_xa"}, &out, small_program), 0) << out;
  EXPECT_EQ(Version("txfull_x", 20), "a");
}

// Keyed copies killed or stopped at random moments, their rows sorted on
// the way: the table stays whole, old or new, with an index that agrees,
// and no scratch file stays once a run ends or the next one starts.
TEST_F(ToParadoxFaultTest, KeyedCopiesKilledAtRandomMomentsLeaveWholeKeyedTables) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  constexpr int kKeyedRows = 60000;
  for (char v : {'a', 'b'}) {
    const std::string name = std::string("txkkill_") + v;
    MakePgTable(name, "id int4 PRIMARY KEY, memo text, label text");
    Pg("INSERT INTO " + name + " SELECT g, '" + std::string(1, v) +
       "' || repeat('m', 300) || g, 'row ' || g FROM generate_series(1, " +
       std::to_string(kKeyedRows) + ") g ORDER BY md5(g::text)");
  }
  auto args = [](char v) {
    return std::vector<std::string>{"--keep-types", "--trim-long-names", "--overwrite",
                                    std::string("txkkill_") + v};
  };
  const fs::path scratch = program_ / "dbtemp.mdb-keysort";
  auto whole = [&]() -> std::string {
    auto info = paradox::TableReader::ReadInfo((folder_ / "txkkill_.db").string());
    if (!info.ok()) return info.status().message();
    if (info->key_fields != 1) return "not keyed";
    auto index = paradox::CheckPrimaryIndex(*info);
    if (!index.ok() || !index->problem.empty()) return "index: " + index->problem;
    return Version("txkkill_", kKeyedRows);
  };
  const auto t0 = Clock::now();
  std::string out;
  ASSERT_EQ(Run(args('a'), &out), 0) << out;
  const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  ASSERT_EQ(whole(), "a");
  EXPECT_FALSE(fs::exists(scratch));
  const unsigned seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> moment(0, full.count());
  char now = 'a';
  for (int signal : {SIGTERM, SIGTERM, SIGKILL, SIGKILL}) {  // stopped ones first: nothing left yet
    SCOPED_TRACE(KillAfter(args(now == 'a' ? 'b' : 'a'), signal, moment(random)));
    if (signal == SIGTERM) {
      EXPECT_FALSE(fs::exists(scratch));
    }
    Listed();  // puts back what a killed run set aside
    EXPECT_EQ(Hidden(), std::vector<std::string>{});
    const std::string version = whole();
    ASSERT_TRUE(version == "a" || version == "b") << version;
    now = version[0];
  }
  ASSERT_EQ(Run(args(now == 'a' ? 'b' : 'a'), &out), 0) << out;
  EXPECT_EQ(whole(), std::string(1, now == 'a' ? 'b' : 'a'));
  EXPECT_FALSE(fs::exists(scratch));
}

// A keyed table sorts its rows in a scratch file beside the staging file;
// a disk with room for the staged rows but not for that fails the table
// with one message and leaves neither scratch file nor table behind.
TEST_F(ToParadoxFaultTest, AFullDiskDuringTheKeySortLeavesNothingBehind) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  const fs::path small_program = program_.parent_path() / (program_.filename().string() + "-key");
  if (!MountTmpfs(small_program, "18m")) GTEST_SKIP() << "cannot mount a small tmpfs here";
  fs::copy_file(program_ / "dbtemp.mdb", small_program / "dbtemp.mdb");
  MakePgTable("txkfull", "k varchar(40) PRIMARY KEY, v int4");
  // Keys out of order, some 10 MB staged and as much again to sort.
  Pg("INSERT INTO txkfull SELECT md5(g::text) || 'abcdefgh', g FROM "
     "generate_series(1, 200000) g");
  std::string out;
  EXPECT_EQ(Run({"--keep-types", "txkfull"}, &out, small_program), 1) << out;
  EXPECT_EQ(Count(out, "disk is full"), 2) << out;  // its dialog and its line in the summary
  EXPECT_EQ(TableFilesInFolder(), std::vector<std::string>{});
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(small_program)) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"dbtemp.mdb"});
  EXPECT_LT(fs::file_size(small_program / "dbtemp.mdb"), 1u << 20);  // the staged rows went
}

// Staged rows are also kept encoded, in a file of their own beside the
// staging file: killed runs leave nothing of it, and on a disk short of
// room it gives way, so a table the staging database alone has room for
// still goes.
TEST_F(ToParadoxFaultTest, RowsKeptEncodedLeaveNothingWhenKilledAndGiveWayOnAFullDisk) {
  if (!have_pg_) GTEST_SKIP() << "no test server";
  constexpr int kPlainRows = 150000;
  MakePgTable("txplain", "id int4, label varchar(20), born date");
  Pg("INSERT INTO txplain SELECT g, 'row ' || g, date '2000-01-01' + g % 9000 FROM "
     "generate_series(1, " + std::to_string(kPlainRows) + ") g");
  auto written = [&]() -> int64_t {
    Connection px;
    if (!px.Open(ParadoxConnectionString(fake_.settings.settings)).ok()) return -1;
    auto rs = px.Execute("SELECT * FROM \"txplain\"");
    int64_t n = 0;
    for (; rs.ok() && !(*rs)->Eof() && (*rs)->MoveNext().ok();) ++n;
    return rs.ok() ? n : -1;
  };
  auto others = [](const fs::path& program) {  // beside the staging file and its journal
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(program)) {
      const std::string n = e.path().filename();
      if (n.rfind("dbtemp.mdb", 0) != 0 && n != "run.log" && n != "killed.log") names.push_back(n);
    }
    return names;
  };
  const auto t0 = Clock::now();
  std::string out;
  ASSERT_EQ(Run({"txplain"}, &out), 0) << out;
  const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  EXPECT_EQ(written(), kPlainRows);
  const unsigned seed = TestSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> moment(full.count() / 4, full.count());
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(KillAfter({"--overwrite", "txplain"}, SIGKILL, moment(random)));
    EXPECT_EQ(others(program_), std::vector<std::string>{});
  }
  ASSERT_EQ(Run({"--overwrite", "txplain"}, &out), 0) << out;
  EXPECT_EQ(written(), kPlainRows);

  const fs::path small_program = program_.parent_path() / (program_.filename().string() + "-enc");
  // Room for the staged rows (some 6 MB), not for them and their encoded copy.
  if (!MountTmpfs(small_program, "7m")) GTEST_SKIP() << "cannot mount a small tmpfs here";
  fs::copy_file(program_ / "dbtemp.mdb", small_program / "dbtemp.mdb");
  EXPECT_EQ(Run({"--overwrite", "txplain"}, &out, small_program), 0) << out;
  EXPECT_EQ(written(), kPlainRows);
  EXPECT_EQ(others(small_program), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::testing
